#include "sim/sim_commands.h"

namespace qvm {

namespace {

constexpr int16_t A = kSimAnyByte;
constexpr int8_t N = kSimNoArg;

// 9-byte protocol (generation 0). Byte 7 (0x12) and the check byte are verified before a
// request gets here.
constexpr SimCommandRule kShortRules[] = {
    {{0x00, 0x00, A}, SimOp::QueryStatus},
    {{0x00, 0x01, A}, SimOp::SetHostMode, {3, N, N, N}},
    {{0x00, 0x02, 0x00}, SimOp::DeviceInfo},
    {{0x00, 0x02, 0x01}, SimOp::InfoRecord1},
    {{0x00, 0x02, 0x02}, SimOp::InfoRecord2},
    {{0x00, 0x02, 0x04}, SimOp::ButtonRecord, {4, N, N, N}},
    {{0x01, 0x01, 0x01}, SimOp::ProbeComplete},
    {{0x04, 0x00, A}, SimOp::LiveState},
    {{0x04, 0x01, A}, SimOp::SetStageValues, {4, 5, 3, N}},
    {{0x04, 0x02, A}, SimOp::SetStage, {3, N, N, N}},
    {{0x04, 0x03, A}, SimOp::SetProfile, {3, N, N, N}},
    {{0x04, 0x08, A}, SimOp::LiveWord, {3, 4, N, N}},
    {{0x05, 0x00, A}, SimOp::ReadMemory, {3, 4, 5, N}},
    {{0x05, 0x01, A}, SimOp::WriteByte, {3, 4, 6, N}},
    {{0x05, 0x02, A}, SimOp::CommitStaged, {3, 4, 5, 6}},
    {{0x08, 0x00, A}, SimOp::Reload, {N, N, N, N}, {{{6, 0x0C}}}},
    {{0x08, 0x02, A}, SimOp::ReloadAlt, {N, N, N, N}, {{{6, 0x0C}}}},
    // Command 9 with offset 0x0F and the tail 0x04 0x09 is the live profile colour;
    // every other command 9 fills the staging buffer.
    {{0x09, 0x0F, A}, SimOp::ProfileColour, {3, 4, 5, N}, {{{6, 0x04}, {7, 0x09}}}},
    {{0x09, A, A}, SimOp::StageData, {2, 3, N, N}},
    {{0x0C, 0x01, A}, SimOp::LiveBytes, {3, 4, N, N}, {{{6, 0x12}}}},
};

// 64-byte protocol, generations 1 to 10.
constexpr SimCommandRule kLongRules[] = {
    {{0x00, 0x00, A}, SimOp::QueryStatus},
    {{0x00, 0x01, 0x12}, SimOp::SetHostMode, {4, N, N, N}},
    {{0x00, 0x12, 0x12}, SimOp::NotifyUpdate},
    {{0x01, 0x00, 0x00}, SimOp::ReadMemory, {4, 5, N, N}},
    {{0x01, 0x00, 0x01}, SimOp::InfoPage, {4, N, N, N}},
    {{0x01, 0x03, A}, SimOp::WriteBlock, {3, 4, 5, 6}},
    {{0x01, 0x04, 0x00}, SimOp::Reload},
    {{0x01, 0x04, 0x02}, SimOp::ReloadAlt},
    {{0x01, 0x04, 0x03}, SimOp::SetLighting, {5, N, N, N}, {{{4, 0x01}}}, 3},
    {{0x01, 0x04, 0x03}, SimOp::LightingRefresh, {N, N, N, N}, {{{4, 0x00}}}, 3},
    {{0x01, 0x05, 0x00}, SimOp::ProfileColourPart, {4, 5, N, N}},
    {{0x01, 0x06, 0x02}, SimOp::PageMode, {N, N, N, N}, {{{4, 0x02}}}},
    {{0x01, 0x06, 0x03}, SimOp::LiveBytes, {4, 5, 6, N}},
    {{0x01, 0x07, 0x00}, SimOp::SetStage, {4, N, N, N}},
    {{0x01, 0x07, 0x01}, SimOp::SetStageValues, {4, 5, N, N}},
    {{0x01, 0x07, 0x02}, SimOp::SetProfile, {4, N, N, N}},
    {{0x01, 0x07, 0x03}, SimOp::LiveWord, {5, 6, N, N}, {{{4, 0x02}, {9, 0x12}}}},
    {{0x01, 0x08, 0x02}, SimOp::LedPreview, {4, 6, 7, N}, {}, 3},
};

// 64-byte protocol, generations 11 and above.
constexpr SimCommandRule kClassCRules[] = {
    {{0x00, 0x00, A}, SimOp::QueryStatus},
    {{0x00, 0x01, 0x12}, SimOp::SetHostMode, {4, N, N, N}},
    {{0x00, 0x12, 0x12}, SimOp::NotifyUpdate},
    {{0x01, 0x06, 0x02}, SimOp::PageMode, {N, N, N, N}, {{{4, 0x02}}}},
    {{0x01, 0x07, 0x03}, SimOp::LiveWord, {5, 6, N, N}, {{{4, 0x02}, {9, 0x12}}}},
    {{0x02, A, A}, SimOp::ReadMemory, {2, 3, N, N}},
    {{0x03, A, A}, SimOp::WriteBlock, {2, 3, 4, 5}},
    {{0x0A, A, 0x01}, SimOp::ButtonRecord, {2, N, N, N}},
    {{0x0E, A, A}, SimOp::LiveBytes, {2, 3, 4, 5}},
    {{0x0F, A, A}, SimOp::SetStage, {2, N, N, N}},
    {{0x10, A, A}, SimOp::SetStageValues, {2, 3, N, N}},
    {{0x11, A, A}, SimOp::SetProfile, {2, N, N, N}},
    {{0x12, A, A}, SimOp::SetLighting, {2, N, N, N}},
    {{0x13, A, A}, SimOp::LedPreview, {2, 3, 4, N}},
    {{0x14, A, A}, SimOp::Reload},
    {{0x16, A, A}, SimOp::ReloadAlt},
};

bool Matches(const SimCommandRule& rule, int generation, std::span<const uint8_t> request) {
    if (generation < rule.minGeneration) return false;
    for (int i = 0; i < 3; ++i) {
        const int16_t want = rule.match[i];
        if (want != kSimAnyByte && request[1 + i] != want) return false;
    }
    for (const SimFixedByte& fixed : rule.fixed) {
        if (fixed.at == kSimNoArg) continue;
        if (static_cast<size_t>(fixed.at) >= request.size() || request[fixed.at] != fixed.value) {
            return false;
        }
    }
    return true;
}

std::span<const SimCommandRule> RulesFor(int generation) {
    if (generation <= 0) return kShortRules;
    if (generation <= 10) return kLongRules;
    return kClassCRules;
}

}  // namespace

const SimCommandRule* FindSimCommand(int generation, std::span<const uint8_t> request) {
    if (request.size() < 4) return nullptr;
    for (const SimCommandRule& rule : RulesFor(generation)) {
        if (Matches(rule, generation, request)) return &rule;
    }
    return nullptr;
}

}  // namespace qvm
