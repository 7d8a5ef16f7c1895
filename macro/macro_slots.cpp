#include "macro/macro_slots.h"

#include "app/text.h"
#include "device/commands.h"

namespace qvm {
namespace {

constexpr int kModeBytesInTable = 16;  // classes B and C
constexpr uint32_t kDefaultMemoryEnd = 0x1FFF;
constexpr std::array<uint32_t, 6> kProbeTops = {0xFFFF, 0x7FFF, 0x3FFF, 0x1FFF, 0x0FFF, 0x07FF};
constexpr uint32_t kTopByte = 0xFFFF;
constexpr uint32_t kSecondTopByte = 0xFFFE;

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
            auto at = [&](int plane) { return image[layout.SlotByteAddress(p, j, plane)]; };
            const int type = at(0);
            if (IsMacroMode(type) && at(3) == 0 && (at(1) | at(2) << 8) == codeAddress) return type;
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

}  // namespace

std::optional<uint32_t> MacroModeAddress(const ImageLayout& layout, int slot) {
    if (slot < 0 || slot >= kMacroSlotCount) return std::nullopt;
    if (layout.cls != LayoutClass::A && slot >= kModeBytesInTable) return std::nullopt;
    return layout.macroMode + static_cast<uint32_t>(slot);
}

Result<uint32_t> ProbeMacroMemoryEnd(MemoryAccess& memory, const std::string& path) {
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
    if (!*present) {
        if (!memory.WriteMemoryByte(path, kSecondTopByte, kInitMarker) ||
            !memory.WriteMemoryByte(path, kTopByte, kInitMarker)) {
            return lost;
        }
    }
    uint32_t end = kDefaultMemoryEnd;
    for (uint32_t top : kProbeTops) {
        const auto found = markerAt(top);
        if (!found) return lost;
        if (!*found) break;
        end = top;
    }
    return end;
}

Status LoadMacroSlots(MemoryAccess& memory, const std::string& path, const ImageLayout& layout,
                      std::span<const uint8_t> image, uint32_t memoryTop, MacroSlots& slots,
                      const std::function<void(int done)>& progress) {
    const uint32_t tablesEnd = layout.macroMode + kMacroSlotCount;
    if (image.size() < tablesEnd) return MakeError("the configuration image is too short");
    for (int i = 0; i < kMacroSlotCount; ++i) {
        MacroSlot& slot = slots[static_cast<std::size_t>(i)];
        slot = MacroSlot{};
        const std::size_t entry =
            layout.macroIndex + static_cast<std::size_t>(kMacroIndexEntryBytes * i);
        slot.start = Le16(image, entry);
        slot.length = Le16(image, entry + 2);
        if (slot.start != 0 && static_cast<uint32_t>(slot.start) <= memoryTop) {
            std::array<uint8_t, kMacroRecordHeaderBytes> header{};
            if (!memory.ReadMemory(path, static_cast<uint32_t>(slot.start), header, true)) {
                return MakeError("the device did not answer while the macro names were read");
            }
            slot.name = DecodeUtf16LeField(std::span(header).subspan(1));
            slot.codeAddress = slot.start + header[0] + 1;
        }
        if (const auto modeAt = MacroModeAddress(layout, i)) {
            const int mode = image[*modeAt];
            slot.mode = IsMacroMode(mode) ? mode : kMacroModeOnce;
        } else if (slot.codeAddress != 0) {
            slot.mode = ModeFromButtons(layout, image, slot.codeAddress);
        }
        if (progress) progress(i + 1);
    }
    return {};
}

}  // namespace qvm
