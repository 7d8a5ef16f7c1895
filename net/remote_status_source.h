// Fills the status stream's inputs from what the program already holds: the loaded
// configuration image, the model layout of the attached device and the UI strings in
// force. Nothing here reads device memory; the image's own fields are used as decoded.
#pragma once

#include <cstdint>

#include "config/config_image.h"
#include "device/model_table.h"
#include "lang/ui_strings.h"
#include "macro/function_library.h"
#include "net/remote_lists.h"
#include "net/remote_packets.h"

namespace qvm::remote {

// The status of the current profile of `image`. `extendedButtons` is the attached
// model's extended (24) button set; `eventRate` the device events of the last second.
RemoteStatusInput StatusInputFromImage(const ConfigImage& image, bool extendedButtons,
                                       uint16_t eventRate = 0);

// The DPI step the companion is told: 1 for steps of 50 DPI, 2 for steps of 100.
uint8_t DpiStepCode(int dpiStep);

// The tables of the connection's list packets, in the language of `ui`.
RemoteListSource ListSourceFromUi(const UiStrings& ui, const ModelLayout& layout);

// The favourite functions companions are offered: the functions of the function library,
// in list order, without its group entries.
std::vector<FavouriteFunction> FavouritesFromLibrary(const FunctionLibrary& library);

}  // namespace qvm::remote
