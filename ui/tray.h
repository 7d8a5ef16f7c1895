// The tray icon of the running program: its menu (the five profiles of the mouse the
// window works on, the active one checked, then "Settings" and "Quit") and the meaning of
// clicks on it. A left click or a double click opens the main window; a right click
// opens the menu after 10 ms. The click rules are app/tray_clicks; this class only maps
// the tray's activation reasons onto them and runs the one-shot menu timer. Choosing a
// profile in the menu makes it the mouse's active profile, as its tab in the window does.
#pragma once

#include <QMenu>
#include <QObject>
#include <QSystemTrayIcon>
#include <QTimer>
#include <vector>

#include "present/tray_clicks.h"

class QAction;
class QActionGroup;

namespace qvm::ui {

class DeviceController;

class Tray : public QObject {
    Q_OBJECT
  public:
    explicit Tray(QObject* parent = nullptr);
    ~Tray() override;

    // Whether the desktop offers a tray at all (else closing minimises instead of hiding).
    static bool Available();
    void Show();

    // One activation of the icon (the icon's activated() signal ends here).
    void Activate(QSystemTrayIcon::ActivationReason reason);

    // Keeps the profile entries in step with the controller's mouse and sends a chosen
    // profile to it.
    void FollowDevice(DeviceController& controller);

    QMenu& Menu() { return menu_; }
    // The profile entries, in profile order (none without a mouse).
    const std::vector<QAction*>& ProfileActions() const { return profiles_; }
    QAction* SettingsAction() const { return settings_; }
    QAction* QuitAction() const { return quit_; }
    bool MenuTimerRunning() const { return menuTimer_.isActive(); }

  signals:
    // A profile entry was chosen that is not the active profile.
    void profileChosen(int profile);
    // A left or double click or "Settings": show the main window.
    void restoreRequested();
    // "Quit": end the program.
    void quitRequested();
    // The menu is about to open at the pointer (tests watch this instead of the popup).
    void menuShown();

  private:
    void Run(const TrayActions& actions);
    void ShowMenu();
    // Rebuilds the profile entries when the names changed; checks the active one.
    void SetProfiles(const std::vector<QString>& names, int active);

    TrayClicks clicks_;
    QTimer menuTimer_;
    QMenu menu_;
    QAction* settings_ = nullptr;
    QAction* quit_ = nullptr;
    QAction* profilesEnd_ = nullptr;  // the separator between the profiles and "Settings"
    QActionGroup* profileGroup_ = nullptr;
    std::vector<QAction*> profiles_;
    std::vector<QString> profileNames_;
    int active_ = -1;
    QSystemTrayIcon icon_;
};

}  // namespace qvm::ui
