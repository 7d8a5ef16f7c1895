// English texts of the UI string tables. Tables list only the entries that have a text;
// every other entry is empty.
#include <span>

#include "lang/ui_strings.h"

namespace qvm {
namespace {

struct IndexedText {
    std::size_t index;
    std::string_view text;
};

// The trailing blanks of some type names are part of the text: the function's own name
// follows them.
constexpr IndexedText kTypeStr[] = {
    {0, "Default"},
    {1, "No function"},
    {2, "HID Key1"},
    {3, "HID Key2"},
    {4, "Mouse "},
    {5, "Keyboard "},
    {6, "Mutimedia"},
    {7, "保留"},
    {8, "Macro "},
    {9, "Macro(R) "},
    {10, "Macro(F) "},
    {11, "保留"},
    {12, "DPI+"},
    {13, "DPI-"},
    {14, "DPI loop"},
    {15, "DPI firekey"},
    {16, "DPI hotkey"},
    {17, "Profile switch"},
    {18, "Adjust lift"},
    {19, "LED on/off"},
    {20, "Angle snapping ON/OFF"},
    {21, "Adjust DPI"},
    {22, "Adjust Button"},
    {23, "Profile/DPI switch"},
    {24, "Scroll hotkey"},
    {25, "Scroll hotkey"},
    {26, "Alternate"},
    {27, "Fire button"},
    {29, "Keyboard cycle (Positive)"},
    {30, "Keyboard cycle (Reverse)"},
    {31, "Keyboard cycle (Current)"},
    {32, "Motion scrolling"},
    {33, "Rapid fire"},
    {36, "Profile Set"},
    {37, "DPI adjist"},
    {38, "Rapid fire adjust "},
    {39, "Joystick"},
};

constexpr IndexedText kCapInputStr[] = {
    {0, "Enter name"}, {1, "Enter profile name"},           {2, "Enter macro name"},
    {3, "Edit macro"}, {4, "New macro - enter macro name"},
};

constexpr IndexedText kMacroStr[] = {
    {0, "Execute one time"},
    {1, "Loop mode"},
    {2, "Firekey mode"},
    {3, "Press & hold Keyboard  %s"},
    {4, "Release Keyboard  %s"},
    {5, "Wait %d ms"},
    {6, "Jump to address %d"},
    {7, "Set ACC=ACC-1, if ACC!=0 then jump to address %d"},
    {8, "Set ACC=%d"},
    {9, "Release Consumer-key"},
    {10, "Press & hold Consumer-key  %s"},
    {11, "Mouse Movement (%d , %d)"},
    {12, "Wheel Scrolling  %d count(unit)"},
    {13, "Press & hold mouse button %s"},
    {14, "Release mouse button %s"},
    {15, "System command"},
    {16, "Mouse Move to (%d , %d)"},
};

constexpr IndexedText kMacroBtStr[] = {
    {0, "Left"}, {1, "Right"}, {2, "Middle"}, {3, "B4"}, {4, "B5"},
};

constexpr IndexedText kMouseStr[] = {
    {0, "Left click"},  {1, "Right click"},  {2, "Wheel click"},   {3, "Backward"},
    {4, "Forward"},     {5, "Tilt left"},    {6, "Tilt right"},    {7, "Scroll up"},
    {8, "Scroll down"}, {9, "Double click"}, {10, "Triple click"},
};

constexpr IndexedText kButtonStr[] = {
    {0, "Button settings"},
    {1, "DPI settings"},
    {2, "Other"},
    {3, "Reset"},
    {4, "Backup"},
    {5, "Restore"},
    {6, "Select"},
    {7, "OK"},
    {8, "Cancel"},
    {9, "Default"},
    {10, "Set"},
    {11, "Hide"},
    {12, "Import"},
    {13, "Export"},
    {14, "Name"},
    {15, "One time mode"},
    {16, "Loop mode"},
    {17, "Firekey mode"},
    {18, "Record"},
    {19, "Stop"},
    {20, "Clear"},
    {21, "Record intervals"},
    {22, "X-Y independent"},
    {23, "Angle snapping"},
    {24, "Report rate"},
    {25, "Delete"},
    {26, "Enable DPI / profile OSD"},
    {27, "Load"},
    {28, "Record click positions"},
    {29, "Record cursor track"},
    {30, "%dms"},
    {31, "Press && hold to get position"},
    {32, "Function list"},
    {33, "Macro edit"},
    {34, "Disable mouse acceleration (OS)"},
    {35, "Load"},
    {36, "Save"},
    {37, "New"},
    {38, "Macro type"},
    {39, "New folder"},
    {45, "Light effect"},
    {46, "Colour"},
    {47, "Breathing"},
    {48, "ON"},
    {49, "OFF"},
    {51, "Customize"},
    {52, "Wave"},
    {53, "Wave (Invert)"},
    {54, "Random 1"},
    {55, "Random 2"},
    {56, "Button %d"},
    {59, "Set all lights"},
};

constexpr IndexedText kButtonTipStr[] = {
    {3, "Reset all mouse setting"},
    {4, "Save mouse setting to file"},
    {5, "Load mouse setting from file"},
    {12, "Import macro from file"},
    {13, "Export current macro to file"},
    {14, "Click here to enter name"},
    {18, "Record keyboard and mouse action"},
    {19, "Stop recording"},
    {20, "Clear macro"},
    {24, "Hz"},
    {25, "Delete macro"},
    {35, "Load macro"},
    {36, "Save macro"},
    {37, "New macro"},
    {39, "New folder"},
    {40, "Discard"},
    {41, "Add"},
    {42, "Yes"},
    {43, "No"},
    {44, "Cancel"},
    {45, "Light effect"},
    {46, "Colour"},
    {47, "Breathe"},
    {48, "Always ON"},
    {51, "Customize"},
    {52, "Wave"},
    {53, "Wave (Invert)"},
    {54, "Random 1"},
    {55, "Random 2"},
};

constexpr IndexedText kDragTipStr[] = {
    {0, "Drag the macro scrip from the right edit area to here to create a new macro."},
    {1, "Drag the macro scrip from the right edit area to here to save a new macro."},
    {2, "Drag a macro in the left list to here to edit."},
    {3, "Drag button to here to remove current seting"},
    {4, "Drag command to here to remove"},
    {5, "Drag to the right edit area for editing.\r\nDrag to the left list for saving."},
};

constexpr IndexedText kMsgStr[] = {
    {0, "Function list"},
    {1, "Macro list"},
    {2, "Save to macro list"},
    {3, "Insert keyboard / mouse or scroll instruction"},
    {4, "Insert mouse move"},
    {5, "Insert delay instruction"},
    {8, "Quick Drop Function: Drag and Drop to Button Setting for quick configuration."},
    {9, "free memory: %d bytes"},
    {10, "No device !!"},
    {11, "All setting will be reset !!  continue?"},
    {12, "Current setting will be overwritten !! continue?"},
    {13, "Add \"%s\" to favorite..."},
    {14, "Relative"},
    {15, "Absolute"},
    {16, "Press %s to start recording."},
    {17, "Press %s to stop recording."},
    {18, "Record mouse movement:"},
    {19, "Lack of space !!"},
    {20, "invalid format !!"},
    {21, "Recording..."},
    {22, "Save changes in macro '%s' ?"},
    {23, "Click to change name"},
    {24, "Macro name"},
    {25, "Delete macro '%s' ?"},
    {26, "Folder name"},
    {27, "Delete folder '%s' ?"},
    {28, "Root"},
    {29, "Function lbrary"},
    {30, "Overwrite macro '%s' ?"},
    {31, "Macro list (PC)"},
    {32, "Mouse button"},
    {33, "Mouse memory"},
    {34, "Empty"},
    {35, "Click to change function"},
    {36, "Button list"},
    {37, "Mouse manager"},
    {38, "%d sec, Press keyboard or click mouse button for binding"},
    {39, "Quick binding"},
    {40, "Key Cycle:"},
    {41, "Type:"},
    {42, "Positive cycle"},
    {43, "Reverse cycle"},
    {44, "Current position"},
    {45, "Press keyboard for adding"},
    {46, "Lock X-axis"},
    {47, "Lock Y-axis"},
    {48, "Virtual Key"},
    {49, "Exit program ?"},
    {50, "Close connection ?"},
    {51, "Save changes in macro '%s' ? or discard it."},
    {52, "Assign an executable file to current profile."},
    {53, "Enter application name"},
    {54, "GENERAL OPTIONS"},
    {55, "INFORMATION"},
    {56, "DRIVER SETTINGS"},
    {58, "Model"},
    {59, "PIN number"},
    {60, "PIN error !"},
    {61, "Delay"},
    {62, "Low"},
    {63, "High"},
    {64, "Auto"},
    {65, "Model does not match"},
    {66,
     "The model cannot be identified. Continued may cause the device to be abnormal. Continue?"},
    {67, "slow down"},
    {68, "speed up"},
    {69, "Click Cancel or the key symbol again to stop."},
};

constexpr IndexedText kClassStr[] = {
    {0, "Mouse"},     {1, "Keyboard"},   {2, "Advanced"},
    {3, "Macro"},     {4, "User Macro"}, {5, "User Macro (Mouse memory)"},
    {6, "Key Cycle"}, {7, "Joystick"},
};

constexpr IndexedText kMenuStr[] = {
    {0, "Settings"},
    {1, "Quit"},
};

constexpr IndexedText kWordStr[] = {
    {kWordCount, "Count"},
    {kWordConsumer, "Consumer"},
    {kWordHelp, "Help"},
    {kWordMinimise, "Minimise"},
    {kWordHideToTray, "Hide to the tray"},
    {kWordKeyHint,
     "Click a key on the keyboard below, after Ctrl, Shift, Alt or Win for a "
     "combination, or press the keys on your keyboard."},
    {kWordAutostart, "Start with the desktop"},
    {kWordBackupFilter, "Backup File (*.bf)"},
    {kWordSlot, "slot %d"},
    {kWordHeldMacroTip, "Runs the macro '%s' stored in device slot %d."},
    {kWordNotHeldMacroTip,
     "No device macro slot holds a macro named '%s'.\r\nStore it in the "
     "device first (%s); then it can be dropped on a button."},
    {kWordHelpLabels, "Click a label to choose the function of its button."},
    {kWordHelpQuickBinding,
     "Click the key symbol at a label's right end, then press a key or a "
     "mouse button within 10 seconds to bind it."},
    {kWordResetDone, "Reset done: the mouse has its factory settings."},
    {kWordBackupDone, "Backup saved to %s."},
    {kWordRestoreDone, "Restore done from %s."},
    {kWordOperationFailed, "%s failed: %s"},
    // The command stands on a line of its own, so that no wrap splits it.
    {kWordNoDeviceHelp,
     "Check the cable, and that the udev rule of the README is installed (then plug the "
     "device in again). To try the program without a device, start it so:\r\n"
     "qvm-gaming --simulate"},
    {kWordStageFlagTip, "Stage %d: keep Y at or below X"},
    {kWordDeviceSelector, "Device"},
    {kWordDeviceSelectorTip, "The device the window works on"},
    {kWordFunctionClass, "Function class"},
    {kWordButtonLabels, "Button labels"},
    {kWordButtonLabelsKeys,
     "Arrow keys: next label. Enter: choose its function. Ctrl+B: quick binding."},
    {kWordStageAxis, "DPI stage %d %s"},
    {kWordActiveProfile, "active"},
    {kWordOpRefresh, "Refresh"},
    {kWordOpDeviceChange, "Device change"},
    {kWordOpAssignButton, "Assign button"},
    {kWordOpProfileName, "Profile name"},
    {kWordOpProfileColour, "Profile colour"},
    {kWordOpActiveProfile, "Active profile"},
    {kWordOpStageFlags, "DPI stages"},
    {kWordOpCurrentStage, "Current DPI stage"},
    {kWordOpKeyCycle, "Key cycle"},
    {kWordOpSettings, "Settings"},
    {kWordErrorOther, "The operation did not succeed."},
    {kWordErrorDeviceGone, "The device left: it was unplugged or switched off."},
    {kWordErrorDeviceBusy, "The device stayed busy and did not take the request."},
    {kWordErrorDeviceSilent, "The device did not answer."},
    {kWordErrorDeviceGarbled, "The device answered with data that cannot be right."},
    {kWordErrorDeviceRefused, "The device did not take the request."},
    {kWordErrorUninitialised, "The device memory holds no configuration."},
    {kWordErrorBadInput, "The input cannot be used."},
    {kWordErrorIo, "A file or folder could not be read or written."},
    {kWordNoKeyboardFunction, "No keyboard function is offered for this button."},
    {kWordFileGone, "Cannot read %s: the file does not exist."},
    {kWordInitialiseQuestion,
     "The device memory holds no configuration (it is uninitialised).\r\n"
     "Initialise it with the factory settings?"},
    {kWordUninitialised,
     "The device memory holds no configuration (it is uninitialised).\r\n"
     "Reset initialises it with the factory settings."},
    {kWordUninitialisedPanel, "Uninitialised: no configuration"},
    {kWordStartWarning, "Found while starting:"},
    {kWordMacroBytes, "%d bytes"},
    {kWordNoFreeSlot, "Every macro slot of the mouse is in use: delete one first."},
    {kWordOpMacro, "Macro transfer"},
    {kWordColourRed, "R"},
    {kWordColourGreen, "G"},
    {kWordColourBlue, "B"},
    {kWordHexColourHint, "A colour is # and six hexadecimal digits, such as #FF8000."},
    {kWordOpLighting, "Lighting"},
    {kWordLightingPanel, "LIGHTING"},
    {kWordLightingEffect, "Lighting effect"},
    {kWordLed, "LED %d"},
    {kWordLedHint, "Click an LED to choose its colour; Ctrl+click selects several for Colour."},
    {kWordKeyboardPage, "The keyboard's lights are set in its lighting window."},
    {kWordInjectionFailed,
     "The mouse asked for a pointer move or a horizontal scroll, which cannot be made here: "
     "%s (%s)."},
    {kWordTouchUnavailable,
     "The mouse asked for Virtual Touch, but touch input cannot be made here: %s (%s)."},
    {kWordAppProfilesStopped, "Profiles no longer follow the program in use: %s"},
    {kWordBrowse, "Browse..."},
    {kWordWindowPrograms, "Programs with an open window:"},
    {kWordUnbindTip, "%s is bound to this profile. Click to remove the binding."},
    {kWordOsdScrollHint, "Scroll to change DPI"},
    {kWordOsdAngleSnappingOn, "angle snapping ON"},
    {kWordOsdAngleSnappingOff, "angle snapping OFF"},
    {kWordRemoteOption, "Allow the companion app on this network"},
    {kWordRemoteListening,
     "Companions reach this computer at %s (status TCP %s, requests TCP %s, discovery UDP %s). "
     "PIN: %s"},
    {kWordRemoteOff, "Off: this computer opens no network port for companions."},
    {kWordRemoteFailed, "The companion service could not start: %s"},
    {kWordFirstBackupSaved,
     "Before its first change on this computer, the mouse's whole memory was saved to\n%s\n"
     "Restoring this file (Other page, Restore) puts back everything it held."},
    {kWordUnsavedQuestion,
     "%s\n\nWrite into the mouse without a backup of what its memory holds now?"},
    {kWordErrorUnsaved, "No backup of the mouse's memory could be saved before its first change."},
};

struct ConsumerKeyDefault {
    std::int32_t usage;
    std::string_view name;
};

// Ends with the terminator row; the rows after it stay zero.
constexpr ConsumerKeyDefault kConsumerKeys[] = {
    {0x223, "Web Browser"},  {0x194, "My Computer"}, {0x192, "Calculator"},
    {0x183, "Media Player"}, {0xE2, "Mute"},         {0xEA, "Volume -"},
    {0xE9, "Volume +"},      {0xCD, "Play/Pause"},   {0xB0, "Play"},
    {0xB1, "Pause"},         {0xB5, "Next Track"},   {0xB6, "Previous Track"},
    {0xB7, "Stop"},          {0xB3, "Fast Forward"}, {kConsumerKeyTerminator, ""},
};

template <std::size_t N>
void Fill(std::array<std::string, N>& table, std::span<const IndexedText> texts) {
    for (const IndexedText& t : texts) table.at(t.index) = std::string(t.text);
}

}  // namespace

UiStrings::UiStrings() {
    Fill(type_str, kTypeStr);
    extra_function_str[0] = "Volume scroll";
    Fill(cap_input_str, kCapInputStr);
    Fill(macro_str, kMacroStr);
    Fill(macro_bt_str, kMacroBtStr);
    Fill(mouse_str, kMouseStr);
    Fill(button_str, kButtonStr);
    Fill(button_tip_str, kButtonTipStr);
    Fill(drag_tip_str, kDragTipStr);
    Fill(msg_str, kMsgStr);
    Fill(class_str, kClassStr);
    Fill(menu_str, kMenuStr);
    Fill(word_str, kWordStr);
    for (std::size_t i = 0; i < std::size(kConsumerKeys); ++i) {
        consumer_keys[i] = {kConsumerKeys[i].usage, std::string(kConsumerKeys[i].name)};
    }
    end_str = "-- End --";
    macro_editor_cap_str = "Macro Editor";
    profile_str = "Profile";
    launch_str = "Launch setting";
    version_str = "Software version";
    firmware_str = "Firmware version";
}

}  // namespace qvm
