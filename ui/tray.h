// The tray icon of the running program: its menu ("Settings", "Quit") and the meaning of
// clicks on it. A double click restores the main window; a single left click opens the
// menu half a second later unless it was the first half of a double click; a right click
// opens it after 10 ms. The click rules are app/tray_clicks; this class only maps the
// tray's activation reasons onto them and runs the one-shot menu timer.
#pragma once

#include <QMenu>
#include <QObject>
#include <QSystemTrayIcon>
#include <QTimer>

#include "app/tray_clicks.h"

class QAction;

namespace qvm::ui {

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

    QMenu& Menu() { return menu_; }
    QAction* SettingsAction() const { return settings_; }
    QAction* QuitAction() const { return quit_; }
    bool MenuTimerRunning() const { return menuTimer_.isActive(); }

  signals:
    // A double click or "Settings": show the main window.
    void restoreRequested();
    // "Quit": end the program.
    void quitRequested();
    // The menu is about to open at the pointer (tests watch this instead of the popup).
    void menuShown();

  private:
    void Run(const TrayActions& actions);
    void ShowMenu();

    TrayClicks clicks_;
    QTimer menuTimer_;
    QMenu menu_;
    QAction* settings_ = nullptr;
    QAction* quit_ = nullptr;
    QSystemTrayIcon icon_;
};

}  // namespace qvm::ui
