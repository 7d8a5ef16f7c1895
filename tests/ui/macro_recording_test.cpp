// Recording from the program's own windows and from a desktop source: the exact bytes of what
// the user types and clicks, the keyboard grab always given back, the newest lease served.
#include <QKeyEvent>
#include <QPushButton>
#include <QSignalSpy>
#include <QWheelEvent>
#include <QtTest>

#include "support/fake_clock.h"
#include "support/fake_desktop_input.h"
#include "ui/input_source.h"
#include "ui/macro_recording.h"

using namespace qvm;
using namespace qvm::ui;
using qvm::test::FakeDesktopInput;
using Kind = qvm::DesktopEvent::Kind;

namespace {

constexpr int kXA = 38;  // X keycode: evdev 30 + 8

void SendKey(QWidget* to, int keycode, QEvent::Type type, bool repeat = false) {
    QKeyEvent event(type, Qt::Key_unknown, Qt::NoModifier, quint32(keycode), 0, 0, {}, repeat);
    QApplication::sendEvent(to, &event);
}

QByteArray BytesOf(const QList<QList<QVariant>>& emissions) {
    QByteArray out;
    for (const QList<QVariant>& emission : emissions) {
        const auto code = EncodeMacroCode(emission.at(0).value<std::vector<MacroItem>>());
        out.append(reinterpret_cast<const char*>(code.data()), qsizetype(code.size()));
    }
    return out;
}

// An area to type and click in and the Stop button; a recording on them or a fake desktop.
struct Rig {
    QWidget window;
    QWidget* area = new QWidget(&window);
    QPushButton* stop = new QPushButton(QStringLiteral("Stop"), &window);
    test::FakeDesktopCounts counts;
    FakeDesktopInput* fake = nullptr;
    test::FakeClock clock;
    InputSource source;
    std::unique_ptr<MacroRecording> recording = std::make_unique<MacroRecording>(source, clock);
    QSignalSpy recorded{recording.get(), &MacroRecording::recorded};
    QSignalSpy stopped{recording.get(), &MacroRecording::stopped};

    explicit Rig(bool desktop = false)
        : source(desktop ? MakeFake() : nullptr, desktop ? QString() : QStringLiteral("none")) {
        window.resize(400, 200);
        area->setGeometry(0, 0, 300, 200);
        stop->setGeometry(310, 10, 80, 30);
        window.show();
        recording->SetExcludedWidgets({stop});
    }
    std::unique_ptr<DesktopInput> MakeFake() {
        auto made = std::make_unique<FakeDesktopInput>(counts);
        fake = made.get();
        return made;
    }
    bool Grabbed() const {
        return fake != nullptr ? fake->KeyboardGrabbed() : QWidget::keyboardGrabber() != nullptr;
    }
};

}  // namespace

Q_DECLARE_METATYPE(std::vector<qvm::MacroItem>)

class MacroRecordingTest : public QObject {
    Q_OBJECT

  private slots:
    void initTestCase() { qRegisterMetaType<std::vector<MacroItem>>(); }

    // Script tokens: d, u, r an X keycode down, up, repeated; p, l a Qt::MouseButton pressed,
    // released (upper case: on the Stop button); m a wheel angle; w a wait in milliseconds.
    void recordsOwnWindowInput_data() {
        QTest::addColumn<QString>("script");
        QTest::addColumn<QByteArray>("expected");
        // X repeats a held key as a release and a press, both marked as repeats.
        QTest::newRow("ctrl+c with waits, auto-repeat dropped")
            << "d37 w50 d54 r54 r54 w120 u54 w300 u37"
            << QByteArray("\x83\xe0\x88\x32\x83\x06\x88\x78\x84\x06\x89\x2c\x01\x84\xe0", 15);
        QTest::newRow("left, back, forward; on Stop only a side button")
            << "p1 l1 p8 l8 p16 l16 P1 L1 P2 L2 P8 L8"
            << QByteArray("\x21\x41\x28\x48\x30\x50\x28\x48", 8);
        QTest::newRow("wheel: half notches add up, back turns count each notch")
            << "m60 m60 m-240" << QByteArray("\x61\x7f\x7f", 3);
    }
    void recordsOwnWindowInput() {
        QFETCH(QString, script);
        QFETCH(QByteArray, expected);
        Rig rig;
        QVERIFY(rig.recording->StartRecording(&rig.window).ok());
        for (const QString& token : script.split(' ')) {
            const char op = token[0].toLower().toLatin1();
            const int value = token.mid(1).toInt();
            QWidget* to = token[0].isUpper() ? static_cast<QWidget*>(rig.stop) : rig.area;
            const QPoint at(5, 5);
            QWheelEvent wheel(at, to->mapToGlobal(at), {}, QPoint(0, value), Qt::NoButton,
                              Qt::NoModifier, Qt::NoScrollPhase, false);
            if (op == 'r') SendKey(to, value, QEvent::KeyRelease, true);
            if (op == 'd' || op == 'r') SendKey(to, value, QEvent::KeyPress, op == 'r');
            if (op == 'u') SendKey(to, value, QEvent::KeyRelease);
            if (op == 'p') QTest::mousePress(to, Qt::MouseButton(value), Qt::NoModifier, at);
            if (op == 'l') QTest::mouseRelease(to, Qt::MouseButton(value), Qt::NoModifier, at);
            if (op == 'm') QApplication::sendEvent(to, &wheel);
            if (op == 'w') rig.clock.SleepMs(value);
        }
        QCOMPARE(BytesOf(rig.recorded), expected);
    }

    // Click positions are screen pixels, also where Qt scales the screen (run again at 200 %).
    void clickPositionsAreScreenPixels() {
        Rig rig;
        rig.recording->SetOptions({.recordIntervals = false, .recordClickPositions = true});
        QVERIFY(rig.recording->StartRecording(&rig.window).ok());
        QTest::mouseClick(rig.area, Qt::LeftButton, Qt::NoModifier, QPoint(20, 30));
        // The offscreen screen starts at 0,0: a screen pixel is a position times the scale.
        const QPoint at = rig.area->mapToGlobal(QPoint(20, 30)) * qApp->devicePixelRatio();
        QByteArray expected("\xc0", 1);
        for (int v : {at.x(), at.y()}) expected.append(char(v & 0xFF)).append(char(v >> 8));
        QCOMPARE(BytesOf(rig.recorded), expected + QByteArray("\x21\x41"));
    }

    // Typing while recording reaches the recorder only, never the widgets or the shortcuts.
    void keysAreSwallowed() {
        Rig rig;
        QVERIFY(rig.recording->StartRecording(&rig.window).ok());
        QSignalSpy clicked(rig.stop, &QPushButton::clicked);
        rig.stop->setFocus();
        QTest::keyClick(rig.stop, Qt::Key_Space);
        QCOMPARE(clicked.count(), 0);  // Space on a focused button would click it
        rig.recording->Stop();
        QTest::keyClick(rig.stop, Qt::Key_Space);
        QCOMPARE(clicked.count(), 1);  // after Stop the keys reach the widgets again
    }

    // The keyboard grab, on the window or the desktop, lives exactly as long as the recording.
    void grabEndsWithTheRecording_data() {
        QTest::addColumn<bool>("desktop");
        QTest::addColumn<QString>("ending");
        for (const bool desktop : {false, true}) {
            for (const char* ending : {"stop", "destroy", "newer"}) {
                QTest::addRow("%s, %s", desktop ? "desktop" : "window", ending)
                    << desktop << ending;
            }
        }
        QTest::newRow("desktop, captured key released") << true << "capture";
        QTest::newRow("desktop, grab refused") << true << "refused";
    }
    void grabEndsWithTheRecording() {
        QFETCH(bool, desktop);
        QFETCH(QString, ending);
        Rig rig(desktop);
        if (ending == "refused") {
            rig.fake->RefuseGrab(true);
            QCOMPARE(rig.recording->StartRecording(nullptr).kind(), ErrorKind::DeviceBusy);
        } else if (ending == "capture") {
            QVERIFY(rig.recording->StartCapture(false, nullptr).ok());
            rig.fake->Push({{Kind::KeyDown, kXA}});
            QTRY_COMPARE_WITH_TIMEOUT(rig.stopped.count(), 1, 10000);
            QVERIFY(rig.Grabbed());  // held until the key comes back up
            rig.fake->Push({{Kind::KeyUp, kXA}});
            QTRY_VERIFY_WITH_TIMEOUT(!rig.Grabbed(), 10000);
        } else {
            QVERIFY(rig.recording->StartRecording(desktop ? nullptr : &rig.window).ok());
            QVERIFY(rig.Grabbed() && rig.recording->KeyboardGrabbed());
            std::unique_ptr<InputLease> newer;
            if (ending == "stop") rig.recording->Stop();
            if (ending == "destroy") rig.recording.reset();
            if (ending == "newer") newer = rig.source.Take({.grabKeyboard = false}, nullptr);
            QCOMPARE(rig.stopped.count(), ending == "destroy" ? 0 : 1);
        }
        QVERIFY(!rig.Grabbed());
        rig.recording.reset();
        const int grabs = desktop && ending != "refused" ? 1 : 0;
        QCOMPARE(std::pair(rig.counts.grabs, rig.counts.releases), std::pair(grabs, grabs));
        QCOMPARE(rig.counts.listenOn, rig.counts.listenOff);
        QVERIFY(!desktop || !rig.fake->Listening());
    }

    // A captured click acts on nothing under the pointer, its release included, whichever of
    // the desktop and Qt reports the press first; Stop stays clickable meanwhile.
    void capturedClickLeavesTheWidgetAlone_data() {
        QTest::addColumn<bool>("desktop");
        QTest::newRow("window") << false;
        QTest::newRow("desktop, raw press first") << true;
    }
    void capturedClickLeavesTheWidgetAlone() {
        QFETCH(bool, desktop);
        Rig rig(desktop);
        auto* target = new QPushButton(QStringLiteral("Clear"), &rig.window);
        target->setGeometry(310, 60, 80, 30);
        target->show();
        QSignalSpy stopClicked(rig.stop, &QPushButton::clicked);
        QSignalSpy targetClicked(target, &QPushButton::clicked);
        QSignalSpy captured(rig.recording.get(), &MacroRecording::captured);
        QVERIFY(rig.recording->StartCapture(false, desktop ? nullptr : &rig.window).ok());
        QTest::mouseClick(rig.stop, Qt::LeftButton);
        QCOMPARE(stopClicked.count(), 1);
        QVERIFY(rig.recording->Active());
        if (desktop) {
            rig.fake->Push({{Kind::ButtonDown, 1}});
            QTRY_COMPARE_WITH_TIMEOUT(captured.count(), 1, 10000);
        }
        QTest::mousePress(target, Qt::LeftButton);
        if (desktop) rig.fake->Push({{Kind::ButtonUp, 1}});
        QTest::mouseRelease(target, Qt::LeftButton);
        QCOMPARE(targetClicked.count(), 0);
        QCOMPARE(BytesOf(captured), QByteArray("\x21\x41", 2));
        QTRY_VERIFY_WITH_TIMEOUT(!rig.Grabbed(), 10000);
    }

    // Only the newest lease hears the input; dropping it gives the input back.
    void newestLeaseGetsTheEvents() {
        Rig rig;
        std::unique_ptr<InputLease> older = rig.source.Take({.grabKeyboard = false}, nullptr);
        QSignalSpy olderKeys(older.get(), &InputLease::key);
        std::unique_ptr<InputLease> newer = rig.source.Take({.grabKeyboard = false}, nullptr);
        QSignalSpy newerKeys(newer.get(), &InputLease::key);
        SendKey(rig.area, kXA, QEvent::KeyPress);
        QCOMPARE(olderKeys.count(), 0);
        QCOMPARE(newerKeys.count(), 1);
        newer.reset();
        SendKey(rig.area, kXA, QEvent::KeyRelease);
        QCOMPARE(olderKeys, (QList<QList<QVariant>>{{kXA, false}}));
    }

    // Raw desktop events are recorded once (the same key reaching this program's window is
    // swallowed); a click's position comes from the source, and one over Stop is left out.
    void desktopEventsAreRecordedOnce() {
        Rig rig(true);
        QVERIFY(rig.recording->StartRecording(nullptr).ok());
        // The display server counts screen pixels (the offscreen screen starts at 0,0).
        const QPoint onStop = rig.stop->mapToGlobal(QPoint(3, 3)) * qApp->devicePixelRatio();
        rig.fake->SetPosition(DesktopPoint{onStop.x(), onStop.y()});
        rig.fake->Push(
            {{Kind::KeyDown, kXA}, {Kind::ButtonDown, 1}, {Kind::ButtonUp, 1}, {Kind::KeyUp, kXA}});
        SendKey(rig.area, kXA, QEvent::KeyPress);
        SendKey(rig.area, kXA, QEvent::KeyRelease);
        QTRY_VERIFY_WITH_TIMEOUT(BytesOf(rig.recorded).size() >= 4, 10000);
        QCoreApplication::processEvents();
        QCOMPARE(BytesOf(rig.recorded), QByteArray("\x83\x04\x84\x04", 4));
    }
};

QTEST_MAIN(MacroRecordingTest)
#include "macro_recording_test.moc"
