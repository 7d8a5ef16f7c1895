#include "config/macro_slots.h"

#include <algorithm>
#include <cstdio>

#include "base/text.h"
#include "device/commands.h"

namespace qvm {
namespace {

// The reserved table ends just below the two probe-marker bytes E - 1 and E.
constexpr uint32_t kMarkerBytes = 2;
constexpr uint32_t kDefaultMemoryEnd = 0x1FFF;
constexpr std::array<uint32_t, 6> kProbeTops = {0xFFFF, 0x7FFF, 0x3FFF, 0x1FFF, 0x0FFF, 0x07FF};
constexpr uint32_t kTopByte = 0xFFFF;
constexpr uint32_t kSecondTopByte = 0xFFFE;
constexpr uint32_t kMaxAddress = 0xFFFF;  // a button holds a 16-bit code address

uint16_t Le16(std::span<const uint8_t> bytes, std::size_t at) {
    return static_cast<uint16_t>(bytes[at] | bytes[at + 1] << 8);
}

bool IsMacroMode(int value) {
    return value >= kMacroModeOnce && value <= kMacroModeFireKey;
}

// The mode of a slot without a mode byte: the function type of the first button, over
// every profile, that runs the macro at codeAddress.
int ModeFromButtons(const ImageLayout& layout, std::span<const uint8_t> image,
                    int32_t codeAddress) {
    for (int p = 0; p < kProfileCount; ++p) {
        for (int j = 0; j < layout.buttonCount; ++j) {
            if (const auto type = MacroButtonType(layout, image, p, j, codeAddress)) return *type;
        }
    }
    return kMacroModeOnce;
}

// Reads one byte; nullopt when the device did not answer.
std::optional<uint8_t> ReadByte(MemoryAccess& memory, const std::string& path, uint32_t address) {
    std::array<uint8_t, 1> b{};
    if (!memory.ReadMemory(path, address, b, false)) return std::nullopt;
    return b[0];
}

std::string Hex4(uint32_t value) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%04x", value);
    return text;
}

}  // namespace

std::optional<DamagedEntry> JudgeIndexEntry(uint32_t start, uint32_t length, uint32_t heapStart,
                                            uint32_t memoryEnd) {
    if (start == 0) return std::nullopt;
    DamagedEntry damaged{DamagedEntry::Reason::BelowHeap, start, length, heapStart, memoryEnd};
    const uint64_t lastRecordByte = memoryEnd >= kMarkerBytes ? memoryEnd - kMarkerBytes : 0;
    if (start < heapStart) return damaged;
    if (uint64_t{start} + length - 1 > lastRecordByte || start > lastRecordByte) {
        damaged.reason = DamagedEntry::Reason::PastEnd;
        return damaged;
    }
    if (length < kMinMacroRecordBytes) {
        damaged.reason = DamagedEntry::Reason::TooShort;
        return damaged;
    }
    return std::nullopt;
}

std::string DamagedSlotWarning(int slot, const DamagedEntry& damaged) {
    const std::string heap =
        "the macro memory (" + Hex4(damaged.heapStart) + ".." + Hex4(damaged.memoryEnd) + ")";
    std::string why;
    switch (damaged.reason) {
        case DamagedEntry::Reason::BelowHeap:
            why = "starts below " + heap;
            break;
        case DamagedEntry::Reason::PastEnd:
            why = "runs past the end of " + heap;
            break;
        case DamagedEntry::Reason::TooShort:
            why = "is shorter than a macro record (" + std::to_string(kMinMacroRecordBytes) +
                  " bytes)";
            break;
    }
    return "macro slot " + std::to_string(slot + 1) + " is damaged: its index entry (" +
           std::to_string(damaged.length) + " bytes at " + Hex4(damaged.start) + ") " + why +
           "; the slot is taken as empty until a macro is stored in it or it is deleted";
}

std::vector<std::string> DamagedSlotWarnings(const MacroSlots& slots) {
    std::vector<std::string> warnings;
    for (int i = 0; i < kMacroSlotCount; ++i) {
        const MacroSlot& s = slots[static_cast<std::size_t>(i)];
        if (s.damaged) warnings.push_back(DamagedSlotWarning(i, *s.damaged));
    }
    return warnings;
}

std::optional<int32_t> DamagedCodeAddress(const MacroSlots& slots, int slot) {
    if (slot < 0 || slot >= kMacroSlotCount) return std::nullopt;
    const auto& damaged = slots[static_cast<std::size_t>(slot)].damaged;
    if (!damaged) return std::nullopt;
    const uint32_t code = damaged->start + kMacroRecordHeaderBytes;
    if (code > kMaxAddress) return std::nullopt;
    const auto address = static_cast<int32_t>(code);
    const bool claimed = std::any_of(slots.begin(), slots.end(), [&](const MacroSlot& s) {
        return !s.Empty() && s.codeAddress == address;
    });
    if (claimed) return std::nullopt;
    return address;
}

std::optional<int> MacroButtonType(const ImageLayout& layout, std::span<const uint8_t> image,
                                   int profile, int button, int32_t codeAddress) {
    auto at = [&](int plane) -> int {
        const uint32_t address = layout.SlotByteAddress(profile, button, plane);
        return address < image.size() ? image[address] : -1;
    };
    const int type = at(0);
    if (!IsMacroMode(type) || at(3) != 0 || (at(1) | at(2) << 8) != codeAddress) {
        return std::nullopt;
    }
    return type;
}

ButtonSlot MacroButtonFunction(uint8_t mode, uint32_t codeAddress) {
    return {mode, static_cast<uint8_t>(codeAddress & 0xFF), static_cast<uint8_t>(codeAddress >> 8),
            0};
}

ButtonSlot MacroSlotFunction(const MacroSlot& slot) {
    return MacroButtonFunction(static_cast<uint8_t>(slot.mode),
                               static_cast<uint32_t>(slot.codeAddress));
}

std::optional<AddressRange> HighModeTable(const ImageLayout& layout, uint32_t memoryEnd) {
    if (layout.cls == LayoutClass::A) return std::nullopt;
    const uint32_t lowest = std::max(layout.heapStart, layout.heapStartExtended);
    if (memoryEnd < lowest + kHighModeTableBytes + kMarkerBytes) return std::nullopt;
    const uint32_t last = memoryEnd - kMarkerBytes;
    return AddressRange{last + 1 - kHighModeTableBytes, last};
}

bool HighModeTableUsable(const ImageLayout& layout, uint32_t memoryEnd, const MacroSlots& slots) {
    const auto table = HighModeTable(layout, memoryEnd);
    if (!table) return false;
    return std::none_of(slots.begin(), slots.end(), [&](const MacroSlot& s) {
        return !s.Empty() &&
               table->Overlaps(static_cast<uint32_t>(s.start), static_cast<uint32_t>(s.length));
    });
}

std::optional<uint32_t> MacroModeAddress(const ImageLayout& layout, uint32_t memoryEnd, int slot) {
    if (slot < 0 || slot >= kMacroSlotCount) return std::nullopt;
    if (layout.cls == LayoutClass::A || slot < kLowModeSlots) {
        return layout.macroMode + static_cast<uint32_t>(slot);
    }
    const auto table = HighModeTable(layout, memoryEnd);
    if (!table) return std::nullopt;
    return table->first + static_cast<uint32_t>(slot - kLowModeSlots);
}

Result<std::optional<uint32_t>> FindMarkedMemoryEnd(MemoryAccess& memory, const std::string& path) {
    const Error lost = MakeError("the device did not answer the memory size probe");
    // Either of a top's two bytes may hold the marker.
    auto markerAt = [&](uint32_t top) -> std::optional<bool> {
        const auto high = ReadByte(memory, path, top);
        if (!high) return std::nullopt;
        if (*high == kInitMarker) return true;
        const auto low = ReadByte(memory, path, top - 1);
        if (!low) return std::nullopt;
        return *low == kInitMarker;
    };
    const auto present = markerAt(kTopByte);
    if (!present) return lost;
    if (!*present) return std::optional<uint32_t>{};
    uint32_t end = kDefaultMemoryEnd;
    for (uint32_t top : kProbeTops) {
        const auto found = markerAt(top);
        if (!found) return lost;
        if (!*found) break;
        end = top;
    }
    return std::optional<uint32_t>{end};
}

Result<uint32_t> ProbeMacroMemoryEnd(MemoryAccess& memory, const std::string& path) {
    auto marked = FindMarkedMemoryEnd(memory, path);
    if (!marked) return marked.error();
    if (*marked) return **marked;
    if (!memory.WriteMemoryByte(path, kSecondTopByte, kInitMarker) ||
        !memory.WriteMemoryByte(path, kTopByte, kInitMarker)) {
        return MakeError("the device did not answer the memory size probe");
    }
    marked = FindMarkedMemoryEnd(memory, path);
    if (!marked) return marked.error();
    return marked->value_or(kDefaultMemoryEnd);
}

Status LoadMacroSlots(MemoryAccess& memory, const std::string& path, const ImageLayout& layout,
                      std::span<const uint8_t> image, uint32_t heapStart, uint32_t memoryTop,
                      MacroSlots& slots, const std::function<void(int done)>& progress) {
    const uint32_t tablesEnd = layout.macroMode + kMacroSlotCount;
    if (image.size() < tablesEnd) return MakeError("the configuration image is too short");
    const Error lost = MakeError("the device did not answer while the macro names were read");
    for (int i = 0; i < kMacroSlotCount; ++i) {
        MacroSlot& slot = slots[static_cast<std::size_t>(i)];
        slot = MacroSlot{};
        const std::size_t entry =
            layout.macroIndex + static_cast<std::size_t>(kMacroIndexEntryBytes * i);
        const uint32_t start = Le16(image, entry);
        const uint32_t length = Le16(image, entry + 2);
        slot.damaged = JudgeIndexEntry(start, length, heapStart, memoryTop);
        if (start != 0 && !slot.damaged) {
            slot.start = static_cast<int32_t>(start);
            slot.length = static_cast<int32_t>(length);
            std::array<uint8_t, kMacroRecordHeaderBytes> header{};
            if (!memory.ReadMemory(path, static_cast<uint32_t>(slot.start), header, true)) {
                return lost;
            }
            slot.name = DecodeUtf16LeField(std::span(header).subspan(1));
            slot.codeAddress = slot.start + header[0] + 1;
        }
        if (progress) progress(i + 1);
    }

    // Modes, once every record's place is known (the reserved table counts only while
    // no record overlaps it).
    std::array<uint8_t, kHighModeTableBytes> high{};
    const bool highUsable = HighModeTableUsable(layout, memoryTop, slots);
    if (highUsable &&
        !memory.ReadMemory(path, HighModeTable(layout, memoryTop)->first, high, true)) {
        return lost;
    }
    for (int i = 0; i < kMacroSlotCount; ++i) {
        MacroSlot& slot = slots[static_cast<std::size_t>(i)];
        std::optional<int> stored;
        if (layout.cls == LayoutClass::A || i < kLowModeSlots) {
            stored = image[layout.macroMode + static_cast<uint32_t>(i)];
        } else if (highUsable) {
            stored = high[static_cast<std::size_t>(i - kLowModeSlots)];
        }
        if (stored && IsMacroMode(*stored)) {
            slot.mode = *stored;
        } else if (layout.cls != LayoutClass::A && i >= kLowModeSlots && slot.codeAddress != 0) {
            slot.mode = ModeFromButtons(layout, image, slot.codeAddress);
        } else {
            slot.mode = kMacroModeOnce;
        }
    }
    return {};
}

}  // namespace qvm
