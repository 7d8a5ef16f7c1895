// Recording from the program's own windows and from a desktop source: the exact macro
// bytes of what the user types and clicks, the keyboard grab taken and always given back,
// and only the newest holder of the input getting it.
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
using qvm::test::FakeClock;
using qvm::test::FakeDesktopCounts;
using qvm::test::FakeDesktopInput;

namespace {

// X keycodes (evdev + 8).
constexpr int kXLeftCtrl = 37;
constexpr int kXA = 38;
constexpr int kXC = 54;

struct Step {
    enum Kind { KeyDown, KeyUp, KeyRepeat, Press, Release, Wheel, Wait } kind;
    int value = 0;        // keycode, Qt::MouseButton, wheel angle or milliseconds
    bool onStop = false;  // the mouse event goes to the excluded Stop button
};
using Steps = QList<Step>;

void SendKey(QWidget* to, int keycode, QEvent::Type type, bool repeat = false) {
    QKeyEvent event(type, Qt::Key_unknown, Qt::NoModifier, static_cast<quint32>(keycode), 0, 0,
                    QString(), repeat);
    QApplication::sendEvent(to, &event);
}

void SendWheel(QWidget* to, int angle) {
    const QPointF at(5, 5);
    QWheelEvent event(at, to->mapToGlobal(at), QPoint(), QPoint(0, angle), Qt::NoButton,
                      Qt::NoModifier, Qt::NoScrollPhase, false);
    QApplication::sendEvent(to, &event);
}

QByteArray BytesOf(const QList<QList<QVariant>>& emissions) {
    QByteArray out;
    for (const QList<QVariant>& emission : emissions) {
        for (const MacroItem& item : emission.at(0).value<std::vector<MacroItem>>()) {
            for (uint8_t byte : item.Bytes()) out.append(static_cast<char>(byte));
        }
    }
    return out;
}

// A window with a plain area to type and click in, and the editor's Stop button.
struct Editor {
    QWidget window;
    QWidget* area = new QWidget(&window);
    QPushButton* stop = new QPushButton(QStringLiteral("Stop"), &window);
    Editor() {
        window.resize(400, 200);
        area->setGeometry(0, 0, 300, 200);
        stop->setGeometry(310, 10, 80, 30);
        window.show();
    }
};

}  // namespace

Q_DECLARE_METATYPE(Step)
Q_DECLARE_METATYPE(std::vector<qvm::MacroItem>)

class MacroRecordingTest : public QObject {
    Q_OBJECT

  private slots:
    void initTestCase() { qRegisterMetaType<std::vector<MacroItem>>(); }

    void recordsOwnWindowInput_data() {
        QTest::addColumn<Steps>("steps");
        QTest::addColumn<QByteArray>("expected");
        QTest::newRow("ctrl+c with waits")
            << Steps{{Step::KeyDown, kXLeftCtrl}, {Step::Wait, 50},   {Step::KeyDown, kXC},
                     {Step::Wait, 120},           {Step::KeyUp, kXC}, {Step::Wait, 300},
                     {Step::KeyUp, kXLeftCtrl}}
            << QByteArray("\x83\xe0\x88\x32\x83\x06\x88\x78\x84\x06\x89\x2c\x01\x84\xe0", 15);
        // X repeats a held key as a release and a press, both marked as repeats.
        QTest::newRow("auto-repeat dropped") << Steps{{Step::KeyDown, kXA},
                                                      {Step::KeyRepeat, kXA},
                                                      {Step::KeyRepeat, kXA},
                                                      {Step::KeyUp, kXA}}
                                             << QByteArray("\x83\x04\x84\x04", 4);
        QTest::newRow("left click")
            << Steps{{Step::Press, Qt::LeftButton}, {Step::Release, Qt::LeftButton}}
            << QByteArray("\x21\x41", 2);
        QTest::newRow("side buttons are buttons 4 and 5")
            << Steps{{Step::Press, Qt::BackButton},
                     {Step::Release, Qt::BackButton},
                     {Step::Press, Qt::ForwardButton},
                     {Step::Release, Qt::ForwardButton}}
            << QByteArray("\x28\x48\x30\x50", 4);
        QTest::newRow("clicks on Stop are not recorded, a side button there is")
            << Steps{{Step::Press, Qt::LeftButton, true},  {Step::Release, Qt::LeftButton, true},
                     {Step::Press, Qt::RightButton, true}, {Step::Release, Qt::RightButton, true},
                     {Step::Press, Qt::BackButton, true},  {Step::Release, Qt::BackButton, true}}
            << QByteArray("\x28\x48", 2);
        QTest::newRow("wheel: half notches add up, back turns count each notch")
            << Steps{{Step::Wheel, 60}, {Step::Wheel, 60}, {Step::Wheel, -240}}
            << QByteArray("\x61\x7f\x7f", 3);
    }
    void recordsOwnWindowInput() {
        QFETCH(Steps, steps);
        QFETCH(QByteArray, expected);
        Editor editor;
        FakeClock clock;
        InputSource source(nullptr, QStringLiteral("no desktop in this test"));
        MacroRecording recording(source, clock);
        recording.SetExcludedWidgets({editor.stop});
        QSignalSpy recorded(&recording, &MacroRecording::recorded);
        QVERIFY(recording.StartRecording(&editor.window).ok());

        for (const Step& step : steps) {
            QWidget* target = step.onStop ? static_cast<QWidget*>(editor.stop) : editor.area;
            const auto button = static_cast<Qt::MouseButton>(step.value);
            switch (step.kind) {
                case Step::KeyDown:
                    SendKey(editor.area, step.value, QEvent::KeyPress);
                    break;
                case Step::KeyUp:
                    SendKey(editor.area, step.value, QEvent::KeyRelease);
                    break;
                case Step::KeyRepeat:
                    SendKey(editor.area, step.value, QEvent::KeyRelease, true);
                    SendKey(editor.area, step.value, QEvent::KeyPress, true);
                    break;
                case Step::Press:
                    QTest::mousePress(target, button, Qt::NoModifier, QPoint(5, 5));
                    break;
                case Step::Release:
                    QTest::mouseRelease(target, button, Qt::NoModifier, QPoint(5, 5));
                    break;
                case Step::Wheel:
                    SendWheel(target, step.value);
                    break;
                case Step::Wait:
                    clock.SleepMs(step.value);
                    break;
            }
        }
        QCOMPARE(BytesOf(recorded), expected);
    }

    // Click positions are recorded in screen pixels, which the mouse moves the pointer by,
    // also where Qt scales the screen (this program runs a second time at 200 %).
    void clickPositionsAreScreenPixels() {
        Editor editor;
        FakeClock clock;
        InputSource source(nullptr, QStringLiteral("no desktop in this test"));
        MacroRecording recording(source, clock);
        recording.SetOptions(
            RecorderOptions{.recordIntervals = false, .recordClickPositions = true});
        recording.SetExcludedWidgets({editor.stop});
        QSignalSpy recorded(&recording, &MacroRecording::recorded);
        QVERIFY(recording.StartRecording(&editor.window).ok());
        QTest::mouseClick(editor.area, Qt::LeftButton, Qt::NoModifier, QPoint(20, 30));
        QTest::mouseClick(editor.stop, Qt::LeftButton, Qt::NoModifier, QPoint(70, 20));

        // The offscreen screen starts at 0,0: a screen pixel is a position times the scale.
        const QPoint global = editor.area->mapToGlobal(QPoint(20, 30));
        const int x = qRound(global.x() * qApp->devicePixelRatio());
        const int y = qRound(global.y() * qApp->devicePixelRatio());
        const char expected[] = {'\xc0',
                                 static_cast<char>(x & 0xFF),
                                 static_cast<char>(x >> 8),
                                 static_cast<char>(y & 0xFF),
                                 static_cast<char>(y >> 8),
                                 '\x21',
                                 '\x41'};
        QCOMPARE(BytesOf(recorded), QByteArray(expected, sizeof expected));
    }

    // Typing while recording reaches the recorder only: the widgets and the program's
    // shortcuts never see the keys. The mouse stays free for the Stop button.
    void keysAreSwallowedTheMouseIsNot() {
        Editor editor;
        FakeClock clock;
        InputSource source(nullptr, QStringLiteral("no desktop in this test"));
        MacroRecording recording(source, clock);
        QVERIFY(recording.StartRecording(&editor.window).ok());
        QSignalSpy clicked(editor.stop, &QPushButton::clicked);
        QTest::mouseClick(editor.stop, Qt::LeftButton);
        QCOMPARE(clicked.count(), 1);

        editor.stop->setFocus();
        const auto pressSpace = [&] {
            QKeyEvent press(QEvent::KeyPress, Qt::Key_Space, Qt::NoModifier, 65, 0, 0, " ");
            QApplication::sendEvent(editor.stop, &press);
            QKeyEvent release(QEvent::KeyRelease, Qt::Key_Space, Qt::NoModifier, 65, 0, 0, " ");
            QApplication::sendEvent(editor.stop, &release);
        };
        pressSpace();
        QCOMPARE(clicked.count(), 1);  // Space on a focused button would click it
        recording.Stop();
        pressSpace();
        QCOMPARE(clicked.count(), 2);  // after Stop the keys reach the widgets again
    }

    // The grab lives exactly as long as the recording: Stop, a new start and destroying
    // the recording all leave no window holding the keyboard.
    void keyboardGrabEndsWithTheRecording_data() {
        QTest::addColumn<QString>("ending");
        QTest::newRow("stop") << "stop";
        QTest::newRow("destroyed while recording") << "destroy";
        QTest::newRow("silenced by a newer lease") << "newer";
    }
    void keyboardGrabEndsWithTheRecording() {
        QFETCH(QString, ending);
        Editor editor;
        FakeClock clock;
        InputSource source(nullptr, QStringLiteral("no desktop in this test"));
        auto recording = std::make_unique<MacroRecording>(source, clock);
        QSignalSpy stopped(recording.get(), &MacroRecording::stopped);
        QVERIFY(recording->StartRecording(&editor.window).ok());
        QCOMPARE(QWidget::keyboardGrabber(), &editor.window);
        QVERIFY(recording->KeyboardGrabbed());

        std::unique_ptr<InputLease> newer;
        if (ending == "stop") {
            recording->Stop();
            QCOMPARE(stopped.count(), 1);
        } else if (ending == "destroy") {
            recording.reset();
        } else {
            newer = source.Take(LeaseOptions{.grabKeyboard = false}, nullptr);
            QCOMPARE(stopped.count(), 1);
            QVERIFY(!recording->Active());
        }
        QCOMPARE(QWidget::keyboardGrabber(), nullptr);
        if (recording) QVERIFY(!recording->KeyboardGrabbed());
    }

    // Only the newest lease hears the input; dropping it gives the input back.
    void newestLeaseGetsTheEvents() {
        Editor editor;
        InputSource source(nullptr, QStringLiteral("no desktop in this test"));
        const LeaseOptions options{.grabKeyboard = false};
        std::unique_ptr<InputLease> older = source.Take(options, nullptr);
        QSignalSpy olderKeys(older.get(), &InputLease::key);
        QSignalSpy olderSilenced(older.get(), &InputLease::silenced);
        std::unique_ptr<InputLease> newer = source.Take(options, nullptr);
        QSignalSpy newerKeys(newer.get(), &InputLease::key);
        QCOMPARE(olderSilenced.count(), 1);

        SendKey(editor.area, kXA, QEvent::KeyPress);
        QCOMPARE(olderKeys.count(), 0);
        QCOMPARE(newerKeys.count(), 1);
        newer.reset();
        SendKey(editor.area, kXA, QEvent::KeyRelease);
        QCOMPARE(olderKeys.count(), 1);
        QCOMPARE(olderKeys.at(0), (QList<QVariant>{kXA, false}));
    }

    // The desktop source's grab and listening, counted: started and ended in pairs, never
    // released twice nor left held, whichever way the recording ends.
    void desktopGrabBookkeeping_data() {
        QTest::addColumn<QString>("ending");
        QTest::addColumn<int>("grabs");
        QTest::newRow("destroyed while recording") << "destroy" << 1;
        QTest::newRow("stopped, then destroyed") << "stop" << 1;
        QTest::newRow("captured key released") << "capture" << 1;
        QTest::newRow("newer lease without grab, then dropped") << "newer" << 1;
        QTest::newRow("grab refused") << "refused" << 0;
    }
    void desktopGrabBookkeeping() {
        QFETCH(QString, ending);
        QFETCH(int, grabs);
        FakeDesktopCounts counts;
        auto desktop = std::make_unique<FakeDesktopInput>(counts);
        FakeDesktopInput& fake = *desktop;
        FakeClock clock;
        InputSource source(std::move(desktop), QString());
        QVERIFY(source.WholeDesktop());
        QVERIFY(source.FallbackNotice().isEmpty());
        auto recording = std::make_unique<MacroRecording>(source, clock);
        QSignalSpy captured(recording.get(), &MacroRecording::captured);
        QSignalSpy stopped(recording.get(), &MacroRecording::stopped);

        if (ending == "refused") {
            fake.RefuseGrab(true);
            const Status started = recording->StartRecording(nullptr);
            QCOMPARE(started.kind(), ErrorKind::DeviceBusy);
            QVERIFY(!recording->Active());
            QVERIFY(!fake.Listening());
        } else if (ending == "capture") {
            QVERIFY(recording->StartCapture(false, nullptr).ok());
            fake.Push({{DesktopEvent::Kind::KeyDown, kXC}});
            QTRY_COMPARE_WITH_TIMEOUT(captured.count(), 1, 10000);
            QCOMPARE(BytesOf(captured), QByteArray("\x83\x06\x84\x06", 4));
            QCOMPARE(stopped.count(), 1);
            QCOMPARE(counts.releases, 0);  // held until the key comes back up
            QVERIFY(fake.KeyboardGrabbed());
            fake.Push({{DesktopEvent::Kind::KeyUp, kXC}});
            QTRY_COMPARE_WITH_TIMEOUT(counts.releases, 1, 10000);
            QVERIFY(!fake.Listening());
        } else {
            QVERIFY(recording->StartRecording(nullptr).ok());
            QVERIFY(fake.Listening());
            QVERIFY(fake.KeyboardGrabbed());
            if (ending == "stop") recording->Stop();
            if (ending == "newer") {
                // The recording ends when another part of the program takes the input.
                std::unique_ptr<InputLease> newer =
                    source.Take(LeaseOptions{.grabKeyboard = false}, nullptr);
                QVERIFY(!fake.KeyboardGrabbed());
                QCOMPARE(stopped.count(), 1);
            }
        }
        recording.reset();
        QCOMPARE(counts.grabs, grabs);
        QCOMPARE(counts.releases, grabs);
        QVERIFY(!fake.KeyboardGrabbed());
        QVERIFY(!fake.Listening());
        QCOMPARE(counts.listenOn, counts.listenOff);
    }

    // Raw desktop events are recorded once: the same key reaching this program's window
    // as a Qt event is swallowed, not recorded a second time; a click's position comes
    // from the source, and one over Stop is not recorded.
    void desktopEventsAreRecordedOnce() {
        Editor editor;
        FakeDesktopCounts counts;
        auto desktop = std::make_unique<FakeDesktopInput>(counts);
        FakeDesktopInput& fake = *desktop;
        FakeClock clock;
        InputSource source(std::move(desktop), QString());
        MacroRecording recording(source, clock);
        recording.SetExcludedWidgets({editor.stop});
        QSignalSpy recorded(&recording, &MacroRecording::recorded);
        QVERIFY(recording.StartRecording(nullptr).ok());

        // The display server counts screen pixels (the offscreen screen starts at 0,0).
        const QPoint onStop = editor.stop->mapToGlobal(QPoint(3, 3)) * qApp->devicePixelRatio();
        fake.SetPosition(DesktopPoint{onStop.x(), onStop.y()});
        fake.Push({{DesktopEvent::Kind::KeyDown, kXA},
                   {DesktopEvent::Kind::ButtonDown, 1},
                   {DesktopEvent::Kind::ButtonUp, 1},
                   {DesktopEvent::Kind::KeyUp, kXA}});
        SendKey(editor.area, kXA, QEvent::KeyPress);
        SendKey(editor.area, kXA, QEvent::KeyRelease);
        QTRY_VERIFY_WITH_TIMEOUT(BytesOf(recorded).size() >= 4, 10000);
        QCoreApplication::processEvents();
        QCOMPARE(BytesOf(recorded), QByteArray("\x83\x04\x84\x04", 4));
    }
};

QTEST_MAIN(MacroRecordingTest)
#include "macro_recording_test.moc"
