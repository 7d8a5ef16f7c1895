// The colour picker window: OK stores on the simulated mouse, Cancel leaves it untouched,
// previews never pile up behind a slow device. Screenshots go to the build folder.
#include <QLabel>
#include <QLineEdit>
#include <QSlider>
#include <QtTest>

#include "config/image_layout.h"
#include "ui/colour_picker_dialog.h"
#include "ui/profile_tabs.h"
#include "ui/skin.h"
#include "ui_rig.h"

using namespace qvm;
using namespace qvm::ui;
using qvm::test::UiRig;

namespace {

using Bytes = std::vector<uint8_t>;

void TypeHex(ColourPickerDialog& dialog, const QString& text) {
    dialog.HexEdit()->clear();
    QTest::keyClicks(dialog.HexEdit(), text);
}

}  // namespace

class ColourPickerTest : public QObject {
    Q_OBJECT

  private slots:
    void initTestCase() {
        skin::CreateSharedFonts();
        skin::ApplySkin(*qApp);
    }

    // Cancel after the wheel, a swatch, a slider and typing leaves the mouse byte for byte as
    // it was; OK stores the typed colour as kept: packed byte and 8-bit copy, or R, G, B.
    void okStoresAndCancelLeavesTheDeviceUntouched() {
        // 2B, 80, D5 are nearest to levels 1, 2, 3: packed 0x39, shown 55 AA FF.
        for (const auto& [devices, typed, stored, shown] :
             {std::tuple{"g12", "#123456", Bytes{0x12, 0x34, 0x56}, QColor(0x12, 0x34, 0x56)},
              {"g0", "#2B80D5", Bytes{0x39, 0x55, 0xAA, 0xFF}, QColor(0x55, 0xAA, 0xFF)}}) {
            UiRig rig(devices);
            QVERIFY(rig.WaitLoaded());
            rig.Settle();
            const Bytes before = rig.Device().SaveImage();
            const uint64_t writes = rig.Device().Stats().memoryWrites;
            UiRig::OnNextModal<ColourPickerDialog>([](ColourPickerDialog& dialog) {
                QTest::mouseClick(dialog.Wheel(), Qt::LeftButton, Qt::NoModifier, QPoint(40, 50));
                UiRig::Click(dialog.Swatch(3));
                dialog.ChannelSlider(2)->setValue(17);
                TypeHex(dialog, "#0F0F0F");
                UiRig::Click(dialog.CancelButton());
            });
            emit rig.Window().Profiles().colourRequested(1);
            rig.Settle();
            QVERIFY(rig.Device().SaveImage() == before);
            QCOMPARE(rig.Device().Stats().memoryWrites, writes);

            UiRig::OnNextModal<ColourPickerDialog>([typed = typed](ColourPickerDialog& dialog) {
                TypeHex(dialog, typed);
                UiRig::Click(dialog.OkButton());
            });
            emit rig.Window().Profiles().colourRequested(1);
            rig.Settle();
            const ImageLayout& layout = rig.Controller().View().image->Layout();
            const uint32_t at = layout.ProfileAddress(1) +
                                (layout.colourPacked ? layout.colourAt : *layout.colourControl + 1);
            QTRY_VERIFY_WITH_TIMEOUT(rig.Device().PeekMemory(at, stored.size()) == stored, 5000);
            QTRY_COMPARE_WITH_TIMEOUT(rig.Window().Profiles().Tab(1).colour, shown, 5000);
        }
    }

    // A slow device: while one preview runs, any number of changes leave one waiting, the
    // newest; Cancel drops it and restores once. Text that is no colour is never taken.
    void previewsWaitForTheDevice() {
        std::vector<PickerChoice> previews;
        std::function<void()> done;
        int restores = 0;
        ColourPickerRequest request;
        request.ledModes = true;
        request.setup = {.initial = {10, 20, 30}, .profileColour = {0, 0, 255}};
        request.preview = [&](const PickerChoice& choice, std::function<void()> finished) {
            previews.push_back(choice);
            done = std::move(finished);
        };
        request.restore = [&] { ++restores; };
        ColourPickerDialog dialog(request);
        dialog.show();
        for (int v : {0, 40, 80, 120}) dialog.ChannelSlider(0)->setValue(v);
        UiRig::Click(dialog.ModeButton(PickerMode::Breathing));
        QCOMPARE(previews.size(), std::size_t{1});
        std::exchange(done, nullptr)();  // the device finished: the newest waiting goes out
        QCOMPARE(previews.size(), std::size_t{2});
        TypeHex(dialog, "#12345");  // no colour: OK is refused, the hint shown, nothing taken
        UiRig::Click(dialog.OkButton());
        QVERIFY(dialog.isVisible() && dialog.HexHint()->isVisible());
        QCOMPARE(previews.back(), dialog.Choice());
        UiRig::Click(dialog.ModeButton(PickerMode::Off));  // waits behind the second
        UiRig::Click(dialog.CancelButton());
        QCOMPARE(restores, 1);
        std::exchange(done, nullptr)();  // finished after Cancel: OFF is not sent
        QCOMPARE(previews.size(), std::size_t{2});
    }

    // A click on the wheel picks the hue drawn under the pointer, all the way round.
    void wheelPicksTheColourDrawnUnderThePointer() {
        ColourPickerRequest request;
        request.setup = {.initial = {255, 255, 255}};
        ColourPickerDialog dialog(request);
        dialog.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dialog));
        HueSaturationWheel* wheel = dialog.Wheel();
        const auto apart = [](int a, int b) {
            return std::min(std::abs(a - b), 360 - std::abs(a - b));
        };
        for (int hue : {0, 45, 90, 180, 225, 300}) {
            const QPoint at = wheel->MarkerPosition(hue, 230).toPoint();
            const QImage image = wheel->grab().toImage();
            const int drawn = image.pixelColor(at * image.devicePixelRatio()).hsvHue();
            QTest::mouseClick(wheel, Qt::LeftButton, Qt::NoModifier, at);
            const Hsv picked = dialog.Model().PickedHsv();
            QVERIFY2(apart(picked.hue, hue) <= 2 && apart(drawn, hue) <= 3 &&
                         std::abs(picked.saturation - 230) <= 3,
                     qPrintable(QString::number(hue)));
        }
    }

    // Both kinds of picker; the mode buttons only on the one for LEDs.
    void screenshots() {
        UiRig rig;  // for the screenshot folder
        ColourPickerRequest request;
        request.caption = "Profile colour";
        request.ledModes = true;
        request.setup = {.initial = {0x20, 0x90, 0xE0}, .profileColour = {0xFF, 0x48, 0x26}};
        for (const char* file : {"colour_picker_leds.png", "colour_picker_two_bit.png"}) {
            ColourPickerDialog dialog(request);
            dialog.show();
            QVERIFY(QTest::qWaitForWindowExposed(&dialog));
            QCOMPARE(dialog.ModeButton(PickerMode::Off) != nullptr, request.ledModes);
            rig.Screenshot(&dialog, file);
            request.ledModes = false;
            request.setup.twoBitChannels = true;
        }
    }
};

QTEST_MAIN(ColourPickerTest)
#include "colour_picker_test.moc"
