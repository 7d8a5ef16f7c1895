#include "macro/macro_recorder.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <tuple>
#include <variant>
#include <vector>

#include "support/fake_clock.h"

// Helpers live in a namespace of their own: the test files are compiled together.
namespace qvm::recorder_test {
namespace {

using Bytes = std::vector<uint8_t>;
using Placement = RecorderOutput::Placement;

// Set-1 scan codes of the keys the cases press.
constexpr int kScanA = 0x1E;         // usage 0x04
constexpr int kScanC = 0x2E;         // usage 0x06
constexpr int kScanV = 0x2F;         // usage 0x19
constexpr int kScanLeftCtrl = 0x1D;  // usage 0xE0
constexpr int kScanHangul = 0x72;    // usage 0x90
constexpr int kScanNoUsage = 0x7F;   // no key of the table has it

// A scripted input: a number moves the clock on by that many milliseconds.
using RecStep = std::variant<int, KeyInput, PointerInput>;

const auto Down = [](int scan) { return KeyInput{scan, true}; };
const auto Up = [](int scan) { return KeyInput{scan, false}; };
// Without a position the pointer source is asked.
const auto Press = [](uint8_t mask, std::optional<ScreenPoint> at = {}) {
    return PointerInput{.pressed = mask, .position = at};
};
const auto Release = [](uint8_t mask, std::optional<ScreenPoint> at = {}) {
    return PointerInput{.released = mask, .position = at};
};
const auto Wheel = [](int delta) { return PointerInput{.wheelDelta = delta}; };
const auto MoveTo = [](ScreenPoint at) { return PointerInput{.position = at}; };

struct RecRig {
    test::FakeClock clock;
    MacroRecorder recorder{clock};
    Bytes appended, inserted;
    int captures = 0;

    void Feed(const RecStep& step) {
        if (const int* ms = std::get_if<int>(&step)) return clock.SleepMs(*ms);
        const RecorderOutput out = std::holds_alternative<KeyInput>(step)
                                       ? recorder.OnKey(std::get<KeyInput>(step))
                                       : recorder.OnPointer(std::get<PointerInput>(step));
        if (out.captureEnded) ++captures;
        EXPECT_EQ(out.placement == Placement::kNone, out.items.empty());
        Bytes& into = out.placement == Placement::kInsertAtCursor ? inserted : appended;
        for (const MacroItem& item : out.items) {
            EXPECT_FALSE(IsRawMacroItem(item)) << int(item.Opcode());
            into.insert(into.end(), item.Bytes().begin(), item.Bytes().end());
        }
    }
    void FeedAll(const std::vector<RecStep>& steps) {
        for (const RecStep& s : steps) Feed(s);
    }
};

struct RecordCase {
    std::string name;
    RecorderOptions options;
    std::vector<RecStep> steps;
    Bytes expected;
};

void RunRecordCases(const std::vector<RecordCase>& cases) {
    for (const RecordCase& c : cases) {
        SCOPED_TRACE(c.name);
        RecRig rig;
        rig.recorder.SetOptions(c.options);
        rig.clock.SleepMs(5000);  // time before Record is never recorded
        rig.recorder.StartRecording();
        rig.FeedAll(c.steps);
        EXPECT_EQ(rig.appended, c.expected);
        EXPECT_TRUE(rig.inserted.empty());
        EXPECT_EQ(rig.recorder.State(), CaptureState::kRecording);
    }
}

TEST(MacroRecorder, KeysRecordPressesReleasesAndTheWaitsBetween) {
    const RecorderOptions noWaits{.recordIntervals = false};
    RunRecordCases({
        {"Ctrl+C, 300 ms, Ctrl+V",
         {},
         {Down(kScanLeftCtrl), 40, Down(kScanC), 60, Up(kScanC), 20, Up(kScanLeftCtrl), 300,
          Down(kScanLeftCtrl), 30, Down(kScanV), 50, Up(kScanV), 10, Up(kScanLeftCtrl)},
         {0x83, 0xE0, 0x88, 40,   0x83, 0x06, 0x88, 60,   0x84, 0x06, 0x88,
          20,   0x84, 0xE0, 0x89, 0x2C, 0x01, 0x83, 0xE0, 0x88, 30,   0x83,
          0x19, 0x88, 50,   0x84, 0x19, 0x88, 10,   0x84, 0xE0}},
        // Only the first down edge of a held key counts, and repeats do not restart the wait.
        {"auto-repeat",
         {},
         {Down(kScanA), 500, Down(kScanA), 33, Down(kScanA), 33, Up(kScanA)},
         {0x83, 0x04, 0x89, 0x36, 0x02, 0x84, 0x04}},
        {"70 s wait capped",
         {},
         {Down(kScanA), 70000, Up(kScanA)},
         {0x83, 0x04, 0x89, 0xFF, 0xFF, 0x84, 0x04}},
        {"no intervals", noWaits, {Down(kScanA), 300, Up(kScanA)}, {0x83, 0x04, 0x84, 0x04}},
        {"release of a key held before Record", {}, {10, Up(kScanA)}, {0x84, 0x04}},
        // The language keys record a whole press and release at their first edge; a second
        // edge, when the keyboard sends one, is dropped.
        {"one-edge key with both edges",
         {},
         {Down(kScanA), 10, Down(kScanHangul), 10, Up(kScanHangul), 10, Up(kScanA)},
         {0x83, 0x04, 0x88, 10, 0x83, 0x90, 0x84, 0x90, 0x88, 20, 0x84, 0x04}},
    });
}

TEST(MacroRecorder, PointerRecordsPositionsButtonsAndWheel) {
    const RecorderOptions track{.recordCursorTrack = true};
    RunRecordCases({
        {"absolute, then relative, then nothing for no movement",
         {.recordClickPositions = true},
         {Press(kMacroButtonLeft, ScreenPoint{100, 200}), 50,
          Release(kMacroButtonLeft, ScreenPoint{110, 190}), 50,
          Press(kMacroButtonLeft, ScreenPoint{110, 190}), 50,
          Release(kMacroButtonLeft, ScreenPoint{-20, 1000})},
         {0xC0, 100,  0,  200,  0,    0x21, 0x88, 50,   0x80, 10,   0,    0xF6, 0xFF,
          0x41, 0x88, 50, 0x21, 0x88, 50,   0x80, 0x7E, 0xFF, 0x2A, 0x03, 0x41}},
        {"every button's bit; plain movement without track is ignored",
         {},
         {MoveTo({5, 5}), 300, MoveTo({50, 50}), Press(kMacroButtonMiddle), Press(kMacroButton4),
          Press(kMacroButton5),
          PointerInput{.pressed = kMacroButtonLeft | kMacroButtonRight, .released = kMacroButton4},
          PointerInput{.pressed = 0xE0}},  // bits beyond the five buttons
         {0x24, 0x28, 0x30, 0x23, 0x48}},
        // Whole notches only; more than one instruction holds are split, never wrapped to
        // the other direction.
        {"wheel both ways",
         {},
         {Wheel(120), Wheel(-120), Wheel(30), Wheel(-1), Wheel(360), Wheel(-250), Wheel(17 * 120),
          Wheel(-20 * 120)},
         {0x61, 0x7F, 0x61, 0x7F, 0x63, 0x7E, 0x6F, 0x62, 0x70, 0x7C}},
        // Samples need an event before them, then come once the interval has strictly passed.
        {"track every 200 ms",
         track,
         {MoveTo({1, 1}), Press(kMacroButtonLeft), 200, MoveTo({10, 20}), 1, MoveTo({12, 25}), 100,
          MoveTo({30, 30}), 101, MoveTo({31, 29}), 300, MoveTo({31, 29})},
         {0x21, 0x88, 201, 0xC0, 12, 0, 25, 0, 0x88, 201, 0x80, 19, 0, 4, 0}},
        // The wait of an unchanged sample is not lost: the next event's wait covers it.
        {"wait across a sample without movement",
         track,
         {Press(kMacroButtonLeft, ScreenPoint{5, 5}), 300, MoveTo({5, 5}), 300, MoveTo({5, 5}), 100,
          Release(kMacroButtonLeft, ScreenPoint{5, 5})},
         {0x21, 0x89, 0x2C, 0x01, 0xC0, 5, 0, 5, 0, 0x89, 0x90, 0x01, 0x41}},
    });
}

TEST(MacroRecorder, ClicksOnTheEditorsOwnButtonsAreNotRecorded) {
    RecRig rig;
    rig.recorder.SetOptions({.recordClickPositions = true});
    const ScreenPoint record{500, 20};
    const ScreenPoint stop{560, 20};
    rig.recorder.SetExcludedArea([&](ScreenPoint p) { return p == record || p == stop; });
    ScreenPoint pointer = record;
    int asked = 0;
    rig.recorder.SetPointerSource([&] {
        ++asked;
        return pointer;
    });

    rig.recorder.StartRecording();  // the press on Record came before; its release follows
    rig.FeedAll({Release(kMacroButtonLeft, record), 10,
                 Press(kMacroButtonLeft, ScreenPoint{40, 40}), 10,
                 Release(kMacroButtonLeft, ScreenPoint{40, 40}), 10, Press(kMacroButtonRight, stop),
                 10, Release(kMacroButtonRight, stop), 10,
                 Press(kMacroButtonMiddle, stop)});  // only left and right are spared
    // An event without a position asks the pointer source once, for the editor's buttons
    // and the position item alike.
    EXPECT_EQ(asked, 0);
    pointer = {41, 40};
    rig.FeedAll({10, Press(kMacroButtonLeft)});
    EXPECT_EQ(asked, 1);
    pointer = stop;
    rig.FeedAll({10, Press(kMacroButtonLeft)});
    EXPECT_EQ(asked, 2);
    rig.recorder.Stop();
    rig.FeedAll({10, Release(kMacroButtonLeft, stop), 10, Down(kScanA)});

    EXPECT_EQ(rig.appended,
              (Bytes{0xC0, 40,   0,    40,   0,    0x21, 0x88, 10,   0x41, 0x88, 30,   0x80, 0x08,
                     0x02, 0xEC, 0xFF, 0x24, 0x88, 10,   0x80, 0xF9, 0xFD, 0x14, 0x00, 0x21}));
}

TEST(MacroRecorder, OneShotCaptureInsertsOneActionAtTheCursor) {
    struct CaptureCase {
        std::string name;
        bool fromMouseInsert;
        std::vector<RecStep> steps;
        Bytes inserted;
    };
    const std::vector<CaptureCase> cases = {
        {"left click", false, {Press(kMacroButtonLeft), Release(kMacroButtonLeft)}, {0x21, 0x41}},
        {"fifth button from the mouse insert", true, {Press(kMacroButton5)}, {0x30, 0x50}},
        {"wheel back", false, {Wheel(-120)}, {0x7F}},
        {"key", false, {400, Down(kScanA), 400, Up(kScanA)}, {0x83, 0x04, 0x84, 0x04}},
        // Releases, movements, keys without a usage and clicks on the editor's own buttons
        // (above y 0 here) leave the capture waiting.
        {"waits for a press",
         false,
         {Up(kScanA), Release(kMacroButtonLeft), MoveTo({3, 3}), Down(kScanNoUsage),
          Press(kMacroButtonLeft, ScreenPoint{10, -5}), Down(kScanC)},
         {0x83, 0x06, 0x84, 0x06}},
        {"one action only",
         false,
         {Down(kScanA), Press(kMacroButtonLeft), Wheel(120), Down(kScanC)},
         {0x83, 0x04, 0x84, 0x04}},
    };
    for (const CaptureCase& c : cases) {
        SCOPED_TRACE(c.name);
        RecRig rig;
        rig.recorder.SetOptions({.recordClickPositions = true, .recordCursorTrack = true});
        rig.recorder.SetExcludedArea([](ScreenPoint p) { return p.y < 0; });
        rig.recorder.StartCapture(c.fromMouseInsert);
        EXPECT_EQ(rig.recorder.State(), c.fromMouseInsert ? CaptureState::kCaptureFromMouseInsert
                                                          : CaptureState::kCapture);
        rig.FeedAll(c.steps);
        EXPECT_EQ(rig.inserted, c.inserted);
        EXPECT_TRUE(rig.appended.empty());
        EXPECT_EQ(rig.captures, 1);
    }
}

TEST(MacroRecorder, RecordingStartsAfresh) {
    RecRig rig;
    rig.recorder.SetOptions({.recordClickPositions = true});
    rig.recorder.StartRecording();
    rig.FeedAll({Down(kScanA), 10, Press(kMacroButtonLeft, ScreenPoint{7, 7})});
    rig.recorder.Stop();
    rig.appended.clear();
    // A new recording: the held key's flag, the last time and the last position are gone.
    rig.recorder.StartRecording();
    rig.FeedAll({900, Down(kScanA), 10, Release(kMacroButtonLeft, ScreenPoint{7, 7})});
    EXPECT_EQ(rig.appended, (Bytes{0x83, 0x04, 0x88, 10, 0xC0, 7, 0, 7, 0, 0x41}));
}

TEST(MacroRecorder, KeyboardIsWantedUntilACapturedKeyIsReleased) {
    const std::tuple<std::string, std::vector<RecStep>, bool> cases[] = {
        {"capturing", {}, true},
        {"captured key still down", {Down(kScanA), 1199, Down(kScanC)}, true},
        {"captured key released", {Down(kScanA), 5, Up(kScanC), 5, Up(kScanA)}, false},
        // A release that never comes (the keyboard left) does not hold it for ever.
        {"release never comes", {Down(kScanA), 1200, Down(kScanC)}, false},
        {"captured click", {Press(kMacroButtonLeft)}, false},
    };
    for (const auto& [name, steps, wanted] : cases) {
        SCOPED_TRACE(name);
        RecRig rig;
        rig.recorder.StartCapture();
        rig.FeedAll(steps);
        EXPECT_EQ(rig.recorder.WantsKeyboard(), wanted);
        rig.recorder.Stop();
        EXPECT_FALSE(rig.recorder.WantsKeyboard());
    }
}

// X keycodes are the evdev key codes plus 8; X buttons 4 and 5 are the wheel.
TEST(MacroRecorder, X11KeysAndButtonsFollowTheTables) {
    const auto in = [](const auto& x) { return x ? std::optional<RecStep>(*x) : std::nullopt; };
    const std::tuple<std::string, std::optional<RecStep>, Bytes> cases[] = {
        {"Pause", in(KeyInputFromX11(119 + 8, true)), {0x83, 0x48}},
        {"Print Screen", in(KeyInputFromX11(99 + 8, true)), {0x83, 0x46}},
        {"backslash", in(KeyInputFromX11(43 + 8, true)), {0x83, 0x31}},
        {"backslash by scan code", KeyInput{0x2B, true}, {0x83, 0x31}},
        {"volume up: no scan code", in(KeyInputFromX11(115 + 8, true)), {}},
        {"left down", in(PointerInputFromX11Button(1, true)), {0x21}},
        {"right up", in(PointerInputFromX11Button(3, false)), {0x42}},
        {"side button 8", in(PointerInputFromX11Button(8, true)), {0x28}},
        {"side button 9", in(PointerInputFromX11Button(9, true)), {0x30}},
        {"wheel forward", in(PointerInputFromX11Button(4, true)), {0x61}},
        {"wheel back", in(PointerInputFromX11Button(5, true)), {0x7F}},
        {"wheel release", in(PointerInputFromX11Button(4, false)), {}},
        {"tilt", in(PointerInputFromX11Button(6, true)), {}},
        {"past nine", in(PointerInputFromX11Button(10, true)), {}},
    };
    for (const auto& [name, step, recorded] : cases) {
        SCOPED_TRACE(name);
        // Nothing taken from X is nothing to record; whatever is taken records something.
        ASSERT_EQ(step.has_value(), !recorded.empty());
        if (!step) continue;
        RecRig rig;
        rig.recorder.StartRecording();
        rig.Feed(*step);
        EXPECT_EQ(rig.appended, recorded);
    }
}

}  // namespace
}  // namespace qvm::recorder_test
