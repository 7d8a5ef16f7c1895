// Notices from the desktop the program follows while it runs:
// - the pointer devices coming and going, so that a QVM mouse plugged in while
//   "Disable mouse acceleration" is on runs without acceleration too;
// - the terminal or the session asking the program to end (Ctrl+C, SIGTERM, a closed
//   terminal), which then quits in order as from the tray menu, so that pending device
//   writes are sent and the pointers get their own settings back.
#pragma once

#include <QObject>
#include <QString>
#include <functional>

#include "base/unique_fd.h"
#include "platform/pointer_acceleration.h"

namespace qvm::ui {

// Follows `pointer`'s change notices for as long as `owner` lives; a failure is passed to
// `showError`. Does nothing when the desktop gives no notices.
void FollowPointerChanges(PointerAcceleration& pointer, QObject* owner,
                          std::function<void(const QString&)> showError);

// While it lives, SIGINT, SIGTERM and SIGHUP call `quit` on the UI thread once; a second
// signal ends the program at once, as it would without this.
class QuitOnSignals : public QObject {
    Q_OBJECT
  public:
    explicit QuitOnSignals(std::function<void()> quit, QObject* parent = nullptr);
    ~QuitOnSignals() override;
    QuitOnSignals(const QuitOnSignals&) = delete;
    QuitOnSignals& operator=(const QuitOnSignals&) = delete;

  private:
    void OnSignal();

    std::function<void()> quit_;
    UniqueFd readEnd_;
    UniqueFd writeEnd_;
};

}  // namespace qvm::ui
