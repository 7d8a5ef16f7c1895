// The desktop's notices while the program runs: a QVM mouse plugged in while the
// acceleration option is on, and the signals that end the program in order.
#include "ui/desktop_notices.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <QObject>
#include <QTest>
#include <vector>

#include "base/unique_fd.h"
#include "support/fake_pointer_devices.h"

using namespace qvm;

namespace {

constexpr int kWaitMs = 5000;

struct Pipe {
    Pipe() {
        int fds[2];
        if (::pipe2(fds, O_CLOEXEC | O_NONBLOCK) != 0) qFatal("no pipe");
        read.reset(fds[0]);
        write.reset(fds[1]);
    }
    void Poke() const {
        const char byte = 1;
        QCOMPARE(::write(write.get(), &byte, 1), ssize_t{1});
    }
    UniqueFd read;
    UniqueFd write;
};

bool QuitHandlerIsDefault(int signal) {
    struct sigaction current = {};
    ::sigaction(signal, nullptr, &current);
    return current.sa_handler == SIG_DFL;
}

}  // namespace

class DesktopNoticesTest : public QObject {
    Q_OBJECT
  private slots:
    void pluggedInQvmMouseIsFlattened();
    void quitSignals_data();
    void quitSignals();
};

void DesktopNoticesTest::pluggedInQvmMouseIsFlattened() {
    Pipe notices;
    test::FakePointerDesktop desktop;
    desktop.changeFd = notices.read.get();
    PointerAcceleration pointer(desktop.Connect());
    QVERIFY(pointer.Hold());
    QObject owner;
    QStringList errors;
    ui::FollowPointerChanges(pointer, &owner, [&errors](const QString& text) { errors << text; });

    desktop.Add(test::LibinputPointer(14, "QVM mouse", kQvmUsbVendor));
    notices.Poke();
    QTRY_COMPARE_WITH_TIMEOUT(desktop.calls, std::vector<std::string>{"set 14 0,1"}, kWaitMs);

    // One that cannot be flattened is told to the user.
    desktop.Add(test::LibinputPointer(15, "QVM old mouse", kQvmUsbVendor, {}));
    notices.Poke();
    QTRY_COMPARE_WITH_TIMEOUT(errors.size(), 1, kWaitMs);
    QVERIFY2(errors[0].contains("\"QVM old mouse\" is not driven by libinput"),
             qPrintable(errors[0]));
}

void DesktopNoticesTest::quitSignals_data() {
    QTest::addColumn<int>("signal");
    QTest::newRow("Ctrl+C") << SIGINT;
    QTest::newRow("terminate") << SIGTERM;
    QTest::newRow("terminal closed") << SIGHUP;
}

void DesktopNoticesTest::quitSignals() {
    QFETCH(int, signal);
    int quits = 0;
    {
        ui::QuitOnSignals quit([&quits] { ++quits; });
        QVERIFY(!QuitHandlerIsDefault(signal));
        ::raise(signal);
        QTRY_COMPARE_WITH_TIMEOUT(quits, 1, kWaitMs);
        // A second signal would end the program at once.
        QVERIFY(QuitHandlerIsDefault(signal));
    }
    QVERIFY(QuitHandlerIsDefault(SIGINT));
    QCOMPARE(quits, 1);
}

QTEST_GUILESS_MAIN(DesktopNoticesTest)
#include "desktop_notices_test.moc"
