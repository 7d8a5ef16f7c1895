#include "sim/sim_keyboard.h"

#include <algorithm>

namespace qvm {

namespace {

using B = SimKeyboardBytes;

constexpr uint8_t kTargetKeys = 0x01;      // set effect, key colours
constexpr uint8_t kTargetSide = 0x02;      // set effect and read state: the side light
constexpr uint8_t kReadTargetKeys = 0x00;  // read state: the key lighting
constexpr uint8_t kSelectorKeys = 0x02;
constexpr uint8_t kSelectorSide = 0x06;
constexpr uint8_t kIdentifyOk = 0x01;

constexpr uint8_t kSideEffect = 0x06;  // byte 6 of the side-light report

constexpr uint8_t kMaxEffect = 13;
constexpr uint8_t kMaxSpeed = 4;
constexpr uint8_t kMaxBrightness = 4;
constexpr uint8_t kMaxDirection = 3;
constexpr uint8_t kMaxSideLevel = 4;
constexpr int kRgb = 3;  // colour bytes a reply or a key record carries

// Saved image: effect, speed, brightness, direction, colour 1, colour 2, side light, then
// four bytes a key from offset 16.
constexpr int kImageColour1 = 4;
constexpr int kImageColour2 = 8;
constexpr int kImageSide = 12;
constexpr int kImageKeys = 16;

}  // namespace

SimKeyboard::SimKeyboard(const SimDeviceConfig& config) : config_(config) {}

std::optional<std::vector<uint8_t>> SimKeyboard::HandleOutput(std::span<const uint8_t> in,
                                                              SimRequestOutcome& outcome) {
    if (in.size() != kSimKeyboardReportLength || in[0] != kSimKeyboardReportId ||
        in[1] != kSimKeyboardTag) {
        outcome = SimRequestOutcome::BadFrame;
        return std::nullopt;
    }
    std::vector<uint8_t> out(kSimKeyboardReportLength, 0);
    std::copy_n(in.begin(), 3, out.begin());
    out[B::kTarget] = in[B::kTarget];
    bool accepted = true;
    outcome = SimRequestOutcome::Accepted;
    switch (static_cast<SimKeyboardCommand>(in[B::kSubCommand])) {
        case SimKeyboardCommand::Identify:
            ++identifications_;
            out[B::kIdentResult] = kIdentifyOk;
            for (int i = 0; i < 4; ++i) {
                out[B::kFirmware + i] = static_cast<uint8_t>(config_.firmware >> (8 * i));
            }
            break;
        case SimKeyboardCommand::ReadState:
            accepted = ReadState(in, out);
            break;
        case SimKeyboardCommand::SetEffect:
            accepted = SetEffect(in);
            break;
        case SimKeyboardCommand::ReadKeyColours:
            accepted = KeyColours(in, out, false);
            break;
        case SimKeyboardCommand::WriteKeyColours:
            accepted = KeyColours(in, out, true);
            break;
        default:
            outcome = SimRequestOutcome::Unknown;
            accepted = false;
            break;
    }
    if (!accepted && outcome == SimRequestOutcome::Accepted) outcome = SimRequestOutcome::Refused;
    out[B::kStatus] = accepted ? 1 : 0;
    return out;
}

bool SimKeyboard::SetEffect(std::span<const uint8_t> in) {
    if (in[B::kTarget] == kTargetSide) {
        if (in[B::kSelector] != kSelectorSide || in[B::kEffect] != kSideEffect ||
            in[B::kBrightness] > kMaxSideLevel) {
            return false;
        }
        lighting_.sideLight = in[B::kBrightness];
        return true;
    }
    if (in[B::kTarget] != kTargetKeys || in[B::kSelector] != kSelectorKeys) return false;
    if (in[B::kEffect] > kMaxEffect || in[B::kSpeed] > kMaxSpeed ||
        in[B::kBrightness] > kMaxBrightness || in[B::kDirection] > kMaxDirection) {
        return false;
    }
    lighting_.effect = in[B::kEffect];
    lighting_.speed = in[B::kSpeed];
    lighting_.brightness = in[B::kBrightness];
    lighting_.direction = in[B::kDirection];
    std::copy_n(in.begin() + B::kColour1, 4, lighting_.colour1.begin());
    std::copy_n(in.begin() + B::kColour2, 4, lighting_.colour2.begin());
    return true;
}

bool SimKeyboard::ReadState(std::span<const uint8_t> in, std::span<uint8_t> out) const {
    if (in[B::kTarget] == kTargetSide) {
        out[B::kBrightness] = lighting_.sideLight;
        return true;
    }
    if (in[B::kTarget] != kReadTargetKeys) return false;
    out[B::kEffect] = lighting_.effect;
    out[B::kSpeed] = lighting_.speed;
    out[B::kBrightness] = lighting_.brightness;
    out[B::kDirection] = lighting_.direction;
    std::copy_n(lighting_.colour1.begin(), kRgb, out.begin() + B::kColour1);
    std::copy_n(lighting_.colour2.begin(), kRgb, out.begin() + B::kColour2);
    return true;
}

// The number of key slots a write report fills. Unused slots are all zero (index 0 and
// black), so trailing all-zero slots after the first are padding; a slot of index 0 with
// a colour, or followed by a used slot, is key 0.
int SimKeyboard::UsedKeySlots(std::span<const uint8_t> in) {
    int used = 1;
    for (int i = 1; i < B::kKeysPerReport; ++i) {
        const auto colour = in.subspan(B::kKeyColours + 4 * i, kRgb);
        const bool blank =
            in[B::kKeyIndices + i] == 0 &&
            std::all_of(colour.begin(), colour.end(), [](uint8_t b) { return b == 0; });
        if (!blank) used = i + 1;
    }
    return used;
}

// Writes take red, green and blue of each key; reads answer all five slots, the
// colours of the keys their indices name.
bool SimKeyboard::KeyColours(std::span<const uint8_t> in, std::span<uint8_t> out, bool write) {
    if (in[B::kTarget] != kTargetKeys || in[B::kEffect] > kMaxEffect) return false;
    out[B::kEffect] = in[B::kEffect];
    const int slots = write ? UsedKeySlots(in) : B::kKeysPerReport;
    for (int i = 0; i < slots; ++i) {
        const uint8_t key = in[B::kKeyIndices + i];
        out[B::kKeyIndices + i] = key;
        const int at = B::kKeyColours + 4 * i;
        if (write) std::copy_n(in.begin() + at, kRgb, lighting_.keys[key].begin());
        std::copy_n(lighting_.keys[key].begin(), kRgb, out.begin() + at);
    }
    return true;
}

std::vector<uint8_t> SimKeyboard::SaveImage() const {
    std::vector<uint8_t> image(kImageSize, 0);
    image[0] = lighting_.effect;
    image[1] = lighting_.speed;
    image[2] = lighting_.brightness;
    image[3] = lighting_.direction;
    std::copy(lighting_.colour1.begin(), lighting_.colour1.end(), image.begin() + kImageColour1);
    std::copy(lighting_.colour2.begin(), lighting_.colour2.end(), image.begin() + kImageColour2);
    image[kImageSide] = lighting_.sideLight;
    for (int k = 0; k < kSimKeyCount; ++k) {
        std::copy(lighting_.keys[k].begin(), lighting_.keys[k].end(),
                  image.begin() + kImageKeys + 4 * k);
    }
    return image;
}

bool SimKeyboard::LoadImage(std::span<const uint8_t> image) {
    if (image.size() != kImageSize) return false;
    if (image[0] > kMaxEffect || image[1] > kMaxSpeed || image[2] > kMaxBrightness ||
        image[3] > kMaxDirection || image[kImageSide] > kMaxSideLevel) {
        return false;
    }
    SimKeyboardLighting loaded;
    loaded.effect = image[0];
    loaded.speed = image[1];
    loaded.brightness = image[2];
    loaded.direction = image[3];
    std::copy_n(image.begin() + kImageColour1, 4, loaded.colour1.begin());
    std::copy_n(image.begin() + kImageColour2, 4, loaded.colour2.begin());
    loaded.sideLight = image[kImageSide];
    for (int k = 0; k < kSimKeyCount; ++k) {
        std::copy_n(image.begin() + kImageKeys + 4 * k, 4, loaded.keys[k].begin());
    }
    lighting_ = loaded;
    return true;
}

}  // namespace qvm
