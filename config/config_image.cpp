#include "config/config_image.h"

#include <algorithm>

#include "base/text.h"
#include "device/commands.h"

namespace qvm {
namespace {

constexpr uint8_t kMouseType = 4;
constexpr uint8_t kSmartRepeatType = 35;
constexpr uint8_t kLeftButtonMask = 0x01;

void DecodeHeader(std::span<const uint8_t> b, const ImageLayout& l, ConfigImage& out) {
    if (l.stageIndexInImage) {
        out.currentDpiStage =
            std::min<int>(b[kStageIndexAddress] & kStageIndexMask, kMaxStageIndex);
    }
    for (std::size_t k = 0; k < out.dpiStages.size(); ++k) {
        out.dpiStages[k] = {b[l.dpiBase + 2 * k], b[l.dpiBase + 2 * k + 1]};
    }
    const uint8_t options = b[l.optionsByte];
    out.angleSnapping = (options & kSnappingBit) != 0;
    out.reportRateCode = (options & kRateMask) >> kRateShift;
    out.stageFlags = {};
    for (int k = 0; k < l.stageFlagCount; ++k) {
        out.stageFlags[static_cast<std::size_t>(k)] = (b[l.stageFlagsByte] >> k & 1) != 0;
    }
}

ProfileInfo DecodeProfile(std::span<const uint8_t> block, const ImageLayout& l,
                          std::string_view profileWord, int profile) {
    ProfileInfo info;
    if (l.offRule == OffFlagRule::MarkerPair) {
        info.off = !(block[0] == kInitMarker && block[1] == kInitMarker);
    } else {
        info.off = (block[0] & kProfileOffBit) != 0;
    }
    if (l.colourPacked) {
        info.colour = UnpackColour(block[l.colourAt]);
    } else {
        info.colour = {block[l.colourAt], block[l.colourAt + 1], block[l.colourAt + 2]};
    }
    info.name =
        DecodeUtf16LeField(block.subspan(l.nameAt, static_cast<std::size_t>(l.nameReadBytes)));
    if (info.name.empty()) info.name = std::string(profileWord) + std::to_string(profile + 1);
    return info;
}

}  // namespace

void DecodeImageBytes(std::span<const uint8_t> bytes, const ImageLayout& l,
                      std::string_view profileWord, ConfigImage& out) {
    out.layoutClass = l.cls;
    DecodeHeader(bytes, l, out);
    for (int p = 0; p < kProfileCount; ++p) {
        const auto pi = static_cast<std::size_t>(p);
        KeyCycleList& list = out.keyCycles[pi];
        std::copy_n(bytes.begin() + l.KeyCycleAddress(p), kKeyCycleBytes, list.bytes.begin());
        if (list.bytes[0] > kKeyCycleMaxCount) list.bytes[0] = 0;
        out.profiles[pi] =
            DecodeProfile(bytes.subspan(l.ProfileAddress(p), l.profileStride), l, profileWord, p);
        for (int j = 0; j < l.buttonCount; ++j) {
            auto at = [&](int plane) { return bytes[l.SlotByteAddress(p, j, plane)]; };
            out.buttons[pi][static_cast<std::size_t>(j)].slot = {at(0), at(1), at(2), at(3)};
        }
    }
}

std::optional<int> FindSoleLeftClickButton(const ConfigImage& image,
                                           std::span<const int> shownButtons) {
    const int profile = std::clamp(image.currentProfile, 0, kProfileCount - 1);
    std::optional<int> found;
    int count = 0;
    for (int j : shownButtons) {
        if (j < 0 || j >= kMaxButtons) continue;
        const ButtonSlot& s =
            image.buttons[static_cast<std::size_t>(profile)][static_cast<std::size_t>(j)].slot;
        const bool left =
            (s.type == 0 && j == 0) ||
            ((s.type == kMouseType || s.type == kSmartRepeatType) && s.op1 == kLeftButtonMask);
        if (left) {
            ++count;
            found = j;
        }
    }
    return count == 1 ? found : std::nullopt;
}

// ---- ConfigModel: publication ----

ConfigModel::ConfigModel(DeviceCommands& commands, std::string path)
    : commands_(commands),
      path_(std::move(path)),
      deferred_(*this, commands.GetTransport().GetClock()),
      current_(std::make_shared<const ConfigImage>()) {}

std::shared_ptr<const ConfigImage> ConfigModel::Snapshot() const {
    std::lock_guard lock(published_);
    return current_;
}

void ConfigModel::SetShownButtons(std::span<const int> buttons) {
    std::lock_guard lock(published_);
    shownButtons_.assign(buttons.begin(), buttons.end());
}

void ConfigModel::Publish(ConfigImage image) {
    auto next = std::make_shared<const ConfigImage>(std::move(image));
    std::lock_guard lock(published_);
    current_ = std::move(next);
}

void ConfigModel::Update(const std::function<void(ConfigImage&)>& change) {
    std::lock_guard lock(published_);
    ConfigImage copy = *current_;
    change(copy);
    current_ = std::make_shared<const ConfigImage>(std::move(copy));
}

void ConfigModel::Edit(const std::function<void(ConfigImage&)>& change) {
    Update(change);
}

std::optional<int> ConfigModel::RecomputeSoleLeftClickButton() {
    std::optional<int> sole;
    Update([&](ConfigImage& image) {
        image.soleLeftClickButton = FindSoleLeftClickButton(image, shownButtons_);
        sole = image.soleLeftClickButton;
    });
    return sole;
}

Status ConfigModel::RequireLoaded() const {
    if (!Snapshot()->loaded) return MakeError("no configuration has been loaded from the device");
    return {};
}

Status ConfigModel::ValidateDpiValue(int value) const {
    const int steps = Snapshot()->dpiStepCount;
    if (value < 1 || value > steps) {
        return MakeError("DPI value " + std::to_string(value) + " is outside 1 to " +
                         std::to_string(steps));
    }
    return {};
}

bool ConfigModel::Notify() {
    if (ImageClassOf(commands_.Values().Generation(path_)) == LayoutClass::A) return true;
    return commands_.NotifyUpdate(path_);
}

ButtonSlot ConfigModel::DefaultAssignment(int button) {
    constexpr uint8_t kNoFunction = 1;
    constexpr uint8_t kHighestDefaultType = 0x32;
    const auto r = commands_.ReadRecord(path_, button);
    ButtonSlot slot{r[0], r[1], r[2], r[3]};
    if (slot.type > kHighestDefaultType) slot.type = kNoFunction;
    return slot;
}

}  // namespace qvm
