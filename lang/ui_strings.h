// The user-interface string tables. A default-constructed UiStrings holds the English
// texts; LoadLanguageStrings overrides entries from language.ini. The process-wide copy is
// set once at start-up, before any other thread exists, and only read afterwards.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace qvm {

// One row of the consumer-control key table: a HID consumer-page usage and its name.
struct ConsumerKey {
    std::int32_t usage = 0;
    std::string name;
};

// The language the default texts are written in, and the section read when the chosen
// language has none.
inline constexpr int kEnglishLanguageId = 1033;

inline constexpr std::size_t kConsumerKeyRows = 50;
// The row after the last consumer key carries this usage.
inline constexpr std::int32_t kConsumerKeyTerminator = -1;

struct UiStrings {
    UiStrings();  // the English defaults

    std::array<std::string, 41> type_str;
    std::array<std::string, 100> extra_function_str;
    std::array<std::string, 6> cap_input_str;
    std::array<std::string, 17> macro_str;
    std::array<std::string, 5> macro_bt_str;
    std::array<std::string, 12> mouse_str;
    std::array<std::string, 60> button_str;
    std::array<std::string, 56> button_tip_str;
    std::array<std::string, 10> drag_tip_str;
    std::array<std::string, 70> msg_str;
    std::array<std::string, 10> class_str;  // entries 8 and 9 are never read from a file
    std::array<std::string, 2> menu_str;
    std::array<ConsumerKey, kConsumerKeyRows> consumer_keys;
    // Texts of the windows that no table above holds, indexed by WordText.
    std::array<std::string, 96> word_str;

    std::string end_str;
    std::string macro_editor_cap_str;
    std::string profile_str;
    std::string launch_str;
    std::string version_str;
    std::string firmware_str;

    // "EnableColor" of section "MISC": consulted by pointer tracking and the apply path.
    int enable_color = 0;
    // The language the texts were read for: the chosen one when the language file has its
    // section, else English. Other texts shown beside these (the function list) follow it.
    int language_id = kEnglishLanguageId;
};

// Entries of word_str ("word_str%d" in language.ini).
enum WordText : std::size_t {
    kWordCount,             // the fire button's repeat count
    kWordConsumer,          // the function-list group of the consumer keys
    kWordHelp,              // the help overlay's toggle on the button page
    kWordMinimise,          // the header's minimise control
    kWordHideToTray,        // the header's hide control
    kWordKeyHint,           // the key-combination editor's hint
    kWordAutostart,         // the "Other" page's autostart option
    kWordBackupFilter,      // the backup file dialogs' filter
    kWordSlot,              // a device macro slot, "%d" its number counted from 1
    kWordHeldMacroTip,      // "%s" a macro name, "%d" its slot counted from 1
    kWordNotHeldMacroTip,   // "%s" a macro name, "%s" the macro editor's caption
    kWordHelpLabels,        // help overlay: choosing a function
    kWordHelpQuickBinding,  // help overlay: quick binding
    kWordResetDone,         // the Other page's result line after a reset
    kWordBackupDone,        // ... after a backup, "%s" the file
    kWordRestoreDone,       // ... after a restore, "%s" the file
    kWordOperationFailed,   // "%s" the operation, "%s" the first line of why
    kWordNoDeviceHelp,      // beneath "No device !!": what to check, how to try without one
    kWordStageFlagTip,      // a DPI stage's flag, "%d" the stage counted from 1
    // Names and descriptions read out by screen readers.
    kWordDeviceSelector,     // the header's device selector
    kWordDeviceSelectorTip,  // ... what it does
    kWordFunctionClass,      // the button settings dialog's list of function classes
    kWordButtonLabels,       // the button page's label map; ": <label>" follows
    kWordButtonLabelsKeys,   // ... the keys that work it
    kWordStageAxis,          // a DPI stage's slider, "%d" the stage from 1, "%s" X or Y
    kWordActiveProfile,      // follows the focused profile tab's name when it is active
    // The device operations as messages name them (Reset, Backup and Restore are named by
    // their buttons).
    kWordOpRefresh,
    kWordOpDeviceChange,
    kWordOpAssignButton,
    kWordOpProfileName,
    kWordOpProfileColour,
    kWordOpActiveProfile,
    kWordOpStageFlags,
    kWordOpCurrentStage,
    kWordOpKeyCycle,
    kWordOpSettings,
    // The first line of an error message, by its kind; the program's own detail follows.
    // A lack of space has its own table text, msg_str 19.
    kWordErrorOther,
    kWordErrorDeviceGone,
    kWordErrorDeviceBusy,
    kWordErrorDeviceSilent,
    kWordErrorDeviceGarbled,
    kWordErrorDeviceRefused,
    kWordErrorUninitialised,
    kWordErrorBadInput,
    kWordErrorIo,
    // Failures the windows find themselves.
    kWordNoKeyboardFunction,  // the button settings dialog offers no keyboard function
    kWordFileGone,            // "%s" a file chosen in a dialog that no longer exists
    // A mouse whose memory holds no configuration: the question before the reset that
    // initialises it, the INFORMATION page and the short line of the header panel.
    kWordInitialiseQuestion,
    kWordUninitialised,
    kWordUninitialisedPanel,
    // Heads what the program found wrong while starting (a damaged file, a folder it
    // cannot make); the program's own lines follow.
    kWordStartWarning,
    kWordMacroBytes,  // the macro editor's size of the edited macro, "%d" bytes
    kWordNoFreeSlot,  // storing a new macro when every device macro slot is in use
    kWordOpMacro,     // the device operation of the macro editor's transfers
    // The colour picker: its channel sliders and the hint of its hex field.
    kWordColourRed,
    kWordColourGreen,
    kWordColourBlue,
    kWordHexColourHint,
    // The mouse lighting on the "Other" page and its device operation.
    kWordOpLighting,
    kWordLightingPanel,   // the panel's title
    kWordLightingEffect,  // the effect number's label
    kWordLed,             // one LED, "%d" its number counted from 1
    kWordLedHint,         // how to pick one LED or several
    kWordKeyboardPage,    // the button page while a keyboard is the device worked on
    // The mice's requests to the computer that cannot be carried out here: "%s" the reason,
    // the second "%s" where the user reads how to allow it.
    kWordInjectionFailed,
    kWordTouchUnavailable,
    kWordAppProfilesStopped,  // profiles stopped following the program in use: "%s" why
    // Binding a program to a profile.
    kWordBrowse,          // the binding dialog's file chooser button
    kWordWindowPrograms,  // the binding dialog's list of running programs
    kWordUnbindTip,       // a profile tab's marker, "%s" the bound program's name
    // The on-screen display of DPI and profile changes.
    kWordOsdScrollHint,        // the mouse's scroll-to-change-DPI mode
    kWordOsdAngleSnappingOn,   // angle snapping was switched on
    kWordOsdAngleSnappingOff,  // ... off
    // The network remote service on the "Other" page.
    kWordRemoteOption,     // the option that turns it on
    kWordRemoteListening,  // "%s" the addresses, the status, request and datagram ports, the PIN
    kWordRemoteOff,        // while it is off
    kWordRemoteFailed,     // it could not start: "%s" why
    // The backup of a mouse's memory saved before its first change.
    kWordFirstBackupSaved,  // "%s" the backup file
    kWordUnsavedQuestion,   // none could be saved: "%s" why; asks whether to write anyway
    kWordErrorUnsaved,      // the error kind Unsaved
    kWordTextCount
};
static_assert(kWordTextCount <= std::tuple_size_v<decltype(UiStrings::word_str)>);

// One entry that language.ini can replace: its key and the text it replaces. Line breaks
// in values of multiLine entries (drag tips, word_str) may be written as the two
// characters backslash and 'n'.
struct LanguageEntry {
    std::string key;
    std::string* text = nullptr;
    bool multiLine = false;
};

// Every entry LoadLanguageStrings reads, in the file's order: the tables, the consumer-key
// rows up to the terminator, then the single strings. The pointers refer into strings.
std::vector<LanguageEntry> LanguageEntries(UiStrings& strings);

// The process-wide tables.
const UiStrings& Ui();
// Replaces the process-wide tables: once at start-up, or in tests. Not thread-safe.
void SetUi(UiStrings strings);

// Fills strings from section languageId of the language file, falling back to section
// "1033" when that section has no "type_str1", and records the section read in
// language_id. Entries whose keys are absent keep their current text. Returns the file's warning
// text (empty when it was read cleanly or does not exist).
std::string LoadLanguageStrings(UiStrings& strings, int languageId, const std::string& path);

// Texts that stay English whatever the language.
inline constexpr std::string_view kEepromSizeText = "EEPROM size";
inline constexpr std::array<std::string_view, 20> kLightingEffectNames = {
    "Customize",       "Rainbow",         "Static",    "Breathing",  "Rain",
    "Horse race lamp", "Twinkling stars", "One Click", "Water drop", "Cross",
    "Ripple",          "Ripple 2",        "Aurora",    "Customize"};
inline constexpr std::array<std::string_view, 20> kLightingPanelWords = {
    "Direction",  "Left",   "Right",
    "Up",         "Down",   "Speed",
    "Brightness", "Colour", "Left click: select / deselect    Right click: deselect all",
    "Side LED",   "RESET"};

}  // namespace qvm
