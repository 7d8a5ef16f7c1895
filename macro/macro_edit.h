// The macro editor's list operations on an instruction list, free of any window: the
// cursor and the selection, inserting, deleting and replacing items, the wait and movement
// items the editor builds from numbers, and the repeat schedule of the delay arrows.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "base/result.h"
#include "macro/macro_item.h"

namespace qvm {

// The size the editor shows for a macro: the item lengths plus the name field, its length
// byte and the end byte of the device record.
inline constexpr int32_t kMacroEditSizeExtra = 34;
int32_t MacroEditSize(std::span<const MacroItem> items);

// The milliseconds of a whole wait item (0x88 or 0x89); nullopt for any other item.
std::optional<int32_t> WaitMsOf(const MacroItem& item);

// A pointer movement as the editor's position form holds it.
struct MacroMovement {
    int32_t x = 0;
    int32_t y = 0;
    bool absolute = false;
    bool operator==(const MacroMovement&) const = default;
};
inline constexpr int32_t kMinMove = -32768;
inline constexpr int32_t kMaxMove = 32767;
// The movement of a whole 0x80 (relative), 0xA0 or 0xC0 (absolute) item.
std::optional<MacroMovement> MovementOf(const MacroItem& item);
// 0x80 with dx, dy or 0xC0 with x, y, each -32768..32767 (both take signed operands); a
// value out of that range is refused (BadInput).
Result<MacroItem> MakeMovementItem(const MacroMovement& movement, uint32_t stamp = 0);

// The delay arrows' repeat schedule while an arrow is held. The change made at the press
// is number 0; repeat n (from 1) comes DelayArrowPauseMs(n - 1) after the change before it.
inline constexpr int kDelayArrowLastCount = 110;  // the repeat number stops growing here
int DelayArrowPauseMs(int changesDone);
// The milliseconds change n makes.
int DelayArrowStep(int n);

// First and last selected item.
struct ItemRange {
    int32_t first = 0;
    int32_t last = 0;
    int32_t Count() const { return last - first + 1; }
    bool operator==(const ItemRange&) const = default;
};

// The edit list: items, a cursor from 0 to the item count (the count stands on the
// closing "-- End --" row, where nothing is selected) and an optional selection of items.
class MacroEditList {
  public:
    const std::vector<MacroItem>& Items() const { return items_; }
    int32_t Count() const { return static_cast<int32_t>(items_.size()); }
    int32_t Cursor() const { return cursor_; }
    std::optional<ItemRange> Selection() const { return selection_; }
    bool Selected(int32_t index) const;

    // Replaces everything; the cursor goes to `cursor` (held within the list), nothing is
    // selected.
    void Assign(std::vector<MacroItem> items, int32_t cursor = 0);
    void Restore(std::vector<MacroItem> items, int32_t cursor, std::optional<ItemRange> selection);

    // Places the cursor on a row (held within 0..count). With `extend` the selection runs
    // from where the extension started to the new row; without it the selection goes.
    void SetCursor(int32_t row, bool extend);
    void MoveCursor(int32_t delta, bool extend) { SetCursor(cursor_ + delta, extend); }
    // Selects every item; nothing when the list is empty.
    void SelectAll();
    void ClearSelection();

    // What Delete, copy and cut work on: the selection, else the item at the cursor, none
    // when the cursor stands on the closing row and nothing is selected.
    std::optional<ItemRange> Target() const;
    std::vector<MacroItem> TargetItems() const;
    // Removes the range at its first index; the cursor goes there, the selection goes.
    void Erase(ItemRange range);
    // Inserts at the cursor in order, each with `stamp`; the cursor moves past each.
    void InsertAtCursor(std::span<const MacroItem> items, uint32_t stamp);
    // Appends at the end and places the cursor on the last item.
    void Append(std::span<const MacroItem> items);
    // Replaces the item at `index` (which must exist).
    void ReplaceAt(int32_t index, const MacroItem& item);
    void Clear() { Assign({}); }

  private:
    std::vector<MacroItem> items_;
    int32_t cursor_ = 0;
    int32_t anchor_ = 0;  // where a selection by extension started
    std::optional<ItemRange> selection_;
};

}  // namespace qvm
