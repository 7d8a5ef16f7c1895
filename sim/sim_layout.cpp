#include "sim/sim_layout.h"

#include <algorithm>

namespace qvm {

namespace {

constexpr int kIdentityStringLength = 32;
constexpr int kReportRateShift = 4;
constexpr uint8_t kFactoryReportRate = 1;  // 500 reports a second
constexpr uint8_t kFactoryStage = 1;
constexpr uint8_t kFactoryLightingEffect = 2;
constexpr uint8_t kProfileOnMarker = 0x12;
constexpr uint8_t kColourControlReset = 0x07;

struct ClassGeometry {
    SimLayoutClass layoutClass;
    SimMemoryGeometry geometry;
};

constexpr ClassGeometry kGeometries[] = {
    {SimLayoutClass::A, {0x02, 0x03, 0x04, 0x0F, 0x010, 0x60, 16, -1, -1}},
    {SimLayoutClass::B, {0x02, 0x0F, 0x03, 0x0E, 0x020, 0x80, 24, 0x11, 0x460}},
    {SimLayoutClass::C, {0x02, 0x0F, 0x03, 0x0E, 0x020, 0xA0, 32, 0x11, 0x500}},
};

struct StageDefaults {
    int identByte1;  // -1: any other
    std::array<uint8_t, kSimStageCount> values;
};

constexpr StageDefaults kStageDefaults[] = {
    {0x12, {8, 16, 32, 160, 80}},  {0x03, {16, 32, 64, 164, 80}}, {0x0F, {16, 32, 64, 144, 80}},
    {0x13, {16, 32, 64, 240, 80}}, {-1, {16, 32, 64, 80, 80}},
};

struct Rgb {
    uint8_t r, g, b;
};
constexpr Rgb kProfileColours[kSimProfileCount] = {
    {255, 44, 0}, {0, 255, 0}, {0, 0, 255}, {255, 0, 255}, {0, 255, 255}};
// The same colours two bits a channel (blue << 4 | green << 2 | red), as class A keeps them.
constexpr uint8_t kPackedProfileColours[kSimProfileCount] = {0x07, 0x0C, 0x30, 0x33, 0x3C};

// Profile block bytes.
constexpr int kProfileOnOffset = 0x00;      // class A: 0x12 0x12 while on
constexpr int kPackedColourOffset = 0x03;   // class A
constexpr int kColourControlOffset = 0x02;  // class B, C: control byte then R, G, B

// Default function of each button (type, op1, op2, op3). The last two buttons of every
// class are the wheel's scroll up and scroll down; buttons not listed do nothing.
using ButtonRecord = std::array<uint8_t, 4>;
constexpr ButtonRecord kLeadingButtons[] = {
    {4, 0x01, 0, 0},   // left click
    {4, 0x02, 0, 0},   // right click
    {4, 0x04, 0, 0},   // wheel click
    {4, 0x08, 0, 0},   // backward
    {4, 0x10, 0, 0},   // forward
    {12, 0, 0, 0},     // DPI+
    {13, 0, 0, 0},     // DPI-
    {14, 0, 0, 0},     // DPI loop
    {17, 0, 0, 0},     // profile switch
    {8, 0, 0, 0xFF},   // built-in macro "Tilt left"
    {8, 10, 0, 0xFF},  // built-in macro "Tilt right"
    {8, 26, 0, 0xFF},  // built-in macro "Double click"
    {19, 0, 0, 0},     // LED on/off
    {20, 0, 0, 0},     // angle snapping on/off
};
constexpr ButtonRecord kScrollUp = {4, 0, 0x01, 0};
constexpr ButtonRecord kScrollDown = {4, 0, 0xFF, 0};
constexpr ButtonRecord kNoFunction = {1, 0, 0, 0};

ButtonRecord DefaultButton(int button, int buttonCount) {
    if (button == buttonCount - 2) return kScrollUp;
    if (button == buttonCount - 1) return kScrollDown;
    if (button < static_cast<int>(std::size(kLeadingButtons))) return kLeadingButtons[button];
    return kNoFunction;
}

uint8_t InfoRecord2Value(const SimDeviceConfig& config, int which) {
    // LED count, buttons per profile, profiles, DPI stages.
    const std::array<uint8_t, 4> values = {static_cast<uint8_t>(HasMouseLighting(config) ? 16 : 0),
                                           static_cast<uint8_t>(GeometryOf(config).buttonCount),
                                           kSimProfileCount, kSimStageCount};
    return values[which];
}

}  // namespace

SimMemoryGeometry GeometryOf(const SimDeviceConfig& config) {
    const SimLayoutClass layoutClass = LayoutClassOf(config.generation);
    SimMemoryGeometry geometry;
    for (const ClassGeometry& row : kGeometries) {
        if (row.layoutClass == layoutClass) geometry = row.geometry;
    }
    if (!HasMouseLighting(config)) geometry.ledTable = -1;
    if (config.generation < 3) geometry.lightingByte = -1;
    return geometry;
}

std::array<uint8_t, kSimStageCount> DefaultStageValues(uint8_t identByte1) {
    for (const StageDefaults& row : kStageDefaults) {
        if (row.identByte1 == identByte1 || row.identByte1 < 0) return row.values;
    }
    return kStageDefaults[std::size(kStageDefaults) - 1].values;
}

std::vector<uint8_t> BuildFactoryImage(const SimDeviceConfig& config) {
    std::vector<uint8_t> image(config.memorySize, config.blank ? kSimBlankByte : 0x00);
    if (config.blank || image.empty()) return image;
    const SimMemoryGeometry g = GeometryOf(config);
    const bool classA = LayoutClassOf(config.generation) == SimLayoutClass::A;

    image[0] = kSimInitMarker;
    image[g.stageByte] = kFactoryStage;
    const auto stages = DefaultStageValues(config.identByte1);
    for (int k = 0; k < kSimStageCount; ++k) {
        image[g.dpiBase + 2 * k] = stages[k];
        image[g.dpiBase + 2 * k + 1] = stages[k];
    }
    image[g.optionsByte] = kFactoryReportRate << kReportRateShift;
    if (g.lightingByte >= 0) image[g.lightingByte] = kFactoryLightingEffect;

    for (int p = 0; p < kSimProfileCount; ++p) {
        const int block = g.profileBase + g.profileStride * p;
        if (classA) {
            image[block + kProfileOnOffset] = kProfileOnMarker;
            image[block + kProfileOnOffset + 1] = kProfileOnMarker;
            image[block + kPackedColourOffset] = kPackedProfileColours[p];
        } else {
            image[block + kColourControlOffset] = kColourControlReset;
            image[block + kColourControlOffset + 1] = kProfileColours[p].r;
            image[block + kColourControlOffset + 2] = kProfileColours[p].g;
            image[block + kColourControlOffset + 3] = kProfileColours[p].b;
        }
    }
    return image;
}

std::array<uint8_t, kSimInfoAreaSize> BuildInfoArea(const SimDeviceConfig& config) {
    using O = SimInfoOffsets;
    std::array<uint8_t, kSimInfoAreaSize> area{};
    area[O::kSignature] = 'Q';
    area[O::kSignature + 1] = 'Z';
    area[O::kGeneration] = static_cast<uint8_t>(config.generation);
    area[O::kHardware] = 0x31;
    area[O::kHardware + 1] = 0x02;
    area[O::kHardware + 2] = 0x05;
    for (int i = 0; i < 4; ++i) area[O::kInfoRecord2 + i] = InfoRecord2Value(config, i);
    area[O::kDeviceClass] = config.deviceClass;
    area[O::kIdentByte3] = config.identByte3;
    area[O::kProfileCount] = kSimProfileCount;
    area[O::kStageCount] = 4;
    area[O::kLiveValue2] = 4;
    area[O::kFeatureFlags] = config.featureFlags;
    const int buttons = GeometryOf(config).buttonCount;
    for (int j = 0; j < buttons; ++j) {
        const ButtonRecord record = DefaultButton(j, buttons);
        std::copy(record.begin(), record.end(), area.begin() + O::kButtonRecords + 4 * j);
    }
    return area;
}

std::optional<std::vector<uint8_t>> BuildIdentityString(const SimDeviceConfig& config, int index) {
    if (config.IsKeyboard()) return std::nullopt;
    std::vector<uint8_t> bytes(kIdentityStringLength, 0);
    const auto firmware = static_cast<uint8_t>(config.firmware);
    const auto model = static_cast<uint8_t>(config.modelCode);
    if (config.generation == 0) {
        if (index == 0xC6) {
            bytes[0] = model;
            bytes[1] = config.deviceClass;
            bytes[2] = config.identByte3;
            return bytes;
        }
        if (index != 0xC7) return std::nullopt;
        const uint8_t info[] = {0x01, 0x00, 'Q', 'Z', 'W', firmware, 0x00, config.identByte4};
        std::copy(std::begin(info), std::end(info), bytes.begin());
        return bytes;
    }
    if (index != 0xC7) return std::nullopt;
    const uint8_t info[] = {0x01,
                            0x00,
                            'Q',
                            'Z',
                            static_cast<uint8_t>(config.generation),
                            firmware,
                            config.identByte1,
                            model,
                            config.deviceClass,
                            config.identByte3,
                            config.identByte2,
                            config.featureFlags};
    std::copy(std::begin(info), std::end(info), bytes.begin());
    constexpr int kExtendedLayoutByte = 21;
    bytes[kExtendedLayoutByte] = (config.extendedLayout || config.generation >= 11) ? 1 : 0;
    return bytes;
}

}  // namespace qvm
