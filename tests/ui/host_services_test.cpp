// The host services in the running program: reports a simulated mouse sends go through
// the reader and the action engine to the injector and to the main window.
#include <QtTest>
#include <vector>

#include "sim/sim_wire.h"
#include "support/fake_input_injector.h"
#include "ui/host_services.h"
#include "ui/osd_window.h"
#include "ui/profile_tabs.h"
#include "ui_rig.h"

namespace qvm::test {
using ui::HostServices;
using ui::HostServicesContext;
namespace {

// A status report as a mouse sends it: stage, X and Y steps, profile byte; `seal` false
// spoils the checksum.
std::vector<uint8_t> Status(uint8_t stage, uint8_t x, uint8_t y, uint8_t profile,
                            bool seal = true) {
    SimLiveView view;
    view.stage = stage;
    view.stageX = x;
    view.stageY = y;
    view.profile = profile;
    std::vector<uint8_t> report = BuildStatusReport(view);
    if (!seal) report.back() ^= 0x01;
    return report;
}

// The services on a rig's devices, injecting into a fake; `told` collects what they show.
struct Services {
    Services(UiRig& rig, bool canTouch = true) : injector(nullptr, canTouch) {
        HostServicesContext context;
        context.injector = &injector;
        context.showError = [this](const QString& text) { told << text; };
        services = std::make_unique<HostServices>(rig.Controller(), std::move(context));
    }
    FakeInputInjector injector;
    QStringList told;
    std::unique_ptr<HostServices> services;
};

}  // namespace

class HostServicesTest : public QObject {
    Q_OBJECT
  private slots:
    void StatusReportsOfTheShownMouseShowInTheWindow() {
        struct Case {
            const char* name;
            size_t device;  // the simulated device that sends
            std::vector<uint8_t> report;
            bool shown;  // the window shows the report's stage and values
            int stage;
            DpiStage values;
        };
        const std::vector<Case> cases = {
            {"the shown mouse", 0, Status(2, 20, 30, 0), true, 2, {20, 30}},
            {"stage beyond the last", 0, Status(7, 9, 9, 0), true, 4, {9, 9}},
            {"damaged", 0, Status(1, 5, 5, 0, false), false, 0, {}},
            {"another mouse", 1, Status(3, 5, 5, 0), false, 0, {}},
        };
        for (const Case& c : cases) {
            UiRig rig("g12,g12");
            QVERIFY(rig.WaitLoaded());
            Services host(rig);
            const ConfigImage before = *rig.Controller().View().image;
            const uint64_t setFeatures = rig.Device(0).Stats().setFeature;
            rig.Device(c.device).EmitInputReport(c.report);
            // A pointer report after it shows when the status report has been handled.
            rig.Device(0).EmitInputReport(BuildPointerReport(0, 1, 0, 0));
            QTRY_VERIFY_WITH_TIMEOUT(!host.injector.Calls().empty(), kUiLoadTimeoutMs);
            QCoreApplication::processEvents();
            const ConfigImage after = *rig.Controller().View().image;
            // The display shows every mouse's changes, whichever the window shows.
            QCOMPARE(host.services->Display().Showing(), c.shown || c.device != 0);
            if (c.shown) {
                QVERIFY2(after.currentDpiStage == c.stage, c.name);
                QVERIFY2(after.dpiStages[static_cast<size_t>(c.stage)] == c.values, c.name);
            } else {
                QVERIFY2(after.currentDpiStage == before.currentDpiStage, c.name);
                QVERIFY2(after.dpiStages == before.dpiStages, c.name);
            }
            QCOMPARE(rig.Device(0).Stats().setFeature, setFeatures);  // shown, never written back
        }
    }

    void AProfileTheMouseSwitchedToIsLoaded() {
        UiRig rig("g12");
        QVERIFY(rig.WaitLoaded());
        Services host(rig);
        // The user presses the mouse's profile button: the mouse says so itself.
        rig.Device().SelectProfile(3);
        QTRY_COMPARE_WITH_TIMEOUT(rig.Controller().View().image->currentProfile, 3,
                                  kUiLoadTimeoutMs);
        QTRY_COMPARE_WITH_TIMEOUT(rig.Window().Profiles().Active(), 3, kUiLoadTimeoutMs);
    }

    void MovesAndScrollsReachTheInjector() {
        UiRig rig("g12");
        QVERIFY(rig.WaitLoaded());
        Services host(rig, false);
        rig.Device().EmitInputReport(BuildPointerReport(0, -300, 200, -2));
        // A touch the injector cannot make is said once, however often it is asked for.
        rig.Device().EmitInputReport(BuildPointerReport(1, 0, 0, 0));
        rig.Device().EmitInputReport(BuildPointerReport(0, 0, 0, 0));
        rig.Device().EmitInputReport(BuildPointerReport(1, 0, 0, 0));
        QTRY_COMPARE_WITH_TIMEOUT(host.injector.Calls().size(), size_t{2}, kUiLoadTimeoutMs);
        QTRY_COMPARE_WITH_TIMEOUT(host.told.size(), 1, kUiLoadTimeoutMs);
        QTest::qWait(50);
        QCOMPARE(host.told.size(), 1);
        using Kind = InjectedCall::Kind;
        for (const InjectedCall& call : host.injector.Calls()) {
            if (call.kind == Kind::Move) QCOMPARE(std::pair(call.a, call.b), std::pair(-300, 200));
            if (call.kind == Kind::Scroll) QCOMPARE(call.a, -2);
        }
    }
};

}  // namespace qvm::test

QTEST_MAIN(qvm::test::HostServicesTest)
#include "host_services_test.moc"
