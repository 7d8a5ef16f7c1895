// ProfileTabs: the row of the five profile tabs under the main window's header. Each tab
// shows the profile's colour as a strip and its name; the active profile is highlighted.
// A click activates a profile; a double click or the small pen symbol asks to rename it;
// a right click offers its colour and the binding of a program to the profile. A tab with a
// bound program shows that program's name under the profile's and a marker (a small
// crossed circle) whose click removes the binding. The tabs only ask: the main window runs
// the dialogs, the device writes and the storing of bindings.
//
// From the keyboard the row is one stop of the Tab order: Left/Right (Home/End) move a
// dashed focus frame over the tabs, Space or Enter activates the framed profile, F2
// renames it and the menu key offers its colour. The accessible name follows the framed
// tab ("Profile 2: Work, active").
#pragma once

#include <QColor>
#include <QString>
#include <QWidget>
#include <array>
#include <cstdint>
#include <optional>
#include <vector>

#include "config/image_layout.h"

namespace qvm::ui {

struct ProfileTab {
    QString name;
    QColor colour;
    bool off = false;
    QString app;      // the bound program's name; empty: no program is bound
    QString appPath;  // its executable
};

class ProfileTabs : public QWidget {
    Q_OBJECT
  public:
    explicit ProfileTabs(QWidget* parent = nullptr);

    // The profiles the device has (at most five; none without a device) and the active one.
    void SetProfiles(std::vector<ProfileTab> profiles, int active);
    int Count() const { return static_cast<int>(profiles_.size()); }
    int Active() const { return active_; }
    const ProfileTab& Tab(int profile) const {
        return profiles_.at(static_cast<std::size_t>(profile));
    }

    // Where tab `profile` and its pen symbol are drawn (tests click them).
    QRect TabRect(int profile) const;
    QRect PenRect(int profile) const;
    // The marker of a bound program on tab `profile`; empty when none is bound.
    QRect MarkerRect(int profile) const;
    // The tab the keyboard frame is on (-1 without profiles).
    int Focused() const { return focused_; }

  signals:
    void activateRequested(int profile);
    void renameRequested(int profile);
    void colourRequested(int profile);
    void bindRequested(int profile);
    void unbindRequested(int profile);

  protected:
    bool event(QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;

  private:
    std::optional<int> TabAt(const QPoint& point) const;
    // Moves the keyboard frame (clamped to the tabs) and renames the accessible object.
    void SetFocused(int profile);
    void OfferMenu(int profile, const QPoint& globalPos);
    bool Bound(int profile) const { return profile < Count() && !Tab(profile).app.isEmpty(); }

    std::vector<ProfileTab> profiles_;
    int active_ = -1;
    int focused_ = -1;
};

}  // namespace qvm::ui
