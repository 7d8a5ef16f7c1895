#include "macro/macro_item.h"

#include <algorithm>

namespace qvm {
namespace {

struct OpcodeRange {
    uint8_t first;
    uint8_t last;
    int8_t length;
    int8_t status;
};

// Every opcode that decodes; all others are invalid.
constexpr std::array<OpcodeRange, 17> kOpcodes = {{
    {kOpEnd, kOpStop, 1, kDecodeOrdinary},
    {kOpModeOnce, kOpModeFireKey, 1, kDecodeModeMarker},
    {kOpJump, kOpJump, 3, kDecodeOrdinary},
    {kOpDecrementJump, kOpDecrementJump, 3, kDecodeOrdinary},
    {kOpSetAcc, kOpSetAcc, 3, kDecodeOrdinary},
    {kOpButtonDown, kOpButtonDown | kOperandMask, 1, kDecodeOrdinary},
    {kOpButtonUp, kOpButtonUp | kOperandMask, 1, kDecodeOrdinary},
    {kOpWheel, kOpWheel | kOperandMask, 1, kDecodeOrdinary},
    {kOpMove, kOpMove, 5, kDecodeOrdinary},
    {kOpUnknown81, kOpUnknown82, 2, kDecodeOrdinary},
    {kOpKeyDown, kOpKeyUp, 2, kDecodeOrdinary},
    {kOpConsumer, kOpConsumer, 3, kDecodeOrdinary},
    {kOpWaitShort, kOpWaitShort, 2, kDecodeOrdinary},
    {kOpWaitLong, kOpWaitLong, 3, kDecodeOrdinary},
    {kOpMoveToUnsigned, kOpMoveToUnsigned, 5, kDecodeOrdinary},
    {kOpMoveTo, kOpMoveTo, 5, kDecodeOrdinary},
    {kOpSystemFirst, kOpSystemLast, 1, kDecodeOrdinary},
}};

const OpcodeRange* Find(uint8_t opcode) {
    for (const OpcodeRange& r : kOpcodes) {
        if (opcode >= r.first && opcode <= r.last) return &r;
    }
    return nullptr;
}

MacroItem Copy(std::span<const uint8_t> bytes, int length) {
    MacroItem item;
    const std::size_t n = std::min<std::size_t>(bytes.size(), kMacroItemMaxBytes);
    std::copy_n(bytes.begin(), n, item.code.begin());
    item.length = length;
    return item;
}

}  // namespace

int MacroInstructionLength(uint8_t opcode) {
    const OpcodeRange* r = Find(opcode);
    return r ? r->length : 0;
}

DecodedInstruction DecodeMacroInstruction(std::span<const uint8_t> bytes) {
    if (bytes.empty()) return {};
    const OpcodeRange* r = Find(bytes[0]);
    if (!r) return {Copy(bytes.first(1), 0), kDecodeInvalid};
    const auto length = static_cast<std::size_t>(r->length);
    return {Copy(bytes.first(std::min(length, bytes.size())), r->length), r->status};
}

std::vector<MacroItem> DecodeMacroCode(std::span<const uint8_t> code, std::size_t maxItems) {
    std::vector<MacroItem> items;
    std::size_t at = 0;
    while (at < code.size() && code[at] != kOpEnd && items.size() < maxItems) {
        const auto rest = code.subspan(at);
        const int length = MacroInstructionLength(rest[0]);
        std::size_t take = 1;  // an invalid opcode stays as a byte of its own
        if (length > 0) take = std::min(static_cast<std::size_t>(length), rest.size());
        items.push_back(Copy(rest.first(take), static_cast<int>(take)));
        at += take;
    }
    return items;
}

std::vector<uint8_t> EncodeMacroCode(std::span<const MacroItem> items) {
    std::vector<uint8_t> code;
    for (const MacroItem& item : items) {
        const int n = std::clamp(item.length, 1, kMacroItemMaxBytes);
        code.insert(code.end(), item.code.begin(), item.code.begin() + n);
    }
    return code;
}

MacroItem MakeMacroItem(std::span<const uint8_t> bytes) {
    if (bytes.empty()) return Copy(bytes, 1);  // the end byte
    const std::size_t length = static_cast<std::size_t>(MacroInstructionLength(bytes[0]));
    if (length == bytes.size()) return Copy(bytes, static_cast<int>(length));
    const std::size_t n = std::min<std::size_t>(bytes.size(), kMacroItemMaxBytes);
    return Copy(bytes.first(n), static_cast<int>(n));
}

bool IsRawMacroItem(const MacroItem& item) {
    return item.length != MacroInstructionLength(item.Opcode());
}

uint16_t MacroItemWord(const MacroItem& item, std::size_t at) {
    return static_cast<uint16_t>(item.code[at] | (item.code[at + 1] << 8));
}

namespace {

void PutWord(MacroItem& item, std::size_t at, uint16_t value) {
    item.code[at] = static_cast<uint8_t>(value & 0xFF);
    item.code[at + 1] = static_cast<uint8_t>(value >> 8);
}

}  // namespace

MacroItem MakeWaitItem(int32_t ms, uint32_t stamp) {
    const int32_t capped = std::clamp(ms, 0, kMacroMaxWaitMs);
    MacroItem item;
    item.stamp = stamp;
    if (capped <= 0xFF) {
        item.code[0] = kOpWaitShort;
        item.code[1] = static_cast<uint8_t>(capped);
    } else {
        item.code[0] = kOpWaitLong;
        PutWord(item, 1, static_cast<uint16_t>(capped));
    }
    item.length = MacroInstructionLength(item.code[0]);
    return item;
}

MacroItem MakeMoveItem(uint8_t opcode, long x, long y) {
    // 0xA0 takes unsigned operands, the others signed ones.
    const long lo = opcode == kOpMoveToUnsigned ? 0 : -32768;
    const long hi = opcode == kOpMoveToUnsigned ? 65535 : 32767;
    MacroItem item;
    item.code[0] = opcode;
    PutWord(item, 1, static_cast<uint16_t>(std::clamp(x, lo, hi)));
    PutWord(item, 3, static_cast<uint16_t>(std::clamp(y, lo, hi)));
    item.length = MacroInstructionLength(opcode);
    return item;
}

}  // namespace qvm
