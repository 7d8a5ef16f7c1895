// The colour picker window: a profile colour chosen in it reaches the simulated mouse's
// memory (rounded to 2 bits a channel on the oldest mice), Cancel leaves that memory
// byte for byte as it was, previews never pile up behind a slow device, and text in the
// hex field that is no colour is never stored. Screenshots of the picker go to the build
// folder.
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSlider>
#include <QtTest>
#include <functional>

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
using PickerScript = std::function<void(ColourPickerDialog&)>;

// Runs script on the picker the next modal loop opens (the main window's exec()).
void OnNextPicker(PickerScript script) {
    QTimer::singleShot(0, [script = std::move(script)] {
        auto* dialog = qobject_cast<ColourPickerDialog*>(QApplication::activeModalWidget());
        if (dialog == nullptr) qFatal("no colour picker opened");
        script(*dialog);
    });
}

void TypeHex(ColourPickerDialog& dialog, const QString& text) {
    QTest::keyClick(dialog.HexEdit(), Qt::Key_A, Qt::ControlModifier);
    QTest::keyClick(dialog.HexEdit(), Qt::Key_Backspace);
    QTest::keyClicks(dialog.HexEdit(), text);
}

// The stored colour bytes of profile p: the packed byte and its 8-bit copy (class A), or
// red, green and blue after the control byte.
Bytes StoredColour(UiRig& rig, int p) {
    const ImageLayout& layout = rig.Controller().View().image->Layout();
    const uint32_t block = layout.ProfileAddress(p);
    if (layout.colourPacked) return rig.Device().PeekMemory(block + layout.colourAt, 4);
    return rig.Device().PeekMemory(block + *layout.colourControl + 1, 3);
}

void DragAcross(HueSaturationWheel* wheel, int moves) {
    QTest::mousePress(wheel, Qt::LeftButton, Qt::NoModifier, wheel->rect().center());
    for (int i = 1; i <= moves; ++i) {
        QMouseEvent move(QEvent::MouseMove, QPointF(wheel->width() / 2 + i, wheel->height() / 3),
                         wheel->mapToGlobal(QPointF(0, 0)), Qt::NoButton, Qt::LeftButton,
                         Qt::NoModifier);
        QApplication::sendEvent(wheel, &move);
    }
    QTest::mouseRelease(wheel, Qt::LeftButton, Qt::NoModifier, wheel->rect().center());
}

}  // namespace

class ColourPickerTest : public QObject {
    Q_OBJECT

  private slots:
    void initTestCase() {
        skin::CreateSharedFonts();
        skin::ApplySkin(*qApp);
    }

    void profileColourReachesTheDevice_data() {
        QTest::addColumn<QString>("devices");
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QByteArray>("stored");
        QTest::addColumn<QColor>("shown");
        QTest::newRow("class C") << "g12"
                                 << "#123456" << QByteArray("\x12\x34\x56")
                                 << QColor(0x12, 0x34, 0x56);
        QTest::newRow("class B") << "g5"
                                 << "#a0b0c0" << QByteArray("\xa0\xb0\xc0")
                                 << QColor(0xA0, 0xB0, 0xC0);
        // 2B, 80, D5 are nearest to levels 1, 2, 3: packed 0x39, shown 55 AA FF.
        QTest::newRow("class A rounded")
            << "g0"
            << "#2B80D5" << QByteArray("\x39\x55\xaa\xff") << QColor(0x55, 0xAA, 0xFF);
    }
    void profileColourReachesTheDevice() {
        QFETCH(QString, devices);
        QFETCH(QString, typed);
        QFETCH(QByteArray, stored);
        QFETCH(QColor, shown);
        UiRig rig(devices.toStdString());
        QVERIFY(rig.WaitLoaded());
        Rgb offered{};
        OnNextPicker([&](ColourPickerDialog& dialog) {
            TypeHex(dialog, typed);
            offered = dialog.Choice().colour;
            UiRig::Click(dialog.OkButton());
        });
        emit rig.Window().Profiles().colourRequested(1);
        rig.Settle();
        const Bytes want(stored.begin(), stored.end());
        QTRY_VERIFY_WITH_TIMEOUT(StoredColour(rig, 1) == want, 5000);
        // What the picker offered, and the tab now, is the colour the device shows.
        QCOMPARE(QColor(offered.red, offered.green, offered.blue), shown);
        QTRY_COMPARE_WITH_TIMEOUT(rig.Window().Profiles().Tab(1).colour, shown, 5000);
    }

    void cancelLeavesTheDeviceUntouched_data() {
        QTest::addColumn<QString>("devices");
        QTest::newRow("class C") << "g12";
        QTest::newRow("class B") << "g5";
        QTest::newRow("class A") << "g0";
    }
    void cancelLeavesTheDeviceUntouched() {
        QFETCH(QString, devices);
        UiRig rig(devices.toStdString());
        QVERIFY(rig.WaitLoaded());
        rig.Settle();
        const Bytes before = rig.Device().SaveImage();
        const uint64_t writes = rig.Device().Stats().memoryWrites;
        OnNextPicker([](ColourPickerDialog& dialog) {
            DragAcross(dialog.Wheel(), 5);
            UiRig::Click(dialog.Swatch(3));
            dialog.ChannelSlider(2)->setValue(17);
            TypeHex(dialog, "#0F0F0F");
            UiRig::Click(dialog.CancelButton());
        });
        emit rig.Window().Profiles().colourRequested(2);
        rig.Settle();
        QVERIFY(rig.Device().SaveImage() == before);
        QCOMPARE(rig.Device().Stats().memoryWrites, writes);
    }

    // A slow device: while one preview runs, any number of changes leave one waiting, the
    // newest; Cancel drops it and restores once.
    void previewsWaitForTheDevice() {
        std::vector<PickerChoice> previews;
        std::vector<std::function<void()>> pending;
        int restores = 0;
        ColourPickerRequest request;
        request.ledModes = true;
        request.setup = {.initial = {10, 20, 30}, .profileColour = {0, 0, 255}};
        request.preview = [&](const PickerChoice& choice, std::function<void()> done) {
            previews.push_back(choice);
            pending.push_back(std::move(done));
        };
        request.restore = [&] { ++restores; };
        ColourPickerDialog dialog(request);
        dialog.show();

        DragAcross(dialog.Wheel(), 50);
        QCOMPARE(previews.size(), std::size_t{1});
        for (int v : {0, 40, 80, 120}) dialog.ChannelSlider(0)->setValue(v);
        UiRig::Click(dialog.ModeButton(LedMode::Breathing));
        QCOMPARE(previews.size(), std::size_t{1});

        pending.back()();  // the device finished: the newest waiting choice goes out
        QCOMPARE(previews.size(), std::size_t{2});
        QCOMPARE(previews.back(), dialog.Choice());
        QCOMPARE(previews.back().mode, LedMode::Breathing);
        QCOMPARE(previews.back().colour.red, uint8_t{120});
        pending.back()();
        QCOMPARE(previews.size(), std::size_t{2});  // nothing waited

        UiRig::Click(dialog.ModeButton(LedMode::Off));
        QCOMPARE(previews.size(), std::size_t{3});
        QCOMPARE(previews.back(), (PickerChoice{{0, 0, 0}, LedMode::Off}));
        UiRig::Click(dialog.ModeButton(LedMode::ProfileColour));  // waits behind OFF
        UiRig::Click(dialog.CancelButton());
        QCOMPARE(restores, 1);
        pending.back()();  // OFF finished after Cancel: the profile colour is not sent
        QCOMPARE(previews.size(), std::size_t{3});
        QVERIFY(dialog.result() == QDialog::Rejected);
    }

    // Where the user clicks on the wheel is the colour drawn there: the hue of the pixel
    // under the pointer and the hue picked agree all the way round.
    void wheelPicksTheColourDrawnUnderThePointer() {
        ColourPickerRequest request;
        request.setup = {.initial = {255, 255, 255}};
        ColourPickerDialog dialog(request);
        dialog.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dialog));
        HueSaturationWheel* wheel = dialog.Wheel();
        for (int hue : {0, 45, 90, 180, 225, 300}) {
            const QPoint at = wheel->MarkerPosition(hue, 230).toPoint();
            const QImage before = wheel->grab().toImage();
            const QColor drawn = before.pixelColor(at * before.devicePixelRatio());
            QTest::mouseClick(wheel, Qt::LeftButton, Qt::NoModifier, at);
            const Hsv picked = dialog.Model().PickedHsv();
            const int apart = std::abs(picked.hue - hue);
            QVERIFY2(std::min(apart, 360 - apart) <= 2, qPrintable(QString::number(picked.hue)));
            const int drawnApart = std::abs(drawn.hsvHue() - hue);
            QVERIFY2(std::min(drawnApart, 360 - drawnApart) <= 3,
                     qPrintable(QString("hue %1 drawn as %2").arg(hue).arg(drawn.hsvHue())));
            QVERIFY(std::abs(picked.saturation - 230) <= 3);
        }
    }

    void textThatIsNoColourIsNeverStored_data() {
        QTest::addColumn<QString>("typed");
        QTest::newRow("short") << "#12345";
        QTest::newRow("no hash") << "123456";
        QTest::newRow("not hex") << "#12345G";
        QTest::newRow("empty") << "";
    }
    void textThatIsNoColourIsNeverStored() {
        QFETCH(QString, typed);
        ColourPickerRequest request;
        request.setup = {.initial = {1, 2, 3}};
        ColourPickerDialog dialog(request);
        dialog.show();
        TypeHex(dialog, typed);
        UiRig::Click(dialog.OkButton());
        QVERIFY(dialog.isVisible());
        QVERIFY(dialog.HexHint()->isVisible());
        QCOMPARE(dialog.Choice().colour, (Rgb{1, 2, 3}));
        TypeHex(dialog, "#00ff80");  // fixed: OK takes it
        UiRig::Click(dialog.OkButton());
        QVERIFY(dialog.result() == QDialog::Accepted);
        QCOMPARE(dialog.Choice().colour, (Rgb{0, 0xFF, 0x80}));
    }

    void modeButtonsOnlyForLeds() {
        ColourPickerRequest request;
        ColourPickerDialog plain(request);
        for (LedMode mode : {LedMode::Breathing, LedMode::On, LedMode::Off, LedMode::ProfileColour})
            QVERIFY(plain.ModeButton(mode) == nullptr);
        request.ledModes = true;
        ColourPickerDialog leds(request);
        for (LedMode mode : {LedMode::Breathing, LedMode::On, LedMode::Off, LedMode::ProfileColour})
            QVERIFY(leds.ModeButton(mode) != nullptr);
    }

    void screenshots() {
        UiRig rig;  // for the screenshot folder
        ColourPickerRequest request;
        request.caption = "Profile colour";
        request.ledModes = true;
        request.setup = {.initial = {0x20, 0x90, 0xE0}, .profileColour = {0xFF, 0x48, 0x26}};
        ColourPickerDialog leds(request);
        leds.show();
        QVERIFY(QTest::qWaitForWindowExposed(&leds));
        rig.Screenshot(&leds, "colour_picker_leds.png");
        request.ledModes = false;
        request.setup.twoBitChannels = true;
        ColourPickerDialog twoBit(request);
        twoBit.show();
        QVERIFY(QTest::qWaitForWindowExposed(&twoBit));
        rig.Screenshot(&twoBit, "colour_picker_two_bit.png");
    }
};

QTEST_MAIN(ColourPickerTest)
#include "colour_picker_test.moc"
