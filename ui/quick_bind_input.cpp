#include "ui/quick_bind_input.h"

#include <QWidget>
#include <cstdio>

#include "lang/linux_keycodes.h"
#include "lang/ui_strings.h"
#include "macro/macro_recorder.h"
#include "ui/qt_text.h"

namespace qvm::ui {

namespace {

constexpr int kXButtonLeft = 1;
constexpr char kOwnWindowsNote[] = "Only keys and clicks in this program's windows are seen";

}  // namespace

std::optional<int> Set1ScanCodeOfNative(quint32 nativeScanCode) {
    return EvdevToSet1ScanCode(X11KeycodeToEvdev(static_cast<int>(nativeScanCode)));
}

uint32_t BindingMaskOfXButton(int xButton) {
    // Quick binding's masks are the macro button bits: one table turns X buttons into both.
    const std::optional<PointerInput> pointer = PointerInputFromX11Button(xButton, true);
    return pointer ? pointer->pressed : 0;
}

QuickBindInput::QuickBindInput(InputSource& source, QWidget* grabWidget, QObject* parent)
    : QObject(parent), source_(source), grabWidget_(grabWidget) {
    timer_.setInterval(QuickBinding::kTickMs);
    connect(&timer_, &QTimer::timeout, this, [this] {
        Handle(binding_.Tick());
        if (binding_.Active()) emit prompted(Prompt());
    });
}

QuickBindInput::~QuickBindInput() {
    Stop();
}

Status QuickBindInput::Start(int position, int button) {
    if (Status ok = binding_.Start(button); !ok) return ok;
    position_ = position;
    if (!lease_) {
        LeaseOptions options;
        options.swallowKeys = true;
        options.swallowMouse = true;
        options.grabKeyboard = true;
        lease_ = source_.Take(options, grabWidget_);
        connect(lease_.get(), &InputLease::key, this, &QuickBindInput::OnKey);
        connect(lease_.get(), &InputLease::button, this, &QuickBindInput::OnButton);
        // Another part of the program (the macro recorder) took the input.
        connect(lease_.get(), &InputLease::silenced, this, &QuickBindInput::Cancel);
        if (const QString notice = source_.FallbackNotice(); !notice.isEmpty()) {
            std::fprintf(stderr, "qvm-gaming: %s\n", qPrintable(notice));
            note_ = QString::fromLatin1(kOwnWindowsNote);
        }
    }
    timer_.start();
    emit prompted(Prompt());
    return {};
}

void QuickBindInput::Cancel() {
    if (binding_.Active()) Handle(binding_.Cancel());
}

void QuickBindInput::SetStopTest(std::function<bool(const QPoint&)> stops) {
    stops_ = std::move(stops);
}

std::optional<int> QuickBindInput::Position() const {
    if (!binding_.Active()) return std::nullopt;
    return position_;
}

QString QuickBindInput::Prompt() const {
    return ToQ(QuickBindingPrompt(Ui(), binding_.SecondsLeft()));
}

void QuickBindInput::Stop() {
    timer_.stop();
    lease_.reset();  // ends the grab and the swallowing
    note_.clear();
}

void QuickBindInput::Handle(const QuickBindingResult& result) {
    if (!result.Ended()) return;
    const int position = position_;
    Stop();
    position_ = -1;
    if (result.kind == QuickBindingResult::Kind::kBound) {
        emit bound(position, result.button, result.slot);
    }
    emit ended();
}

void QuickBindInput::OnKey(int x11Keycode, bool down) {
    if (!binding_.Active()) return;
    if (const auto code = Set1ScanCodeOfNative(static_cast<quint32>(x11Keycode))) {
        Handle(down ? binding_.KeyDown(*code) : binding_.KeyUp(*code));
    }
}

void QuickBindInput::OnButton(int xButton, bool down, std::optional<QPoint> globalPos) {
    if (!binding_.Active() || !down) return;
    if (xButton == kXButtonLeft && stops_ && globalPos && stops_(*globalPos)) {
        Cancel();
        return;
    }
    Handle(binding_.MouseButtons(BindingMaskOfXButton(xButton)));
}

}  // namespace qvm::ui
