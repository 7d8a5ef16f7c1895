// qvmctl commands that read and change a mouse's configuration image. Profiles, DPI
// stages and buttons are numbered from 1, as the windows show them; a button number is
// a position of the model's button layout.
#include <algorithm>
#include <array>
#include <cctype>
#include <cstdio>
#include <istream>
#include <ostream>
#include <sstream>

#include "base/atomic_file.h"
#include "cli/commands.h"
#include "cli/function_names.h"
#include "cli/macro_cli.h"
#include "cli/parse.h"
#include "cli/qvmctl.h"
#include "cli/show.h"
#include "config/backup.h"
#include "config/button_text.h"
#include "config/catalogue.h"
#include "config/memory_top.h"
#include "lang/ui_strings.h"
#include "session/settings.h"

namespace qvm::cli {
namespace {

constexpr int kMinRateHz = 125;
constexpr int kMaxRateHz = 1000;
constexpr int kMaxSuggestions = 5;
constexpr std::size_t kMaxAssignWords = 16;
constexpr std::string_view kMacroPrefix = "macro:";
// The four bytes of a button function as `assign` names them.
constexpr std::array<const char*, 4> kFunctionBytes = {"type", "op1", "op2", "op3"};

// A device operation's result: exit 1 with the message when it failed.
int Done(CommandContext& c, const Status& result, const std::string& what) {
    if (!result) return Fail(c.err, kExitDevice, what + ": " + result.message());
    return kExitOk;
}

Result<int> Number(const std::string& text, int max, const std::string& what) {
    auto n = ParseNumber(text, 1, max, what);
    if (!n) return n.error();
    return static_cast<int>(*n);
}

// The DPI stages the device has, as its DPI page shows them: "allowed 1..N" when
// `stage` (counted from 1) is not one of them. A device that does not report its count
// is taken to have all five.
Result<int> DeviceStage(const std::string& text, const ConfigImage& image) {
    return Number(text, image.UsableDpiStages(), "DPI stage");
}

int RunInfo(CommandContext& c) {
    auto session = Session::Open(c.options);
    if (!session) return Fail(c.err, kExitUsage, session.message());
    auto path = (*session)->SelectDevice(c.options);
    if (!path) return Fail(c.err, ExitStatusOf(path.kind()), path.message());
    PrintDeviceValues(c.out, *path, (*session)->Values().Get(*path), (*session)->Layout());
    return kExitOk;
}

int RunShow(CommandContext& c) {
    int status = kExitOk;
    auto l = LoadDevice(c, status);
    if (!l) return status;
    const DeviceValues values = l->session->Values().Get(l->model->Path());
    if (c.Flag("--json")) {
        PrintConfigJson(c.out, l->model->Path(), values, *l->image, l->session->Layout());
    } else {
        PrintConfigText(c.out, l->model->Path(), values, *l->image, l->session->Layout());
    }
    return kExitOk;
}

int RunSetDpi(CommandContext& c) {
    int status = kExitOk;
    auto stage = Number(c.args[0], kDpiStageCount, "DPI stage");
    if (!stage) return Fail(c.err, kExitUsage, stage.message());
    auto l = LoadDevice(c, status);
    if (!l) return status;
    stage = DeviceStage(c.args[0], *l->image);
    if (!stage) return Fail(c.err, kExitUsage, stage.message());
    const int step = l->image->dpiStep;
    const int max = step * l->image->dpiStepCount;
    int values[2] = {0, 0};
    for (std::size_t i = 0; i < 2; ++i) {
        const std::string& text = c.args[std::min<std::size_t>(i + 1, c.args.size() - 1)];
        auto dpi = ParseNumber(text, step, max, "DPI");
        if (!dpi) {
            return Fail(c.err, kExitUsage, dpi.message() + " in steps of " + std::to_string(step));
        }
        values[i] = static_cast<int>((*dpi + step / 2) / step);
    }
    const Status written = l->model->SetDpiStage(*stage - 1, values[0], values[1]);
    if (!written) return Done(c, written, "cannot set the DPI");
    c.out << "stage " << *stage << ": " << values[0] * step << " x " << values[1] * step
          << " DPI\n";
    return kExitOk;
}

int RunSetStage(CommandContext& c) {
    int status = kExitOk;
    auto stage = Number(c.args[0], kDpiStageCount, "DPI stage");
    if (!stage) return Fail(c.err, kExitUsage, stage.message());
    auto l = LoadDevice(c, status);
    if (!l) return status;
    stage = DeviceStage(c.args[0], *l->image);
    if (!stage) return Fail(c.err, kExitUsage, stage.message());
    return Done(c, l->model->SetCurrentDpiStage(*stage - 1), "cannot select the DPI stage");
}

int RunSetRate(CommandContext& c) {
    int status = kExitOk;
    auto hz = ParseNumber(c.args[0], kMinRateHz, kMaxRateHz, "report rate (Hz)");
    if (!hz) return Fail(c.err, kExitUsage, hz.message());
    auto l = LoadDevice(c, status);
    if (!l) return status;
    const int code = ReportRateCodeFor(static_cast<int>(*hz));
    const Status written = l->model->SetReportRate(code);
    if (!written) return Done(c, written, "cannot set the report rate");
    c.out << "report rate: " << ReportRateHz(code) << " Hz\n";
    return kExitOk;
}

int RunSetSnapping(CommandContext& c) {
    int status = kExitOk;
    auto on = ParseOnOff(c.args[0], "angle snapping");
    if (!on) return Fail(c.err, kExitUsage, on.message());
    auto l = LoadDevice(c, status);
    if (!l) return status;
    return Done(c, l->model->SetAngleSnapping(*on), "cannot set angle snapping");
}

int RunSetProfile(CommandContext& c) {
    int status = kExitOk;
    auto profile = Number(c.args[0], kProfileCount, "profile");
    if (!profile) return Fail(c.err, kExitUsage, profile.message());
    auto l = LoadDevice(c, status);
    if (!l) return status;
    return Done(c, l->model->SetActiveProfile(*profile - 1), "cannot select the profile");
}

int RunSetName(CommandContext& c) {
    int status = kExitOk;
    auto profile = Number(c.args[0], kProfileCount, "profile");
    if (!profile) return Fail(c.err, kExitUsage, profile.message());
    auto l = LoadDevice(c, status);
    if (!l) return status;
    const Status named = l->model->SetProfileName(*profile - 1, c.args[1]);
    if (!named) return Done(c, named, "cannot rename the profile");
    const std::string& stored =
        l->model->Snapshot()->profiles[static_cast<std::size_t>(*profile - 1)].name;
    if (stored != c.args[1]) {
        c.out << "profile " << *profile << " name stored as \"" << Shown(stored) << "\""
              << (c.args[1].empty() ? " (an empty name shows as the profile number)"
                                    : " (the device keeps 9 characters)")
              << '\n';
    }
    return kExitOk;
}

int RunSetColour(CommandContext& c) {
    int status = kExitOk;
    auto profile = Number(c.args[0], kProfileCount, "profile");
    if (!profile) return Fail(c.err, kExitUsage, profile.message());
    auto rgb = ParseColour(c.args[1]);
    if (!rgb) return Fail(c.err, kExitUsage, rgb.message());
    auto l = LoadDevice(c, status);
    if (!l) return status;
    Rgb v = *rgb;
    if (l->image->Layout().colourPacked) {
        for (uint8_t* channel : {&v.red, &v.green, &v.blue}) {
            *channel = Reduce8Bit(*channel);  // 2 bits a channel
        }
    }
    const Status coloured = l->model->SetProfileColour(*profile - 1, v.red, v.green, v.blue);
    if (!coloured) return Done(c, coloured, "cannot set the profile colour");
    const Rgb stored =
        l->model->Snapshot()->profiles[static_cast<std::size_t>(*profile - 1)].colour;
    if (stored != *rgb) {
        c.out << "profile " << *profile << " colour stored as " << ColourText(stored)
              << " (the nearest colour this device keeps)\n";
    }
    return kExitOk;
}

int RunSetFlags(CommandContext& c) {
    int status = kExitOk;
    auto stage = Number(c.args[0], kDpiStageCount, "DPI stage");
    if (!stage) return Fail(c.err, kExitUsage, stage.message());
    auto on = ParseOnOff(c.args[1], "stage flag");
    if (!on) return Fail(c.err, kExitUsage, on.message());
    auto l = LoadDevice(c, status);
    if (!l) return status;
    if (*stage > l->image->Layout().stageFlagCount) {
        return Fail(c.err, kExitUsage,
                    "this device keeps stage flags for stages 1.." +
                        std::to_string(l->image->Layout().stageFlagCount));
    }
    auto flags = l->image->stageFlags;
    flags[static_cast<std::size_t>(*stage - 1)] = *on;
    return Done(c, l->model->SetStageFlags(flags), "cannot set the stage flag");
}

// Whether giving `slot` of `profile` the function `next` takes away the only button that
// left-clicks there: the same rule that keeps the window from changing that button.
bool RemovesOnlyLeftClick(const ConfigImage& image, const ModelLayout& layout, int profile,
                          int slot, const ButtonSlot& next) {
    const std::vector<int> shown(layout.ButtonOrder.begin(),
                                 layout.ButtonOrder.begin() + layout.ButtonCount);
    ConfigImage after = image;
    after.currentProfile = profile;
    if (FindSoleLeftClickButton(after, shown) != slot) return false;
    after.buttons[static_cast<std::size_t>(profile)][static_cast<std::size_t>(slot)].slot = next;
    return FindSoleLeftClickButton(after, shown) != slot;
}

// PROFILE BUTTON then: "default", four numbers TYPE OP1 OP2 OP3, or a function text.
int RunAssign(CommandContext& c) {
    int status = kExitOk;
    auto profile = Number(c.args[0], kProfileCount, "profile");
    if (!profile) return Fail(c.err, kExitUsage, profile.message());
    std::vector<std::string> words(c.args.begin() + 2, c.args.end());
    std::optional<int> macroSlot;
    if (words.size() == 1 && words[0].rfind(kMacroPrefix, 0) == 0) {
        auto parsed = ParseMacroSlot(words[0].substr(kMacroPrefix.size()));
        if (!parsed) return Fail(c.err, kExitUsage, parsed.message());
        macroSlot = *parsed;
    }
    // Four words written as numbers are the function's bytes, and only that: a number
    // out of a byte's range is refused, never looked up as a function name.
    std::optional<ButtonSlot> numeric;
    if (words.size() == kFunctionBytes.size() &&
        std::all_of(words.begin(), words.end(), LooksLikeNumber)) {
        std::array<uint8_t, kFunctionBytes.size()> b{};
        for (std::size_t i = 0; i < b.size(); ++i) {
            auto n = ParseNumber(words[i], 0, 255, kFunctionBytes[i]);
            if (!n) return Fail(c.err, kExitUsage, n.message());
            b[i] = static_cast<uint8_t>(*n);
        }
        numeric = ButtonSlot{b[0], b[1], b[2], b[3]};
    }
    auto l = LoadDevice(c, status);
    if (!l) return status;
    const ModelLayout& layout = l->session->Layout();
    auto button = Number(c.args[1], std::max(layout.ButtonCount, 1), "button");
    if (!button || layout.ButtonCount == 0) {
        return Fail(c.err, kExitUsage,
                    button ? "this device has no buttons to assign" : button.message());
    }
    const int slot = layout.ButtonOrder[static_cast<std::size_t>(*button - 1)];

    ButtonSlot chosen;
    std::string text;
    for (const auto& w : words) text += (text.empty() ? "" : " ") + w;
    if (macroSlot) {
        const MacroSlot& m = l->image->macros[static_cast<std::size_t>(*macroSlot)];
        if (m.Empty()) {
            return Fail(c.err, kExitUsage,
                        "macro slot " + std::to_string(MacroSlotNumber(*macroSlot)) +
                            " is empty (see qvmctl macro list)");
        }
        // The button runs the macro's code in the slot's mode.
        chosen = MacroSlotFunction(m);
    } else if (numeric) {
        chosen = *numeric;
    } else if (IsWord(text, "default")) {
        chosen = ButtonSlot{};
    } else {
        const auto matches =
            FunctionsNamed(text, l->image->dpiStep, ProgramFunctionLibrary(l->image->dpiStep));
        if (matches.empty()) {
            std::string message = "no function is called '" + text + "'";
            const auto near = SuggestFunctionTexts(text, kMaxSuggestions, l->image->dpiStep);
            if (!near.empty()) {
                message += "; did you mean";
                for (std::size_t i = 0; i < near.size(); ++i) {
                    message += (i ? ", '" : " '") + near[i] + "'";
                }
                message += "?";
            }
            return Fail(c.err, kExitUsage, message + " (see qvmctl assign --help)");
        }
        chosen = matches.front();
    }
    if (!c.Flag("--force") && RemovesOnlyLeftClick(*l->image, layout, *profile - 1, slot, chosen)) {
        return Fail(c.err, kExitUsage,
                    "button " + std::to_string(*button) + " is the only left click of profile " +
                        std::to_string(*profile) +
                        ": without it the mouse could not click; give another button the left "
                        "click first (--force assigns it anyway)");
    }
    const Status assigned =
        l->model->AssignButton(*profile - 1, slot, chosen.type, chosen.op1, chosen.op2, chosen.op3);
    if (!assigned) return Done(c, assigned, "cannot assign the button");
    const auto image = l->model->Snapshot();
    c.out << "profile " << *profile << " button " << *button << ": "
          << Shown(ShownButtonText(*image, image->buttons[static_cast<std::size_t>(*profile - 1)]
                                                         [static_cast<std::size_t>(slot)]));
    c.out << '\n';
    return kExitOk;
}

// PROFILE then the keys as key combination texts; no keys clears the list.
int RunSetCycle(CommandContext& c) {
    int status = kExitOk;
    auto profile = Number(c.args[0], kProfileCount, "profile");
    if (!profile) return Fail(c.err, kExitUsage, profile.message());
    std::vector<KeyCycleEntry> keys;
    const FunctionLibrary library = ProgramFunctionLibrary(kDefaultDpiStep);
    for (std::size_t i = 1; i < c.args.size(); ++i) {
        const auto matches = FunctionsNamed(c.args[i], kDefaultDpiStep, library);
        const auto key = std::find_if(matches.begin(), matches.end(),
                                      [](const ButtonSlot& s) { return s.type == kTypeKeyboard; });
        if (key == matches.end()) {
            return Fail(c.err, kExitUsage,
                        "'" + c.args[i] + "' is not a key combination such as \"Ctrl + C\"");
        }
        keys.push_back({key->op1, key->op2});
    }
    auto l = LoadDevice(c, status);
    if (!l) return status;
    const Status written = l->model->SetKeyCycleList(*profile - 1, keys);
    if (!written) return Done(c, written, "cannot set the key-cycle list");
    c.out << "profile " << *profile << " key cycle:";
    for (std::size_t k = 0; k < keys.size(); ++k) {
        c.out << (k ? ", " : " ") << KeyCombinationText(keys[k].modifiers, keys[k].usage);
    }
    c.out << (keys.empty() ? " (empty)\n" : "\n");
    return kExitOk;
}

int RunReset(CommandContext& c) {
    int status = kExitOk;
    // The reset is what initialises a device whose memory holds no configuration.
    auto l = LoadDevice(c, status, true);
    if (!l) return status;
    if (!Confirm(c, Ui().msg_str[11], c.Flag("--yes"))) {
        return Fail(c.err, kExitDevice, "reset cancelled; nothing was changed");
    }
    TerminalProgress progress(c.err, "resetting");
    const Status reset = l->model->ResetConfiguration(ResetColoursSetting(),
                                                      [&](int percent) { progress(percent, 100); });
    progress.Finish();
    return Done(c, reset, "the reset did not finish");
}

// A backup only reads: it needs the memory size, never the configuration, so it works
// on any memory, an uninitialised one included.
int RunBackup(CommandContext& c) {
    auto session = Session::Open(c.options);
    if (!session) return Fail(c.err, kExitUsage, session.message());
    auto path = (*session)->SelectMouse(c.options);
    if (!path) return Fail(c.err, ExitStatusOf(path.kind()), path.message());
    DeviceCommands& commands = (*session)->Commands();
    auto top = LearnMemoryTop(commands, *path);
    if (!top) return Fail(c.err, kExitDevice, "cannot back up the memory: " + top.message());
    TerminalProgress progress(c.err, "reading memory");
    const Status saved = SaveBackup(commands, commands, *path, *top, c.args[0], std::ref(progress));
    progress.Finish();
    if (!saved) return Done(c, saved, "backup failed");
    c.out << "saved " << *top + 1 << " bytes to " << c.args[0] << '\n';
    return kExitOk;
}

// The backup file a restore writes: FILE, read before the device is opened, or with
// --first the device's first backup (which needs the device to name it).
Result<BackupContents> ReadBackupArgument(const std::string& file) {
    auto bytes = ReadFileIfExists(file);
    if (!bytes || !*bytes) {
        return MakeError(
            ErrorKind::BadInput,
            "cannot read " + file + (bytes ? ": no such file" : ": " + bytes.message()));
    }
    auto contents = DecodeBackupFile(**bytes);
    if (!contents) return MakeError(ErrorKind::BadInput, file + ": " + contents.message());
    return contents;
}

int RunRestore(CommandContext& c) {
    const bool first = c.Flag("--first");
    if (first == !c.args.empty()) {
        return Fail(c.err, kExitUsage,
                    "restore needs either FILE or --first (see qvmctl restore --help)");
    }
    std::string file = first ? std::string() : c.args[0];
    std::optional<BackupContents> contents;
    if (!first) {
        auto read = ReadBackupArgument(file);
        if (!read) return Fail(c.err, kExitUsage, read.message());
        contents = std::move(read).value();
    }
    int status = kExitOk;
    // Restoring a backup initialises an uninitialised device as well as a reset does.
    auto l = LoadDevice(c, status, true);
    if (!l) return status;
    if (first) {
        auto found = l->session->FirstBackups().FirstBackupOf(l->model->Path());
        if (!found) return Fail(c.err, kExitUsage, found.message());
        file = *found;
        auto read = ReadBackupArgument(file);
        if (!read) return Fail(c.err, kExitUsage, read.message());
        contents = std::move(read).value();
    }
    const bool force = c.Flag("--force");
    if (Status judged = CheckRestore(*contents, l->image->memoryTop, force); !judged) {
        return Fail(c.err, kExitUsage,
                    file + ": " + judged.message() + " (--force restores it anyway)");
    }
    if (!Confirm(c, Ui().msg_str[12], c.Flag("--yes"))) {
        return Fail(c.err, kExitDevice, "restore cancelled; nothing was changed");
    }
    TerminalProgress progress(c.err, "writing memory");
    bool leftUninitialised = false;
    auto reload = [&]() -> Status {
        Status loaded = l->model->LoadConfiguration();
        // Forced in without the marker: the device holds what the file held, as asked.
        if (!loaded && loaded.kind() == ErrorKind::Uninitialised && force) {
            leftUninitialised = true;
            return {};
        }
        return loaded;
    };
    auto report = RestoreBackup(l->session->Commands(), l->session->Commands(), l->model->Path(),
                                file, SystemClock::Instance(), reload, std::ref(progress));
    progress.Finish();
    if (!report) return Done(c, report.error(), "restore failed");
    c.out << "restored " << report->writtenBytes << " bytes from " << file << '\n';
    if (report->missingBytes > 0) {
        c.err << "qvmctl: warning: the file is cut short; " << report->missingBytes
              << " declared bytes were not in it and were not written\n";
    }
    if (leftUninitialised) {
        c.err << "qvmctl: warning: the device memory now holds no configuration (it is "
                 "uninitialised); 'qvmctl reset' initialises it\n";
    }
    return kExitOk;
}

}  // namespace

void AddConfigCommands(std::vector<CommandSpec>& commands) {
    const std::vector<CommandSpec> added = {
        {"info", "", "show what identification learned of the device",
         "Prints the per-device values of the device qvmctl works on: protocol generation,\n"
         "model code and name, firmware, class, identity bytes, layout flags and the button\n"
         "layout of its model.\n",
         0, 0, RunInfo},
        {"show",
         "[--json]",
         "show the whole configuration",
         "Prints the configuration: DPI stages, report rate, angle snapping, and for each\n"
         "profile its name, colour, buttons and key-cycle list, then the macro slots.\n"
         "--json prints the same as one JSON object.\n",
         0,
         0,
         RunShow,
         {"--json"}},
        {"set dpi", "STAGE X [Y]", "set a DPI stage (values in DPI)",
         "Sets DPI stage STAGE to X by Y DPI (Y defaults to X). STAGE is one of the\n"
         "device's stages (1..4 on most devices). Values are rounded to the device's DPI\n"
         "step and must lie between one step and its maximum.\n",
         2, 3, RunSetDpi},
        {"set stage", "STAGE", "select the current DPI stage",
         "Selects a DPI stage the device has (1..4 on most devices).\n", 1, 1, RunSetStage},
        {"set rate", "HZ", "set the report rate (125..1000 Hz)",
         "Sets the report rate to the rate nearest HZ that the device offers: 1000, 500,\n"
         "333, 250, 200, 166, 142 or 125 Hz.\n",
         1, 1, RunSetRate},
        {"set snapping", "on|off", "switch angle snapping", "Switches angle snapping.\n", 1, 1,
         RunSetSnapping},
        {"set profile", "N", "select the active profile", "Makes profile N (1..5) active.\n", 1, 1,
         RunSetProfile},
        {"set name", "PROFILE TEXT", "rename a profile",
         "Names profile PROFILE (1..5); the device keeps the first 9 characters, and the\n"
         "name stored is printed when it differs from TEXT.\n",
         2, 2, RunSetName},
        {"set colour", "PROFILE #RRGGBB", "set a profile's colour",
         "Sets the colour of profile PROFILE. Devices of layout class A keep 2 bits a\n"
         "channel; the nearest colour is stored, and printed when it differs.\n",
         2, 2, RunSetColour},
        {"set flags", "STAGE on|off", "set a DPI stage's flag",
         "Sets or clears the flag of DPI stage STAGE: while set, the stage keeps Y <= X.\n", 2, 2,
         RunSetFlags},
        {"set cycle", "PROFILE [KEY...]", "set a profile's key-cycle list",
         "Sets the keys the keyboard cycle functions of profile PROFILE step through: up\n"
         "to 8 key combinations such as \"Ctrl + C\" or \"F5\". No keys clears the list.\n",
         1, 1 + kKeyCycleMaxCount, RunSetCycle},
        {"assign",
         "PROFILE BUTTON FUNCTION [--force]",
         "give a button a function",
         "FUNCTION is one of:\n"
         "  default                  the button's own function\n"
         "  TYPE OP1 OP2 OP3         the four bytes of the function (0x hex accepted)\n"
         "  TEXT                     a function by the name the window or 'qvmctl show'\n"
         "                           gives it, or a name of 'qvmctl functions':\n"
         "                           \"Left click\", \"Ctrl + C\", \"Copy\", \"DPI+\",\n"
         "                           \"Volume +\", \"Fire button (50 ms)\", ...; case and\n"
         "                           blanks do not matter (\"ctrl+c\")\n"
         "  macro:SLOT               the macro stored in slot SLOT (1..80, as 'qvmctl macro\n"
         "                           list' shows), in the slot's run mode\n"
         "Buttons are numbered as 'qvmctl show' lists them. The only button of a profile\n"
         "that left-clicks keeps its left click unless --force is given.\n",
         3,
         kMaxAssignWords,
         RunAssign,
         {"--force"}},
        {"reset",
         "[--yes]",
         "restore the factory configuration",
         "Writes the factory configuration into the device, after asking (unless --yes).\n"
         "This is also how a device whose memory holds no configuration is initialised.\n",
         0,
         0,
         RunReset,
         {"--yes"}},
        {"backup", "FILE", "save the whole device memory to a file",
         "Writes the device's whole memory into FILE (a .bf backup file), as it is: the\n"
         "device is only read, whatever its memory holds.\n",
         1, 1, RunBackup},
        {"restore",
         "FILE | --first [--yes] [--force]",
         "write a backup file into the device",
         "Writes the memory saved in FILE back into the device and reloads it, after asking\n"
         "(unless --yes). Refused unless --force: a backup of another memory size, a backup\n"
         "whose first byte is not the configuration marker (the device would hold no\n"
         "configuration; 'reset' initialises it), and a file cut short (--force writes only\n"
         "the bytes it holds).\n"
         "--first writes back the device's first backup: the memory as it was before this\n"
         "computer first changed it, saved then in <user data>/backups.\n",
         0,
         1,
         RunRestore,
         {"--yes", "--force", "--first"}},
    };
    commands.insert(commands.end(), added.begin(), added.end());
}

}  // namespace qvm::cli
