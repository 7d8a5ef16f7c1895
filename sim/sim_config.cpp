#include "sim/sim_config.h"

namespace qvm {

namespace {

// Per-kind defaults. Model codes are entries of the model table with a real name:
// 11 "MX-12", 21 "MX-19", 25 "MX-21". Identity byte 1 selects the DPI step (0x12: 100,
// others: 50) and byte 2 the step count, so every mouse reaches 8000 DPI or more.
struct MouseDefaults {
    int firstGeneration;
    int modelCode;
    uint32_t firmware;
    uint32_t memorySize;
    uint8_t identByte1;
    uint8_t identByte2;
    uint8_t identByte4;
    uint16_t productId;
};

constexpr MouseDefaults kMouseDefaults[] = {
    {0, 11, 0x20, 0x4000, 0x0F, 160, 0x01, 0x7010},
    {1, 21, 0x21, 0x8000, 0x0F, 160, 0x00, 0x7020},
    {11, 25, 0x30, 0x10000, 0x12, 160, 0x00, 0x7030},
};

}  // namespace

SimLayoutClass LayoutClassOf(int generation) {
    if (generation <= 0) return SimLayoutClass::A;
    if (generation <= 10) return SimLayoutClass::B;
    return SimLayoutClass::C;
}

bool HasMouseLighting(const SimDeviceConfig& config) {
    if (config.IsKeyboard()) return false;
    return config.generation >= 11 || (config.generation >= 3 && config.extendedLayout);
}

std::string SimDeviceConfig::KindName() const {
    switch (kind) {
        case SimKind::KeyboardMx28:
            return "mx28";
        case SimKind::KeyboardMx29:
            return "mx29";
        case SimKind::Mouse:
            break;
    }
    return "g" + std::to_string(generation) + (extendedLayout ? "x" : "");
}

std::string SimDeviceConfig::Serial() const {
    switch (kind) {
        case SimKind::KeyboardMx28:
            return "MX-28";
        case SimKind::KeyboardMx29:
            return "MX-29";
        case SimKind::Mouse:
            break;
    }
    return {};
}

SimDeviceConfig DefaultMouse(int generation, bool extendedLayout) {
    const MouseDefaults* row = &kMouseDefaults[0];
    for (const MouseDefaults& candidate : kMouseDefaults) {
        if (generation >= candidate.firstGeneration) row = &candidate;
    }
    SimDeviceConfig config;
    config.kind = SimKind::Mouse;
    config.generation = generation;
    config.extendedLayout = extendedLayout;
    config.modelCode = row->modelCode;
    config.firmware = row->firmware;
    config.memorySize = row->memorySize;
    config.identByte1 = row->identByte1;
    config.identByte2 = row->identByte2;
    config.identByte4 = row->identByte4;
    config.productId = row->productId;
    config.product = "QVM Gaming Mouse";
    return config;
}

SimDeviceConfig DefaultKeyboard(SimKind kind) {
    SimDeviceConfig config;
    config.kind = kind;
    config.generation = 0;
    config.modelCode = 10000;
    config.firmware = 0x01000203;
    config.memorySize = 0;
    config.identByte1 = 0;
    config.identByte2 = 0;
    config.deviceClass = 0;
    config.featureFlags = 0;
    config.productId = kind == SimKind::KeyboardMx28 ? 0x7050 : 0x7051;
    config.product = "QVM Gaming Keyboard";
    return config;
}

}  // namespace qvm
