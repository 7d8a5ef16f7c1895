// The device controller on simulated devices, driven by the Qt event loop: deferred
// writes reach the device memory only when their delay has passed, hot-plug is noticed
// through the backend's event descriptor, and nothing runs after the controller is gone.
#include <QElapsedTimer>
#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>
#include <memory>

#include "session/device_hub.h"
#include "sim/sim_backend.h"
#include "ui/device_controller.h"

using namespace qvm;
using namespace qvm::ui;

namespace {

using Bytes = std::vector<uint8_t>;
constexpr int kLoadTimeoutMs = 20000;

// Class-C addresses of the default simulated mouse.
constexpr uint32_t kStage2At = 0x07;      // X and Y of DPI stage 2
constexpr uint32_t kOptionsAt = 0x0E;     // report rate and angle snapping
constexpr uint32_t kSlotTypeP1B2 = 0xE2;  // type byte of profile 1, button 2

}  // namespace

class DeviceControllerTest : public QObject {
    Q_OBJECT

  private:
    std::unique_ptr<QTemporaryDir> dir_;
    std::unique_ptr<DeviceController> controller_;

    SimDevice& Device() { return controller_->Hub().Simulator()->Device(0); }
    Bytes Peek(uint32_t address, size_t length) { return Device().PeekMemory(address, length); }

    // Opens the controller on one simulated mouse; `beforeStart` prepares its memory.
    void OpenAndLoad(const std::function<void(SimDevice&)>& beforeStart = {}) {
        DeviceHubOptions options;
        options.simulate = "g12";
        options.userDataFolder = dir_->path().toStdString();
        auto made = DeviceController::Open(options);
        QVERIFY2(made.ok(), made ? "" : made.message().c_str());
        controller_ = std::move(made).value();
        if (beforeStart) beforeStart(Device());
        controller_->Start();
        QTRY_VERIFY_WITH_TIMEOUT(controller_->View().present, kLoadTimeoutMs);
        QTRY_VERIFY_WITH_TIMEOUT(!controller_->Busy(), kLoadTimeoutMs);
    }

  private slots:
    void init() {
        dir_ = std::make_unique<QTemporaryDir>();
        QVERIFY(dir_->isValid());
        qputenv("QVM_USER_DIR", dir_->path().toUtf8());
    }
    void cleanup() {
        controller_.reset();
        dir_.reset();
    }

    void deferredWritesWaitForTheirDelay_data() {
        QTest::addColumn<int>("kind");  // 0 DPI stage, 1 report rate
        QTest::addColumn<int>("delayMs");
        QTest::addColumn<uint>("address");
        QTest::addColumn<QByteArray>("expected");
        QTest::newRow("dpi after 200 ms")
            << 0 << 200 << uint(kStage2At) << QByteArray("\x14\x1e", 2);
        QTest::newRow("report rate after 1000 ms")
            << 1 << 1000 << uint(kOptionsAt) << QByteArray("\x8f", 1);
    }
    void deferredWritesWaitForTheirDelay() {
        QFETCH(int, kind);
        QFETCH(int, delayMs);
        QFETCH(uint, address);
        QFETCH(QByteArray, expected);
        const Bytes want(expected.begin(), expected.end());
        OpenAndLoad([](SimDevice& d) { d.PokeMemory(kOptionsAt, Bytes{0xFF}); });
        const Bytes before = Peek(address, want.size());
        QVERIFY(before != want);

        QElapsedTimer clock;
        clock.start();
        const Status changed =
            kind == 0
                ? controller_->ChangeDeferred(
                      DeferredSetter(&DeferredWrites::ChangeDpiStage, 2, 20, 30))
                : controller_->ChangeDeferred(DeferredSetter(&DeferredWrites::ChangeReportRate, 0));
        QVERIFY2(changed.ok(), changed.message().c_str());
        // Shown at once...
        const DeviceView view = controller_->View();
        if (kind == 0) {
            QCOMPARE(view.image->dpiStages[2].x, uint8_t{20});
            QCOMPARE(view.image->dpiStages[2].y, uint8_t{30});
        } else {
            QCOMPARE(view.image->reportRateCode, 0);
        }
        // ...but not on the device before its delay.
        QTest::qWait(delayMs / 2);
        QCOMPARE(Peek(address, want.size()), before);
        QTRY_VERIFY_WITH_TIMEOUT(Peek(address, want.size()) == want, delayMs + 3000);
        QVERIFY2(clock.elapsed() >= delayMs, qPrintable(QString::number(clock.elapsed())));
    }

    void hotPlugIsFollowedThroughTheEventDescriptor() {
        OpenAndLoad();
        QSignalSpy changed(controller_.get(), &DeviceController::viewChanged);
        const std::string path = controller_->View().path;
        Device().Detach();
        // Away: the last configuration stays, for the window to show greyed.
        QTRY_VERIFY_WITH_TIMEOUT(controller_->View().away, 5000);
        QCOMPARE(controller_->View().path, path);
        QVERIFY(changed.count() > 0);
        Device().Attach();
        QTRY_VERIFY_WITH_TIMEOUT(!controller_->View().away, kLoadTimeoutMs);
        QVERIFY(controller_->View().present);
        QVERIFY(controller_->View().image->loaded);
    }

    void longOperationsReportUnderTheirButtonNames() {
        OpenAndLoad();
        QSignalSpy progress(controller_.get(), &DeviceController::progress);
        QSignalSpy finished(controller_.get(), &DeviceController::operationFinished);
        const QString file = dir_->filePath("saved.bf");
        controller_->SaveBackupTo(file.toStdString());
        QTRY_VERIFY_WITH_TIMEOUT(finished.count() == 1, kLoadTimeoutMs);
        QCOMPARE(finished.at(0).at(0).toString(), QString("Backup"));
        QCOMPARE(finished.at(0).at(1).toString(), QString());
        QVERIFY(QFile::exists(file));
        QVERIFY(!progress.isEmpty());
        QCOMPARE(progress.last().at(0).toString(), QString("Backup"));
        QCOMPARE(progress.last().at(1).toInt(), 100);

        controller_->RestoreBackupFrom(dir_->filePath("missing.bf").toStdString());
        QTRY_VERIFY_WITH_TIMEOUT(finished.count() == 2, kLoadTimeoutMs);
        QCOMPARE(finished.at(1).at(0).toString(), QString("Restore"));
        QVERIFY(!finished.at(1).at(1).toString().isEmpty());
    }

    // Writes queued just before the window closes still reach the device and its saved
    // memory, and no reply is delivered to the destroyed controller.
    void closingKeepsQueuedWrites() {
        OpenAndLoad();
        const std::string stateFile = controller_->Hub().Simulator()->StateFile(0);
        controller_->Change(HubOperation::AssignButton, Setter(&ConfigModel::AssignSlot, 1, 2,
                                                               ButtonSlot{5, 0x01, 0x06, 0x00}));
        QVERIFY(
            controller_->ChangeDeferred(DeferredSetter(&DeferredWrites::ChangeDpiStage, 2, 22, 33))
                .ok());
        controller_.reset();
        QTest::qWait(50);  // queued replies for the destroyed controller are dropped
        QFile saved(QString::fromStdString(stateFile));
        QVERIFY(saved.open(QIODevice::ReadOnly));
        const QByteArray memory = saved.readAll();
        QVERIFY(memory.size() > int(kSlotTypeP1B2));
        QCOMPARE(uint8_t(memory[kSlotTypeP1B2]), uint8_t{5});
        QCOMPARE(uint8_t(memory[kStage2At]), uint8_t{22});
        QCOMPARE(uint8_t(memory[kStage2At + 1]), uint8_t{33});
    }
};

QTEST_MAIN(DeviceControllerTest)
#include "device_controller_test.moc"
