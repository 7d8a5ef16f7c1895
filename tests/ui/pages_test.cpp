// The DPI settings page and the Other page on a simulated class C mouse (generation 12,
// 8 KiB memory, 100 DPI a step) in a temporary user folder. What a control does is
// judged by the bytes that reach the simulated device's memory, and when.
#include <QCheckBox>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QSlider>
#include <QTemporaryDir>
#include <QtTest>
#include <memory>
#include <optional>
#include <vector>

#include "lang/ui_strings.h"
#include "session/device_hub.h"
#include "session/settings.h"
#include "sim/sim_backend.h"
#include "support/fake_pointer_devices.h"
#include "ui/confirm.h"
#include "ui/device_controller.h"
#include "ui/dpi_page.h"
#include "ui/other_page.h"
#include "ui/qt_text.h"
#include "ui/skin.h"

using namespace qvm;
using namespace qvm::ui;

namespace {

// Header bytes of the class C image the pages change.
constexpr uint32_t kCurrentStageAt = 0x02;
constexpr uint32_t kStagesAt = 0x03;   // stage k: X at 0x03 + 2k, Y at 0x04 + 2k
constexpr uint32_t kOptionsAt = 0x0E;  // bit 0 angle snapping, bits 4-6 report-rate code
constexpr uint32_t kFlagsAt = 0x0F;
constexpr uint32_t kHeaderBytes = 0x10;
constexpr uint32_t kConfigBytes = 0x550;  // everything a reset rewrites
constexpr int kSimMemoryBytes = 0x2000;   // "mem=8k": backups and restores stay short

constexpr int kWaitMs = 20000;  // generous: the sanitizer builds are slow

using Bytes = std::vector<uint8_t>;

// A controller on simulated devices whose memory lives in a temporary user folder.
struct Rig {
    QTemporaryDir dir;  // outlives the controller, which saves the simulated memory
    std::unique_ptr<DeviceController> controller;

    explicit Rig(const std::string& devices = "g12/mem=8k") {
        qputenv("QVM_USER_DIR", dir.path().toUtf8());
        qputenv("XDG_CONFIG_HOME",
                dir.filePath("config").toUtf8());  // the autostart entry
        DeviceHubOptions options;
        options.simulate = devices;
        options.userDataFolder = FromQ(dir.path());
        auto opened = DeviceController::Open(options);
        if (!opened) qFatal("cannot open the simulated devices: %s", opened.message().c_str());
        controller = std::move(opened).value();
        controller->Start();
    }

    bool WaitLoaded() {
        return QTest::qWaitFor([&] { return controller->View().present; }, kWaitMs);
    }
    SimDevice& Device() { return controller->Hub().Simulator()->Device(0); }
    Bytes Peek(uint32_t address, std::size_t length) {
        return Device().PeekMemory(address, length);
    }
    std::string File(const QString& name) const { return FromQ(dir.filePath(name)); }
};

// Polls the device memory until it differs from `before`; the milliseconds it took, or
// -1 when nothing changed within the wait.
qint64 MillisUntilChanged(Rig& rig, uint32_t address, const Bytes& before) {
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < kWaitMs) {
        if (rig.Peek(address, before.size()) != before) return clock.elapsed();
        QTest::qWait(5);
    }
    return -1;
}

bool WaitFinished(QSignalSpy& spy, const QString& operation, QString* error = nullptr) {
    return QTest::qWaitFor(
        [&] {
            for (const QList<QVariant>& call : spy) {
                if (call.at(0).toString() == operation) {
                    if (error != nullptr) *error = call.at(1).toString();
                    return true;
                }
            }
            return false;
        },
        kWaitMs);
}

template <class T>
T* Child(QWidget& parent, const QString& name) {
    T* child = parent.findChild<T*>(name);
    if (child == nullptr) qFatal("no child %s", qPrintable(name));
    return child;
}

QString ButtonText(int index) {
    return ToQ(Ui().button_str[static_cast<std::size_t>(index)]);
}

void SaveScreenshot(QWidget& widget, const QString& name) {
    QDir().mkpath(QVM_SCREENSHOT_DIR);
    QVERIFY(widget.grab().save(QString(QVM_SCREENSHOT_DIR) + "/" + name));
}

}  // namespace

Q_DECLARE_METATYPE(DpiAxis)
Q_DECLARE_METATYPE(Bytes)

class PagesTest : public QObject {
    Q_OBJECT

  private slots:
    void initTestCase() {
        skin::ApplySkin(*qApp);
        skin::CreateSharedFonts();
    }

    void dpiSliderWritesAfterDelay_data();
    void dpiSliderWritesAfterDelay();
    void reportRateAndSnapping_data();
    void reportRateAndSnapping();
    void stageFlagAndCurrentStage();
    void resetAnswered_data();
    void resetAnswered();
    void backupThenRestoreRoundTrips();
};

void PagesTest::dpiSliderWritesAfterDelay_data() {
    QTest::addColumn<int>("stage");
    QTest::addColumn<bool>("independent");
    QTest::addColumn<DpiAxis>("axis");
    QTest::addColumn<int>("value");
    QTest::addColumn<Bytes>("want");  // X and Y of the stage in memory afterwards
    QTest::addColumn<QString>("xText");
    QTest::addColumn<QString>("yText");

    QTest::newRow("X moves Y too") << 0 << false << DpiAxis::X << 12 << Bytes{0x0C, 0x0C} << "1200"
                                   << "1200";
    QTest::newRow("independent Y") << 3 << true << DpiAxis::Y << 150 << Bytes{0xA0, 0x96} << "16000"
                                   << "15000";
}

void PagesTest::dpiSliderWritesAfterDelay() {
    QFETCH(int, stage);
    QFETCH(bool, independent);
    QFETCH(DpiAxis, axis);
    QFETCH(int, value);
    QFETCH(Bytes, want);
    QFETCH(QString, xText);
    QFETCH(QString, yText);

    Rig rig;
    QVERIFY(rig.WaitLoaded());
    DpiPage page(*rig.controller);
    page.resize(1024, 492);
    const QString n = QString::number(stage);
    if (independent) QTest::mouseClick(Child<QCheckBox>(page, "xyIndependent"), Qt::LeftButton);
    QCOMPARE(Child<QCheckBox>(page, "xyIndependent")->isChecked(), independent);

    const uint32_t at = kStagesAt + 2 * uint32_t(stage);
    const Bytes before = rig.Peek(at, 2);
    QVERIFY(before != want);
    Child<QSlider>(page, (axis == DpiAxis::X ? "stageX" : "stageY") + n)->setValue(value);

    // Shown at once, on the device only after the DPI delay.
    QCOMPARE(Child<QLabel>(page, "stageXValue" + n)->text(), xText);
    QCOMPARE(Child<QLabel>(page, "stageYValue" + n)->text(), yText);
    QCOMPARE(rig.Peek(at, 2), before);
    const qint64 took = MillisUntilChanged(rig, at, before);
    QVERIFY2(took >= 190, qPrintable(QString("written after %1 ms").arg(took)));
    QCOMPARE(rig.Peek(at, 2), want);
    if (stage == 0) SaveScreenshot(page, "dpi_page.png");
}

void PagesTest::reportRateAndSnapping_data() {
    QTest::addColumn<QString>("control");
    QTest::addColumn<int>("position");  // report-rate slider position; -1: snapping click
    QTest::addColumn<uint8_t>("mask");
    QTest::addColumn<uint8_t>("want");
    QTest::addColumn<QString>("text");

    QTest::newRow("125 Hz") << "reportRate" << 0 << uint8_t{0x70} << uint8_t{0x70} << "125Hz";
    QTest::newRow("angle snapping on")
        << "angleSnapping" << -1 << uint8_t{0x01} << uint8_t{0x01} << "";
}

void PagesTest::reportRateAndSnapping() {
    QFETCH(QString, control);
    QFETCH(int, position);
    QFETCH(uint8_t, mask);
    QFETCH(uint8_t, want);
    QFETCH(QString, text);

    Rig rig;
    QVERIFY(rig.WaitLoaded());
    DpiPage page(*rig.controller);
    const Bytes before = rig.Peek(kOptionsAt, 1);
    QVERIFY((before[0] & mask) != want);
    if (position >= 0) {
        Child<QSlider>(page, control)->setValue(position);
        QCOMPARE(Child<QLabel>(page, "reportRateValue")->text(), text);
    } else {
        QTest::mouseClick(Child<QCheckBox>(page, control), Qt::LeftButton);
    }
    const qint64 took = MillisUntilChanged(rig, kOptionsAt, before);
    QVERIFY2(took >= 950, qPrintable(QString("written after %1 ms").arg(took)));
    const uint8_t after = rig.Peek(kOptionsAt, 1)[0];
    QCOMPARE(uint8_t(after & mask), want);
    QCOMPARE(uint8_t(after & ~mask),
             uint8_t(before[0] & ~mask));  // other bits kept
}

void PagesTest::stageFlagAndCurrentStage() {
    Rig rig;
    QVERIFY(rig.WaitLoaded());
    DpiPage page(*rig.controller);
    page.resize(1024, 492);
    page.show();
    QVERIFY(QTest::qWaitForWindowExposed(&page));
    QCOMPARE(rig.Peek(kFlagsAt, 1), Bytes{0x00});

    // Two clicks in a row: the second write keeps the first flag.
    QTest::mouseClick(Child<QCheckBox>(page, "stageFlag2"), Qt::LeftButton);
    QTest::mouseClick(Child<QCheckBox>(page, "stageFlag0"), Qt::LeftButton);
    QTRY_COMPARE_WITH_TIMEOUT(rig.Peek(kFlagsAt, 1), Bytes{0x05}, kWaitMs);

    // With the flag set, Y dragged above X (3200) takes X with it.
    Child<QSlider>(page, "stageY2")->setValue(50);
    QCOMPARE(Child<QLabel>(page, "stageXValue2")->text(), QString("5000"));
    QTRY_COMPARE_WITH_TIMEOUT(rig.Peek(kStagesAt + 4, 2), (Bytes{0x32, 0x32}), kWaitMs);

    QTest::mouseClick(Child<QRadioButton>(page, "stageCurrent3"), Qt::LeftButton);
    QTRY_COMPARE_WITH_TIMEOUT(uint8_t(rig.Peek(kCurrentStageAt, 1)[0] & 0x07), uint8_t{3}, kWaitMs);
}

void PagesTest::resetAnswered_data() {
    QTest::addColumn<bool>("answer");
    QTest::newRow("Cancel") << false;
    QTest::newRow("OK") << true;
}

void PagesTest::resetAnswered() {
    QFETCH(bool, answer);
    Rig rig;
    QVERIFY(rig.WaitLoaded());
    // Something that is not factory: stage 0 at 2500 DPI, report rate 1000 Hz.
    QVERIFY(
        rig.controller->ChangeDeferred(DeferredSetter(&DeferredWrites::ChangeDpiStage, 0, 25, 25)));
    QVERIFY(rig.controller->ChangeDeferred(DeferredSetter(&DeferredWrites::ChangeReportRate, 0)));
    rig.controller->FlushPending();
    QTRY_COMPARE_WITH_TIMEOUT(rig.Peek(kStagesAt, 2), (Bytes{0x19, 0x19}), kWaitMs);
    const Bytes before = rig.Peek(0, kConfigBytes);

    UserSettings settings;
    OtherPage page(*rig.controller, {rig.File("set.ini"), &settings, nullptr, 7, {}});
    QStringList asked;
    ScopedDialogHooks hooks(
        [&](const QString& caption, const QString& text) {
            asked << caption + "|" + text;
            return answer;
        },
        [](const QString&, const QString&) {});
    QSignalSpy finished(rig.controller.get(), &DeviceController::operationFinished);
    QTest::mouseClick(Child<QPushButton>(page, "resetButton"), Qt::LeftButton);
    QCOMPARE(asked, QStringList{"Reset|All setting will be reset !!  continue?"});

    if (!answer) {
        QVERIFY(!rig.controller->Busy());  // nothing was queued
        QCOMPARE(rig.Peek(0, kConfigBytes), before);
        return;
    }
    QVERIFY(!Child<QPushButton>(page, "backupButton")->isEnabled());
    QString error;
    QVERIFY(WaitFinished(finished, ButtonText(3), &error));
    QCOMPARE(error, QString());
    // Factory values for 100 DPI steps: 800, 1600, 3200, 16000, 8000; 500 Hz; stage 1.
    const Bytes header = rig.Peek(0, kHeaderBytes);
    QCOMPARE(Bytes(header.begin() + kStagesAt, header.begin() + kStagesAt + 10),
             (Bytes{0x08, 0x08, 0x10, 0x10, 0x20, 0x20, 0xA0, 0xA0, 0x50, 0x50}));
    QCOMPARE(uint8_t(header[kOptionsAt] & 0x70), uint8_t{0x10});
    QCOMPARE(uint8_t(header[kCurrentStageAt] & 0x07), uint8_t{1});
    // The bar is back at its start and the result line says the reset is done.
    QCOMPARE(Child<QProgressBar>(page, "driverProgress")->value(), 0);
    QCOMPARE(Child<QLabel>(page, "driverResult")->text(),
             QString("Reset done: the mouse has its factory settings."));
    QTRY_VERIFY(Child<QPushButton>(page, "backupButton")->isEnabled());
}

void PagesTest::backupThenRestoreRoundTrips() {
    Rig rig;
    QVERIFY(rig.WaitLoaded());
    UserSettings settings;
    OtherPage page(*rig.controller, {rig.File("set.ini"), &settings, nullptr, 7, {}});
    const QString file = rig.dir.filePath("saved");  // typed without the extension
    page.SetFileChoosers(
        [&](QWidget*, const QString& proposed) {
            if (!proposed.endsWith(OtherPage::ProposedBackupName(QDate::currentDate()))) {
                return QString();
            }
            return file;
        },
        [&](QWidget*, const QString&) { return file + ".bf"; });
    ScopedDialogHooks hooks([](const QString&, const QString&) { return true; },
                            [](const QString&, const QString& text) { QFAIL(qPrintable(text)); });
    QSignalSpy finished(rig.controller.get(), &DeviceController::operationFinished);

    const Bytes saved = rig.Peek(0, kSimMemoryBytes);
    QTest::mouseClick(Child<QPushButton>(page, "backupButton"), Qt::LeftButton);
    QString error;
    QVERIFY(WaitFinished(finished, ButtonText(4), &error));
    QCOMPARE(error, QString());
    QCOMPARE(Child<QLabel>(page, "driverResult")->text(), "Backup saved to " + file + ".bf.");
    QCOMPARE(Child<QProgressBar>(page, "driverProgress")->value(), 0);
    QFile written(file + ".bf");
    QVERIFY(written.open(QIODevice::ReadOnly));
    const QByteArray bytes = written.readAll();
    QCOMPARE(bytes.size(), 22 + kSimMemoryBytes);
    QCOMPARE(bytes.left(22).toHex(), QByteArray("fffeff075f0040005f00420046003600"
                                                "5f0000200000"));
    QCOMPARE(Bytes(bytes.begin() + 22, bytes.end()), saved);

    // Change the stages and the rate, then restore: the saved bytes come back.
    QVERIFY(
        rig.controller->ChangeDeferred(DeferredSetter(&DeferredWrites::ChangeDpiStage, 1, 99, 77)));
    QVERIFY(rig.controller->ChangeDeferred(DeferredSetter(&DeferredWrites::ChangeReportRate, 6)));
    rig.controller->FlushPending();
    QTRY_COMPARE_WITH_TIMEOUT(rig.Peek(kStagesAt + 2, 2), (Bytes{99, 77}), kWaitMs);
    finished.clear();
    QTest::mouseClick(Child<QPushButton>(page, "restoreButton"), Qt::LeftButton);
    QVERIFY(WaitFinished(finished, ButtonText(5), &error));
    QCOMPARE(error, QString());
    QCOMPARE(Child<QLabel>(page, "driverResult")->text(), "Restore done from " + file + ".bf.");
    page.resize(1024, 492);
    SaveScreenshot(page, "other_page_result.png");
    QCOMPARE(rig.Peek(0, kConfigBytes), Bytes(saved.begin(), saved.begin() + kConfigBytes));
    QTRY_COMPARE(rig.controller->View().image->dpiStages[1].x, saved[kStagesAt + 2]);
}

QTEST_MAIN(PagesTest)
#include "pages_test.moc"
