// The mouse lighting on the Other page against simulated mice: the panel only where the
// model has lighting; the picker opened from an LED previews on it, OK stores, Cancel
// shows the stored colours again. Screenshots go to the build folder.
#include <QComboBox>
#include <QLineEdit>
#include <QtTest>

#include "ui/colour_picker_dialog.h"
#include "ui/mouse_lighting_panel.h"
#include "ui/other_page.h"
#include "ui/skin.h"
#include "ui_rig.h"

using namespace qvm;
using namespace qvm::ui;
using qvm::test::UiRig;

namespace {

using Bytes = std::vector<uint8_t>;
using Record = std::array<uint8_t, 4>;

void TypeHex(ColourPickerDialog& dialog, const QString& text) {
    dialog.HexEdit()->clear();
    QTest::keyClicks(dialog.HexEdit(), text);
}

MouseLightingPanel& Panel(UiRig& rig) {
    return rig.Window().Other().Lighting();
}

}  // namespace

class MouseLightingTest : public QObject {
    Q_OBJECT

  private slots:
    void initTestCase() {
        skin::CreateSharedFonts();
        skin::ApplySkin(*qApp);
    }

    // Which parts of the panel each mouse gets.
    void panelFollowsTheModel() {
        const std::tuple<const char*, bool, bool> cases[] = {
            {"g5x", true, true}, {"g5", true, false}, {"g2", false, false}};
        for (const auto& [devices, effect, leds] : cases) {
            UiRig rig(devices);
            QVERIFY(rig.WaitLoaded());
            rig.Window().ShowPage(MainWindow::kOtherPage);
            rig.Window().show();
            rig.Settle();
            MouseLightingPanel& panel = Panel(rig);
            QCOMPARE(panel.isVisible(), effect || leds);
            QCOMPARE(panel.findChild<QComboBox*>("lightingEffect")->isVisible(), effect);
            QCOMPARE(panel.Swatch(0)->isVisible(), leds);
        }
    }

    // A click on LED 3 opens the picker: a typed colour reaches the LED at once and OK
    // stores it at 0x50C; Cancel after previews puts the stored record back on the LED and
    // leaves every byte of memory as it was. Ctrl+click selects LEDs 0 and 5, and "Colour"
    // stores breathing blue for both.
    void pickerPreviewsStoresAndRestores() {
        UiRig rig("g12");
        QVERIFY(rig.WaitLoaded());
        rig.Window().ShowPage(MainWindow::kOtherPage);
        rig.Window().show();
        rig.Settle();
        MouseLightingPanel& panel = Panel(rig);
        QVERIFY(panel.Swatch(3)->isVisible());
        const Record typed{0x12, 0x34, 0x56, 0x80};
        UiRig::OnNextModal<ColourPickerDialog>([&rig, typed](ColourPickerDialog& dialog) {
            TypeHex(dialog, "#123456");
            QTRY_COMPARE_WITH_TIMEOUT(rig.Device().MouseState().leds[3], typed, 5000);
            rig.Screenshot(&dialog, "colour_picker_led.png");
            UiRig::Click(dialog.OkButton());
        });
        UiRig::Click(panel.Swatch(3));
        rig.Settle();
        QCOMPARE(rig.Device().PeekMemory(0x50C, 4), Bytes(typed.begin(), typed.end()));

        const Bytes memory = rig.Device().SaveImage();
        UiRig::OnNextModal<ColourPickerDialog>([&rig](ColourPickerDialog& dialog) {
            TypeHex(dialog, "#FF0000");
            UiRig::Click(dialog.ModeButton(PickerMode::Off));
            QTRY_COMPARE_WITH_TIMEOUT(rig.Device().MouseState().leds[3], (Record{0, 0, 0, 0x80}),
                                      5000);
            UiRig::Click(dialog.CancelButton());
        });
        UiRig::Click(panel.Swatch(3));
        QTRY_COMPARE_WITH_TIMEOUT(rig.Device().MouseState().leds[3], typed, 5000);
        QVERIFY(rig.Device().SaveImage() == memory);

        for (int led : {0, 5, 7, 7}) {
            QTest::mouseClick(panel.Swatch(led), Qt::LeftButton, Qt::ControlModifier);
        }
        QCOMPARE(panel.Selection(), (std::vector<int>{0, 5}));
        UiRig::OnNextModal<ColourPickerDialog>([](ColourPickerDialog& dialog) {
            TypeHex(dialog, "#0000FF");
            UiRig::Click(dialog.ModeButton(PickerMode::Breathing));
            UiRig::Click(dialog.OkButton());
        });
        UiRig::Click(panel.findChild<QPushButton*>("ledColour"));
        rig.Settle();
        Bytes expected = memory;
        for (uint32_t led : {0u, 5u}) {
            std::copy_n(Bytes{0, 0, 0xFF, 0xC0}.begin(), 4, expected.begin() + 0x500 + 4 * led);
        }
        QVERIFY(rig.Device().SaveImage() == expected);
        rig.Screenshot(&rig.Window(), "other_page_lighting.png");
    }
};

QTEST_MAIN(MouseLightingTest)
#include "mouse_lighting_test.moc"
