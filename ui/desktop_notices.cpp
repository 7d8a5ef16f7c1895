#include "ui/desktop_notices.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <QSocketNotifier>
#include <array>
#include <atomic>
#include <cerrno>
#include <iostream>
#include <utility>

#include "ui/qt_text.h"

namespace qvm::ui {
namespace {

constexpr std::array kQuitSignals = {SIGINT, SIGTERM, SIGHUP};

// The pipe end the signal handler writes to; -1 when no QuitOnSignals lives.
std::atomic<int> gQuitSignalFd{-1};

void OnQuitSignal(int) {
    const int savedErrno = errno;
    const int fd = gQuitSignalFd.load();
    if (fd >= 0) {
        const char byte = 1;
        (void)::write(fd, &byte, 1);
    }
    errno = savedErrno;
}

void SetQuitHandlers(void (*handler)(int)) {
    struct sigaction action = {};
    action.sa_handler = handler;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int signal : kQuitSignals) ::sigaction(signal, &action, nullptr);
}

}  // namespace

void FollowPointerChanges(PointerAcceleration& pointer, QObject* owner,
                          std::function<void(const QString&)> showError) {
    const int fd = pointer.ChangeFd();
    if (fd < 0) return;
    auto* notifier = new QSocketNotifier(fd, QSocketNotifier::Read, owner);
    QObject::connect(notifier, &QSocketNotifier::activated, owner,
                     [&pointer, showError = std::move(showError)] {
                         if (const Status followed = pointer.FollowChanges(); !followed) {
                             showError(ErrorMessage(followed.error()));
                         }
                     });
}

QuitOnSignals::QuitOnSignals(std::function<void()> quit, QObject* parent)
    : QObject(parent), quit_(std::move(quit)) {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC | O_NONBLOCK) != 0) {
        std::cerr << "qvm-gaming: Ctrl+C will end the program without putting back its changes: "
                     "no pipe\n";
        return;
    }
    readEnd_.reset(fds[0]);
    writeEnd_.reset(fds[1]);
    gQuitSignalFd.store(writeEnd_.get());
    auto* notifier = new QSocketNotifier(readEnd_.get(), QSocketNotifier::Read, this);
    connect(notifier, &QSocketNotifier::activated, this, &QuitOnSignals::OnSignal);
    SetQuitHandlers(OnQuitSignal);
}

QuitOnSignals::~QuitOnSignals() {
    if (!writeEnd_) return;
    SetQuitHandlers(SIG_DFL);
    gQuitSignalFd.store(-1);
}

void QuitOnSignals::OnSignal() {
    char bytes[16];
    while (::read(readEnd_.get(), bytes, sizeof bytes) > 0) {
    }
    // The next signal ends the program at once, should the orderly quit hang.
    SetQuitHandlers(SIG_DFL);
    if (quit_) std::exchange(quit_, nullptr)();
}

}  // namespace qvm::ui
