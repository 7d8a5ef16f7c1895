#include "ui/tray.h"

#include <QActionGroup>
#include <QCursor>

#include "lang/ui_strings.h"
#include "ui/app_icon.h"
#include "ui/device_controller.h"
#include "ui/qt_text.h"

namespace qvm::ui {

namespace {
constexpr int kSettingsItem = 0;  // menu_str entries
constexpr int kQuitItem = 1;
}  // namespace

Tray::Tray(QObject* parent) : QObject(parent) {
    menuTimer_.setSingleShot(true);
    connect(&menuTimer_, &QTimer::timeout, this, [this] { Run(clicks_.TimerFired()); });

    profileGroup_ = new QActionGroup(this);
    profileGroup_->setExclusive(true);
    profilesEnd_ = menu_.addSeparator();
    profilesEnd_->setVisible(false);
    settings_ = menu_.addAction(ToQ(Ui().menu_str[kSettingsItem]));
    quit_ = menu_.addAction(ToQ(Ui().menu_str[kQuitItem]));
    connect(settings_, &QAction::triggered, this, &Tray::restoreRequested);
    connect(quit_, &QAction::triggered, this, &Tray::quitRequested);

    icon_.setIcon(AppIcon());
    icon_.setToolTip(QStringLiteral("QVM Gaming"));  // the program's name, not translated
    // Trays that export the menu themselves (StatusNotifierItem) need it set here; on the
    // others Qt opens it on a right click, and the timer below then finds it open.
    icon_.setContextMenu(&menu_);
    connect(&icon_, &QSystemTrayIcon::activated, this, &Tray::Activate);
}

Tray::~Tray() {
    icon_.hide();
}

bool Tray::Available() {
    return QSystemTrayIcon::isSystemTrayAvailable();
}

void Tray::Show() {
    icon_.show();
}

void Tray::Activate(QSystemTrayIcon::ActivationReason reason) {
    switch (reason) {
        case QSystemTrayIcon::Trigger:
            Run(clicks_.LeftUp());
            break;
        case QSystemTrayIcon::DoubleClick:
            Run(clicks_.DoubleClick());
            break;
        case QSystemTrayIcon::Context:
            Run(clicks_.RightUp());
            break;
        default:
            break;  // a middle click or an unknown reason means nothing here
    }
}

void Tray::Run(const TrayActions& actions) {
    for (const TrayAction& action : actions) {
        switch (action.kind) {
            case TrayAction::Kind::kStartTimer:
                menuTimer_.start(action.ms);
                break;
            case TrayAction::Kind::kStopTimer:
                menuTimer_.stop();
                break;
            case TrayAction::Kind::kRestoreWindow:
                emit restoreRequested();
                break;
            case TrayAction::Kind::kShowMenu:
                ShowMenu();
                break;
        }
    }
}

void Tray::FollowDevice(DeviceController& controller) {
    const auto follow = [this, &controller] {
        const DeviceView view = controller.View();
        std::vector<QString> names;
        if (view.present && !view.away) {
            const ConfigImage& image = *view.image;
            for (int p = 0; p < image.profileCount && p < kProfileCount; ++p) {
                names.push_back(ToQ(image.profiles[static_cast<std::size_t>(p)].name));
            }
        }
        SetProfiles(names, names.empty() ? -1 : view.image->currentProfile);
    };
    connect(&controller, &DeviceController::viewChanged, this, follow);
    connect(this, &Tray::profileChosen, &controller, [&controller](int profile) {
        controller.Change(HubOperation::ActiveProfile,
                          Setter(&ConfigModel::SetActiveProfile, profile));
    });
    follow();
}

void Tray::SetProfiles(const std::vector<QString>& names, int active) {
    if (names != profileNames_) {
        for (QAction* action : profiles_) {
            menu_.removeAction(action);
            profileGroup_->removeAction(action);
            action->deleteLater();  // it may be the one whose click got here
        }
        profiles_.clear();
        profileNames_ = names;
        for (std::size_t p = 0; p < names.size(); ++p) {
            auto* action = new QAction(names[p], profileGroup_);
            action->setCheckable(true);
            menu_.insertAction(profilesEnd_, action);
            const int profile = static_cast<int>(p);
            connect(action, &QAction::triggered, this, [this, profile] {
                // The group checks what was clicked: the device decides, the view follows.
                if (profile != active_) emit profileChosen(profile);
                SetProfiles(profileNames_, active_);
            });
            profiles_.push_back(action);
        }
        profilesEnd_->setVisible(!profiles_.empty());
    }
    active_ = active;
    for (std::size_t p = 0; p < profiles_.size(); ++p) {
        profiles_[p]->setChecked(static_cast<int>(p) == active);
    }
}

void Tray::ShowMenu() {
    emit menuShown();
    if (!menu_.isVisible()) menu_.popup(QCursor::pos());
}

}  // namespace qvm::ui
