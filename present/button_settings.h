// What the button settings window edits for one button of one profile, without any
// drawing: the function classes and their entries, the assigned function preselected,
// the operands of the chosen function with their ranges, the profile's key-cycle list,
// and the four bytes that OK assigns.
#pragma once

#include <array>
#include <cstdint>
#include <initializer_list>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "base/result.h"
#include "config/config_image.h"
#include "device/model_table.h"
#include "lang/ui_strings.h"
#include "macro/function_library.h"

namespace qvm {

// The classes of the function list; the value is the index of the class name in class_str.
enum class FunctionClass {
    Mouse = 0,
    Keyboard = 1,
    Advanced = 2,
    Macro = 3,
    KeyCycle = 6,
    Gamepad = 7,
};

// One line of a class's list.
struct FunctionEntry {
    std::string text;
    ButtonSlot slot;
    std::optional<int> macroSlot;  // the device macro slot (0..79) a stored macro comes from
    bool operator==(const FunctionEntry&) const = default;
};

// The dialog appends keys to the key-cycle list only while it holds fewer than this.
inline constexpr int kKeyCycleAppendLimit = 5;

// Operand ranges of the editable functions.
inline constexpr int kMaxFireIntervalUnits = 250;  // fire button interval, 10 ms units
inline constexpr int kMinRapidFireMs = 1;
inline constexpr int kMaxRapidFireMs = 255;
inline constexpr uint8_t kMouseButtonMask = 0x1F;  // left, right, wheel, backward, forward

class ButtonSettingsModel {
  public:
    // The model for button position `position` (as the main window lists it) of
    // `profile`. Fails for a profile or position the image and layout do not have.
    static Result<ButtonSettingsModel> Create(const ConfigImage& image, const ModelLayout& layout,
                                              const FunctionLibrary& library, int profile,
                                              int position, const UiStrings& ui = Ui());

    int Profile() const { return profile_; }
    int Button() const { return button_; }  // the configuration slot the position edits

    // The classes offered, in list order; Gamepad only when the model offers game-pad
    // functions.
    const std::vector<FunctionClass>& Classes() const { return classes_; }
    std::string ClassName(FunctionClass cls) const;
    // Empty for a class that is not offered.
    std::span<const FunctionEntry> Entries(FunctionClass cls) const;

    // The selection: the class and entry the function came from, none when the current
    // function matches no entry.
    FunctionClass SelectedClass() const { return selectedClass_; }
    std::optional<int> SelectedEntry() const { return selectedEntry_; }
    Status Select(FunctionClass cls, int entry);
    // The function as edited so far.
    const ButtonSlot& Current() const { return current_; }

    // Operand editing; each applies to the function type it names and refuses values
    // out of range, leaving the function unchanged.
    Status SetKeyCombination(uint8_t modifiers, int usage);  // "Keyboard "
    Status SetConsumerUsage(int usage);                      // "Mutimedia"
    // DPI firekey and hotkey: X and Y in the device's DPI steps, 1..step count.
    Status SetDpiValues(int xSteps, int ySteps);
    // Fire button: interval in 10 ms units (0..250) and repeat count (0..255).
    Status SetFireButton(int intervalUnits, int count);
    Status SetRapidFireInterval(int ms);  // 1..255 ms
    // A stored macro (slot 0..79) run in `mode` (8 once, 9 repeated, 10 while held).
    Status SetMacro(int slot, int mode);

    // The profile's key-cycle list as edited.
    const std::vector<KeyCycleEntry>& KeyCycle() const { return keyCycle_; }
    bool KeyCycleChanged() const { return keyCycle_ != loadedKeyCycle_; }
    // Appends only while the list holds fewer than kKeyCycleAppendLimit keys.
    Status AppendKeyCycle(KeyCycleEntry entry);
    Status RemoveLastKeyCycle();
    void ClearKeyCycle() { keyCycle_.clear(); }

    // The four bytes OK assigns with AssignButton.
    Result<ButtonSlot> Chosen() const;

  private:
    static constexpr std::size_t kClassSlots = 8;  // class_str entries a class can name

    ButtonSettingsModel() = default;
    std::vector<FunctionEntry>& ListOf(FunctionClass cls);
    void Add(FunctionClass cls, FunctionEntry entry);
    void Preselect(const ButtonSlot& assigned);
    Status RequireType(std::initializer_list<uint8_t> types, const char* what) const;
    Status Validate(const ButtonSlot& slot) const;

    int profile_ = 0;
    int button_ = 0;
    int dpiStep_ = kDefaultDpiStep;
    int dpiStepCount_ = 0;
    std::array<std::string, kClassSlots> classNames_;
    std::vector<FunctionClass> classes_;
    std::array<std::vector<FunctionEntry>, kClassSlots> lists_;
    MacroSlots macros_;
    FunctionClass selectedClass_ = FunctionClass::Mouse;
    std::optional<int> selectedEntry_;
    ButtonSlot current_;
    std::vector<KeyCycleEntry> keyCycle_;
    std::vector<KeyCycleEntry> loadedKeyCycle_;
};

}  // namespace qvm
