#include "ui/host_services.h"

#include <QApplication>
#include <QMetaObject>
#include <QSocketNotifier>
#include <algorithm>
#include <cstdio>

#include "host/host_actions.h"
#include "platform/foreground.h"
#include "platform/input_injector.h"
#include "session/app_profiles.h"
#include "session/vendor_reports.h"
#include "ui/button_settings_dialog.h"
#include "ui/device_controller.h"
#include "ui/osd_window.h"
#include "ui/qt_text.h"

namespace qvm::ui {

namespace {

// The profile the main window shows is the low three bits of the report's profile byte.
constexpr int kProfileBits = 0x07;
constexpr const char* kReadme = "see \"Injected input\" in the README";

void ToTerminal(const std::string& line) {
    std::fprintf(stderr, "qvm-gaming: %s\n", line.c_str());
}

}  // namespace

HostServices::HostServices(DeviceController& controller, HostServicesContext context,
                           QObject* parent)
    : QObject(parent), controller_(controller), context_(std::move(context)) {
    if (!context_.minimiseForeground) {
        context_.minimiseForeground = [] { return MinimiseForegroundWindow(); };
    }
    injector_ = context_.injector;
    if (injector_ == nullptr) {
        ownInjector_ = OpenInputInjector(injectorLimits_);
        injector_ = ownInjector_.get();
    }
    if (!injectorLimits_.empty()) {
        // The terminal hears it at once; the window only when a mouse asks for what is
        // missing, so that a desktop without uinput access is not greeted by a box.
        ToTerminal(injector_->Name() == "none"
                       ? injectorLimits_
                       : "input the mice ask for goes through " + injector_->Name() +
                             (injector_->CanTouch() ? "" : ", without touch") + " (" +
                             injectorLimits_ + "; " + kReadme + ")");
    }

    HostCallbacks callbacks;
    callbacks.restoreMainWindow = [this] {
        QMetaObject::invokeMethod(
            this,
            [this] {
                if (context_.restoreMainWindow) context_.restoreMainWindow();
            },
            Qt::QueuedConnection);
    };
    callbacks.minimiseActiveWindow = [this] {
        QMetaObject::invokeMethod(
            this, [this] { MinimiseForeground(); }, Qt::QueuedConnection);
    };
    // Called on the reader's thread while reportPath_ names the report's interface.
    callbacks.statusApplied = [this](const StatusEffects& effects) {
        QMetaObject::invokeMethod(
            this, [this, path = reportPath_, effects] { OnStatus(path, effects); },
            Qt::QueuedConnection);
    };
    callbacks.injectionFailed = [this](const Error& error) {
        const QString text = Word(kWordInjectionFailed, {error.message, kReadme});
        QMetaObject::invokeMethod(
            this, [this, text] { TellOnce(toldInjection_, text); }, Qt::QueuedConnection);
    };
    actions_ = std::make_unique<HostActions>(*injector_, controller_.Hub().GetClock(), status_,
                                             std::move(callbacks));

    display_ = std::make_unique<OsdWindow>(status_, [this] {
        const DeviceView view = controller_.View();
        return view.present && displayShowsActive_ ? OsdSourceOf(*view.image) : OsdSource{};
    });

    apps_ = AppProfiles::OpenForDesktop(controller_.Hub());
    SettingsChanged();  // the bound programs, before the program in front is looked at
    if (apps_->Fd() >= 0) {
        foregroundNotifier_ = new QSocketNotifier(apps_->Fd(), QSocketNotifier::Read, this);
        connect(foregroundNotifier_, &QSocketNotifier::activated, this,
                &HostServices::OnForegroundReadable);
        // The program in use when the program starts counts too.
        OnForegroundReadable();
    } else {
        ToTerminal("profiles do not follow the program in use: " + apps_->Unavailable());
    }
    // The window's profile changes (by the user, by a program coming to the front, by a
    // reload): a status report naming that profile then reloads nothing.
    connect(&controller_, &DeviceController::viewChanged, this, [this] {
        const DeviceView view = controller_.View();
        if (view.present) status_.SetWindowProfile(view.image->currentProfile);
        // The program in front before a mouse was loaded (the one in use when this program
        // started) is looked at again once one is.
        const bool loaded =
            view.present && !view.away && !view.keyboard && view.image && view.image->loaded;
        if (loaded && !mouseLoaded_ && foregroundNotifier_ != nullptr) OnForegroundReadable();
        mouseLoaded_ = loaded;
    });

    auto reader = VendorReportReader::Start(
        controller_.Hub().Backend(),
        [this](const std::string& path, std::span<const uint8_t> report) {
            HandleReport(path, report);
        },
        [](const std::string& message) { ToTerminal(message); });
    if (reader) {
        reader_ = std::move(reader).value();
    } else {
        ToTerminal("the mice's requests to the computer are not read: " + reader.message());
    }
}

HostServices::~HostServices() {
    reader_.reset();
    if (actions_) actions_->Stop();
}

void HostServices::SettingsChanged() {
    if (context_.settings == nullptr) return;
    status_.SetDisplayEnabled(context_.settings->osd != 0);
    apps_->SetSlots(std::span<const AppSlot>(context_.settings->apps).first(kStoredAppSlots));
}

std::string HostServices::InjectorName() const {
    return injector_->Name();
}

std::string HostServices::AppProfilesUnavailable() const {
    return apps_->Unavailable();
}

void HostServices::HandleReport(const std::string& path, std::span<const uint8_t> report) {
    const VendorReport decoded = DecodeVendorReport(report);
    if (const auto* pointer = std::get_if<PointerReport>(&decoded);
        pointer != nullptr && pointer->contact && !injector_->CanTouch() && !toldTouch_) {
        toldTouch_ = true;  // only the reader's thread reads and writes this flag
        const QString text = Word(kWordTouchUnavailable, {injectorLimits_, kReadme});
        QMetaObject::invokeMethod(
            this,
            [this, text] {
                if (context_.showError) context_.showError(text);
            },
            Qt::QueuedConnection);
    }
    reportPath_ = path;
    actions_->Handle(decoded);
}

void HostServices::OnStatus(const std::string& path, const StatusEffects& effects) {
    displayShowsActive_ = IsActiveDevice(path);
    // With the display switched off a count of 0 only redraws a display that is up.
    display_->Start(effects.displayCountdown);
    // Another mouse's stage or profile is not the one the window shows.
    if (!displayShowsActive_) return;
    const HostStatusSnapshot now = status_.Snapshot();
    controller_.ShowDeviceState([&](ConfigImage& image) {
        const auto stage = static_cast<std::size_t>(now.stage);
        image.currentDpiStage = now.stage;
        image.dpiStages[stage] = {static_cast<uint8_t>(now.currentX),
                                  static_cast<uint8_t>(now.currentY)};
        image.angleSnapping = now.angleSnapping;
        if (effects.reloadAfterMs) {
            image.currentProfile = std::min(now.profile & kProfileBits, image.profileCount - 1);
        }
    });
    if (effects.reloadAfterMs) {
        // A button's settings opened for the old profile would be stored into the new one:
        // the open dialog ends as if cancelled.
        if (auto* open = qobject_cast<ButtonSettingsDialog*>(QApplication::activeModalWidget())) {
            open->reject();
        }
        controller_.RefreshAfter(*effects.reloadAfterMs);
    }
}

void HostServices::MinimiseForeground() {
    if (const qvm::Status done = context_.minimiseForeground(); !done) {
        TellOnce(toldMinimise_, ToQ(done.message()));
    }
}

void HostServices::OnForegroundReadable() {
    const AppSwitchResult result = apps_->HandleReadable();
    if (!apps_->Unavailable().empty()) {
        TellOnce(toldApps_, Word(kWordAppProfilesStopped, {apps_->Unavailable()}));
    }
    (void)result;
}

bool HostServices::IsActiveDevice(const std::string& path) {
    const DeviceView view = controller_.View();
    if (!view.present || view.away || view.path.empty()) return false;
    return path == view.path || controller_.Hub().Link().SameContainer(path, view.path);
}

void HostServices::TellOnce(bool& told, const QString& text) {
    // The window's report goes to the terminal too; later ones only there.
    if (told || !context_.showError) {
        ToTerminal(text.toStdString());
        return;
    }
    told = true;
    context_.showError(text);
}

}  // namespace qvm::ui
