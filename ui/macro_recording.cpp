#include "ui/macro_recording.h"

#include <QWidget>

namespace qvm::ui {

namespace {

// After the first wait for a captured key's release, how often the grab is looked at again
// (only while the recorder still wants the keyboard).
constexpr int kGrabRecheckMs = 100;

// The recorder counts screen pixels, as the mouse moves the pointer.
ScreenPoint ToScreen(const QPoint& global) {
    const QPoint pixels = GlobalToScreenPixels(global);
    return ScreenPoint{pixels.x(), pixels.y()};
}

}  // namespace

MacroRecording::MacroRecording(InputSource& source, const Clock& clock, QObject* parent)
    : QObject(parent), source_(source), recorder_(clock) {
    recorder_.SetPointerSource([this]() -> std::optional<ScreenPoint> {
        if (const std::optional<QPoint> at = source_.PointerPosition()) return ToScreen(*at);
        return std::nullopt;
    });
    recorder_.SetExcludedArea([this](ScreenPoint at) {
        const QPoint point = ScreenPixelsToGlobal(QPoint(at.x, at.y));
        for (const QPointer<QWidget>& widget : excluded_) {
            if (!widget || !widget->isVisible()) continue;
            const QRect area(widget->mapToGlobal(QPoint(0, 0)), widget->size());
            if (area.contains(point)) return true;
        }
        return false;
    });
    grabTimer_.setSingleShot(true);
    connect(&grabTimer_, &QTimer::timeout, this, [this] {
        awaitingRelease_ = false;  // a release that never comes does not hold the input
        KeepGrabWhileWanted();
    });
}

MacroRecording::~MacroRecording() {
    grabTimer_.stop();
    lease_.reset();  // releases the keyboard
}

void MacroRecording::SetOptions(const RecorderOptions& options) {
    recorder_.SetOptions(options);
}

void MacroRecording::SetExcludedWidgets(std::vector<QPointer<QWidget>> widgets) {
    excluded_ = std::move(widgets);
}

Status MacroRecording::StartRecording(QWidget* grabWidget) {
    if (Status taken = TakeInput(grabWidget, false); !taken) return taken;
    recorder_.StartRecording();
    return {};
}

Status MacroRecording::StartCapture(bool fromMouseInsert, QWidget* grabWidget) {
    // The click a capture takes must not also act on the widget under it (move the edit
    // area's cursor, press a command); Record and Stop stay clickable.
    if (Status taken = TakeInput(grabWidget, true); !taken) return taken;
    recorder_.StartCapture(fromMouseInsert);
    return {};
}

Status MacroRecording::TakeInput(QWidget* grabWidget, bool swallowMouse) {
    // A recording or capture already running ends first: one lease, one grab.
    const bool wasActive = recorder_.Active();
    recorder_.Stop();
    grabTimer_.stop();
    lease_.reset();
    awaitingRelease_ = false;
    if (wasActive) emit stopped();

    LeaseOptions options;
    options.swallowKeys = true;
    options.swallowMouse = swallowMouse;
    options.mouseFree = excluded_;
    options.grabKeyboard = false;  // taken below, where a refusal can be reported
    lease_ = source_.Take(options, grabWidget);
    InputLease* lease = lease_.get();
    connect(lease, &InputLease::key, this, [this](int keycode, bool down) {
        if (const std::optional<KeyInput> key = KeyInputFromX11(keycode, down)) {
            Deliver(recorder_.OnKey(*key));
        }
        // The release of a captured key may be what the grab was kept for.
        if (!recorder_.Active()) KeepGrabWhileWanted();
    });
    connect(lease, &InputLease::button, this,
            [this](int xButton, bool down, std::optional<QPoint> at) {
                if (!recorder_.Active()) {
                    // The release of a captured click: the input can go now.
                    if (awaitingRelease_ && !down) {
                        awaitingRelease_ = false;
                        KeepGrabWhileWanted();
                    }
                    return;
                }
                std::optional<PointerInput> pointer = PointerInputFromX11Button(xButton, down);
                if (!pointer) return;
                if (at) pointer->position = ToScreen(*at);
                // A captured click keeps the input until its release, so that neither the
                // press (the desktop reports it apart from Qt) nor the release reaches the
                // widget under the pointer.
                awaitingRelease_ =
                    recorder_.State() != CaptureState::kRecording && pointer->pressed != 0;
                Deliver(recorder_.OnPointer(*pointer));
                if (recorder_.Active()) awaitingRelease_ = false;  // not taken (Stop, Record)
            });
    connect(lease, &InputLease::motion, this, [this](std::optional<QPoint> at) {
        PointerInput pointer;
        if (at) pointer.position = ToScreen(*at);
        Deliver(recorder_.OnPointer(pointer));
    });
    // Another part of the program took the input (quick binding): this recording is over.
    connect(lease, &InputLease::silenced, this, &MacroRecording::Stop);

    if (Status grabbed = lease_->SetKeyboardGrab(true); !grabbed) {
        lease_.reset();
        return grabbed;
    }
    return {};
}

void MacroRecording::Stop() {
    awaitingRelease_ = false;
    const bool wasActive = recorder_.Active();
    recorder_.Stop();
    grabTimer_.stop();
    lease_.reset();
    if (wasActive) emit stopped();
}

void MacroRecording::Deliver(const RecorderOutput& output) {
    if (!output.items.empty()) {
        if (output.placement == RecorderOutput::Placement::kAppend) {
            emit recorded(output.items);
        } else if (output.placement == RecorderOutput::Placement::kInsertAtCursor) {
            emit captured(output.items);
        }
    }
    if (output.captureEnded) {
        emit stopped();
        // A captured key keeps the keyboard until its release comes or the wait is over.
        if (recorder_.WantsKeyboard()) {
            grabTimer_.start(MacroRecorder::kCaptureReleaseWaitMs);
        } else {
            KeepGrabWhileWanted();
        }
    }
}

void MacroRecording::KeepGrabWhileWanted() {
    if (!lease_ || recorder_.Active()) return;
    if (awaitingRelease_) {
        if (!grabTimer_.isActive()) grabTimer_.start(MacroRecorder::kCaptureReleaseWaitMs);
        return;
    }
    if (recorder_.WantsKeyboard()) {
        if (!grabTimer_.isActive()) grabTimer_.start(kGrabRecheckMs);
        return;
    }
    grabTimer_.stop();
    lease_.reset();
}

}  // namespace qvm::ui
