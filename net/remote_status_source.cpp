#include "net/remote_status_source.h"

#include <algorithm>

#include "config/catalogue.h"

namespace qvm::remote {

namespace {

inline constexpr int kStepUnit = 50;
// msg_str entries of the axis locks and of the companion's words.
inline constexpr std::size_t kMsgLockX = 46;
inline constexpr std::size_t kMsgLockY = 47;
inline constexpr std::size_t kMsgVirtualKey = 48;
inline constexpr std::size_t kMsgExitProgram = 49;
inline constexpr std::size_t kMsgCloseConnection = 50;
inline constexpr std::size_t kMsgPinNumber = 59;
inline constexpr std::size_t kMsgPinError = 60;
// button_str entries.
inline constexpr std::size_t kButtonSettings = 0;
inline constexpr std::size_t kButtonOk = 7;
inline constexpr std::size_t kButtonCancel = 8;

}  // namespace

uint8_t DpiStepCode(int dpiStep) {
    return static_cast<uint8_t>(std::clamp(dpiStep / kStepUnit, 1, 255));
}

RemoteStatusInput StatusInputFromImage(const ConfigImage& image, bool extendedButtons,
                                       uint16_t eventRate) {
    RemoteStatusInput in;
    in.eventRate = eventRate;
    const int p = std::clamp(image.currentProfile, 0, kProfileCount - 1);
    const auto profile = static_cast<std::size_t>(p);
    in.profile = p;
    const Rgb& colour = image.profiles[profile].colour;
    in.colour = {colour.red, colour.green, colour.blue};
    in.extendedColours = image.layoutClass != LayoutClass::A;
    in.profileName = image.profiles[profile].name;
    in.currentStage = image.currentDpiStage;
    in.dpiMax = static_cast<uint8_t>(std::clamp(image.dpiStepCount, 0, 255));
    for (std::size_t s = 0; s < in.stages.size(); ++s) {
        in.stages[s] = {image.dpiStages[s].x, image.dpiStages[s].y};
    }
    in.stepCode = DpiStepCode(image.dpiStep);
    const int count = extendedButtons ? kExtendedButtonCount : kStandardButtonCount;
    for (int j = 0; j < count; ++j) {
        const auto slot = static_cast<std::size_t>(j);
        in.buttons.push_back({image.buttons[profile][slot].slot.Bytes(),
                              image.defaults[slot].slot.Bytes(), static_cast<uint8_t>(j)});
    }
    return in;
}

RemoteListSource ListSourceFromUi(const UiStrings& ui, const ModelLayout& layout) {
    RemoteListSource source;
    for (const KeyNameEntry& key : KeyNameTable()) {
        if (key.usage == kKeyNameEnd) break;
        source.keyNames.push_back({key.usage, std::string(key.name)});
    }
    for (const ConsumerKey& key : ui.consumer_keys) {
        if (key.usage == kConsumerKeyTerminator) break;
        source.consumerKeys.push_back({key.usage, key.name});
    }
    source.functionTypes.assign(ui.type_str.begin(), ui.type_str.end());
    source.mouseFunctions.assign(ui.mouse_str.begin(), ui.mouse_str.end());
    const int pairs = std::clamp(layout.ButtonListCount, 0, kLayoutPositions);
    for (int i = 0; i < pairs; ++i) {
        source.buttonPairs.push_back(
            {static_cast<uint8_t>(i),
             static_cast<uint8_t>(layout.ButtonOrder[static_cast<std::size_t>(i)])});
    }
    source.functionClasses.assign(ui.class_str.begin(), ui.class_str.end());
    source.axisLocks = {{0, ui.msg_str[kMsgLockX]}, {1, ui.msg_str[kMsgLockY]}};
    source.companionWords = {ui.button_str[kButtonOk],
                             ui.button_str[kButtonCancel],
                             ui.button_str[kButtonSettings],
                             ui.msg_str[kMsgVirtualKey],
                             ui.launch_str,
                             ui.msg_str[kMsgExitProgram],
                             ui.msg_str[kMsgCloseConnection],
                             ui.msg_str[kMsgPinNumber],
                             ui.msg_str[kMsgPinError]};
    return source;
}

std::vector<FavouriteFunction> FavouritesFromLibrary(const FunctionLibrary& library) {
    std::vector<FavouriteFunction> favourites;
    for (const FunctionLibraryItem& item : library.items) {
        if (item.entry.IsFolder()) continue;
        favourites.push_back({item.Slot().Bytes(), item.entry.name});
    }
    return favourites;
}

}  // namespace qvm::remote
