// The keyboard lighting window on a simulated keyboard: what its controls send reaches the
// keyboard (and what they must not send does not), RESET leaves the lights as it should,
// the preview runs only while the window is seen, and the window greys when the keyboard
// leaves. A screenshot goes to the build folder.
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QtTest>
#include <algorithm>

#include "ui/colour_picker_dialog.h"
#include "ui/confirm.h"
#include "ui/keyboard_lighting_window.h"
#include "ui/skin.h"
#include "ui_rig.h"

using namespace qvm;
using namespace qvm::ui;
using qvm::test::UiRig;

namespace {

constexpr int kWaitMs = 10000;
constexpr uint8_t kKeyW = 0x1A, kKeyA = 0x04, kKeyS = 0x16, kKeyD = 0x07, kKeyQ = 0x14;

// The window the keyboard opened by itself, once its lights have been read.
KeyboardLightingWindow* OpenedWindow(UiRig& rig) {
    KeyboardLightingLauncher& launcher = rig.Window().KeyboardLighting();
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < kWaitMs) {
        if (launcher.Window() != nullptr && rig.Controller().View().keyboardLighting &&
            !rig.Controller().View().keyboardLighting->keys.empty()) {
            rig.Settle();
            return launcher.Window();
        }
        QTest::qWait(20);
    }
    return nullptr;
}

void ClickEffect(KeyboardLightingWindow& w, int code) {
    QListWidget* list = w.Effects();
    list->scrollToItem(list->item(code));
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {},
                      list->visualItemRect(list->item(code)).center());
}

void ClickKey(KeyboardLightingWindow& w, uint8_t key, Qt::MouseButton button = Qt::LeftButton) {
    const auto keys = w.Keys().Keys();
    for (std::size_t i = 0; i < keys.size(); ++i) {
        if (keys[i].key != key) continue;
        QTest::mouseClick(w.Picture(), button, {}, w.Picture()->KeyRect(i).center());
        return;
    }
    qFatal("no key %d on the picture", key);
}

std::array<uint8_t, 3> Rgb3(const std::array<uint8_t, 4>& c) {
    return {c[0], c[1], c[2]};
}

}  // namespace

class KeyboardLightingWindowTest : public QObject {
    Q_OBJECT

  private slots:
    void initTestCase() {
        skin::CreateSharedFonts();
        skin::ApplySkin(*qApp);
    }

    // The user's way through: "Ripple", then per-key colours on WASD through the picker.
    void effectsAndKeyColoursReachTheKeyboard() {
        UiRig rig("mx28");
        KeyboardLightingWindow* w = OpenedWindow(rig);
        QVERIFY(w != nullptr);
        QVERIFY(rig.Window().KeyboardLighting().Button()->isVisibleTo(&rig.Window()));
        rig.Screenshot(&rig.Window(), "main_keyboard.png");
        ClickEffect(*w, 10);
        QTRY_COMPARE_WITH_TIMEOUT(int(rig.Device().KeyboardLighting().effect), 10, kWaitMs);

        ClickEffect(*w, kCustomKeyboardEffect);
        for (uint8_t key : {kKeyW, kKeyA, kKeyS, kKeyD, kKeyQ}) ClickKey(*w, key);
        ClickKey(*w, kKeyQ);  // deselected again
        QCOMPARE(w->Keys().SelectedKeys().size(), 4u);
        QTimer::singleShot(0, [] {
            auto* dialog = qobject_cast<ColourPickerDialog*>(QApplication::activeModalWidget());
            if (dialog == nullptr) qFatal("no colour picker opened");
            dialog->HexEdit()->clear();
            QTest::keyClicks(dialog->HexEdit(), "#00C0FF");
            dialog->accept();
        });
        UiRig::Click(w->ColourButton());
        rig.Settle();
        QTRY_VERIFY_WITH_TIMEOUT(rig.Device().KeyboardLighting().effect == kCustomKeyboardEffect,
                                 kWaitMs);
        const SimKeyboardLighting sim = rig.Device().KeyboardLighting();
        for (uint8_t key : {kKeyW, kKeyA, kKeyS, kKeyD}) {
            QCOMPARE(Rgb3(sim.keys[key]), (std::array<uint8_t, 3>{0x00, 0xC0, 0xFF}));
        }
        QVERIFY(Rgb3(sim.keys[kKeyQ]) != (std::array<uint8_t, 3>{0x00, 0xC0, 0xFF}));
        QTest::qWait(2 * kPreviewFrameMs);
        rig.Screenshot(w, "keyboard_lighting_custom.png");
        ClickEffect(*w, kRainbowKeyboardEffect);
        QTRY_VERIFY_WITH_TIMEOUT(w->Effects()->currentRow() == kRainbowKeyboardEffect &&
                                     rig.Device().KeyboardLighting().effect == 1,
                                 kWaitMs);
        QTest::qWait(3 * kPreviewFrameMs);
        rig.Screenshot(w, "keyboard_lighting.png");
        ClickKey(*w, kKeyQ, Qt::RightButton);
        QVERIFY(w->Keys().SelectedKeys().empty());
    }

    // At the end of its range a level neither changes nor sends; inside it, one report.
    void levelsAtTheirEndsSendNothing() {
        struct Row {
            KeyboardLevel level;
            int start;
            int delta;
            int after;
            uint64_t reports;
        };
        const Row rows[] = {{KeyboardLevel::Brightness, 4, +1, 4, 0},
                            {KeyboardLevel::Speed, 0, -1, 0, 0},
                            {KeyboardLevel::Speed, 0, +1, 1, 1},
                            {KeyboardLevel::Brightness, 4, -1, 3, 1}};
        UiRig rig("mx28");
        KeyboardLightingWindow* w = OpenedWindow(rig);
        QVERIFY(w != nullptr);
        for (const Row& r : rows) {
            rig.Controller().Hub().ChangeKeyboard(
                HubOperation::Lighting, [&r](KeyboardLighting& l, const auto&) {
                    return l.ChangeEffect(r.level == KeyboardLevel::Speed
                                              ? KeyboardEffectChange{.speed = r.start}
                                              : KeyboardEffectChange{.brightness = r.start});
                });
            rig.Settle();
            rig.Device().ResetStats();
            UiRig::Click(r.delta > 0 ? w->Plus(r.level) : w->Minus(r.level));
            rig.Settle();
            const SimKeyboardLighting sim = rig.Device().KeyboardLighting();
            QCOMPARE(int(r.level == KeyboardLevel::Speed ? sim.speed : sim.brightness), r.after);
            QCOMPARE(rig.Device().Stats().writes, r.reports);
            QCOMPARE(w->LevelValue(r.level)->text(), QString::number(r.after));
        }
    }

    // RESET only after yes: the custom lights are written (game keys red, the rest
    // black), then "Rainbow" at full brightness with red and the side light on.
    void resetAsksThenSetsRainbowAndTheKeyColours() {
        UiRig rig("mx28");
        KeyboardLightingWindow* w = OpenedWindow(rig);
        QVERIFY(w != nullptr);
        rig.Controller().Hub().ChangeKeyboard(
            HubOperation::Lighting, [](KeyboardLighting& l, const auto&) {
                const Status s = l.ChangeEffect({.effect = 6,
                                                 .speed = 3,
                                                 .brightness = 1,
                                                 .direction = 2,
                                                 .colour = Rgb{0, 0, 0xFF}});
                return s ? l.SetSideLed(false) : s;
            });
        for (const bool yes : {false, true}) {
            rig.Settle();
            const SimKeyboardLighting before = rig.Device().KeyboardLighting();
            rig.Device().ResetStats();
            QString asked;
            {
                ScopedDialogHooks hooks(
                    [&](const QString& caption, const QString&) {
                        asked = caption;
                        return yes;
                    },
                    {});
                UiRig::Click(w->ResetButton());
            }
            rig.Settle();
            QCOMPARE(asked, QStringLiteral("RESET"));
            const SimKeyboardLighting sim = rig.Device().KeyboardLighting();
            if (!yes) {
                QVERIFY(sim == before);
                QCOMPARE(rig.Device().Stats().writes, 0u);
                continue;
            }
            QCOMPARE((std::array<int, 5>{sim.effect, sim.speed, sim.brightness, sim.direction,
                                         sim.sideLight}),
                     (std::array<int, 5>{1, 0, 4, 0, 4}));
            QCOMPARE(sim.colour2, (std::array<uint8_t, 4>{0xFF, 0, 0, 1}));
            for (uint8_t key : {kKeyW, kKeyA, kKeyS, kKeyD, uint8_t(0x52)}) {
                QCOMPARE(Rgb3(sim.keys[key]), (std::array<uint8_t, 3>{0xFF, 0, 0}));
            }
            QCOMPARE(Rgb3(sim.keys[kKeyQ]), (std::array<uint8_t, 3>{0, 0, 0}));
            QCOMPARE(w->Effects()->currentRow(), 1);
            QVERIFY(w->SideLedButton()->isChecked());
        }
    }

    // The preview wakes only while the window is seen; without the keyboard the window
    // greys and sends nothing.
    void previewRunsOnlyWhileSeenAndAwayWindowSendsNothing() {
        UiRig rig("mx28");
        KeyboardLightingWindow* w = OpenedWindow(rig);
        QVERIFY(w != nullptr);
        QVERIFY(w->PreviewTimer().isActive());
        QTRY_VERIFY_WITH_TIMEOUT(w->FramesComputed() > 1, kWaitMs);
        struct Step {
            const char* name;
            std::function<void()> act;
            bool running;
        };
        const Step steps[] = {
            {"closed", [w] { w->close(); }, false},
            {"opened again", [&rig] { UiRig::Click(rig.Window().KeyboardLighting().Button()); },
             true},
            {"minimised", [w] { w->setWindowState(Qt::WindowMinimized); }, false},
            {"restored", [w] { w->setWindowState(Qt::WindowNoState); }, true},
            {"hidden", [w] { w->hide(); }, false},
        };
        rig.Window().show();
        for (const Step& s : steps) {
            s.act();
            QCoreApplication::processEvents();
            QVERIFY2(w->PreviewTimer().isActive() == s.running, s.name);
            const long wakeups = w->TimerWakeups(), frames = w->FramesComputed();
            QTest::qWait(4 * kPreviewFrameMs);
            QVERIFY2((w->TimerWakeups() > wakeups) == s.running, s.name);
            QVERIFY2((w->FramesComputed() > frames) == s.running, s.name);
        }

        w->Open();
        rig.Settle();
        rig.Device().Detach();
        QTRY_VERIFY_WITH_TIMEOUT(!w->Live(), kWaitMs);
        QVERIFY(!w->ColourButton()->isEnabled());
        const SimKeyboardLighting before = rig.Device().KeyboardLighting();
        ClickEffect(*w, 4);
        UiRig::Click(w->SideLedButton());
        rig.Settle();
        QVERIFY(rig.Device().KeyboardLighting() == before);
        rig.Screenshot(w, "keyboard_lighting_away.png");
        rig.Device().Attach();
        QTRY_VERIFY_WITH_TIMEOUT(w->Live() && w->ColourButton()->isEnabled(), kWaitMs);
    }

    // Choosing a mouse puts the keyboard's window away, preview and all.
    void mouseChosenHidesTheWindow() {
        UiRig rig("mx28,g12");
        KeyboardLightingWindow* w = OpenedWindow(rig);
        QVERIFY(w != nullptr && w->isVisible());
        const auto devices = rig.Controller().View().devices;
        const auto mouse = std::find_if(devices.begin(), devices.end(),
                                        [](const HubDevice& d) { return !d.keyboard; });
        QVERIFY(mouse != devices.end());
        rig.Controller().Hub().SelectDevice(mouse->path);
        QTRY_VERIFY_WITH_TIMEOUT(!w->isVisible(), kWaitMs);
        QVERIFY(!w->PreviewTimer().isActive());
    }
};

QTEST_MAIN(KeyboardLightingWindowTest)
#include "keyboard_lighting_window_test.moc"
