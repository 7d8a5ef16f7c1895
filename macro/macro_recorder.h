// The macro recorder: turns the user's keys, mouse buttons, wheel and pointer into macro
// instructions for the editor. It records continuously between the editor's Record and
// Stop buttons, or captures one key, click or wheel step for the editor's insert commands.
//
// The recorder knows nothing of windows or of where input comes from: its caller turns
// each input event (Qt, XInput2 or anything else) into a KeyInput or a PointerInput and
// acts on the RecorderOutput it gets back: recorded items go at the end of the editor's
// list, captured ones at its cursor (the cursor moving past each). Times come from the
// Clock given at construction, read when an event arrives.
//
// Everything here runs on one thread (the window's); the recorder has no lock.
#pragma once

#include <bitset>
#include <cstdint>
#include <functional>
#include <optional>
#include <utility>
#include <vector>

#include "macro/macro_item.h"
#include "platform/clock.h"

namespace qvm {

enum class CaptureState : int32_t {
    kIdle = 0,
    kRecording = 1,               // between Record and Stop
    kCapture = 2,                 // one key, click or wheel step for an insert command
    kCaptureFromMouseInsert = 3,  // the same, started from the mouse insert command
};

// How often the pointer's track is sampled while "Record cursor track" is on: the only
// two choices the editor offers.
enum class TrackInterval : int { k50Ms = 50, k200Ms = 200 };

struct ScreenPoint {
    int x = 0;
    int y = 0;
    bool operator==(const ScreenPoint&) const = default;
};

// A key going down or up, as a set-1 scan code (extended keys 0xE000 plus the code, as
// app/scancodes.h and app/linux_keycodes.h have them). A held key repeats its down edge.
struct KeyInput {
    int scanCode = 0;
    bool down = true;
};

// An X keycode (XInput2 raw events, Qt's native scan code on X11 and Wayland) as a
// KeyInput; nullopt for keys that have no scan code (media keys and the like).
std::optional<KeyInput> KeyInputFromX11(int x11Keycode, bool down);

// One pointer event: the buttons that went down and up in it (kMacroButton* bits; the
// system's fourth button is kMacroButton4, the fifth kMacroButton5), the vertical wheel
// turn in units of 120 per notch (positive: away from the user) and, when the event knows
// it, the pointer's screen position. A plain movement has no edges and no wheel.
struct PointerInput {
    uint8_t pressed = 0;
    uint8_t released = 0;
    int wheelDelta = 0;
    std::optional<ScreenPoint> position;
};

// An X pointer button event (XInput2 raw button events number them as X does: 1 left,
// 2 middle, 3 right, 4 and 5 the wheel forward and back, 6 and 7 the tilt, 8 and 9 the
// side buttons) as a PointerInput without a position; nullopt for buttons the recorder
// does not take (the tilt, buttons past 9, wheel releases).
std::optional<PointerInput> PointerInputFromX11Button(int button, bool down);

struct RecorderOptions {
    bool recordIntervals = true;        // a wait before each event but the first
    bool recordClickPositions = false;  // a position before each click
    bool recordCursorTrack = false;     // a position every track interval while moving
    TrackInterval trackInterval = TrackInterval::k200Ms;
};

struct RecorderOutput {
    enum class Placement {
        kNone,            // nothing to add
        kAppend,          // recording: add at the end of the list, show the last item
        kInsertAtCursor,  // capture: insert at the cursor, moving it past each item
    };
    Placement placement = Placement::kNone;
    std::vector<MacroItem> items;
    bool captureEnded = false;  // a one-shot capture took this event and is over
};

class MacroRecorder {
  public:
    // Where the pointer is now, for events that do not carry a position; nullopt when
    // unknown.
    using PointerSource = std::function<std::optional<ScreenPoint>()>;
    // True over the editor's own Record and Stop buttons: left and right clicks there
    // are never recorded nor captured.
    using ExcludedArea = std::function<bool(ScreenPoint)>;

    // How long the keyboard stays taken after a capture of a key whose release has not
    // come yet, so that the release does not reach another window.
    static constexpr int kCaptureReleaseWaitMs = 1200;

    explicit MacroRecorder(const Clock& clock);

    void SetOptions(const RecorderOptions& options) { options_ = options; }
    const RecorderOptions& Options() const { return options_; }
    void SetPointerSource(PointerSource source) { pointerSource_ = std::move(source); }
    void SetExcludedArea(ExcludedArea area) { excluded_ = std::move(area); }

    // Record: forget the keys held and the last position; the first event gets no wait.
    // Either start ends a recording or a capture that was running.
    void StartRecording();
    // One-shot capture of the next key press, click or wheel step.
    void StartCapture(bool fromMouseInsert = false);
    // Ends a recording or a capture (Stop, the editor closing, the device leaving).
    void Stop();

    CaptureState State() const { return state_; }
    bool Active() const { return state_ != CaptureState::kIdle; }
    // True while the caller should hold the keyboard grab: recording, capturing, and for
    // a short while after a captured key until its release has come. It turns false by
    // itself when that while is over, so the caller asks again from a timer.
    bool WantsKeyboard() const;

    RecorderOutput OnKey(const KeyInput& key);
    RecorderOutput OnPointer(const PointerInput& pointer);

  private:
    using TimePoint = Clock::TimePoint;

    RecorderOutput RecordKey(int usage, bool down);
    RecorderOutput CaptureKey(int usage, bool down);
    // The event as taken: buttons past the five and clicks on the editor's own buttons
    // are masked out.
    RecorderOutput RecordPointer(const PointerInput& pointer);
    RecorderOutput CapturePointer(const PointerInput& pointer);
    // The wait since the last recorded event, when one is due; then `now` becomes the
    // last event time.
    void AddDelayAndMark(std::vector<MacroItem>& items, TimePoint now);
    std::optional<ScreenPoint> PositionOf(const PointerInput& pointer) const;
    void ResetCapture();

    const Clock& clock_;
    RecorderOptions options_;
    PointerSource pointerSource_;
    ExcludedArea excluded_;

    CaptureState state_ = CaptureState::kIdle;
    std::optional<TimePoint> lastEvent_;       // none before the first event of a recording
    std::bitset<256> keysDown_;                // per usage: press recorded, release not yet
    std::optional<ScreenPoint> lastPosition_;  // none until a recording's first position
    // The key a capture took, while its release is awaited, and until when.
    int capturedKey_ = 0;
    TimePoint capturedUntil_{};
};

}  // namespace qvm
