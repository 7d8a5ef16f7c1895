// A loaded configuration model on one simulated mouse, with helpers that lay out macro
// records, index entries and buttons in the device memory the way another session (or
// another program) would have left them.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "config/image_rig.h"
#include "macro/macro_memory.h"

namespace qvm::test {

// Where the macro areas of each class lie, written out independently of the layout
// tables under test.
struct MacroAreas {
    uint32_t index;
    uint32_t modeTable;
    uint32_t keyCycles;
    uint32_t heap;
};
inline constexpr MacroAreas kAreasA{0x200, 0x340, 0x390, 0x400};
inline constexpr MacroAreas kAreasB{0x2A0, 0x3E0, 0x3F0, 0x460};
inline constexpr MacroAreas kAreasBExtended{0x2A0, 0x3E0, 0x3F0, 0x4B0};
inline constexpr MacroAreas kAreasC{0x340, 0x480, 0x490, 0x550};
inline constexpr std::size_t kKeyCycleAreaBytes = 5 * 21;

// One 8 KiB mouse of each class, with the bytes a record may take in its heap.
struct Dev {
    const char* name;
    const char* devices;
    MacroAreas areas;
    uint32_t usable;
};
inline const Dev kDevs[] = {
    {"A", "g0/mem=8k", kAreasA, 7166},
    {"B", "g5/mem=8k", kAreasB, 7006},
    {"BExtended", "g5x/mem=8k", kAreasBExtended, 6926},
    {"C", "g12/mem=8k", kAreasC, 6766},
};

inline std::vector<uint8_t> Concat(std::vector<std::vector<uint8_t>> parts) {
    std::vector<uint8_t> out;
    for (const auto& p : parts) out.insert(out.end(), p.begin(), p.end());
    return out;
}
inline std::vector<uint8_t> Le16Pair(uint32_t a, uint32_t b) {
    return {static_cast<uint8_t>(a), static_cast<uint8_t>(a >> 8), static_cast<uint8_t>(b),
            static_cast<uint8_t>(b >> 8)};
}
inline ButtonSlot Runs(uint8_t type, uint32_t code, uint8_t op3 = 0) {
    return {type, static_cast<uint8_t>(code), static_cast<uint8_t>(code >> 8), op3};
}

// ASCII text as UTF-16LE, zero-filled to `field` bytes.
inline std::vector<uint8_t> Utf16Field(const std::string& ascii, std::size_t field) {
    std::vector<uint8_t> out(field, 0);
    for (std::size_t k = 0; k < ascii.size() && 2 * k + 1 < field; ++k) {
        out[2 * k] = static_cast<uint8_t>(ascii[k]);
    }
    return out;
}

// A record of `length` bytes (at least 34): header, name, `length` - 34 code bytes that
// follow `fill` upward, and the end byte.
inline std::vector<uint8_t> FakeRecord(const std::string& name, std::size_t length, uint8_t fill) {
    std::vector<uint8_t> record{0x20};
    const auto field = Utf16Field(name, 32);
    record.insert(record.end(), field.begin(), field.end());
    while (record.size() + 1 < length) record.push_back(static_cast<uint8_t>(fill++ | 0x80));
    record.push_back(0x00);
    return record;
}

struct MacroRig : ImageRig {
    MacroAreas areas;

    MacroRig(const std::string& devices, MacroAreas a) : ImageRig(devices), areas(a) {}

    const ImageLayout& Layout() { return Image()->Layout(); }
    uint32_t End() { return *Image()->memoryTop; }
    std::vector<uint8_t> Memory() { return Peek(0, Device().Config().memorySize); }

    // Index entry and record of a slot, as the device would hold them.
    void PokeSlot(int slot, uint32_t start, const std::vector<uint8_t>& record) {
        const auto length = static_cast<uint32_t>(record.size());
        Poke(areas.index + 4 * static_cast<uint32_t>(slot),
             {static_cast<uint8_t>(start), static_cast<uint8_t>(start >> 8),
              static_cast<uint8_t>(length), static_cast<uint8_t>(length >> 8)});
        Poke(start, record);
    }
    std::vector<uint8_t> IndexEntry(int slot) {
        return Peek(areas.index + 4 * static_cast<uint32_t>(slot), 4);
    }
    void PokeButton(int profile, int button, ButtonSlot slot) {
        const auto bytes = slot.Bytes();
        for (int plane = 0; plane < kPlaneCount; ++plane) {
            Poke(LayoutOf(ImageClassOf(Device().Config().generation))
                     .SlotByteAddress(profile, button, plane),
                 {bytes[static_cast<std::size_t>(plane)]});
        }
    }
    ButtonSlot PeekButton(int profile, int button) {
        std::array<uint8_t, kPlaneCount> b{};
        for (int plane = 0; plane < kPlaneCount; ++plane) {
            b[static_cast<std::size_t>(plane)] =
                Peek(Layout().SlotByteAddress(profile, button, plane), 1)[0];
        }
        return {b[0], b[1], b[2], b[3]};
    }
    // The slot table a fresh load reads must equal the one the model published.
    void ExpectSlotsMatchDevice() {
        const MacroSlots published = Image()->macros;
        Load();
        EXPECT_EQ(Image()->macros, published);
    }
};

inline MacroItem Item(std::vector<uint8_t> bytes) {
    return MakeMacroItem(bytes);
}

}  // namespace qvm::test
