#include "macro/macro_recorder.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
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

// One step of a scripted input: first the clock moves on, then the event arrives.
struct RecStep {
    int afterMs = 0;
    std::variant<KeyInput, PointerInput> input;
};

KeyInput Down(int scan) {
    return {scan, true};
}
KeyInput Up(int scan) {
    return {scan, false};
}
// Clicks with a position, and without one (the pointer source is asked then).
PointerInput Press(uint8_t mask, ScreenPoint at) {
    return {.pressed = mask, .position = at};
}
PointerInput Press(uint8_t mask) {
    return {.pressed = mask};
}
PointerInput Release(uint8_t mask, ScreenPoint at) {
    return {.released = mask, .position = at};
}
PointerInput Release(uint8_t mask) {
    return {.released = mask};
}
PointerInput Wheel(int delta) {
    return {.wheelDelta = delta};
}
PointerInput MoveTo(ScreenPoint at) {
    return {.position = at};
}

struct RecRig {
    test::FakeClock clock;
    MacroRecorder recorder{clock};
    Bytes appended;
    Bytes inserted;
    int captures = 0;

    void Feed(const RecStep& step) {
        clock.SleepMs(step.afterMs);
        const RecorderOutput out =
            std::visit([this](const auto& in) { return Send(in); }, step.input);
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

  private:
    RecorderOutput Send(const KeyInput& key) { return recorder.OnKey(key); }
    RecorderOutput Send(const PointerInput& pointer) { return recorder.OnPointer(pointer); }
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
    const RecorderOptions noIntervals{.recordIntervals = false};
    RunRecordCases({
        {"Ctrl+C, 300 ms, Ctrl+V",
         {},
         {{0, Down(kScanLeftCtrl)},
          {40, Down(kScanC)},
          {60, Up(kScanC)},
          {20, Up(kScanLeftCtrl)},
          {300, Down(kScanLeftCtrl)},
          {30, Down(kScanV)},
          {50, Up(kScanV)},
          {10, Up(kScanLeftCtrl)}},
         {0x83, 0xE0, 0x88, 40,   0x83, 0x06, 0x88, 60,   0x84, 0x06, 0x88,
          20,   0x84, 0xE0, 0x89, 0x2C, 0x01, 0x83, 0xE0, 0x88, 30,   0x83,
          0x19, 0x88, 50,   0x84, 0x19, 0x88, 10,   0x84, 0xE0}},
        // A held key repeats its down edge; only the first counts, and the repeats do
        // not restart the wait either.
        {"auto-repeat",
         {},
         {{0, Down(kScanA)}, {500, Down(kScanA)}, {33, Down(kScanA)}, {33, Up(kScanA)}},
         {0x83, 0x04, 0x89, 0x36, 0x02, 0x84, 0x04}},
        {"70 s wait capped",
         {},
         {{0, Down(kScanA)}, {70000, Up(kScanA)}},
         {0x83, 0x04, 0x89, 0xFF, 0xFF, 0x84, 0x04}},
        {"intervals off",
         noIntervals,
         {{0, Down(kScanA)}, {300, Up(kScanA)}},
         {0x83, 0x04, 0x84, 0x04}},
        // A key held when recording started still has its release recorded.
        {"release of a key held before Record", {}, {{10, Up(kScanA)}}, {0x84, 0x04}},
        // The language keys record a whole press and release at their first edge, and
        // the second edge, when the keyboard sends one, is dropped.
        {"one-edge key with both edges",
         {},
         {{0, Down(kScanA)}, {10, Down(kScanHangul)}, {10, Up(kScanHangul)}, {10, Up(kScanA)}},
         {0x83, 0x04, 0x88, 10, 0x83, 0x90, 0x84, 0x90, 0x88, 20, 0x84, 0x04}},
    });
}

TEST(MacroRecorder, PointerRecordsPositionsButtonsAndWheel) {
    const RecorderOptions clicks{.recordClickPositions = true};
    const RecorderOptions track{.recordCursorTrack = true};
    RunRecordCases({
        {"absolute, then relative, then nothing for no movement",
         clicks,
         {{0, Press(kMacroButtonLeft, {100, 200})},
          {50, Release(kMacroButtonLeft, {110, 190})},
          {50, Press(kMacroButtonLeft, {110, 190})},
          {50, Release(kMacroButtonLeft, {-20, 1000})}},
         {0xC0, 100,  0,  200,  0,    0x21, 0x88, 50,   0x80, 10,   0,    0xF6, 0xFF,
          0x41, 0x88, 50, 0x21, 0x88, 50,   0x80, 0x7E, 0xFF, 0x2A, 0x03, 0x41}},
        {"every button's bit",
         {},
         {{0, Press(kMacroButtonMiddle)},
          {0, Press(kMacroButton4)},
          {0, Press(kMacroButton5)},
          {0,
           {PointerInput{.pressed = kMacroButtonLeft | kMacroButtonRight,
                         .released = kMacroButton4}}},
          {0, {PointerInput{.pressed = 0xE0}}}},  // bits beyond the five buttons
         {0x24, 0x28, 0x30, 0x23, 0x48}},
        {"wheel both ways, by whole notches",
         {},
         {{0, Wheel(120)},
          {0, Wheel(-120)},
          {0, Wheel(30)},
          {0, Wheel(-1)},
          {0, Wheel(360)},
          {0, Wheel(-250)}},
         {0x61, 0x7F, 0x61, 0x7F, 0x63, 0x7E}},
        // More notches than one instruction holds are split, never wrapped to the other
        // direction.
        {"wheel beyond one instruction",
         {},
         {{0, Wheel(17 * 120)}, {0, Wheel(-20 * 120)}},
         {0x6F, 0x62, 0x70, 0x7C}},
        {"plain movement without track is ignored",
         {},
         {{0, MoveTo({5, 5})}, {300, MoveTo({50, 50})}},
         {}},
        // Track samples need an event before them and then come once the interval has
        // passed, strictly.
        {"track every 200 ms",
         track,
         {{0, MoveTo({1, 1})},  // no event yet
          {0, Press(kMacroButtonLeft)},
          {200, MoveTo({10, 20})},  // exactly the interval: not yet
          {1, MoveTo({12, 25})},
          {100, MoveTo({30, 30})},
          {101, MoveTo({31, 29})},
          {300, MoveTo({31, 29})}},  // no movement: nothing
         {0x21, 0x88, 201, 0xC0, 12, 0, 25, 0, 0x88, 201, 0x80, 19, 0, 4, 0}},
        // The wait of an unchanged sample is not lost: the next event's wait covers it.
        {"wait across a sample without movement",
         track,
         {{0, Press(kMacroButtonLeft, {5, 5})},
          {300, MoveTo({5, 5})},
          {300, MoveTo({5, 5})},
          {100, Release(kMacroButtonLeft, {5, 5})}},
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
    rig.FeedAll({{0, Release(kMacroButtonLeft, record)},
                 {10, Press(kMacroButtonLeft, {40, 40})},
                 {10, Release(kMacroButtonLeft, {40, 40})},
                 {10, Press(kMacroButtonRight, stop)},
                 {10, Release(kMacroButtonRight, stop)},
                 {10, Press(kMacroButtonMiddle, stop)}});  // only left and right are spared
    // An event without a position asks the pointer source, once: for the editor's buttons
    // and for the position item alike.
    EXPECT_EQ(asked, 0);
    pointer = {41, 40};
    rig.Feed({10, Press(kMacroButtonLeft)});
    EXPECT_EQ(asked, 1);
    pointer = stop;
    rig.Feed({10, Press(kMacroButtonLeft)});
    EXPECT_EQ(asked, 2);
    rig.recorder.Stop();
    rig.Feed({10, Release(kMacroButtonLeft, stop)});
    rig.Feed({10, Down(kScanA)});

    EXPECT_EQ(rig.appended,
              (Bytes{0xC0, 40,   0,    40,   0,    0x21, 0x88, 10,   0x41, 0x88, 30,   0x80, 0x08,
                     0x02, 0xEC, 0xFF, 0x24, 0x88, 10,   0x80, 0xF9, 0xFD, 0x14, 0x00, 0x21}));
    EXPECT_EQ(rig.recorder.State(), CaptureState::kIdle);
}

struct CaptureCase {
    std::string name;
    bool fromMouseInsert;
    std::vector<RecStep> steps;
    Bytes inserted;
};

TEST(MacroRecorder, OneShotCaptureInsertsOneActionAtTheCursor) {
    const std::vector<CaptureCase> cases = {
        {"left click",
         false,
         {{0, Press(kMacroButtonLeft)}, {0, Release(kMacroButtonLeft)}},
         {0x21, 0x41}},
        {"fifth button from the mouse insert", true, {{0, Press(kMacroButton5)}}, {0x30, 0x50}},
        {"wheel back", false, {{0, Wheel(-120)}}, {0x7F}},
        {"wheel forward by two", false, {{0, Wheel(240)}}, {0x62}},
        {"key", false, {{400, Down(kScanA)}, {400, Up(kScanA)}}, {0x83, 0x04, 0x84, 0x04}},
        // Releases, movements and keys without a usage leave the capture waiting.
        {"waits for a press",
         false,
         {{0, Up(kScanA)},
          {0, Release(kMacroButtonLeft)},
          {0, MoveTo({3, 3})},
          {0, Down(kScanNoUsage)},
          {0, Down(kScanC)}},
         {0x83, 0x06, 0x84, 0x06}},
        // Only the first action: what follows the capture is not inserted.
        {"one action only",
         false,
         {{0, Down(kScanA)}, {0, Press(kMacroButtonLeft)}, {0, Wheel(120)}, {0, Down(kScanC)}},
         {0x83, 0x04, 0x84, 0x04}},
    };
    for (const CaptureCase& c : cases) {
        SCOPED_TRACE(c.name);
        RecRig rig;
        rig.recorder.SetOptions({.recordClickPositions = true, .recordCursorTrack = true});
        rig.recorder.StartCapture(c.fromMouseInsert);
        EXPECT_EQ(rig.recorder.State(), c.fromMouseInsert ? CaptureState::kCaptureFromMouseInsert
                                                          : CaptureState::kCapture);
        rig.FeedAll(c.steps);
        EXPECT_EQ(rig.inserted, c.inserted);
        EXPECT_TRUE(rig.appended.empty());
        EXPECT_EQ(rig.captures, 1);
        EXPECT_EQ(rig.recorder.State(), CaptureState::kIdle);
    }
}

TEST(MacroRecorder, CaptureDoesNotTakeAClickOnTheEditorsButtons) {
    RecRig rig;
    rig.recorder.SetExcludedArea([](ScreenPoint p) { return p.y < 50; });
    rig.recorder.StartCapture();
    rig.Feed({0, Press(kMacroButtonLeft, {10, 10})});
    EXPECT_TRUE(rig.inserted.empty());
    EXPECT_TRUE(rig.recorder.Active());
    rig.Feed({0, Press(kMacroButtonLeft, {10, 100})});
    EXPECT_EQ(rig.inserted, (Bytes{0x21, 0x41}));
}

TEST(MacroRecorder, RecordingStartsAfresh) {
    RecRig rig;
    rig.recorder.SetOptions({.recordClickPositions = true});
    rig.recorder.StartRecording();
    rig.FeedAll({{0, Down(kScanA)}, {10, Press(kMacroButtonLeft, {7, 7})}});
    rig.recorder.Stop();
    rig.appended.clear();
    // A new recording: the held key's flag, the last time and the last position are gone.
    rig.recorder.StartRecording();
    rig.FeedAll({{900, Down(kScanA)}, {10, Release(kMacroButtonLeft, {7, 7})}});
    EXPECT_EQ(rig.appended, (Bytes{0x83, 0x04, 0x88, 10, 0xC0, 7, 0, 7, 0, 0x41}));
}

TEST(MacroRecorder, KeyboardIsWantedUntilACapturedKeyIsReleased) {
    struct Case {
        std::string name;
        std::vector<RecStep> steps;
        bool wanted;
    };
    const Case cases[] = {
        {"capturing", {}, true},
        {"captured key still down", {{0, Down(kScanA)}, {1199, Down(kScanC)}}, true},
        {"captured key released", {{0, Down(kScanA)}, {5, Up(kScanC)}, {5, Up(kScanA)}}, false},
        // A release that never comes (the keyboard left) does not hold it for ever.
        {"release never comes", {{0, Down(kScanA)}, {1200, Down(kScanC)}}, false},
        {"captured click", {{0, Press(kMacroButtonLeft)}}, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        RecRig rig;
        rig.recorder.StartCapture();
        rig.FeedAll(c.steps);
        EXPECT_EQ(rig.recorder.WantsKeyboard(), c.wanted);
        rig.recorder.Stop();
        EXPECT_FALSE(rig.recorder.WantsKeyboard());
    }
}

TEST(MacroRecorder, SpecialKeysFollowTheScanCodeTable) {
    // X keycodes are the evdev key codes plus 8.
    struct Case {
        std::string name;
        std::optional<KeyInput> key;
        Bytes expected;
    };
    const Case cases[] = {
        {"Pause", KeyInputFromX11(119 + 8, true), {0x83, 0x48}},
        {"Num Lock", KeyInputFromX11(69 + 8, true), {0x83, 0x53}},
        {"Print Screen", KeyInputFromX11(99 + 8, true), {0x83, 0x46}},
        {"backslash", KeyInputFromX11(43 + 8, true), {0x83, 0x31}},
        {"backslash by scan code", KeyInput{0x2B, true}, {0x83, 0x31}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_TRUE(c.key);
        RecRig rig;
        rig.recorder.StartRecording();
        rig.Feed({0, *c.key});
        EXPECT_EQ(rig.appended, c.expected);
    }
    EXPECT_FALSE(KeyInputFromX11(115 + 8, true));  // volume up: no scan code
}

TEST(MacroRecorder, XButtonsBecomeMasksAndWheelNotches) {
    struct Case {
        int button;
        bool down;
        std::optional<Bytes> recorded;  // nullopt: not an input the recorder takes
    };
    const Case cases[] = {
        {1, true, Bytes{0x21}},   {3, false, Bytes{0x42}}, {8, true, Bytes{0x28}},
        {9, true, Bytes{0x30}},   {4, true, Bytes{0x61}},  {5, true, Bytes{0x7F}},
        {4, false, std::nullopt}, {6, true, std::nullopt}, {10, true, std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "button " << c.button << (c.down ? " down" : " up"));
        const std::optional<PointerInput> in = PointerInputFromX11Button(c.button, c.down);
        ASSERT_EQ(in.has_value(), c.recorded.has_value());
        if (!in) continue;
        EXPECT_FALSE(in->position);
        RecRig rig;
        rig.recorder.StartRecording();
        rig.Feed({0, *in});
        EXPECT_EQ(rig.appended, *c.recorded);
    }
}

}  // namespace
}  // namespace qvm::recorder_test
