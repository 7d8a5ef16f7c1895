// The texts of the main window's information panel and INFORMATION page, built from the
// UI string tables in force so that a language file translates their labels.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "app/ui_strings.h"
#include "platform/result.h"

namespace qvm {

// The version this program shows as its software and driver version.
inline constexpr std::string_view kSoftwareVersion = "1.37";

// Texts that no language file changes.
inline constexpr std::string_view kInfoPanelTemplate = "%s: %s\n%s: %s\n%s: %d\n%s\n%s";
inline constexpr std::string_view kInfoPanelExtendedTemplate =
    "%s: %s\n%s: %s\n%s: %d (Gen2)\n%s\n%s";
inline constexpr std::string_view kPinLineTemplate = "%s: %04d";
inline constexpr std::string_view kInfoPanelNoDeviceTemplate = "\n%s: %s\n\n%s";
inline constexpr std::string_view kInformationPageTitle = "Information:";
inline constexpr std::string_view kInformationPageTemplate =
    "Model:%s\r\nDriver Version: %s\r\nFirmware version: %d.%d.%d.%d";
inline constexpr std::string_view kReportRateTemplate = "%dHz";

// What the panel shows of the attached device.
struct InfoDevice {
    std::string modelName;
    uint32_t firmwareVersion = 0;
    bool extendedButtonSet = false;  // models with the extended button set show "(Gen2)"
};

// "PIN number: 0007": the PIN of the network remote service, at least four digits.
std::string PinLine(const UiStrings& ui, int pin);

// The information panel with a device attached, and without one.
std::string InfoPanelText(const UiStrings& ui, const InfoDevice& device, int pin);
std::string InfoPanelTextNoDevice(const UiStrings& ui);

// The INFORMATION page body; the firmware version shows its four bytes, most
// significant first.
std::string InformationPageText(const InfoDevice& device);

// "1000Hz" .. "125Hz" for report-rate codes 0..7; an error for any other code.
Result<std::string> ReportRateText(int code);

}  // namespace qvm
