// qvmctl commands for a mouse's lighting: the lighting effect (generations 3 and above)
// and the colour records of its LEDs. The mode rules live in the lighting layer; these
// commands only parse, apply them in the order given, and store every LED in one call.
#include <algorithm>
#include <ostream>
#include <sstream>

#include "cli/commands.h"
#include "cli/json.h"
#include "cli/parse.h"
#include "cli/qvmctl.h"
#include "lighting/mouse_lighting.h"

namespace qvm::cli {
namespace {

// One step of `light led`: a colour of the LED's own, or a mode.
struct LedStep {
    std::optional<Rgb> colour;
    LedMode mode = LedMode::On;
};

struct ModeWord {
    const char* word;
    LedMode mode;
};
constexpr ModeWord kModeWords[] = {
    {"on", LedMode::On},
    {"off", LedMode::Off},
    {"breathing", LedMode::Breathing},
    {"profile", LedMode::Profile},
};

// LEDs are numbered from 1 for the user, as the window numbers them and as qvmctl numbers
// profiles, stages and buttons; the device's index is one less.
constexpr int kFirstLedNumber = 1;
constexpr int kLastLedNumber = kLedCount;

std::string LedNumberText(int led) {
    return std::to_string(led + kFirstLedNumber);
}

// The device index of the LED numbered `text`.
Result<int> LedNumber(const std::string& text) {
    auto n = ParseNumber(text, kFirstLedNumber, kLastLedNumber, "LED");
    if (!n) return n.error();
    return static_cast<int>(*n) - kFirstLedNumber;
}

// "4", "1,3,6", "1-4" or a mix of them ("1-4,8"), each LED once, in ascending order.
Result<std::vector<int>> ParseLeds(const std::string& text) {
    std::vector<int> leds;
    std::istringstream parts(text);
    std::string part;
    while (std::getline(parts, part, ',')) {
        const std::size_t dash = part.find('-', 1);
        auto first = LedNumber(part.substr(0, dash));
        if (!first) return first.error();
        auto last = dash == std::string::npos ? first : LedNumber(part.substr(dash + 1));
        if (!last) return last.error();
        if (*last < *first) {
            return MakeError("LED range '" + part + "' runs backwards: write it as " +
                             LedNumberText(*last) + "-" + LedNumberText(*first));
        }
        for (int led = *first; led <= *last; ++led) leds.push_back(led);
    }
    if (leds.empty() || text.ends_with(',')) {
        return MakeError("LEDs '" + text + "': expected an LED " + std::to_string(kFirstLedNumber) +
                         ".." + std::to_string(kLastLedNumber) +
                         ", a list such as 1,3,6 or a range such as 1-4");
    }
    std::sort(leds.begin(), leds.end());
    leds.erase(std::unique(leds.begin(), leds.end()), leds.end());
    return leds;
}

Result<LedStep> ParseLedStep(const std::string& word) {
    for (const ModeWord& m : kModeWords) {
        if (IsWord(word, m.word)) return LedStep{std::nullopt, m.mode};
    }
    // A shell takes a word that starts with # for a comment, so the # may be left out.
    if (word.starts_with('#') || word.size() == 6) {
        auto colour = ParseColour(word);
        if (colour) return LedStep{*colour, LedMode::On};
        if (word.starts_with('#')) return colour.error();
    }
    return MakeError("'" + word + "': expected #RRGGBB, on, off, breathing or profile");
}

// The word a record's state is shown by. An LED that follows the profile colour may
// breathe as well; the JSON says so in a field of its own.
const char* LedModeWord(const LedColour& record) {
    if (IsLedOff(record)) return "off";
    if ((record.flags & kLedOwnColour) == 0) return "profile";
    return (record.flags & kLedBreathing) != 0 ? "breathing" : "on";
}

// The colour the LED shows: its own, or the current profile's when it follows the profile
// (its record then keeps whatever colour bytes it had, which the LED does not show).
Rgb ShownColour(const LedColour& record, const Rgb& profileColour) {
    if ((record.flags & kLedOwnColour) == 0) return profileColour;
    return {record.red, record.green, record.blue};
}

std::string LedLine(int led, const LedColour& record, const Rgb& profileColour) {
    std::string line = "LED " + LedNumberText(led) + ": " +
                       ColourText(ShownColour(record, profileColour)) + " " + LedModeWord(record);
    const bool profileBreathing =
        (record.flags & kLedOwnColour) == 0 && (record.flags & kLedBreathing) != 0;
    return line + (profileBreathing ? ", breathing" : "");
}

// A mouse session with its configuration loaded, or the status to leave with. A keyboard
// is refused before anything is loaded.
struct LitMouse {
    std::unique_ptr<Session> session;
    ConfigModel* model = nullptr;
    int generation = 0;
    bool extended = false;
};

std::optional<LitMouse> OpenMouse(CommandContext& c, int& status) {
    auto target = OpenTarget(c, status);
    if (!target) return std::nullopt;
    const std::string& path = target->path;
    const DeviceValues values = target->session->Values().Get(path);
    if (values.ModelCode == kKeyboardModelCode) {
        status = Fail(c.err, kExitUsage,
                      path +
                          " is a keyboard: its lighting is set with qvmctl kbd (see qvmctl "
                          "kbd --help)");
        return std::nullopt;
    }
    LitMouse mouse{std::move(target->session), nullptr, values.ProtocolGeneration,
                   values.ExtendedLayoutFlag != 0};
    auto model = mouse.session->LoadConfigurationOf(path);
    if (!model) {
        status = Fail(c.err, ExitStatusOf(model.kind()), model.message());
        return std::nullopt;
    }
    mouse.model = *model;
    return mouse;
}

int NoLedTable(CommandContext& c, const LitMouse& mouse) {
    return Fail(c.err, kExitUsage,
                "this mouse (protocol generation " + std::to_string(mouse.generation) +
                    ") keeps no LED colours; nothing was sent");
}

int RunLightShow(CommandContext& c) {
    int status = kExitOk;
    auto mouse = OpenMouse(c, status);
    if (!mouse) return status;
    const auto image = mouse->model->Snapshot();
    const auto effect = MouseLightingEffect(*image);
    const Rgb profileColour = LedProfileColour(*image);
    std::optional<LedTable> leds;
    if (LedTableFor(mouse->generation, mouse->extended)) {
        auto read = ReadLedTable(*mouse->model);
        if (!read) return Fail(c.err, ExitStatusOf(read.kind()), read.message());
        leds = *read;
    }
    if (c.Flag("--json")) {
        JsonWriter j(c.out);
        j.BeginObject().Key("device").String(mouse->model->Path());
        j.Key("generation").Int(mouse->generation).Key("effect");
        effect ? j.Int(*effect) : j.Null();
        j.Key("leds");
        if (!leds) {
            j.Null();
        } else {
            j.BeginArray();
            for (int i = 0; i < kLedCount; ++i) {
                const LedColour& r = (*leds)[static_cast<std::size_t>(i)];
                j.BeginObject()
                    .Key("led")
                    .Int(i + kFirstLedNumber)
                    .Key("colour")
                    .String(ColourText(ShownColour(r, profileColour)));
                j.Key("mode").String(LedModeWord(r));
                j.Key("breathing").Bool((r.flags & kLedBreathing) != 0).EndObject();
            }
            j.EndArray();
        }
        j.EndObject();
        return kExitOk;
    }
    c.out << "device: " << Shown(mouse->model->Path()) << '\n';
    if (effect) {
        c.out << "lighting effect: " << *effect << " (0.." << kMaxMouseLightingEffect << ")\n";
    } else {
        c.out << "lighting effect: none (protocol generation " << mouse->generation
              << " has no lighting effect)\n";
    }
    if (!leds) {
        c.out << "LED colours: none (this mouse keeps no LED colour table)\n";
        return kExitOk;
    }
    for (int i = 0; i < kLedCount; ++i) {
        c.out << LedLine(i, (*leds)[static_cast<std::size_t>(i)], profileColour) << '\n';
    }
    return kExitOk;
}

int RunLightEffect(CommandContext& c) {
    auto effect = ParseNumber(c.args[0], 0, kMaxMouseLightingEffect, "lighting effect");
    if (!effect) return Fail(c.err, kExitUsage, effect.message());
    int status = kExitOk;
    auto mouse = OpenMouse(c, status);
    if (!mouse) return status;
    const Status set = SetMouseLightingEffect(*mouse->model, static_cast<int>(*effect));
    if (!set) return Fail(c.err, ExitStatusOf(set.kind()), set.message() + "; nothing was sent");
    c.out << "lighting effect: " << *effect << '\n';
    return kExitOk;
}

int RunLightLed(CommandContext& c) {
    auto leds = ParseLeds(c.args[0]);
    if (!leds) return Fail(c.err, kExitUsage, leds.message());
    std::vector<LedStep> steps;
    for (std::size_t i = 1; i < c.args.size(); ++i) {
        auto step = ParseLedStep(c.args[i]);
        if (!step) return Fail(c.err, kExitUsage, step.message());
        steps.push_back(*step);
    }
    int status = kExitOk;
    auto mouse = OpenMouse(c, status);
    if (!mouse) return status;
    if (!LedTableFor(mouse->generation, mouse->extended)) return NoLedTable(c, *mouse);
    auto table = ReadLedTable(*mouse->model);
    if (!table) return Fail(c.err, ExitStatusOf(table.kind()), table.message());
    const Rgb profileColour = LedProfileColour(*mouse->model->Snapshot());
    std::vector<LedEdit> edits;
    for (const int led : *leds) {
        LedColour record = (*table)[static_cast<std::size_t>(led)];
        for (const LedStep& step : steps) {
            record = step.colour ? WithLedColour(record, *step.colour)
                                 : ApplyLedMode(record, step.mode, profileColour);
        }
        edits.push_back({led, record});
    }
    const Status stored = StoreLedColours(*mouse->model, edits);
    if (!stored) {
        return Fail(c.err, ExitStatusOf(stored.kind()),
                    "cannot store the LED colours: " + stored.message());
    }
    for (const LedEdit& e : edits) c.out << LedLine(e.led, e.record, profileColour) << '\n';
    return kExitOk;
}

}  // namespace

void AddLightCommands(std::vector<CommandSpec>& commands) {
    const std::vector<CommandSpec> light = {
        {"light show",
         "[--json]",
         "show a mouse's lighting effect and LED colours",
         "Prints the mouse's lighting effect (0 to 4; generations 3 and above) and the record\n"
         "of each of its 16 LEDs: the colour #rrggbb and the mode, one of\n"
         "  on         the LED shows its own colour\n"
         "  breathing  the LED breathes its own colour\n"
         "  off        the LED is dark\n"
         "  profile    the LED follows the current profile's colour (it may breathe too)\n"
         "A mouse without a lighting effect or without LED colours is said to be so.\n"
         "With --json: device, generation, effect (null when none) and leds [{led, colour,\n"
         "mode, breathing}] (null when the mouse keeps no LED colours).\n",
         0,
         0,
         RunLightShow,
         {"--json"}},
        {"light effect", "N", "set a mouse's lighting effect",
         "Sets the mouse's lighting effect N, 0 to 4. Mice below protocol generation 3 have\n"
         "none: nothing is sent to them.\n",
         1, 1, RunLightEffect},
        {"light led", "LEDS MODE...", "set the colour and mode of a mouse's LEDs",
         "LEDS is one LED (1 to 16), a list such as 1,3,6 or a range such as 1-4.\n"
         "Each MODE is applied in the order given to every LED of LEDS:\n"
         "  #RRGGBB    the LED's own colour (it keeps breathing when it did); quote it,\n"
         "             or leave the # out, for the shell takes # for a comment\n"
         "  on         the LED's own colour, steady\n"
         "  breathing  the LED breathes\n"
         "  off        the LED is dark\n"
         "  profile    the LED follows the current profile's colour\n"
         "Example: light led 1 #0000FF breathing   makes LED 1 breathe blue.\n"
         "The LEDs are stored in the mouse's memory and kept across restarts.\n",
         2, 16, RunLightLed},
    };
    commands.insert(commands.end(), light.begin(), light.end());
}

}  // namespace qvm::cli
