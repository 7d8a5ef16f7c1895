// Recording from the whole desktop while the windows stay on Qt's offscreen platform: an
// Xvfb of the test's own, the program's input source on it, and keys typed through XTest
// into another program's window. They become the macro's bytes, no other program can take
// the keyboard while the recording runs, and it is free again after Stop and after the
// recording is destroyed.
#include <QtTest>
#include <memory>

#include "support/fake_clock.h"
#include "support/xvfb.h"
#include "ui/input_source.h"
#include "ui/macro_recording.h"
#ifdef QVM_HAVE_LINUX_HID
#include "support/x11_other_client.h"
#endif

using namespace qvm;
using namespace qvm::ui;

Q_DECLARE_METATYPE(std::vector<qvm::MacroItem>)

namespace {

constexpr int kXLeftCtrl = 37;
constexpr int kXC = 54;
constexpr int kGenerousWaitMs = 10000;

QByteArray RecordedBytes(const QSignalSpy& spy) {
    QByteArray out;
    for (const QList<QVariant>& emission : spy) {
        for (const MacroItem& item : emission.at(0).value<std::vector<MacroItem>>()) {
            for (uint8_t byte : item.Bytes()) out.append(static_cast<char>(byte));
        }
    }
    return out;
}

}  // namespace

class DesktopRecordingTest : public QObject {
    Q_OBJECT

  private slots:
    void initTestCase() { qRegisterMetaType<std::vector<MacroItem>>(); }

    void recordsKeysTypedIntoAnotherProgram_data() {
        QTest::addColumn<QString>("ending");
        QTest::newRow("stop") << "stop";
        QTest::newRow("recording destroyed") << "destroy";
    }
    void recordsKeysTypedIntoAnotherProgram() {
#ifndef QVM_HAVE_LINUX_HID
        QSKIP("this build leaves out the Linux platform");
#else
        QFETCH(QString, ending);
        if (!test::XvfbInstalled()) QSKIP("Xvfb is not installed (Debian package xvfb)");
        test::Xvfb xvfb;
        QVERIFY2(!xvfb.Name().empty(), "Xvfb did not start");
        test::X11OtherClient other(xvfb.Name());
        QVERIFY(other.Ok());
        auto desktop = OpenDesktopInput(xvfb.Name());
        QVERIFY2(desktop.ok(), desktop.ok() ? "" : desktop.message().c_str());
        InputSource source(std::move(*desktop), QString());
        QVERIFY(source.WholeDesktop());

        test::FakeClock clock;
        auto recording = std::make_unique<MacroRecording>(source, clock);
        QSignalSpy recorded(recording.get(), &MacroRecording::recorded);
        QVERIFY(recording->StartRecording(nullptr).ok());
        QCOMPARE(other.TryGrab(), test::kXAlreadyGrabbed);

        other.Key(kXLeftCtrl, true);
        other.Key(kXC, true);
        other.Key(kXC, false);
        other.Key(kXLeftCtrl, false);
        other.Sync();
        const QByteArray ctrlC("\x83\xe0\x83\x06\x84\x06\x84\xe0", 8);
        QTRY_COMPARE_WITH_TIMEOUT(RecordedBytes(recorded), ctrlC, kGenerousWaitMs);
        // The keys were the recorder's alone: the focused window saw none of them.
        QCOMPARE(other.KeyPresses(), std::vector<int>{});

        if (ending == "stop") {
            recording->Stop();
        } else {
            recording.reset();
        }
        QCOMPARE(other.TryGrab(), test::kXGrabSuccess);
        other.Key(kXC, true);
        other.Key(kXC, false);
        QCOMPARE(other.KeyPresses(), std::vector<int>{kXC});
        QCoreApplication::processEvents();
        QCOMPARE(RecordedBytes(recorded), ctrlC);  // nothing after the end is recorded
#endif
    }
};

QTEST_MAIN(DesktopRecordingTest)
#include "desktop_recording_test.moc"
