// OsdWindow: the on-screen display that shows the mouse's new profile, DPI or angle
// snapping when the mouse changes them by itself. A frameless, translucent window above
// all others that takes no focus and lets every click through, placed on the screen that
// holds the pointer. It fades in, holds and fades out as its OsdFader says; its 20 ms
// timer runs only while it shows or fades, so an idle program does not wake for it.
#pragma once

#include <QTimer>
#include <QWidget>
#include <functional>

#include "host/host_status.h"
#include "present/osd_view.h"

namespace qvm::ui {

class OsdWindow : public QWidget {
    Q_OBJECT
  public:
    // `source` gives the active mouse's profile names and colours, DPI step and step
    // count; it is asked whenever the display draws anew.
    explicit OsdWindow(HostStatus& status, std::function<OsdSource()> source);

    // A status report asked for the display: `countdownPasses` passes from now
    // (0 when the display is switched off: a display already up then shows the new values).
    void Start(int countdownPasses);
    bool Showing() const { return fader_.Active(); }
    const OsdFader& Fader() const { return fader_; }

    // One pass of the display, as the timer runs it (tests drive the passes themselves).
    void RunPass();
    bool TimerRunning() const { return timer_.isActive(); }
    // What the display shows now (read at the last pass that drew).
    const OsdContent& Content() const { return content_; }

  signals:
    // It hid itself and cleared the change flags (the main window may repaint).
    void hidden();

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    // The window's size for `content_`, and where it goes on the screen of the pointer.
    QSize ContentSize() const;
    void PlaceOnPointerScreen();

    HostStatus& status_;
    std::function<OsdSource()> source_;
    OsdFader fader_;
    OsdContent content_;
    QTimer timer_;
};

}  // namespace qvm::ui
