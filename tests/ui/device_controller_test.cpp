// The device controller on simulated devices, driven by the Qt event loop: writes queued
// just before the window closes still reach the device and its saved memory, and no
// reply reaches the destroyed controller.
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>
#include <memory>

#include "session/device_hub.h"
#include "sim/sim_backend.h"
#include "ui/device_controller.h"

using namespace qvm;
using namespace qvm::ui;

namespace {

constexpr int kLoadTimeoutMs = 20000;

// Class-C addresses of the default simulated mouse.
constexpr uint32_t kStage2At = 0x07;      // X and Y of DPI stage 2
constexpr uint32_t kSlotTypeP1B2 = 0xE2;  // type byte of profile 1, button 2

}  // namespace

class DeviceControllerTest : public QObject {
    Q_OBJECT

  private slots:
    void closingKeepsQueuedWrites() {
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        qputenv("QVM_USER_DIR", dir.path().toUtf8());
        DeviceHubOptions options;
        options.simulate = "g12";
        options.userDataFolder = dir.path().toStdString();
        auto made = DeviceController::Open(options);
        QVERIFY2(made.ok(), made ? "" : made.message().c_str());
        std::unique_ptr<DeviceController> controller = std::move(made).value();
        controller->Start();
        QTRY_VERIFY_WITH_TIMEOUT(controller->View().present, kLoadTimeoutMs);
        QTRY_VERIFY_WITH_TIMEOUT(!controller->Busy(), kLoadTimeoutMs);

        const std::string stateFile = controller->Hub().Simulator()->StateFile(0);
        controller->Change(HubOperation::AssignButton,
                           Setter(&ConfigModel::AssignSlot, 1, 2, ButtonSlot{5, 0x01, 0x06, 0x00}));
        QVERIFY(
            controller->ChangeDeferred(DeferredSetter(&DeferredWrites::ChangeDpiStage, 2, 22, 33))
                .ok());  // deferred, not yet due
        controller.reset();
        QTest::qWait(50);  // queued replies for the destroyed controller are dropped
        QFile saved(QString::fromStdString(stateFile));
        QVERIFY(saved.open(QIODevice::ReadOnly));
        const QByteArray memory = saved.readAll();
        QVERIFY(memory.size() > int(kSlotTypeP1B2));
        QCOMPARE(uint8_t(memory[kSlotTypeP1B2]), uint8_t{5});
        QCOMPARE(uint8_t(memory[kStage2At]), uint8_t{22});
        QCOMPARE(uint8_t(memory[kStage2At + 1]), uint8_t{33});
        qunsetenv("QVM_USER_DIR");
    }
};

QTEST_MAIN(DeviceControllerTest)
#include "device_controller_test.moc"
