// Macro instructions: the variable-length byte codes a mouse runs by itself, and the
// host's in-memory form of one instruction. Every list of instructions the host keeps
// (editor, recorder, files, device slots) is a list of MacroItem.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <vector>

namespace qvm {

inline constexpr int kMacroItemMaxBytes = 5;

// Opcodes and opcode ranges the host produces or treats specially.
enum MacroOpcode : uint8_t {
    kOpEnd = 0x00,
    kOpStop = 0x01,
    kOpModeOnce = 0x04,
    kOpModeLoop = 0x05,
    kOpModeFireKey = 0x06,
    kOpJump = 0x08,
    kOpDecrementJump = 0x10,
    kOpSetAcc = 0x18,
    kOpButtonDown = 0x20,  // low 5 bits: button mask
    kOpButtonUp = 0x40,    // low 5 bits: button mask
    kOpWheel = 0x60,       // low 5 bits: signed wheel count
    kOpMove = 0x80,        // signed dx, signed dy
    kOpUnknown81 = 0x81,
    kOpUnknown82 = 0x82,
    kOpKeyDown = 0x83,         // HID keyboard usage
    kOpKeyUp = 0x84,           // HID keyboard usage
    kOpConsumer = 0x85,        // 16-bit consumer usage; 0 releases
    kOpWaitShort = 0x88,       // 8-bit milliseconds
    kOpWaitLong = 0x89,        // 16-bit milliseconds
    kOpMoveToUnsigned = 0xA0,  // unsigned x, y
    kOpMoveTo = 0xC0,          // signed x, y
    kOpSystemFirst = 0xC1,
    kOpSystemLast = 0xCF,
};
inline constexpr uint8_t kOperandMask = 0x1F;  // button mask or wheel count of 0x20..0x7F

// Button mask bits of the press and release opcodes.
inline constexpr uint8_t kMacroButtonLeft = 0x01;
inline constexpr uint8_t kMacroButtonRight = 0x02;
inline constexpr uint8_t kMacroButtonMiddle = 0x04;
inline constexpr uint8_t kMacroButton4 = 0x08;
inline constexpr uint8_t kMacroButton5 = 0x10;

// Status of DecodeMacroInstruction.
inline constexpr int kDecodeOrdinary = 0;    // also the end and stop bytes
inline constexpr int kDecodeModeMarker = 2;  // 0x04..0x06
inline constexpr int kDecodeInvalid = -1;    // length 0

struct MacroItem {
    int32_t length = 0;                              // 1..5; 0 only for an invalid opcode
    std::array<uint8_t, kMacroItemMaxBytes> code{};  // bytes past length are 0
    uint32_t stamp = 0;                              // editor tick; 0 when decoded or recorded

    uint8_t Opcode() const { return code[0]; }
    std::span<const uint8_t> Bytes() const {
        return std::span<const uint8_t>(code).first(static_cast<std::size_t>(length));
    }
    // Equal instructions; the editor's stamp does not count.
    bool SameInstruction(const MacroItem& other) const {
        return length == other.length && code == other.code;
    }
};

// The instruction length an opcode gives: 1, 2, 3 or 5; 0 for an invalid opcode.
int MacroInstructionLength(uint8_t opcode);

struct DecodedInstruction {
    MacroItem item;
    int status = kDecodeOrdinary;
};

// Copies up to the first 5 bytes of `bytes` into the item (the rest 0) and sets its
// length from the opcode. An instruction cut short by the end of `bytes` keeps the
// bytes there are; callers that walk a code check the length against what is left.
// An empty span decodes as the end byte.
DecodedInstruction DecodeMacroInstruction(std::span<const uint8_t> bytes);

// Decodes a code from the start, one instruction after another, until an end byte 0x00,
// the end of the code, or `maxItems` items. Bytes that do not form an instruction are
// kept rather than dropped: an invalid opcode becomes a one-byte item, and an
// instruction cut short by the end of the code an item of the bytes that are there.
// Such raw items have a length that differs from MacroInstructionLength of their opcode.
std::vector<MacroItem> DecodeMacroCode(std::span<const uint8_t> code,
                                       std::size_t maxItems = SIZE_MAX);

// The bytes of every item back to back, no end byte. An item of length 0 (an invalid
// opcode straight from DecodeMacroInstruction) gives its opcode byte.
std::vector<uint8_t> EncodeMacroCode(std::span<const MacroItem> items);

// A MacroItem from bytes the caller built: length from the opcode, or, for bytes that do
// not form one instruction, a raw item of all of them (at most 5).
MacroItem MakeMacroItem(std::span<const uint8_t> bytes);
// True when the item is not exactly one whole valid instruction.
bool IsRawMacroItem(const MacroItem& item);

// The little-endian 16-bit operand at byte `at` of an item.
uint16_t MacroItemWord(const MacroItem& item, std::size_t at);

// The longest wait one instruction holds.
inline constexpr int32_t kMacroMaxWaitMs = 65535;
// A wait of `ms` milliseconds in its shortest form: 0x88 up to 255 ms, 0x89 above, with
// the editor's `stamp`. Waits beyond 65535 ms are capped there and negative ones become 0.
MacroItem MakeWaitItem(int32_t ms, uint32_t stamp = 0);
// A movement with two 16-bit operands: 0x80 (dx, dy) or 0xC0 / 0xA0 (x, y). Values
// beyond what 16 bits hold are capped at the nearest end rather than wrapped.
MacroItem MakeMoveItem(uint8_t opcode, long x, long y);

}  // namespace qvm
