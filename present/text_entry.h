// The rules of the text-entry and confirmation dialog, kept free of any toolkit: the dialog
// forwards key presses, selections and pastes to these models and shows what they hold.
//
// Text is held as UTF-16 and every position (cursor, selection) counts UTF-16 code units,
// the same units a Qt line edit reports, so a QLineEdit can hand its cursorPosition() and
// selectionStart() over unchanged. Length limits count UTF-16 code units as well: names
// end up in UTF-16 fields of fixed size on the device and in macro files (a macro name of
// 15 units fills its 32-byte field with its terminator), so a character outside the Basic
// Multilingual Plane, such as an emoji, counts two. A surrogate pair is never split: a
// position inside a pair moves to the pair's start, Backspace removes the pair whole, and
// a pair that does not fit is not inserted. Combining marks count as characters of their
// own.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "base/result.h"
#include "lang/ui_strings.h"
#include "macro/library_entry.h"

namespace qvm {

enum class TextEntryForm : int32_t {
    Text = 0,
    Number = 1,
    Position = 3,
    TextWithFolder = 5,
    Question = 10,
};

// The form number a caller passes in, refused with a clear message when it names no form.
Result<TextEntryForm> TextEntryFormFromNumber(int32_t number);

// What the caller fills in before showing the dialog and reads back after OK.
struct TextEntryRequest {
    TextEntryForm form = TextEntryForm::Text;
    std::string caption;        // one of cap_input_str, or empty
    std::string prompt;         // shown above the field of the text forms
    std::string text;           // UTF-8: the edited text (forms 0, 1, 5) or the question (10)
    int32_t maximumLength = 0;  // in UTF-16 code units; 0 or less: no limit
    int32_t maximumValue = 0;   // largest number of form 1
    int32_t x = 0;              // form 3
    int32_t y = 0;
    bool absolute = false;      // form 3: "Absolute" rather than "Relative"
    int32_t folder = 0;         // form 5: id of the chosen library folder, 0 for the root
    bool threeChoices = false;  // form 10 with a third button
    bool thirdChosen = false;   // set when the third button closed the dialog
};

// One single-line field: its text, cursor and selection, and the edit operations a key
// press or paste turns into. Each field type decides, one character at a time, what a
// typed character does; a paste is the same as typing its characters in turn.
class LineEditModel {
  public:
    virtual ~LineEditModel() = default;

    // Replaces the text as the program sets it, without the typing rules; the cursor goes
    // to the end and nothing is selected. Lone surrogates are dropped.
    void SetText(std::u16string_view text);
    void SelectAll();
    // The selection runs from anchor to cursor (either order); equal values place a bare
    // cursor. Positions past the end go to the end.
    void Select(std::size_t anchor, std::size_t cursor);

    // Each character replaces the selection (if any) or is inserted at the cursor, as the
    // field's rules allow: refused characters are passed over and change nothing, and
    // the run stops at the first character that no longer fits.
    void Type(std::u16string_view typed);
    // Removes the selection, else the character before (Backspace) or after the cursor.
    void Backspace();
    void DeleteForward();

    const std::u16string& Text() const { return text_; }
    std::size_t Cursor() const { return cursor_; }
    std::size_t SelectionStart() const { return anchor_ < cursor_ ? anchor_ : cursor_; }
    std::size_t SelectionLength() const;

  protected:
    enum class Typed { Accepted, Refused, Full };

    // Decides what typing ch does; calls Commit when it changes the text.
    virtual Typed TypeOne(char32_t ch) = 0;

    // The text with the selection taken out; the cursor would then stand at
    // SelectionStart().
    std::u16string WithoutSelection() const;
    void Commit(std::u16string text, std::size_t cursor);

  private:
    std::u16string text_;
    std::size_t cursor_ = 0;
    std::size_t anchor_ = 0;
};

// Forms 0 and 5: any printable character, within the length limit. Control characters
// (a line break in a paste, for one) are passed over.
class TextField : public LineEditModel {
  public:
    explicit TextField(int32_t maximumLength = 0) : maximumLength_(maximumLength) {}

  protected:
    Typed TypeOne(char32_t ch) override;

  private:
    int32_t maximumLength_;  // 0 or less: no limit
};

// Form 1: digits only. A digit typed while the value is already at or above the maximum
// sets the maximum, and a digit that would carry the value past it sets the maximum too,
// so the value never exceeds it.
class NumberField : public LineEditModel {
  public:
    NumberField(int32_t maximumValue, int32_t maximumLength);
    // The number shown, 0 for an empty field.
    int32_t Value() const;

  protected:
    Typed TypeOne(char32_t ch) override;

  private:
    int32_t maximumValue_;
    int32_t maximumLength_;  // 0 or less: no limit
};

inline constexpr int32_t kRelativeMinimum = -32768;
inline constexpr int32_t kRelativeMaximum = 32767;
inline constexpr int32_t kAbsoluteMaximum = 65535;
// A digit typed into an absolute field at this value or more sets kAbsoluteMaximum.
inline constexpr int32_t kAbsoluteJumpThreshold = 32767;

// One coordinate of form 3. Relative: -32768..32767, a minus sign only as the first
// character, a digit typed at or beyond a limit (or carrying past it) sets that limit.
// Absolute: 0..65535, no minus sign, a digit typed at 32767 or more sets 65535, and a
// digit typed into a negative value (left from relative mode) makes it 0.
class PositionField : public LineEditModel {
  public:
    explicit PositionField(bool absolute = false) : absolute_(absolute) {}
    // Changes the mode only; a value outside the new range is put right by the next
    // digit typed, and Value() already reports it within range.
    void SetAbsolute(bool absolute) { absolute_ = absolute; }
    bool Absolute() const { return absolute_; }
    // The value the dialog hands back: the text's number within the mode's range.
    int32_t Value() const;

  protected:
    Typed TypeOne(char32_t ch) override;

  private:
    Typed TypeDigit(char32_t digit);
    bool absolute_;
};

// The X and Y fields of form 3 with their shared mode.
class PositionFields {
  public:
    explicit PositionFields(int32_t x = 0, int32_t y = 0, bool absolute = false);
    void SetAbsolute(bool absolute);
    bool Absolute() const { return x.Absolute(); }
    // While the pick button is held: the pointer's screen position, in absolute mode.
    // Coordinates outside 0..65535 (screens left of or above the primary one) are
    // brought into that range.
    void SetFromPointer(int32_t screenX, int32_t screenY);

    PositionField x;
    PositionField y;
};

// One entry of the target-folder list of form 5.
struct FolderChoice {
    int32_t id = 0;
    std::string label;
    bool operator==(const FolderChoice&) const = default;
};

// "Root" with id 0, then every folder entry of the macro library list in list order as
// "." repeated depth times, a blank and the folder's name. Macro entries are left out.
std::vector<FolderChoice> FolderChoices(const std::vector<MacroLibraryEntry>& library,
                                        const UiStrings& strings);
// The index of the entry with that folder id; the root (0) when no entry has it, for
// instance after the folder was removed since the caller remembered its id.
std::size_t PreselectedFolderIndex(const std::vector<FolderChoice>& choices, int32_t folderId);

// The dialog's buttons from left to right: OK and Cancel, or with three choices (form 10)
// the first, second and third choice. A label the language leaves empty falls back to the
// language's tool tip of the same button and then to a built-in English word, so that
// no button is ever blank.
std::vector<std::string> ButtonLabels(const TextEntryRequest& request, const UiStrings& strings);

}  // namespace qvm
