// Planning over the slot table alone: heap bounds, free space, free blocks, the best
// fit, record bytes and code pieces. No device traffic here.
#include <algorithm>
#include <limits>

#include "base/text.h"
#include "macro/macro_memory.h"

namespace qvm {
namespace {

constexpr uint32_t kMarkerBytes = 2;  // E - 1 and E
constexpr uint8_t kEndByte = kOpEnd;
constexpr int64_t kMaxFree = std::numeric_limits<int32_t>::max();

bool Used(const MacroSlot& slot) {
    return !slot.Empty();
}

uint32_t EndOf(const MacroSlot& slot) {
    return static_cast<uint32_t>(slot.start) + static_cast<uint32_t>(slot.length);
}

}  // namespace

uint32_t MacroHeap::Limit() const {
    if (modeTable) return modeTable->first - 1;
    return end >= kMarkerBytes ? end - kMarkerBytes : 0;
}

uint32_t MacroHeap::ReservedBytes() const {
    return kMarkerBytes + (modeTable ? kHighModeTableBytes : 0);
}

MacroHeap MacroHeapOf(const ImageLayout& layout, bool extendedLayout, uint32_t memoryEnd) {
    return {layout.HeapStart(extendedLayout), memoryEnd, HighModeTable(layout, memoryEnd)};
}

int32_t FreeMacroSpace(const MacroSlots& slots, const MacroHeap& heap, std::optional<int> except) {
    int64_t used = 0;
    for (int i = 0; i < kMacroSlotCount; ++i) {
        const MacroSlot& s = slots[static_cast<std::size_t>(i)];
        if (Used(s) && i != except) used += s.length;
    }
    const int64_t room = int64_t{heap.end} + 1 - heap.start - heap.ReservedBytes();
    return static_cast<int32_t>(std::clamp<int64_t>(room - used, 0, kMaxFree));
}

std::vector<FreeBlock> FindFreeBlocks(const MacroSlots& slots, const MacroHeap& heap) {
    std::vector<uint32_t> candidates{heap.start};
    for (const MacroSlot& s : slots) {
        if (Used(s)) candidates.push_back(EndOf(s));
    }
    std::vector<FreeBlock> blocks;
    for (uint32_t c : candidates) {
        // Whatever the table claims, space outside the heap is never handed out, nor a
        // byte that some record covers.
        if (c < heap.start || c > heap.Limit()) continue;
        bool taken = false;
        uint32_t bound = heap.Limit();
        for (const MacroSlot& s : slots) {
            if (!Used(s)) continue;
            const auto start = static_cast<uint32_t>(s.start);
            if (start == c || (start < c && c < EndOf(s))) taken = true;
            if (start > c) bound = std::min(bound, start - 1);
        }
        if (!taken) blocks.push_back({c, bound - c + 1});
    }
    return blocks;
}

std::optional<uint32_t> ChooseBestFit(std::span<const FreeBlock> blocks, uint32_t length) {
    const FreeBlock* best = nullptr;
    for (const FreeBlock& b : blocks) {
        if (b.size >= length && (best == nullptr || b.size < best->size)) best = &b;
    }
    if (best == nullptr) return std::nullopt;
    return best->start;
}

AllocationPlan PlanAllocation(const MacroSlots& slots, const MacroHeap& heap, uint32_t length) {
    const int32_t free = FreeMacroSpace(slots, heap);
    if (free <= 0 || int64_t{length} > free) return {};
    const auto blocks = FindFreeBlocks(slots, heap);
    if (const auto start = ChooseBestFit(blocks, length)) return {start, false};
    return {std::nullopt, !blocks.empty()};
}

std::vector<uint8_t> BuildMacroRecord(std::string_view name, std::span<const MacroItem> items) {
    std::vector<uint8_t> record{kMacroNameFieldLength};
    const auto field =
        EncodeUtf16LeField(TruncateUtf16Units(name, kMacroNameUnits), kMacroNameFieldLength);
    record.insert(record.end(), field.begin(), field.end());
    const auto code = EncodeMacroCode(items);
    record.insert(record.end(), code.begin(), code.end());
    record.push_back(kEndByte);
    return record;
}

std::vector<CodePiece> PlanCodePieces(uint32_t address, uint32_t length) {
    std::vector<CodePiece> pieces;
    uint32_t offset = 0;
    if (address % 2 == 1 && length > kCodePieceBytes) {
        offset = kCodeAlignment - address % kCodeAlignment;
        pieces.push_back({0, offset});
    }
    while (offset < length) {
        const uint32_t n = std::min(kCodePieceBytes, length - offset);
        pieces.push_back({offset, n});
        offset += n;
    }
    return pieces;
}

}  // namespace qvm
