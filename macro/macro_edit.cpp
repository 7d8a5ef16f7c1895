#include "macro/macro_edit.h"

#include <algorithm>
#include <array>
#include <string>

namespace qvm {
namespace {

bool Whole(const MacroItem& item) {
    return !IsRawMacroItem(item);
}

// The pause after change n of a held arrow, and the milliseconds change n makes: the first
// row whose lastChange is at least n. The change at the press is number 0.
struct PauseRow {
    int lastChange;
    int pauseMs;
};
constexpr std::array<PauseRow, 6> kPauses = {{
    {5, 128},
    {10, 32},
    {60, 24},
    {80, 16},
    {100, 8},
    {kDelayArrowLastCount, 2},
}};
constexpr int kFirstRepeatPauseMs = 500;

struct StepRow {
    int lastChange;
    int step;
};
constexpr std::array<StepRow, 3> kSteps = {{
    {90, 1},
    {100, 11},
    {kDelayArrowLastCount, 101},
}};

}  // namespace

int32_t MacroEditSize(std::span<const MacroItem> items) {
    int32_t size = kMacroEditSizeExtra;
    for (const MacroItem& item : items) size += item.length;
    return size;
}

std::optional<int32_t> WaitMsOf(const MacroItem& item) {
    if (!Whole(item)) return std::nullopt;
    if (item.Opcode() == kOpWaitShort) return item.code[1];
    if (item.Opcode() == kOpWaitLong) return MacroItemWord(item, 1);
    return std::nullopt;
}

std::optional<MacroMovement> MovementOf(const MacroItem& item) {
    if (!Whole(item)) return std::nullopt;
    const uint16_t x = MacroItemWord(item, 1);
    const uint16_t y = MacroItemWord(item, 3);
    switch (item.Opcode()) {
        case kOpMove:
            return MacroMovement{static_cast<int16_t>(x), static_cast<int16_t>(y), false};
        case kOpMoveTo:  // signed operands, as the device reads them
            return MacroMovement{static_cast<int16_t>(x), static_cast<int16_t>(y), true};
        case kOpMoveToUnsigned:
            return MacroMovement{x, y, true};
        default:
            return std::nullopt;
    }
}

Result<MacroItem> MakeMovementItem(const MacroMovement& movement, uint32_t stamp) {
    // Both 0x80 and 0xC0 take signed 16-bit operands.
    const int32_t low = kMinMove;
    const int32_t high = kMaxMove;
    for (int32_t v : {movement.x, movement.y}) {
        if (v < low || v > high) {
            return MakeError(ErrorKind::BadInput,
                             "a " + std::string(movement.absolute ? "position" : "movement") +
                                 " takes values from " + std::to_string(low) + " to " +
                                 std::to_string(high) + ", not " + std::to_string(v));
        }
    }
    MacroItem item = MakeMoveItem(movement.absolute ? kOpMoveTo : kOpMove, movement.x, movement.y);
    item.stamp = stamp;
    return item;
}

int DelayArrowPauseMs(int changesDone) {
    if (changesDone <= 0) return kFirstRepeatPauseMs;
    const int n = std::min(changesDone, kDelayArrowLastCount);
    for (const PauseRow& row : kPauses) {
        if (n <= row.lastChange) return row.pauseMs;
    }
    return kPauses.back().pauseMs;
}

int DelayArrowStep(int n) {
    n = std::clamp(n, 0, kDelayArrowLastCount);
    for (const StepRow& row : kSteps) {
        if (n <= row.lastChange) return row.step;
    }
    return kSteps.back().step;
}

// ---- MacroEditList ----

bool MacroEditList::Selected(int32_t index) const {
    return selection_ && index >= selection_->first && index <= selection_->last;
}

void MacroEditList::Assign(std::vector<MacroItem> items, int32_t cursor) {
    Restore(std::move(items), cursor, std::nullopt);
}

void MacroEditList::Restore(std::vector<MacroItem> items, int32_t cursor,
                            std::optional<ItemRange> selection) {
    items_ = std::move(items);
    cursor_ = std::clamp(cursor, 0, Count());
    anchor_ = cursor_;
    selection_.reset();
    if (selection && selection->first >= 0 && selection->first <= selection->last &&
        selection->last < Count()) {
        selection_ = selection;
    }
}

void MacroEditList::SetCursor(int32_t row, bool extend) {
    row = std::clamp(row, 0, Count());
    if (!extend) {
        cursor_ = anchor_ = row;
        selection_.reset();
        return;
    }
    if (!selection_) anchor_ = cursor_;
    cursor_ = row;
    // The closing row holds no item: a selection reaching it stops at the last item.
    const int32_t first = std::min(anchor_, cursor_);
    const int32_t last = std::min(std::max(anchor_, cursor_), Count() - 1);
    if (first <= last) {
        selection_ = ItemRange{first, last};
    } else {
        selection_.reset();
    }
}

void MacroEditList::SelectAll() {
    if (items_.empty()) {
        selection_.reset();
        return;
    }
    anchor_ = 0;
    selection_ = ItemRange{0, Count() - 1};
}

void MacroEditList::ClearSelection() {
    selection_.reset();
    anchor_ = cursor_;
}

std::optional<ItemRange> MacroEditList::Target() const {
    if (selection_) return selection_;
    if (cursor_ < Count()) return ItemRange{cursor_, cursor_};
    return std::nullopt;
}

std::vector<MacroItem> MacroEditList::TargetItems() const {
    const auto range = Target();
    if (!range) return {};
    return {items_.begin() + range->first, items_.begin() + range->last + 1};
}

void MacroEditList::Erase(ItemRange range) {
    range.first = std::clamp(range.first, 0, Count());
    range.last = std::clamp(range.last, range.first - 1, Count() - 1);
    items_.erase(items_.begin() + range.first, items_.begin() + range.last + 1);
    cursor_ = anchor_ = std::min(range.first, Count());
    selection_.reset();
}

void MacroEditList::InsertAtCursor(std::span<const MacroItem> items, uint32_t stamp) {
    std::vector<MacroItem> stamped(items.begin(), items.end());
    for (MacroItem& item : stamped) item.stamp = stamp;
    items_.insert(items_.begin() + cursor_, stamped.begin(), stamped.end());
    cursor_ += static_cast<int32_t>(stamped.size());
    anchor_ = cursor_;
    selection_.reset();
}

void MacroEditList::Append(std::span<const MacroItem> items) {
    items_.insert(items_.end(), items.begin(), items.end());
    cursor_ = anchor_ = std::max(Count() - 1, 0);
    selection_.reset();
}

void MacroEditList::ReplaceAt(int32_t index, const MacroItem& item) {
    items_.at(static_cast<std::size_t>(index)) = item;
}

}  // namespace qvm
