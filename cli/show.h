// How qvmctl prints a device and its configuration, as text for people and as JSON for
// scripts.
#pragma once

#include <ostream>
#include <string>

#include "config/config_image.h"
#include "device/device_values.h"
#include "device/model_table.h"

namespace qvm::cli {

void PrintDeviceValues(std::ostream& out, const std::string& path, const DeviceValues& values,
                       const ModelLayout& layout);
void PrintConfigText(std::ostream& out, const std::string& path, const DeviceValues& values,
                     const ConfigImage& image, const ModelLayout& layout);
// Keys: device {path, model, generation, firmware, class}, memory_top, current_profile,
// current_stage (both from 1), report_rate_hz, angle_snapping, dpi_step, dpi_max, stages
// [{x, y, x_dpi, y_dpi, flag}], profiles [{name, colour, off, buttons [{button, slot, type,
// ops, text}], key_cycle [{modifiers, usage, text}]}], macros [{slot, name, mode, start,
// length}] (stored macros only, slots from 1).
void PrintConfigJson(std::ostream& out, const std::string& path, const DeviceValues& values,
                     const ConfigImage& image, const ModelLayout& layout);

char LayoutClassLetter(int32_t generation);

}  // namespace qvm::cli
