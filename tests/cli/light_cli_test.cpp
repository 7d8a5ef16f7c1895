// qvmctl's lighting commands on simulated mice and keyboards: the bytes that reach the
// device memory and the keyboard, refusals that send nothing, and what a later run reads.
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>

#include "held_sim.h"
#include "run_qvmctl.h"
#include "support/temp_folder.h"

namespace qvm::cli {
namespace {

using Bytes = std::vector<uint8_t>;

// A mouse command, run after `before` when given, and the LED records or effect byte it
// must leave in device memory.
TEST(QvmctlLight, MouseCommandsStoreTheRecordBytes) {
    struct Case {
        const char* devices;
        std::vector<std::string> before;
        std::vector<std::string> args;
        uint32_t address;
        Bytes bytes;
    };
    const std::vector<std::string> blueBreathing = {"light", "led", "1-4", "#0000FF", "breathing"};
    const Case cases[] = {
        {"g11", blueBreathing, {"light", "led", "4", "off"}, 0x50C, {0x00, 0x00, 0x00, 0x80}},
        {"g12", {}, {"light", "led", "1", "#0000FF", "breathing"}, 0x500, {0x00, 0x00, 0xFF, 0xC0}},
        {"g12", blueBreathing, {"light", "led", "3", "on"}, 0x508, {0x00, 0x00, 0xFF, 0x80}},
        {"g12", blueBreathing, {"light", "led", "2", "00Ff00"}, 0x504, {0x00, 0xFF, 0x00, 0xC0}},
        {"g5x",
         {},
         {"light", "led", "2-3", "#12a4Fe"},
         0x464,
         {0x12, 0xA4, 0xFE, 0x80, 0x12, 0xA4, 0xFE, 0x80}},
        {"g12",
         {},
         {"light", "led", "1,3", "#010203"},
         0x500,
         {1, 2, 3, 0x80, 0, 0, 0, 0, 1, 2, 3, 0x80}},
        {"g12", {}, {"light", "effect", "4"}, 0x11, {0x04}},
        {"g5", {}, {"light", "effect", "0"}, 0x11, {0x00}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.devices) + " " + c.args[1] + " " + c.args[2]);
        HeldMouse held(c.devices);
        if (!c.before.empty()) {
            ASSERT_EQ(held.Run(c.before).status, kExitOk);
        }
        const Outcome run = held.Run(c.args);
        ASSERT_EQ(run.status, kExitOk) << run.err;
        EXPECT_EQ(held.Device().PeekMemory(c.address, c.bytes.size()), c.bytes);
    }
}

// What each device holds: a mouse's memory, a keyboard's lighting state.
struct Held {
    std::vector<Bytes> memories;
    std::vector<SimKeyboardLighting> keyboards;
    bool operator==(const Held&) const = default;
};

Held Contents(HeldMouse& sim) {
    Held held;
    for (std::size_t i = 0; i < sim.sim->DeviceCount(); ++i) {
        SimDevice& d = sim.Device(i);
        if (d.IsKeyboard()) {
            held.keyboards.push_back(d.KeyboardLighting());
        } else {
            held.memories.push_back(d.PeekMemory(0, d.Config().memorySize));
        }
    }
    return held;
}

// Bad values and the wrong kind of device are refused with exit 2 and a message that
// says why, and neither the mouse's memory nor the keyboard's lighting changes.
TEST(QvmctlLight, RefusalsChangeNothing) {
    struct Case {
        const char* devices;
        std::vector<std::string> args;
        const char* message;
    };
    const Case cases[] = {
        {"g12", {"light", "effect", "5"}, "allowed 0..4"},
        {"g2", {"light", "effect", "1"}, "has no lighting effect"},
        {"g5", {"light", "led", "1", "on"}, "keeps no LED colours"},
        {"g12", {"light", "led", "0", "on"}, "LED 0 is out of range: allowed 1..16"},
        {"g12", {"light", "led", "1,", "on"}, "expected an LED"},
        {"g12", {"light", "led", "4-2", "on"}, "backwards"},
        {"g12", {"light", "led", "1", "#12345"}, "colour '#12345': expected #RRGGBB"},
        {"g12", {"light", "led", "1", "blink"}, "expected #RRGGBB, on, off"},
        {"mx28,g12", {"light", "show"}, "is a keyboard"},
        {"g12,mx28", {"kbd", "side", "on"}, "is not a keyboard"},
        {"mx28",
         {"kbd", "effect", "ripple", "--speed", "5"},
         "speed 5 is out of range: allowed 0..4"},
        {"mx28", {"kbd", "effect", "ripple", "--brightness=-1"}, "brightness -1 is negative"},
        {"mx28", {"kbd", "effect", "ripple", "--direction", "diagonal"}, "left, right, up or down"},
        {"mx28", {"kbd", "effect", "ripple", "--colour", "#12345"}, "expected #RRGGBB"},
        {"mx28", {"kbd", "effect", "14"}, "allowed 0..13"},
        {"mx28", {"kbd", "effect", "customize", "--colour", "#112233"}, "qvmctl kbd keys"},
        {"mx28", {"kbd", "keys", "W=#FF0000", "Foo=#00FF00"}, "unknown key 'Foo'"},
        {"mx28", {"kbd", "keys", "Shift=#FF0000"}, "usage:225 or usage:229"},
        {"mx28", {"kbd", "keys", "W=#FF0000", "w=#00FF00"}, "given twice"},
        {"mx28", {"kbd", "keys", "usage:256=#FF0000"}, "allowed 1..255"},
        {"mx28", {"kbd", "reset"}, "add --yes"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.devices) + " " + c.args[1] + " " + c.args.back());
        HeldMouse held(c.devices);
        const Held before = Contents(held);
        const Outcome run = held.Run(c.args);
        EXPECT_EQ(run.status, kExitUsage);
        EXPECT_TRUE(Has(run.err, c.message)) << run.err;
        EXPECT_TRUE(Contents(held) == before);
    }
}

// Each keyboard command, the bytes the keyboard then holds, and what `kbd show` reads.
TEST(QvmctlLight, KeyboardCommandsReachTheKeyboardAndShowBack) {
    using Lighting = SimKeyboardLighting;
    struct Step {
        std::vector<std::string> args;
        std::function<bool(const Lighting&)> holds;
        std::vector<std::string> show;
        const char* shown;
    };
    const Step steps[] = {
        {{"kbd", "effect", "RIPPLE", "--colour", "#123456", "--speed", "3"},
         [](const Lighting& l) {
             return l.effect == 10 && l.speed == 3 &&
                    l.colour2 == std::array<uint8_t, 4>{0x12, 0x34, 0x56, 1};
         },
         {"kbd", "show", "--json"},
         "\"effect\": 10,\n  \"effect_name\": \"Ripple\",\n  \"speed\": 3,\n  \"brightness\": 4,\n"
         "  \"direction\": \"Left\",\n  \"colour1\": \"#000000\",\n  \"colour2\": \"#123456\""},
        {{"kbd", "keys", "W=#FF0000", "a=#00ff00", "S=#0000FF", "usage:7=#FFFFFF"},
         [](const Lighting& l) {
             return l.keys[0x1A][0] == 0xFF && l.keys[0x04][1] == 0xFF && l.keys[0x16][2] == 0xFF &&
                    l.keys[0x07] == std::array<uint8_t, 4>{0xFF, 0xFF, 0xFF, 0};
         },
         {"kbd", "show"},
         "key colours (the keys that are not black):\n  W: #ff0000\n  A: #00ff00\n  S: #0000ff\n"
         "  D: #ffffff\n"},
        {{"kbd", "effect", "static", "--colour", "#000000", "--direction", "Up"},
         [](const Lighting& l) {
             return l.effect == 2 && l.direction == 2 &&
                    l.colour1 == std::array<uint8_t, 4>{0xFF, 0, 0, 0};
         },
         {"kbd", "show"},
         "effect: Static (2)\nspeed: 3\nbrightness: 4\ndirection: Up\ncolour 1: #ff0000\n"},
        {{"kbd", "side", "off"},
         [](const Lighting& l) { return l.sideLight == 0; },
         {"kbd", "show"},
         "side LED: off\n"},
        {{"kbd", "reset", "--yes"},
         [](const Lighting& l) {
             return l.effect == 1 && l.brightness == 4 && l.sideLight != 0 &&
                    l.keys[0x52][0] == 0xFF &&
                    l.keys[0x04] == std::array<uint8_t, 4>{0xFF, 0, 0, 0} && l.keys[0x05][0] == 0;
         },
         {"kbd", "show"},
         "effect: Rainbow (1)\nspeed: 0\nbrightness: 4\n"},
    };
    HeldMouse held("mx28");
    for (const Step& step : steps) {
        SCOPED_TRACE(step.args[1]);
        const Outcome run = held.Run(step.args);
        ASSERT_EQ(run.status, kExitOk) << run.err;
        EXPECT_TRUE(step.holds(held.Device().KeyboardLighting()));
        const Outcome show = held.Run(step.show);
        ASSERT_EQ(show.status, kExitOk) << show.err;
        EXPECT_TRUE(Has(show.out, step.shown)) << show.out;
    }
}

// Settings made by one run are what later runs read: in-process on the user folder's
// state files, and through qvm-sim processes over the device bridge.
TEST(QvmctlLight, SettingsOutliveTheRun) {
    const std::vector<std::vector<std::string>> sets = {
        {"light", "led", "1", "#0000FF", "breathing"},
        {"light", "effect", "3"},
        {"--device", "2", "kbd", "effect", "ripple", "--colour", "#123456"},
        {"--device", "2", "kbd", "keys", "W=#FF0000", "A=#FF0000", "S=#FF0000", "D=#FF0000"},
    };
    const std::vector<std::pair<std::vector<std::string>, std::string>> reads = {
        {{"light", "show"},
         "lighting effect: 3 (0..4)\nLED 1: #0000ff breathing\nLED 2: #ff2c00 profile\n"},
        {{"--device", "2", "kbd", "show"},
         "effect: Ripple (10)\nspeed: 2\nbrightness: 4\ndirection: Left\ncolour 1: #000000\n"
         "colour 2: #123456\nside LED: on\nkey colours (the keys that are not black):\n"
         "  W: #ff0000\n  A: #ff0000\n  S: #ff0000\n  D: #ff0000\n"},
    };
    for (const bool bridged : {false, true}) {
        SCOPED_TRACE(bridged ? "bridge" : "in-process");
        test::TempFolder folder;
        std::filesystem::create_directories(folder.File("bridge"));
        const auto via = [&](std::vector<std::string> args) {
            if (!bridged) return OnSim("g12,mx28", std::move(args));
            args.insert(args.begin(), {"--hid", SimBridge("g12,mx28", folder.File("bridge"))});
            return args;
        };
        for (const auto& set : sets) {
            const Outcome run = Qvmctl(via(set));
            ASSERT_EQ(run.status, kExitOk) << run.err;
        }
        for (const auto& [args, expected] : reads) {
            const Outcome run = Qvmctl(via(args));
            ASSERT_EQ(run.status, kExitOk) << run.err;
            EXPECT_TRUE(Has(run.out, expected)) << run.out;
        }
    }
}

}  // namespace
}  // namespace qvm::cli
