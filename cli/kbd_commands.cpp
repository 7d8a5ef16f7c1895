// qvmctl commands for the keyboards' lighting: the effect with its speed, brightness,
// direction and colour, the side light, the per-key colours and RESET. The keys are the
// ones of keyboard.ini, the file the key picture of the desktop program is drawn from,
// named as that picture names them.
#include <algorithm>
#include <ostream>

#include "cli/commands.h"
#include "cli/json.h"
#include "cli/parse.h"
#include "cli/qvmctl.h"
#include "config/catalogue.h"
#include "lighting/keyboard_keys.h"
#include "platform/folders.h"

namespace qvm::cli {
namespace {

constexpr std::string_view kUsagePrefix = "usage:";
constexpr std::size_t kSuggestedKeys = 12;

// The keys of the program folder's keyboard.ini. A key goes by the name the file gives
// it; the name the key picture shows (an arrow for "Up") is taken as well.
struct KeyList {
    std::string file;
    KeyboardLayout layout;        // with the file's names
    KeyboardLayout picture;       // with the key picture's names, key for key
    std::vector<KeyOfKind> keys;  // the lit keys

    // Several keys may share a name ("Shift", "1").
    std::string NameOf(uint8_t usage) const {
        for (const KeyboardKey& k : layout.keys) {
            if (k.usage == usage) return k.name;
        }
        return std::string(kUsagePrefix) + std::to_string(usage);
    }
    std::vector<uint8_t> Named(const std::string& name) const {
        std::vector<uint8_t> usages;
        for (std::size_t i = 0; i < layout.keys.size() && i < picture.keys.size(); ++i) {
            const int usage = layout.keys[i].usage;
            const bool lit = std::any_of(keys.begin(), keys.end(),
                                         [&](const KeyOfKind& k) { return k.key == usage; });
            const bool named =
                IsWord(layout.keys[i].name, name) || IsWord(picture.keys[i].name, name);
            if (lit && named && std::find(usages.begin(), usages.end(), usage) == usages.end()) {
                usages.push_back(static_cast<uint8_t>(usage));
            }
        }
        return usages;
    }
    // A name that is not unique is shown with its usage.
    std::string ShownName(uint8_t usage) const {
        const std::string name = NameOf(usage);
        if (Named(name).size() <= 1) return name;
        return name + " (" + std::string(kUsagePrefix) + std::to_string(usage) + ")";
    }
};

KeyList LoadKeys() {
    const KeyNaming fileNames{[](int) { return std::string(); }, [](int) { return std::string(); }};
    const KeyNaming pictureNames{[](int usage) { return std::string(KeyName(usage)); },
                                 [](int usage) { return ConsumerName(usage); }};
    KeyList list;
    list.file = JoinPath(ProgramFolder(), "keyboard.ini");
    list.layout = LoadKeyboardLayout(list.file, fileNames);
    list.picture = LoadKeyboardLayout(list.file, pictureNames);
    list.keys = LightingKeys(list.layout);
    return list;
}

std::string NoKeys(const KeyList& list) {
    return "no lit keys are known: " + list.file + " is missing or names no key with a HID usage";
}

// A keyboard session, or the status to leave with. A mouse is refused before anything
// is sent to it.
struct LitKeyboard {
    std::unique_ptr<Session> session;
    std::unique_ptr<KeyboardLighting> lighting;
};

std::optional<LitKeyboard> OpenKeyboard(CommandContext& c, int& status) {
    auto target = OpenTarget(c, status);
    if (!target) return std::nullopt;
    const std::string& path = target->path;
    if (target->session->Values().ModelCode(path) != kKeyboardModelCode) {
        status = Fail(c.err, kExitUsage,
                      path +
                          " is not a keyboard: a mouse's lighting is set with qvmctl light "
                          "(see qvmctl list and --device to pick the keyboard)");
        return std::nullopt;
    }
    auto lighting = std::make_unique<KeyboardLighting>(target->session->Keyboards(), path);
    return LitKeyboard{std::move(target->session), std::move(lighting)};
}

// A device operation's failure: exit 2 for what the lighting refused as bad input.
int Failed(CommandContext& c, const Error& error, const std::string& what) {
    return Fail(c.err, ExitStatusOf(error.kind), what + ": " + error.message);
}

std::string EffectText(int effect) {
    const auto effects = KeyboardEffects();
    if (effect < 0 || effect >= static_cast<int>(effects.size())) return std::to_string(effect);
    return std::string(effects[static_cast<std::size_t>(effect)].name) + " (" +
           std::to_string(effect) + ")";
}

std::string_view DirectionName(int direction) {
    const auto names = KeyboardDirections();
    if (direction < 0 || direction >= static_cast<int>(names.size())) return "?";
    return names[static_cast<std::size_t>(direction)];
}

bool IsBlack(const KeyColour& k) {
    return k.red == 0 && k.green == 0 && k.blue == 0;
}

void PrintStateText(std::ostream& out, const KeyboardLightingState& s) {
    out << "effect: " << EffectText(s.effect) << '\n'
        << "speed: " << s.speed << '\n'
        << "brightness: " << s.brightness << '\n'
        << "direction: " << DirectionName(s.direction) << '\n'
        << "colour 1: " << ColourText(s.colour1) << '\n'
        << "colour 2: " << ColourText(s.colour2) << '\n'
        << "side LED: " << (s.sideLed ? "on" : "off") << '\n';
}

int RunKbdShow(CommandContext& c) {
    int status = kExitOk;
    auto kb = OpenKeyboard(c, status);
    if (!kb) return status;
    if (auto read = kb->lighting->ReadLightingState(); !read) {
        return Failed(c, read.error(), "cannot read the lighting");
    }
    const KeyList list = LoadKeys();
    std::vector<KeyColourAt> colours;
    if (!list.keys.empty()) {
        std::vector<uint8_t> usages;
        for (const KeyOfKind& k : list.keys) usages.push_back(k.key);
        auto read = kb->lighting->ReadKeyColours(usages);
        if (!read) return Failed(c, read.error(), "cannot read the key colours");
        // In the order of keyboard.ini, as the key picture lists them.
        for (const KeyOfKind& k : list.keys) {
            const auto at = std::find_if(read->begin(), read->end(),
                                         [&](const KeyColourAt& r) { return r.key == k.key; });
            if (at != read->end()) colours.push_back(*at);
        }
    }
    const KeyboardLightingState& s = kb->lighting->State();
    if (c.Flag("--json")) {
        JsonWriter j(c.out);
        j.BeginObject().Key("device").String(kb->lighting->Path());
        j.Key("effect").Int(s.effect);
        j.Key("effect_name").String(KeyboardEffects()[static_cast<std::size_t>(s.effect)].name);
        j.Key("speed").Int(s.speed).Key("brightness").Int(s.brightness);
        j.Key("direction").String(DirectionName(s.direction));
        j.Key("colour1").String(ColourText(s.colour1));
        j.Key("colour2").String(ColourText(s.colour2));
        j.Key("side_led").Bool(s.sideLed).Key("keys");
        if (list.keys.empty()) {
            j.Null();
        } else {
            j.BeginArray();
            for (const KeyColourAt& k : colours) {
                j.BeginObject().Key("key").String(list.NameOf(k.key)).Key("usage").Int(k.key);
                j.Key("colour").String(ColourText({k.colour.red, k.colour.green, k.colour.blue}));
                j.EndObject();
            }
            j.EndArray();
        }
        j.EndObject();
    } else {
        c.out << "device: " << Shown(kb->lighting->Path()) << '\n';
        PrintStateText(c.out, s);
        std::size_t lit = 0;
        for (const KeyColourAt& k : colours) {
            if (IsBlack(k.colour)) continue;
            if (lit++ == 0) c.out << "key colours (the keys that are not black):\n";
            c.out << "  " << Shown(list.ShownName(k.key)) << ": "
                  << ColourText({k.colour.red, k.colour.green, k.colour.blue}) << '\n';
        }
        if (lit == 0 && !list.keys.empty()) c.out << "key colours: every key is black\n";
    }
    if (list.keys.empty())
        return Fail(c.err, kExitDevice, "key colours not shown: " + NoKeys(list));
    return kExitOk;
}

// An effect by name in any case ("ripple", "Horse race lamp") or by number 0 to 13.
Result<int> ParseEffect(const std::string& text) {
    if (LooksLikeNumber(text)) {
        auto n = ParseNumber(text, 0, kKeyboardEffectCount - 1, "effect");
        if (!n) return n.error();
        return static_cast<int>(*n);
    }
    if (auto named = KeyboardEffectNamed(text)) return *named;
    std::string names;
    for (std::size_t i = 1; i < KeyboardEffects().size(); ++i) {
        names += (i > 1 ? ", " : "") + std::string(KeyboardEffects()[i].name);
    }
    return MakeError("unknown effect '" + text + "': effects are " + names + " or a number 0.." +
                     std::to_string(kKeyboardEffectCount - 1));
}

Result<std::optional<int>> LevelOption(const CommandContext& c, const char* option,
                                       const char* what) {
    const auto text = c.Value(option);
    if (!text) return std::optional<int>();
    auto n = ParseNumber(*text, 0, kMaxKeyboardLevel, what);
    if (!n) return n.error();
    return std::optional<int>(static_cast<int>(*n));
}

int RunKbdEffect(CommandContext& c) {
    KeyboardEffectChange change;
    auto effect = ParseEffect(c.args[0]);
    if (!effect) return Fail(c.err, kExitUsage, effect.message());
    change.effect = *effect;
    auto speed = LevelOption(c, "--speed", "speed");
    if (!speed) return Fail(c.err, kExitUsage, speed.message());
    change.speed = *speed;
    auto brightness = LevelOption(c, "--brightness", "brightness");
    if (!brightness) return Fail(c.err, kExitUsage, brightness.message());
    change.brightness = *brightness;
    if (const auto direction = c.Value("--direction")) {
        change.direction = KeyboardDirectionNamed(*direction);
        if (!change.direction) {
            return Fail(c.err, kExitUsage,
                        "direction '" + *direction + "': expected left, right, up or down");
        }
    }
    if (const auto colour = c.Value("--colour")) {
        if (*effect == kCustomKeyboardEffect) {
            return Fail(c.err, kExitUsage,
                        "the custom effect takes no --colour: its key colours are set with "
                        "qvmctl kbd keys");
        }
        auto rgb = ParseColour(*colour);
        if (!rgb) return Fail(c.err, kExitUsage, rgb.message());
        change.colour = *rgb;
    }
    int status = kExitOk;
    auto kb = OpenKeyboard(c, status);
    if (!kb) return status;
    if (Status set = kb->lighting->ChangeEffect(change); !set) {
        return Failed(c, set.error(), "cannot set the lighting effect");
    }
    PrintStateText(c.out, kb->lighting->State());
    return kExitOk;
}

int RunKbdSide(CommandContext& c) {
    auto on = ParseOnOff(c.args[0], "side LED");
    if (!on) return Fail(c.err, kExitUsage, on.message());
    int status = kExitOk;
    auto kb = OpenKeyboard(c, status);
    if (!kb) return status;
    if (Status set = kb->lighting->SetSideLed(*on); !set) {
        return Failed(c, set.error(), "cannot switch the side LED");
    }
    c.out << "side LED: " << (*on ? "on" : "off") << '\n';
    return kExitOk;
}

// KEY of KEY=#RRGGBB: usage:N, or a name of keyboard.ini that names one lit key.
Result<uint8_t> ParseKey(const std::string& key, const KeyList& list) {
    if (key.starts_with(kUsagePrefix)) {
        auto n = ParseNumber(key.substr(kUsagePrefix.size()), 1, 255, "key usage");
        if (!n) return n.error();
        return static_cast<uint8_t>(*n);
    }
    if (list.keys.empty()) return MakeError("cannot name key '" + key + "': " + NoKeys(list));
    const std::vector<uint8_t> named = list.Named(key);
    if (named.size() == 1) return named.front();
    if (named.size() > 1) {
        std::string usages;
        for (const uint8_t usage : named) {
            usages +=
                (usages.empty() ? "" : " or ") + std::string(kUsagePrefix) + std::to_string(usage);
        }
        return MakeError("several keys are called '" + key + "': write " + usages);
    }
    std::string some;
    for (std::size_t i = 0; i < list.keys.size() && i < kSuggestedKeys; ++i) {
        some += list.NameOf(list.keys[i].key) + ", ";
    }
    return MakeError("unknown key '" + key + "': " + list.file + " names keys such as " + some +
                     "... (or write usage:N)");
}

int RunKbdKeys(CommandContext& c) {
    const KeyList list = LoadKeys();
    std::vector<KeyColourAt> keys;
    for (const std::string& arg : c.args) {
        const std::size_t eq = arg.rfind('=');
        if (eq == std::string::npos || eq == 0) {
            return Fail(c.err, kExitUsage, "'" + arg + "': expected KEY=#RRGGBB");
        }
        auto key = ParseKey(arg.substr(0, eq), list);
        if (!key) return Fail(c.err, kExitUsage, key.message());
        auto rgb = ParseColour(arg.substr(eq + 1));
        if (!rgb) return Fail(c.err, kExitUsage, arg.substr(0, eq) + ": " + rgb.message());
        const auto same = [&](const KeyColourAt& k) { return k.key == *key; };
        if (std::any_of(keys.begin(), keys.end(), same)) {
            return Fail(c.err, kExitUsage, "key '" + arg.substr(0, eq) + "' is given twice");
        }
        keys.push_back({*key, {rgb->red, rgb->green, rgb->blue, true}});
    }
    int status = kExitOk;
    auto kb = OpenKeyboard(c, status);
    if (!kb) return status;
    if (Status set = kb->lighting->WriteKeyColours(keys); !set) {
        return Failed(c, set.error(), "cannot set the key colours");
    }
    c.out << "set " << keys.size() << " key colour" << (keys.size() == 1 ? "" : "s") << '\n';
    if (kb->lighting->State().effect != kCustomKeyboardEffect) {
        c.out << "the keys show their own colours in the custom effect (qvmctl kbd effect "
                 "customize); now: "
              << EffectText(kb->lighting->State().effect) << '\n';
    }
    return kExitOk;
}

int RunKbdReset(CommandContext& c) {
    constexpr const char* kWhat =
        "the lighting to Rainbow at brightness 4, speed 0, direction Left, the side LED on, "
        "W, A, S, D and the arrow keys red and every other key black";
    if (!c.Flag("--yes")) {
        return Fail(c.err, kExitUsage,
                    std::string("kbd reset sets ") + kWhat + "; add --yes to do it");
    }
    const KeyList list = LoadKeys();
    if (list.keys.empty()) {
        return Fail(c.err, kExitDevice,
                    "cannot reset the key colours: " + NoKeys(list) + "; nothing was sent");
    }
    int status = kExitOk;
    auto kb = OpenKeyboard(c, status);
    if (!kb) return status;
    if (Status reset = kb->lighting->Reset(list.keys); !reset) {
        return Failed(c, reset.error(), "the reset did not finish");
    }
    PrintStateText(c.out, kb->lighting->State());
    return kExitOk;
}

}  // namespace

void AddKeyboardCommands(std::vector<CommandSpec>& commands) {
    const std::vector<CommandSpec> kbd = {
        {"kbd show",
         "[--json]",
         "show a keyboard's lighting",
         "Prints the keyboard's effect by name and number, speed and brightness (0 to 4),\n"
         "direction, colour 1 (used by Static), colour 2 (used by the other effects that\n"
         "take a colour), the side LED, and the keys of keyboard.ini whose colour is not\n"
         "black. With --json: device, effect, effect_name, speed, brightness, direction,\n"
         "colour1, colour2, side_led and keys [{key, usage, colour}] with every key.\n",
         0,
         0,
         RunKbdShow,
         {"--json"}},
        {"kbd effect",
         "NAME [--speed N] [--brightness N] [--direction D] [--colour #RRGGBB]",
         "set a keyboard's lighting effect",
         "NAME is an effect in any case or its number 0 to 13: Rainbow (1), Static (2),\n"
         "Breathing (3), Rain (4), \"Horse race lamp\" (5), \"Twinkling stars\" (6),\n"
         "\"One Click\" (7), \"Water drop\" (8), Cross (9), Ripple (10), \"Ripple 2\" (11),\n"
         "Aurora (12), Customize (13: the colours of `kbd keys`).\n"
         "  --speed N            0 to 4, higher is faster\n"
         "  --brightness N       0 to 4\n"
         "  --direction D        left, right, up or down\n"
         "  --colour #RRGGBB     colour 1 for Static, colour 2 for the others; black is\n"
         "                       sent as red; refused for Customize; quote it or leave\n"
         "                       the # out (the shell takes # for a comment)\n"
         "What is not given stays as the keyboard has it.\n",
         1,
         1,
         RunKbdEffect,
         {},
         {"--speed", "--brightness", "--direction", "--colour"}},
        {"kbd side", "on|off", "switch a keyboard's side LED", "Switches the side LED on or off.\n",
         1, 1, RunKbdSide},
        {"kbd keys", "KEY=#RRGGBB...", "set the colours of keys of a keyboard",
         "Gives each KEY its colour for the custom effect. KEY is a key as keyboard.ini\n"
         "names it (W, A, Esc, F1, Space...; any case), or usage:N with the key's HID\n"
         "usage N (1 to 255) for a key whose name several keys share.\n"
         "Example: kbd keys W=#FF0000 A=#FF0000 S=#FF0000 D=#FF0000\n",
         1, 128, RunKbdKeys},
        {"kbd reset",
         "--yes",
         "reset a keyboard's lighting",
         "Sets the lighting to Rainbow at brightness 4, speed 0, direction Left with the\n"
         "side LED on, W, A, S, D and the arrow keys red and every other key of\n"
         "keyboard.ini black. Refused without --yes.\n",
         0,
         0,
         RunKbdReset,
         {"--yes"}},
    };
    commands.insert(commands.end(), kbd.begin(), kbd.end());
}

}  // namespace qvm::cli
