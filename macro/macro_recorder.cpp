#include "macro/macro_recorder.h"

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <iterator>

#include "lang/linux_keycodes.h"
#include "lang/scancodes.h"

namespace qvm {
namespace {

// Keys that report only one edge on some keyboards (the Korean language keys): each is
// recorded as a whole press and release at whichever edge comes first.
constexpr int kOneEdgeKeys[] = {0x90, 0x91};

constexpr int kWheelUnit = 120;  // wheel delta of one notch
constexpr int kWheelCountMin = -16;
constexpr int kWheelCountMax = 15;
constexpr int kWheelDeltaMin = -32768;  // a turn is a signed 16-bit delta
constexpr int kWheelDeltaMax = 32767;

// Left and right are the clicks the editor's Record and Stop buttons take.
constexpr uint8_t kEditorClickButtons = kMacroButtonLeft | kMacroButtonRight;
constexpr uint8_t kAllButtons = 0x1F;

bool IsOneEdgeKey(int usage) {
    return std::find(std::begin(kOneEdgeKeys), std::end(kOneEdgeKeys), usage) !=
           std::end(kOneEdgeKeys);
}

MacroItem KeyItem(uint8_t opcode, int usage) {
    const uint8_t bytes[] = {opcode, static_cast<uint8_t>(usage)};
    return MakeMacroItem(bytes);
}

MacroItem ButtonItem(uint8_t opcode, uint8_t mask) {
    const uint8_t bytes[] = {static_cast<uint8_t>(opcode | (mask & kOperandMask))};
    return MakeMacroItem(bytes);
}

// Wheel instructions for a turn: a turn of less than a notch counts as one, and a turn of
// more notches than one instruction holds is split so that none is lost.
void AddWheel(std::vector<MacroItem>& items, int delta) {
    if (delta == 0) return;
    delta = std::clamp(delta, kWheelDeltaMin, kWheelDeltaMax);
    if (std::abs(delta) < kWheelUnit) delta = delta < 0 ? -kWheelUnit : kWheelUnit;
    int count = delta / kWheelUnit;
    while (count != 0) {
        const int step = std::clamp(count, kWheelCountMin, kWheelCountMax);
        const uint8_t bytes[] = {
            static_cast<uint8_t>(kOpWheel | (static_cast<unsigned>(step) & kOperandMask))};
        items.push_back(MakeMacroItem(bytes));
        count -= step;
    }
}

}  // namespace

std::optional<KeyInput> KeyInputFromX11(int x11Keycode, bool down) {
    const std::optional<int> scanCode = EvdevToSet1ScanCode(X11KeycodeToEvdev(x11Keycode));
    if (!scanCode) return std::nullopt;
    return KeyInput{*scanCode, down};
}

std::optional<PointerInput> PointerInputFromX11Button(int button, bool down) {
    // X button numbers 1..9; 0 marks the ones that are no button of a macro.
    constexpr uint8_t kMasks[] = {
        0, kMacroButtonLeft, kMacroButtonMiddle, kMacroButtonRight, 0, 0, 0,
        0, kMacroButton4,    kMacroButton5};
    constexpr int kWheelForward = 4;
    constexpr int kWheelBack = 5;
    if (button == kWheelForward || button == kWheelBack) {
        if (!down) return std::nullopt;  // X sends a release after each notch
        return PointerInput{.wheelDelta = button == kWheelForward ? kWheelUnit : -kWheelUnit};
    }
    if (button < 0 || button >= static_cast<int>(std::size(kMasks)) || kMasks[button] == 0) {
        return std::nullopt;
    }
    PointerInput in;
    (down ? in.pressed : in.released) = kMasks[button];
    return in;
}

MacroRecorder::MacroRecorder(const Clock& clock) : clock_(clock) {}

void MacroRecorder::ResetCapture() {
    keysDown_.reset();
    lastPosition_.reset();
    capturedKey_ = 0;
}

void MacroRecorder::StartRecording() {
    ResetCapture();
    lastEvent_.reset();
    state_ = CaptureState::kRecording;
}

void MacroRecorder::StartCapture(bool fromMouseInsert) {
    ResetCapture();
    state_ = fromMouseInsert ? CaptureState::kCaptureFromMouseInsert : CaptureState::kCapture;
}

void MacroRecorder::Stop() {
    state_ = CaptureState::kIdle;
    capturedKey_ = 0;
}

bool MacroRecorder::WantsKeyboard() const {
    if (Active()) return true;
    return capturedKey_ != 0 && clock_.Now() < capturedUntil_;
}

void MacroRecorder::AddDelayAndMark(std::vector<MacroItem>& items, TimePoint now) {
    if (options_.recordIntervals && lastEvent_) {
        const int64_t ms =
            std::chrono::duration_cast<std::chrono::milliseconds>(now - *lastEvent_).count();
        if (ms > 0) {
            items.push_back(
                MakeWaitItem(static_cast<int32_t>(std::min<int64_t>(ms, kMacroMaxWaitMs))));
        }
    }
    lastEvent_ = now;
}

RecorderOutput MacroRecorder::OnKey(const KeyInput& key) {
    const int usage = ScanCodeToUsage(key.scanCode);
    if (usage == 0) return {};
    if (state_ == CaptureState::kRecording) return RecordKey(usage, key.down);
    if (Active()) return CaptureKey(usage, key.down);
    // Idle: the release of a captured key ends the wait for it.
    if (!key.down && usage == capturedKey_) capturedKey_ = 0;
    return {};
}

RecorderOutput MacroRecorder::RecordKey(int usage, bool down) {
    RecorderOutput out;
    std::vector<MacroItem>& items = out.items;
    const bool held = keysDown_.test(static_cast<std::size_t>(usage));
    if (IsOneEdgeKey(usage)) {
        // Recorded whole at its first edge. A keyboard that sends both edges has its
        // release dropped; one that sends releases only gets a whole key per release.
        if (held) {
            if (!down) keysDown_.reset(static_cast<std::size_t>(usage));
            return {};
        }
        if (down) keysDown_.set(static_cast<std::size_t>(usage));
        AddDelayAndMark(items, clock_.Now());
        items.push_back(KeyItem(kOpKeyDown, usage));
        items.push_back(KeyItem(kOpKeyUp, usage));
    } else if (down) {
        if (held) return {};  // auto-repeat
        keysDown_.set(static_cast<std::size_t>(usage));
        AddDelayAndMark(items, clock_.Now());
        items.push_back(KeyItem(kOpKeyDown, usage));
    } else {
        keysDown_.reset(static_cast<std::size_t>(usage));
        AddDelayAndMark(items, clock_.Now());
        items.push_back(KeyItem(kOpKeyUp, usage));
    }
    out.placement = RecorderOutput::Placement::kAppend;
    return out;
}

RecorderOutput MacroRecorder::CaptureKey(int usage, bool down) {
    // A capture takes a key going down: the release of whatever started it (Enter on a
    // menu, say) is not what the user means to insert.
    if (!down) return {};
    state_ = CaptureState::kIdle;
    capturedKey_ = usage;
    capturedUntil_ = clock_.Now() + std::chrono::milliseconds(kCaptureReleaseWaitMs);
    RecorderOutput out;
    out.placement = RecorderOutput::Placement::kInsertAtCursor;
    out.items = {KeyItem(kOpKeyDown, usage), KeyItem(kOpKeyUp, usage)};
    out.captureEnded = true;
    return out;
}

std::optional<ScreenPoint> MacroRecorder::PositionOf(const PointerInput& pointer) const {
    if (pointer.position) return pointer.position;
    if (pointerSource_) return pointerSource_();
    return std::nullopt;
}

RecorderOutput MacroRecorder::OnPointer(const PointerInput& pointer) {
    if (!Active()) return {};
    PointerInput in = pointer;
    in.pressed &= kAllButtons;
    in.released &= kAllButtons;
    if ((in.pressed | in.released) & kEditorClickButtons && excluded_) {
        in.position = PositionOf(in);  // asked once, kept for the position item
        if (in.position && excluded_(*in.position)) {
            in.pressed &= ~kEditorClickButtons;
            in.released &= ~kEditorClickButtons;
        }
    }
    if (state_ == CaptureState::kRecording) return RecordPointer(in);
    return CapturePointer(in);
}

RecorderOutput MacroRecorder::RecordPointer(const PointerInput& pointer) {
    const uint8_t pressed = pointer.pressed;
    const uint8_t released = pointer.released;
    const TimePoint now = clock_.Now();
    const bool edge = (pressed | released) != 0;
    const bool wheel = pointer.wheelDelta != 0;
    const auto interval = std::chrono::milliseconds(static_cast<int>(options_.trackInterval));
    const bool trackDue = options_.recordCursorTrack && lastEvent_ && now - *lastEvent_ > interval;
    if (!edge && !wheel && !trackDue) return {};

    std::optional<MacroItem> move;
    if ((options_.recordClickPositions && edge) || trackDue) {
        if (const std::optional<ScreenPoint> at = PositionOf(pointer)) {
            if (!lastPosition_) {
                move = MakeMoveItem(kOpMoveTo, at->x, at->y);
            } else if (*at != *lastPosition_) {
                move = MakeMoveItem(kOpMove, static_cast<long>(at->x) - lastPosition_->x,
                                    static_cast<long>(at->y) - lastPosition_->y);
            }
            lastPosition_ = *at;
        }
    }
    // A track sample where the pointer has not moved records nothing, not even its wait:
    // the next event's wait covers the time.
    if (!edge && !wheel && !move) return {};

    RecorderOutput out;
    std::vector<MacroItem>& items = out.items;
    AddDelayAndMark(items, now);
    if (move) items.push_back(*move);
    if (pressed) items.push_back(ButtonItem(kOpButtonDown, pressed));
    if (released) items.push_back(ButtonItem(kOpButtonUp, released));
    AddWheel(items, pointer.wheelDelta);
    if (!items.empty()) out.placement = RecorderOutput::Placement::kAppend;
    return out;
}

RecorderOutput MacroRecorder::CapturePointer(const PointerInput& pointer) {
    const uint8_t pressed = pointer.pressed;
    // Movements and releases do not end a capture; a press or a wheel step does.
    RecorderOutput out;
    if (pressed) {
        out.items = {ButtonItem(kOpButtonDown, pressed), ButtonItem(kOpButtonUp, pressed)};
    } else {
        AddWheel(out.items, pointer.wheelDelta);
    }
    if (out.items.empty()) return {};
    state_ = CaptureState::kIdle;
    capturedKey_ = 0;
    out.placement = RecorderOutput::Placement::kInsertAtCursor;
    out.captureEnded = true;
    return out;
}

}  // namespace qvm
