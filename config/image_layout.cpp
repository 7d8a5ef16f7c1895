#include "config/image_layout.h"

#include <cstdlib>

#include "device/command_table.h"

namespace qvm {
namespace {

// Header and area fields of each class; the profile base, stride and button planes are
// the ones the command set writes buttons with (ButtonLayoutOf), so both agree.
struct ClassFields {
    bool stageIndexInImage;
    uint32_t dpiBase;
    uint32_t optionsByte;
    uint32_t stageFlagsByte;
    int stageFlagCount;
    std::optional<uint32_t> resetStageIndex;
    OffFlagRule offRule;
    std::optional<uint32_t> colourControl;
    uint32_t colourAt;
    bool colourPacked;
    uint32_t nameAt;
    int nameReadBytes;
    uint32_t macroIndex;
    uint32_t macroMode;
    uint32_t keyCycleBase;
    uint32_t heapStart;
    uint32_t heapStartExtended;
    uint32_t readLength;
    uint32_t readRequest;
};

// clang-format off
constexpr std::array<ClassFields, 3> kClassFields{{
    // stage  dpi   opts  flags n  reset  off rule                 ctrl  col   packed name  len
    {false,   0x04, 0x0F, 0x03, 4, 0x02u, OffFlagRule::MarkerPair, {},   0x03, true,  0x0E, 18,
     /*index*/ 0x200, /*mode*/ 0x340, /*cycles*/ 0x390, /*heap*/ 0x400, 0x400,
     /*read*/ 0x400, 32},
    {true,    0x03, 0x0E, 0x0F, 5, {},     OffFlagRule::HighBit,    0x02, 0x03, false, 0x06, 26,
     0x2A0, 0x3E0, 0x3F0, 0x460, 0x4B0, 0x800, 60},
    {true,    0x03, 0x0E, 0x0F, 5, {},     OffFlagRule::HighBit,    0x02, 0x03, false, 0x06, 26,
     0x340, 0x480, 0x490, 0x550, 0x550, 0x800, 60},
}};
// clang-format on

ImageLayout Build(LayoutClass cls) {
    const auto index = static_cast<std::size_t>(cls);
    const ClassFields& f = kClassFields[index];
    const ButtonLayout& buttons = ButtonLayoutOf(static_cast<GenerationClass>(index));
    ImageLayout l{};
    l.cls = cls;
    l.buttonCount = buttons.buttons;
    l.stageIndexInImage = f.stageIndexInImage;
    l.dpiBase = f.dpiBase;
    l.optionsByte = f.optionsByte;
    l.stageFlagsByte = f.stageFlagsByte;
    l.stageFlagCount = f.stageFlagCount;
    l.resetStageIndex = f.resetStageIndex;
    l.profileBase = buttons.profileBase;
    l.profileStride = buttons.stride;
    l.offRule = f.offRule;
    l.colourControl = f.colourControl;
    l.colourAt = f.colourAt;
    l.colourPacked = f.colourPacked;
    l.nameAt = f.nameAt;
    l.nameReadBytes = f.nameReadBytes;
    l.planeAt = buttons.planeOffset;
    l.macroIndex = f.macroIndex;
    l.macroMode = f.macroMode;
    l.keyCycleBase = f.keyCycleBase;
    l.heapStart = f.heapStart;
    l.heapStartExtended = f.heapStartExtended;
    l.readLength = f.readLength;
    l.readRequest = f.readRequest;
    return l;
}

constexpr int32_t kFineStepIdent = 0x12;
constexpr int kFineStep = 100;
constexpr int kCoarseStep = 50;
constexpr int kWideStepCount = 240;
constexpr int kMaxRateHz = 1000;
constexpr uint8_t kTwoBitMax = 3;
constexpr uint8_t kByteMax = 255;

struct DefaultStages {
    int32_t identByte1;
    std::array<uint8_t, kDpiStageCount> values;
};
constexpr std::array<DefaultStages, 4> kDefaultStages{{
    {0x12, {8, 16, 32, 160, 80}},
    {0x03, {16, 32, 64, 164, 80}},
    {0x0F, {16, 32, 64, 144, 80}},
    {0x13, {16, 32, 64, 240, 80}},
}};
constexpr std::array<uint8_t, kDpiStageCount> kOtherDefaultStages{16, 32, 64, 80, 80};

}  // namespace

LayoutClass ImageClassOf(int32_t generation) {
    if (generation <= 0) return LayoutClass::A;
    return generation <= 10 ? LayoutClass::B : LayoutClass::C;
}

const ImageLayout& LayoutOf(LayoutClass cls) {
    static const std::array<ImageLayout, 3> kLayouts{Build(LayoutClass::A), Build(LayoutClass::B),
                                                     Build(LayoutClass::C)};
    return kLayouts.at(static_cast<std::size_t>(cls));
}

int DpiStepFor(int32_t identByte1) {
    return identByte1 == kFineStepIdent ? kFineStep : kCoarseStep;
}

int DpiStepCountFor(int32_t identByte1, int32_t identByte2) {
    if (identByte1 == 0x03 || identByte1 == 0x13) return kWideStepCount;
    return identByte2;
}

std::array<uint8_t, kDpiStageCount> DefaultDpiStages(int32_t identByte1) {
    for (const DefaultStages& d : kDefaultStages) {
        if (d.identByte1 == identByte1) return d.values;
    }
    return kOtherDefaultStages;
}

int ReportRateHz(int code) {
    return kMaxRateHz / (code + 1);
}

int ReportRateCodeFor(int hz) {
    int best = 0;
    for (int code = 1; code <= kMaxRateCode; ++code) {
        if (std::abs(ReportRateHz(code) - hz) < std::abs(ReportRateHz(best) - hz)) best = code;
    }
    return best;
}

const std::array<Rgb, kProfileCount>& DefaultProfileColours() {
    static constexpr std::array<Rgb, kProfileCount> kColours{
        {{255, 44, 0}, {0, 255, 0}, {0, 0, 255}, {255, 0, 255}, {0, 255, 255}}};
    return kColours;
}

const std::array<uint8_t, kProfileCount>& DefaultPackedColours() {
    static constexpr std::array<uint8_t, kProfileCount> kPacked{0x07, 0x0C, 0x30, 0x33, 0x3C};
    return kPacked;
}

uint8_t PackColour(uint8_t red2, uint8_t green2, uint8_t blue2) {
    return static_cast<uint8_t>((blue2 & kTwoBitMax) << 4 | (green2 & kTwoBitMax) << 2 |
                                (red2 & kTwoBitMax));
}

uint8_t Expand2Bit(uint8_t value2) {
    return static_cast<uint8_t>((value2 & kTwoBitMax) * kByteMax / kTwoBitMax);
}

uint8_t Reduce8Bit(uint8_t value8) {
    return static_cast<uint8_t>((value8 * kTwoBitMax + kByteMax / 2) / kByteMax);
}

Rgb UnpackColour(uint8_t packed) {
    return {Expand2Bit(packed & kTwoBitMax), Expand2Bit((packed >> 2) & kTwoBitMax),
            Expand2Bit((packed >> 4) & kTwoBitMax)};
}

}  // namespace qvm
