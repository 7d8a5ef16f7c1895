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

// A file as text: UTF-16LE after a byte-order mark (set.ini), else UTF-8.
QString ReadText(const std::string& path) {
    QFile file(QString::fromStdString(path));
    if (!file.open(QIODevice::ReadOnly)) return {};
    const QByteArray bytes = file.readAll();
    if (!bytes.startsWith("\xFF\xFE")) return QString::fromUtf8(bytes);
    return QString::fromUtf16(reinterpret_cast<const char16_t*>(bytes.constData() + 2),
                              (bytes.size() - 2) / 2);
}

void SaveScreenshot(QWidget& widget, const QString& name) {
    QDir().mkpath(QVM_SCREENSHOT_DIR);
    QVERIFY(widget.grab().save(QString(QVM_SCREENSHOT_DIR) + "/" + name));
}

// A backup file as the program writes it: tag, N, then N memory bytes.
Bytes BackupFile(uint32_t memoryBytes, uint8_t fill) {
    Bytes file = {0xFF, 0xFE, 0xFF, 0x07, 0x5F, 0x00, 0x40, 0x00, 0x5F,
                  0x00, 0x42, 0x00, 0x46, 0x00, 0x36, 0x00, 0x5F, 0x00};
    for (int shift = 0; shift < 32; shift += 8) file.push_back(uint8_t(memoryBytes >> shift));
    file.resize(file.size() + memoryBytes, fill);
    file[22] = 0x12;  // an initialised image
    return file;
}

void WriteFile(const std::string& path, const Bytes& bytes) {
    QFile file(QString::fromStdString(path));
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(reinterpret_cast<const char*>(bytes.data()), qint64(bytes.size()));
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

    void coupling_data();
    void coupling();
    void dpiSliderWritesAfterDelay_data();
    void dpiSliderWritesAfterDelay();
    void arrowKeyKeepsTheOtherAxis_data();
    void arrowKeyKeepsTheOtherAxis();
    void independenceFollowsTheDevice();
    void slidingFarWritesOnce();
    void refreshWritesNothing();
    void reportRateAndSnapping_data();
    void reportRateAndSnapping();
    void stageFlagAndCurrentStage();
    void resetAnswered_data();
    void resetAnswered();
    void backupThenRestoreRoundTrips();
    void restoreQuestions_data();
    void restoreQuestions();
    void fileDialogsStartInAnExistingFolder_data();
    void fileDialogsStartInAnExistingFolder();
    void generalOptionsWrittenAtOnce_data();
    void generalOptionsWrittenAtOnce();
    void accelerationOptionWhereItCannotWork();
    void driverButtonsFollowDevice();
};

// ---- The stage coupling rule ----

void PagesTest::coupling_data() {
    QTest::addColumn<int>("x");
    QTest::addColumn<int>("y");
    QTest::addColumn<DpiAxis>("moved");
    QTest::addColumn<int>("value");
    QTest::addColumn<bool>("flag");
    QTest::addColumn<bool>("independent");
    QTest::addColumn<int>("wantX");
    QTest::addColumn<int>("wantY");

    const auto X = DpiAxis::X;
    const auto Y = DpiAxis::Y;
    QTest::newRow("tied: X moves Y") << 16 << 16 << X << 20 << false << false << 20 << 20;
    QTest::newRow("tied: Y moves X") << 16 << 10 << Y << 5 << false << false << 5 << 5;
    QTest::newRow("independent: X alone") << 16 << 16 << X << 30 << false << true << 30 << 16;
    QTest::newRow("independent: Y above X") << 16 << 16 << Y << 40 << false << true << 16 << 40;
    QTest::newRow("flag: Y above X raises X") << 16 << 8 << Y << 24 << true << false << 24 << 24;
    QTest::newRow("flag: X below Y lowers Y") << 16 << 12 << X << 10 << true << false << 10 << 10;
    QTest::newRow("flag: Y below X alone") << 16 << 12 << Y << 4 << true << false << 16 << 4;
    QTest::newRow("flag: X above Y alone") << 16 << 12 << X << 30 << true << false << 30 << 12;
    QTest::newRow("flag wins over independent") << 16 << 8 << Y << 20 << true << true << 20 << 20;
}

void PagesTest::coupling() {
    QFETCH(int, x);
    QFETCH(int, y);
    QFETCH(DpiAxis, moved);
    QFETCH(int, value);
    QFETCH(bool, flag);
    QFETCH(bool, independent);
    QFETCH(int, wantX);
    QFETCH(int, wantY);
    const StagePair got = CoupleStageValues({x, y}, moved, value, flag, independent);
    QCOMPARE(got.x, wantX);
    QCOMPARE(got.y, wantY);
}

// ---- DPI page ----

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
    QTest::newRow("Y moves X too") << 2 << false << DpiAxis::Y << 40 << Bytes{0x28, 0x28} << "4000"
                                   << "4000";
    QTest::newRow("independent X") << 1 << true << DpiAxis::X << 25 << Bytes{0x19, 0x10} << "2500"
                                   << "1600";
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

void PagesTest::arrowKeyKeepsTheOtherAxis_data() {
    QTest::addColumn<Bytes>("stored");  // stage 3's X and Y before the page opens
    QTest::addColumn<QString>("slider");
    QTest::addColumn<bool>("independent");  // the box as the page opens
    QTest::addColumn<Bytes>("want");

    QTest::newRow("split, X moved") << Bytes{32, 8} << "stageX3" << true << Bytes{33, 8};
    QTest::newRow("split, Y moved") << Bytes{32, 8} << "stageY3" << true << Bytes{32, 9};
    QTest::newRow("Y above X, X moved") << Bytes{8, 32} << "stageX3" << true << Bytes{9, 32};
    QTest::newRow("tied, X moved") << Bytes{32, 32} << "stageX3" << false << Bytes{33, 33};
}

void PagesTest::arrowKeyKeepsTheOtherAxis() {
    QFETCH(Bytes, stored);
    QFETCH(QString, slider);
    QFETCH(bool, independent);
    QFETCH(Bytes, want);

    Rig rig;
    QVERIFY(rig.WaitLoaded());
    const uint32_t at = kStagesAt + 2 * 3;
    // No stage flag, every stage tied but stage 3, as a command-line change leaves it.
    rig.controller->Change(HubOperation::StageFlags,
                           Setter(&ConfigModel::SetStageFlags, std::array<bool, kDpiStageCount>{}));
    for (int stage = 0; stage < 3; ++stage)
        QVERIFY(rig.controller->ChangeDeferred(
            DeferredSetter(&DeferredWrites::ChangeDpiStage, stage, 16, 16)));
    QVERIFY(rig.controller->ChangeDeferred(
        DeferredSetter(&DeferredWrites::ChangeDpiStage, 3, stored[0], stored[1])));
    rig.controller->FlushPending();
    QTRY_COMPARE_WITH_TIMEOUT(rig.Peek(at, 2), stored, kWaitMs);

    DpiPage page(*rig.controller);
    page.resize(1024, 492);
    QCOMPARE(Child<QCheckBox>(page, "xyIndependent")->isChecked(), independent);
    QTest::keyClick(Child<QSlider>(page, slider), Qt::Key_Right);
    QVERIFY(MillisUntilChanged(rig, at, stored) >= 0);
    QCOMPARE(rig.Peek(at, 2), want);
}

void PagesTest::independenceFollowsTheDevice() {
    Rig rig;
    QVERIFY(rig.WaitLoaded());
    for (int stage = 0; stage < rig.controller->View().image->dpiStageCount; ++stage)
        QVERIFY(rig.controller->ChangeDeferred(
            DeferredSetter(&DeferredWrites::ChangeDpiStage, stage, 16, 16)));
    DpiPage page(*rig.controller);
    auto* box = Child<QCheckBox>(page, "xyIndependent");
    QVERIFY(!box->isChecked());

    // A split made elsewhere turns it on ...
    QVERIFY(
        rig.controller->ChangeDeferred(DeferredSetter(&DeferredWrites::ChangeDpiStage, 1, 30, 10)));
    QVERIFY(box->isChecked());
    // ... the user may still turn it off, and the next refresh keeps that ...
    QTest::mouseClick(box, Qt::LeftButton);
    page.Refresh();
    QVERIFY(!box->isChecked());
    // ... until a new split appears after the stages were tied again.
    QVERIFY(
        rig.controller->ChangeDeferred(DeferredSetter(&DeferredWrites::ChangeDpiStage, 1, 10, 10)));
    QVERIFY(!box->isChecked());
    QVERIFY(
        rig.controller->ChangeDeferred(DeferredSetter(&DeferredWrites::ChangeDpiStage, 2, 20, 40)));
    QVERIFY(box->isChecked());
    rig.controller->FlushPending();
}

void PagesTest::slidingFarWritesOnce() {
    Rig rig;
    QVERIFY(rig.WaitLoaded());
    DpiPage page(*rig.controller);
    page.resize(1024, 492);
    auto* slider = Child<QSlider>(page, "stageX1");
    const SimTransferStats start = rig.controller->Hub().Simulator()->TotalStats();
    for (int v = 17; v <= 60; ++v) slider->setValue(v);  // 44 values of slider travel
    QCOMPARE(rig.controller->Hub().Simulator()->TotalStats().setFeature, start.setFeature);
    QTRY_COMPARE_WITH_TIMEOUT(rig.Peek(kStagesAt + 2, 2), (Bytes{0x3C, 0x3C}), kWaitMs);
    QTest::qWait(300);
    // One deferred write: two update notices, the stage's bytes and nothing per step.
    const uint64_t sent =
        rig.controller->Hub().Simulator()->TotalStats().setFeature - start.setFeature;
    QVERIFY2(sent <= 6, qPrintable(QString("%1 feature reports sent").arg(sent)));
}

void PagesTest::refreshWritesNothing() {
    Rig rig;
    QVERIFY(rig.WaitLoaded());
    QVERIFY(
        rig.controller->ChangeDeferred(DeferredSetter(&DeferredWrites::ChangeDpiStage, 0, 30, 20)));
    QVERIFY(rig.controller->ChangeDeferred(DeferredSetter(&DeferredWrites::ChangeReportRate, 5)));
    rig.controller->FlushPending();
    QVERIFY(!rig.controller->Hub().NextDeferredDue());

    DpiPage page(*rig.controller);
    page.Refresh();
    QCOMPARE(Child<QSlider>(page, "stageX0")->value(), 30);
    QCOMPARE(Child<QSlider>(page, "stageY0")->value(), 20);
    QCOMPARE(Child<QLabel>(page, "stageYValue0")->text(), QString("2000"));
    QCOMPARE(Child<QSlider>(page, "reportRate")->value(), 2);
    QCOMPARE(Child<QLabel>(page, "reportRateValue")->text(), QString("166Hz"));
    // Showing the values queued no write.
    QVERIFY(!rig.controller->Hub().NextDeferredDue());
}

void PagesTest::reportRateAndSnapping_data() {
    QTest::addColumn<QString>("control");
    QTest::addColumn<int>("position");  // report-rate slider position; -1: snapping click
    QTest::addColumn<uint8_t>("mask");
    QTest::addColumn<uint8_t>("want");
    QTest::addColumn<QString>("text");

    QTest::newRow("250 Hz") << "reportRate" << 4 << uint8_t{0x70} << uint8_t{0x30} << "250Hz";
    QTest::newRow("1000 Hz") << "reportRate" << 7 << uint8_t{0x70} << uint8_t{0x00} << "1000Hz";
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

// ---- Driver settings ----

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

void PagesTest::restoreQuestions_data() {
    QTest::addColumn<uint32_t>("memoryBytes");
    QTest::addColumn<QList<bool>>("answers");
    QTest::addColumn<int>("questions");
    QTest::addColumn<bool>("restored");
    QTest::addColumn<uint8_t>("tagByte");    // byte 4 of the file: '_' opens the right tag
    QTest::addColumn<uint8_t>("firstByte");  // memory byte 0: 0x12 for a configuration
    QTest::addColumn<int>("cut");            // memory bytes missing from the file's end
    QTest::addColumn<QString>("concern");    // in the second question

    const uint32_t same = kSimMemoryBytes;
    const uint8_t tag = '_';
    const uint8_t marker = 0x12;
    QTest::newRow("same size, Cancel")
        << same << QList<bool>{false} << 1 << false << tag << marker << 0 << QString();
    QTest::newRow("same size, OK")
        << same << QList<bool>{true} << 1 << true << tag << marker << 0 << QString();
    QTest::newRow("other size, not forced")
        << 0x1000u << QList<bool>{true, false} << 2 << false << tag << marker << 0 << "4096 / 8192";
    QTest::newRow("other size, forced")
        << 0x1000u << QList<bool>{true, true} << 2 << true << tag << marker << 0 << "4096 / 8192";
    QTest::newRow("another tag: no question")
        << same << QList<bool>{true} << 0 << false << uint8_t{'M'} << marker << 0 << QString();
    QTest::newRow("no marker, not forced") << same << QList<bool>{true, false} << 2 << false << tag
                                           << uint8_t{0xFF} << 0 << "configuration marker";
    QTest::newRow("no marker, forced") << same << QList<bool>{true, true} << 2 << true << tag
                                       << uint8_t{0xFF} << 0 << "configuration marker";
    QTest::newRow("cut short, not forced") << same << QList<bool>{true, false} << 2 << false << tag
                                           << marker << 0x100 << "holds 7936 of its 8192";
    QTest::newRow("cut short, forced") << same << QList<bool>{true, true} << 2 << true << tag
                                       << marker << 0x100 << "holds 7936 of its 8192";
}

void PagesTest::restoreQuestions() {
    QFETCH(uint32_t, memoryBytes);
    QFETCH(QList<bool>, answers);
    QFETCH(int, questions);
    QFETCH(bool, restored);
    QFETCH(uint8_t, tagByte);
    QFETCH(uint8_t, firstByte);
    QFETCH(int, cut);
    QFETCH(QString, concern);

    Rig rig;
    QVERIFY(rig.WaitLoaded());
    const std::string file = rig.File("other.bf");
    Bytes contents = BackupFile(memoryBytes, 0x21);  // every stage at 3300 DPI
    contents[4] = tagByte;
    contents[22] = firstByte;
    contents.resize(contents.size() - static_cast<std::size_t>(cut));
    WriteFile(file, contents);
    UserSettings settings;
    OtherPage page(*rig.controller, {rig.File("set.ini"), &settings, nullptr, 7, {}});
    page.SetFileChoosers([](QWidget*, const QString&) { return QString(); },
                         [&](QWidget*, const QString&) { return QString::fromStdString(file); });
    QStringList asked;
    QStringList told;
    ScopedDialogHooks hooks(
        [&](const QString& caption, const QString& text) {
            asked << caption + "|" + text;
            return answers.isEmpty() ? false : answers.takeFirst();
        },
        [&](const QString&, const QString& text) { told << text; });
    QSignalSpy finished(rig.controller.get(), &DeviceController::operationFinished);
    const Bytes before = rig.Peek(0, kConfigBytes);

    QTest::mouseClick(Child<QPushButton>(page, "restoreButton"), Qt::LeftButton);
    QCOMPARE(asked.size(), questions);
    // A refused file: the table text, then the file's name and why beneath it.
    QCOMPARE(told, questions == 0 ? QStringList{"invalid format !!\nother.bf: it is not a backup "
                                                "file: it does not begin with the backup tag"}
                                  : QStringList{});
    if (questions > 0) {
        QCOMPARE(asked.first(),
                 QString("Restore|Current setting will be overwritten !! continue?"));
    }
    if (questions > 1) QVERIFY2(asked[1].contains(concern), qPrintable(asked[1]));
    if (!restored) {
        QVERIFY(!rig.controller->Busy());  // nothing was queued
        QCOMPARE(rig.Peek(0, kConfigBytes), before);
        return;
    }
    QString error;
    QVERIFY(WaitFinished(finished, ButtonText(5), &error));
    QCOMPARE(error, QString());
    QCOMPARE(rig.Peek(kStagesAt, 4), (Bytes{0x21, 0x21, 0x21, 0x21}));
    QCOMPARE(rig.Peek(0, 1), Bytes{firstByte});
    QCOMPARE(rig.controller->View().uninitialised, firstByte != 0x12);
}

// Both dialogs start where a folder exists: the one last chosen, else the documents
// folder, else home; a folder that does not exist would put its name into the name field.
void PagesTest::fileDialogsStartInAnExistingFolder_data() {
    QTest::addColumn<bool>("documents");  // ~/Documents exists
    QTest::addColumn<QString>("first");   // where the first dialog starts, under HOME
    QTest::newRow("documents folder") << true << "/Documents";
    QTest::newRow("no documents folder: home") << false << "";
}

void PagesTest::fileDialogsStartInAnExistingFolder() {
    QFETCH(bool, documents);
    QFETCH(QString, first);
    Rig rig;
    QVERIFY(rig.WaitLoaded());
    const QString home = rig.dir.filePath("home");
    QVERIFY(QDir().mkpath(home + "/elsewhere"));
    if (documents) QVERIFY(QDir().mkpath(home + "/Documents"));
    const QByteArray oldHome = qgetenv("HOME");
    const QByteArray oldConfig = qgetenv("XDG_CONFIG_HOME");
    qputenv("HOME", home.toUtf8());
    qputenv("XDG_CONFIG_HOME", (home + "/.config").toUtf8());

    UserSettings settings;
    OtherPage page(*rig.controller, {rig.File("set.ini"), &settings, nullptr, 7, {}});
    QStringList offered;  // "save:<folder>" or "open:<folder>"
    page.SetFileChoosers(
        [&](QWidget*, const QString& proposed) {
            offered << "save:" + QFileInfo(proposed).path();
            return home + "/elsewhere/kept.bf";
        },
        [&](QWidget*, const QString& folder) {
            offered << "open:" + folder;
            return QString();  // cancelled
        });
    ScopedDialogHooks hooks([](const QString&, const QString&) { return true; },
                            [](const QString&, const QString& text) { QFAIL(qPrintable(text)); });
    QSignalSpy finished(rig.controller.get(), &DeviceController::operationFinished);
    QTest::mouseClick(Child<QPushButton>(page, "restoreButton"), Qt::LeftButton);
    QTest::mouseClick(Child<QPushButton>(page, "backupButton"), Qt::LeftButton);
    QVERIFY(WaitFinished(finished, ButtonText(4)));
    QTest::mouseClick(Child<QPushButton>(page, "restoreButton"), Qt::LeftButton);
    qputenv("HOME", oldHome);
    if (oldConfig.isNull()) {
        qunsetenv("XDG_CONFIG_HOME");
    } else {
        qputenv("XDG_CONFIG_HOME", oldConfig);
    }
    // The second restore starts where the backup was saved, as does the next run.
    QCOMPARE(offered, (QStringList{"open:" + home + first, "save:" + home + first,
                                   "open:" + home + "/elsewhere"}));
    QVERIFY(ReadText(rig.File("set.ini")).contains("last=" + home + "/elsewhere"));
}

// ---- General options ----

void PagesTest::generalOptionsWrittenAtOnce_data() {
    QTest::addColumn<QString>("control");
    QTest::addColumn<bool>("checked");  // before the click
    QTest::addColumn<QString>("file");  // under the temporary folder
    QTest::addColumn<QString>("line");  // in that file right after the click
    QTest::addColumn<QStringList>("pointerCalls");

    QTest::newRow("osd") << "osdOption" << true << "set.ini"
                         << "osd=0" << QStringList{};
    // Only the QVM mouse (device 11) is flattened; the other pointer (12) is left alone.
    QTest::newRow("acceleration off for the QVM mouse")
        << "accelerationOption" << false << "set.ini"
        << "disable_acc=1" << QStringList{"set 11 0,1"};
    QTest::newRow("start with the desktop")
        << "autostartOption" << false << "config/autostart/qvm-gaming.desktop"
        << QString("Exec=%1 /hide").arg(QCoreApplication::applicationFilePath()) << QStringList{};
}

void PagesTest::generalOptionsWrittenAtOnce() {
    QFETCH(QString, control);
    QFETCH(bool, checked);
    QFETCH(QString, file);
    QFETCH(QString, line);
    QFETCH(QStringList, pointerCalls);

    Rig rig;
    UserSettings settings;  // as a fresh set.ini reads: the OSD on, acceleration alone
    test::FakePointerDesktop desktop;
    desktop.devices = {test::LibinputPointer(11, "QVM mouse", kQvmUsbVendor),
                       test::LibinputPointer(12, "Other mouse", 0x046D)};
    PointerAcceleration pointer(desktop.Connect());
    OtherPage page(*rig.controller, {rig.File("set.ini"), &settings, &pointer, 7, {}});
    auto* option = Child<QCheckBox>(page, control);
    QCOMPARE(option->isChecked(), checked);
    QTest::mouseClick(option, Qt::LeftButton);
    QCOMPARE(option->isChecked(), !checked);
    const QStringList lines = ReadText(rig.File(file)).split(QRegularExpression("\r?\n"));
    QVERIFY2(lines.contains(line), qPrintable(lines.join(" / ")));
    QStringList calls;
    for (const std::string& call : desktop.calls) calls << QString::fromStdString(call);
    QCOMPARE(calls, pointerCalls);

    // A second click takes it back: the QVM mouse gets its own profile again.
    if (control == "accelerationOption") {
        QTest::mouseClick(option, Qt::LeftButton);
        QCOMPARE(desktop.Device(11).profile, (std::vector<std::uint8_t>{1, 0}));
        QVERIFY(ReadText(rig.File(file)).contains("disable_acc=0"));
    }
}

void PagesTest::accelerationOptionWhereItCannotWork() {
    Rig rig;
    UserSettings settings;
    PointerAcceleration pointer(std::string("works only on an X11 desktop"));
    QStringList errors;
    OtherPage page(*rig.controller, {rig.File("set.ini"), &settings, &pointer, 7,
                                     [&errors](const QString& text) { errors << text; }});
    auto* option = Child<QCheckBox>(page, "accelerationOption");
    QTest::mouseClick(option, Qt::LeftButton);
    QVERIFY(!option->isChecked());
    QCOMPARE(errors, QStringList{"works only on an X11 desktop"});
    QCOMPARE(settings.disableAcc, 0);
    QVERIFY(!QFileInfo::exists(ToQ(rig.File("set.ini"))));
}

void PagesTest::driverButtonsFollowDevice() {
    Rig keyboard("mx28");
    QVERIFY(QTest::qWaitFor([&] { return keyboard.controller->View().keyboard; }, kWaitMs));
    UserSettings settings;
    OtherPage page(*keyboard.controller, {keyboard.File("set.ini"), &settings, nullptr, 42, {}});
    for (const char* name : {"resetButton", "backupButton", "restoreButton"}) {
        QVERIFY2(!Child<QPushButton>(page, name)->isEnabled(), name);
    }
    QVERIFY(Child<QLabel>(page, "informationText")->text().contains("PIN number: 0042"));

    Rig mouse;
    QVERIFY(mouse.WaitLoaded());
    OtherPage shown(*mouse.controller, {mouse.File("set.ini"), &settings, nullptr, 42, {}});
    shown.resize(1024, 492);
    for (const char* name : {"resetButton", "backupButton", "restoreButton"}) {
        QVERIFY2(Child<QPushButton>(shown, name)->isEnabled(), name);
    }
    const QString info = Child<QLabel>(shown, "informationText")->text();
    QVERIFY2(info.contains("Model:MX-21\nDriver Version: 1.37\nFirmware version: 0.0.0.48"),
             qPrintable(info));
    SaveScreenshot(shown, "other_page.png");
}

QTEST_MAIN(PagesTest)
#include "pages_test.moc"
