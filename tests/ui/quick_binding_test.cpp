// Quick binding in the main window: synthetic key events carrying X keycodes (evdev code
// + 8, as xcb reports them) and mouse presses bind the button on the simulated device;
// stopping it leaves the button as it was.
#include <QKeyEvent>
#include <QtTest>

#include "support/fake_desktop_input.h"
#include "ui/button_map_view.h"
#include "ui/button_page.h"
#include "ui/quick_bind_input.h"
#include "ui/skin.h"
#include "ui_rig.h"

using namespace qvm;
using namespace qvm::ui;
using qvm::test::FakeDesktopCounts;
using qvm::test::FakeDesktopInput;
using qvm::test::UiRig;

namespace {

using Bytes = std::vector<uint8_t>;

// X keycodes of the keys the cases press.
constexpr quint32 kXLeftCtrl = 37;   // evdev 29
constexpr quint32 kXC = 54;          // evdev 46
constexpr quint32 kXRightAlt = 108;  // evdev 100
constexpr quint32 kXF5 = 71;         // evdev 63

// One step of a case: a key going down or up, or a mouse button pressed.
struct Step {
    enum Kind { KeyDown, KeyUp, Mouse } kind;
    quint32 code = 0;
    Qt::MouseButton button = Qt::NoButton;
};
using Steps = QList<Step>;

using DesktopEvents = std::vector<DesktopEvent>;
constexpr QPoint kCancelAt(10, 10);  // where the stop test answers true in the desktop cases

}  // namespace

Q_DECLARE_METATYPE(Step)
Q_DECLARE_METATYPE(DesktopEvents)

class QuickBindingTest : public QObject {
    Q_OBJECT

  private:
    // Loads the rig and starts binding a button through its label's key symbol; returns
    // the button bound and its bytes before.
    static std::pair<int, Bytes> StartBinding(UiRig& rig) {
        ButtonPage& page = rig.Window().Buttons();
        const auto sole = rig.Controller().View().image->soleLeftClickButton;
        for (int position = 0; position < 32; ++position) {
            const auto button = page.ButtonAt(position);
            if (!button || button == sole) continue;
            UiRig::Click(&page.Map(), page.Map().QuickBindRect(position).center());
            return {*button, rig.ButtonBytes(0, *button)};
        }
        return {-1, {}};
    }

    static void Screenshot(UiRig& rig, const QString& name) {
        QCoreApplication::processEvents();
        rig.Screenshot(&rig.Window(), name);
    }

    static void Send(QWidget* target, const Step& step) {
        if (step.kind == Step::Mouse) {
            QTest::mousePress(target, step.button, Qt::NoModifier, QPoint(500, 50));
            QTest::mouseRelease(target, step.button, Qt::NoModifier, QPoint(500, 50));
            return;
        }
        QKeyEvent event(step.kind == Step::KeyDown ? QEvent::KeyPress : QEvent::KeyRelease,
                        Qt::Key_unknown, Qt::NoModifier, step.code, 0, 0);
        QApplication::sendEvent(target, &event);
    }

  private slots:
    void initTestCase() {
        skin::CreateSharedFonts();
        skin::ApplySkin(*qApp);
    }

    void inputBindsTheButton_data() {
        QTest::addColumn<Steps>("steps");
        QTest::addColumn<QByteArray>("expected");
        QTest::newRow("ctrl + c") << Steps{{Step::KeyDown, kXLeftCtrl}, {Step::KeyDown, kXC}}
                                  << QByteArray("\x05\x01\x06\x00", 4);
        QTest::newRow("right alt + f5") << Steps{{Step::KeyDown, kXRightAlt}, {Step::KeyDown, kXF5}}
                                        << QByteArray("\x05\x40\x3e\x00", 4);
        QTest::newRow("back mouse button")
            << Steps{{Step::Mouse, 0, Qt::BackButton}} << QByteArray("\x04\x08\x00\x00", 4);
    }
    void inputBindsTheButton() {
        QFETCH(Steps, steps);
        QFETCH(QByteArray, expected);
        const Bytes want(expected.begin(), expected.end());
        UiRig rig;
        rig.Window().show();
        QVERIFY(rig.WaitLoaded());
        const auto [button, before] = StartBinding(rig);
        QVERIFY(button >= 0);
        QVERIFY(before != want);
        QuickBindInput& bind = rig.Window().Buttons().QuickBind();
        QVERIFY(bind.Active());
        QCOMPARE(bind.Prompt(),
                 QString("10 sec, Press keyboard or click mouse button for binding"));

        for (const Step& step : steps) Send(&rig.Window(), step);
        QVERIFY(!bind.Active());
        QTRY_VERIFY_WITH_TIMEOUT(rig.ButtonBytes(0, button) == want, 5000);
    }

    // A click on the banner's cancel control stops the binding; any other click binds.
    void stoppingClicks_data() {
        QTest::addColumn<QString>("target");
        QTest::addColumn<bool>("binds");
        QTest::newRow("banner cancel control") << "cancel" << false;
        QTest::newRow("elsewhere on the page") << "elsewhere" << true;
    }
    void stoppingClicks() {
        QFETCH(QString, target);
        QFETCH(bool, binds);
        UiRig rig;
        rig.Window().show();
        QVERIFY(rig.WaitLoaded());
        ButtonMapView& map = rig.Window().Buttons().Map();
        const auto [button, before] = StartBinding(rig);
        QVERIFY(button >= 0);
        QuickBindInput& bind = rig.Window().Buttons().QuickBind();
        QVERIFY(bind.Active());
        QVERIFY(!map.BindingCancelRect().isEmpty());
        QSignalSpy bound(&bind, &QuickBindInput::bound);
        QSignalSpy ended(&bind, &QuickBindInput::ended);
        if (target == "cancel") Screenshot(rig, "quick_binding_banner.png");

        const QPoint at = target == "cancel" ? map.BindingCancelRect().center() : QPoint(5, 5);
        UiRig::Click(&map, at);
        QVERIFY(!bind.Active());
        QCOMPARE(ended.count(), 1);
        QCOMPARE(bound.count(), binds ? 1 : 0);
        QVERIFY(map.BindingCancelRect().isEmpty());
        rig.Settle();
        if (binds) {
            QTRY_VERIFY_WITH_TIMEOUT(rig.ButtonBytes(0, button) == (Bytes{4, 0x01, 0, 0}), 5000);
        } else {
            QCOMPARE(rig.ButtonBytes(0, button), before);
        }
    }

    // With the whole desktop as the source: keys and clicks made in any window bind, the
    // keyboard is grabbed while binding and given back exactly once however it ends.
    void desktopInputBinds_data() {
        using Kind = DesktopEvent::Kind;
        QTest::addColumn<DesktopEvents>("events");
        QTest::addColumn<bool>("onCancel");
        QTest::addColumn<QByteArray>("expected");  // empty: stopped without binding
        QTest::newRow("ctrl + c in another window")
            << DesktopEvents{{Kind::KeyDown, int(kXLeftCtrl)}, {Kind::KeyDown, int(kXC)}} << false
            << QByteArray("\x05\x01\x06\x00", 4);
        QTest::newRow("forward side button")
            << DesktopEvents{{Kind::ButtonDown, 9}} << false << QByteArray("\x04\x10\x00\x00", 4);
        QTest::newRow("wheel notches do not bind, the right button does")
            << DesktopEvents{{Kind::ButtonDown, 4}, {Kind::ButtonUp, 4}, {Kind::ButtonDown, 3}}
            << false << QByteArray("\x04\x02\x00\x00", 4);
        QTest::newRow("left click on the cancel control")
            << DesktopEvents{{Kind::ButtonDown, 1}} << true << QByteArray();
    }
    void desktopInputBinds() {
        QFETCH(DesktopEvents, events);
        QFETCH(bool, onCancel);
        QFETCH(QByteArray, expected);
        FakeDesktopCounts counts;
        auto desktop = std::make_unique<FakeDesktopInput>(counts);
        FakeDesktopInput& fake = *desktop;
        InputSource source(std::move(desktop), QString());
        QWidget page;
        QuickBindInput bind(source, &page);
        bind.SetStopTest([](const QPoint& at) { return at == kCancelAt; });
        QSignalSpy bound(&bind, &QuickBindInput::bound);
        QSignalSpy ended(&bind, &QuickBindInput::ended);
        QVERIFY(bind.Start(0, 3).ok());
        QVERIFY(bind.Note().isEmpty());  // the whole desktop is seen: nothing to say
        QCOMPARE(counts.grabs, 1);
        QVERIFY(fake.Listening());

        fake.SetPosition(onCancel ? DesktopPoint{kCancelAt.x(), kCancelAt.y()}
                                  : DesktopPoint{200, 200});
        fake.Push(events);
        QTRY_COMPARE_WITH_TIMEOUT(ended.count(), 1, 10000);
        QCOMPARE(bound.count(), expected.isEmpty() ? 0 : 1);
        if (!expected.isEmpty()) {
            const auto bytes = bound.at(0).at(2).value<ButtonSlot>().Bytes();
            QCOMPARE(QByteArray(reinterpret_cast<const char*>(bytes.data()), 4), expected);
        }
        QCOMPARE(counts.releases, 1);
        QVERIFY(!fake.KeyboardGrabbed());
        QVERIFY(!fake.Listening());
    }

    // Where only this program's windows are seen, the first binding says so, once a run.
    void ownWindowsNoticeOnce() {
        InputSource source(nullptr, QStringLiteral("on Wayland"));
        QWidget page;
        QuickBindInput bind(source, &page);
        QVERIFY(bind.Start(0, 3).ok());
        QVERIFY(!bind.Note().isEmpty());
        bind.Cancel();
        QVERIFY(bind.Note().isEmpty());
        QVERIFY(bind.Start(0, 3).ok());
        QVERIFY(bind.Note().isEmpty());
        QVERIFY(source.FallbackNotice().isEmpty());
        bind.Cancel();
        QCOMPARE(QWidget::keyboardGrabber(), nullptr);
    }
};

QTEST_MAIN(QuickBindingTest)
#include "quick_binding_test.moc"
