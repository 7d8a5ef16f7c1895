#include "lighting/keyboard_keys.h"

#include <algorithm>
#include <array>
#include <bitset>

namespace qvm {
namespace {

struct UsageRange {
    int first;
    int last;
    LightKeyKind kind;
};

constexpr std::array<UsageRange, 8> kKinds{{
    {0x04, 0x04, LightKeyKind::Game},  // A
    {0x07, 0x07, LightKeyKind::Game},  // D
    {0x16, 0x16, LightKeyKind::Game},  // S
    {0x1A, 0x1A, LightKeyKind::Game},  // W
    {0x4F, 0x52, LightKeyKind::Game},  // Right, Left, Down, Up
    {0x3A, 0x45, LightKeyKind::Function},
    {0xE0, 0xE7, LightKeyKind::Modifier},
    {0x68, 0x73, LightKeyKind::Function},  // F13 to F24
}};

constexpr int kMaxLitUsage = 0xFF;

}  // namespace

LightKeyKind LightKeyKindOf(int usage) {
    const auto* found = std::find_if(kKinds.begin(), kKinds.end(), [usage](const UsageRange& r) {
        return usage >= r.first && usage <= r.last;
    });
    return found == kKinds.end() ? LightKeyKind::Ordinary : found->kind;
}

std::vector<KeyOfKind> LightingKeys(const KeyboardLayout& layout) {
    std::vector<KeyOfKind> keys;
    std::bitset<kMaxLitUsage + 1> seen;
    for (const KeyboardKey& key : layout.keys) {
        if (key.usage < 1 || key.usage > kMaxLitUsage || seen[key.usage]) continue;
        seen[key.usage] = true;
        keys.push_back(
            {static_cast<uint8_t>(key.usage), static_cast<uint8_t>(LightKeyKindOf(key.usage))});
    }
    return keys;
}

}  // namespace qvm
