#include "ui/tray.h"

#include <QCursor>

#include "app/ui_strings.h"
#include "ui/app_icon.h"
#include "ui/qt_text.h"

namespace qvm::ui {

namespace {
constexpr int kSettingsItem = 0;  // menu_str entries
constexpr int kQuitItem = 1;
}  // namespace

Tray::Tray(QObject* parent) : QObject(parent) {
    menuTimer_.setSingleShot(true);
    connect(&menuTimer_, &QTimer::timeout, this, [this] { Run(clicks_.TimerFired()); });

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

void Tray::ShowMenu() {
    emit menuShown();
    if (!menu_.isVisible()) menu_.popup(QCursor::pos());
}

}  // namespace qvm::ui
