// The companion service in the running program: nothing open until the user wants it, the
// Other page's option opening and closing every socket, and companions changing the
// simulated mouse through the window's own hub and seeing the mouse's and the window's
// changes. All traffic stays on 127.0.0.1.
#include <QCheckBox>
#include <QLabel>
#include <QtTest>
#include <functional>
#include <memory>
#include <vector>

#include "net/remote_packets.h"
#include "net/remote_service_rig.h"
#include "support/fake_input_injector.h"
#include "support/inet_sockets.h"
#include "ui/host_services.h"
#include "ui/other_page.h"
#include "ui/profile_tabs.h"
#include "ui/qt_text.h"
#include "ui/remote_companion.h"
#include "ui_rig.h"

namespace qvm::test {
namespace {

using remote::DecodedStatus;
using remote::Packet;
using remote::service_test::Ask;
using remote::service_test::Connect;
using remote::service_test::ReadExact;
using remote::service_test::ReadToEnd;
using remote::service_test::SendAll;

// The three sockets of a running service: the two listening TCP ports and the UDP port.
constexpr std::size_t kServiceSockets = 3;

// The program's companion service on the rig's hub, bound to 127.0.0.1 on free ports and
// announcing nowhere.
struct Companion {
    explicit Companion(UiRig& rig) {
        ui::RemoteCompanionContext context;
        context.pin = 7;
        context.injector = &injector;
        context.service.bindAddress = {127, 0, 0, 1};
        context.service.statusPort = context.service.datagramPort = 0;
        context.service.requestPort = 0;
        context.service.announceTargets = [] { return std::vector<remote::Ipv4Address>{}; };
        service = std::make_unique<ui::RemoteCompanion>(rig.Controller(), std::move(context));
    }
    FakeInputInjector injector;
    std::unique_ptr<ui::RemoteCompanion> service;
};

// Status packets from the stream until one satisfies `wanted`; none when the stream ends
// or nothing matching comes within the load timeout.
std::optional<DecodedStatus> StatusUntil(int fd,
                                         const std::function<bool(const DecodedStatus&)>& wanted) {
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < kUiLoadTimeoutMs) {
        // The window's thread carries viewChanged to the service: keep it turning.
        QCoreApplication::processEvents();
        if (!remote::service_test::WaitReadable(fd, 20)) continue;
        const std::optional<Packet> packet = ReadExact(fd, remote::kStreamPacketSize);
        if (!packet) return std::nullopt;
        const remote::DecodedStreamPacket decoded = remote::DecodeStreamPacket(*packet);
        if (decoded.kind == remote::StreamKind::Status && wanted(decoded.status)) {
            return decoded.status;
        }
    }
    return std::nullopt;
}

int StoredRemote(const UiRig& rig) {
    return ReadSettings(JoinPath(rig.Folder(), "set.ini")).settings.remote;
}

}  // namespace

class RemoteCompanionTest : public QObject {
    Q_OBJECT
  private slots:
    void OpensNothingUntilTheSettingsOrTheSwitchAskForIt() {
        struct Case {
            const char* name;
            int stored;  // "remote" in set.ini
            bool remoteSwitch;
            bool running;
        };
        const std::vector<Case> cases = {
            {"default", 0, false, false},
            {"remote=1", 1, false, true},
            {"--remote", 0, true, true},
            {"remote=2 is not on", 2, false, false},
        };
        for (const Case& c : cases) {
            UiRig rig("g12");
            QVERIFY(rig.WaitLoaded());
            Companion companion(rig);
            UserSettings settings;
            settings.remote = c.stored;
            ui::StartRemoteIfWanted(*companion.service, settings, c.remoteSwitch);
            QVERIFY2(companion.service->Running() == c.running, c.name);
            QVERIFY2(InetSocketsOfThisProcess() == (c.running ? kServiceSockets : 0), c.name);
        }
    }

    void TheOtherPageOptionOpensAndClosesEverySocket() {
        UiRig rig("g12");
        QVERIFY(rig.WaitLoaded());
        Companion companion(rig);
        ui::OtherPage& page = rig.Window().Other();
        page.SetRemote(companion.service.get());
        auto* option = page.findChild<QCheckBox*>("remoteOption");
        auto* state = page.findChild<QLabel*>("remoteState");
        QVERIFY(option != nullptr && state != nullptr);
        QVERIFY(!option->isChecked());
        QCOMPARE(state->text(), ui::Word(kWordRemoteOff));
        QCOMPARE(InetSocketsOfThisProcess(), std::size_t{0});

        option->click();
        QVERIFY(companion.service->Running());
        QVERIFY(option->isChecked());
        QCOMPARE(StoredRemote(rig), 1);
        QCOMPARE(InetSocketsOfThisProcess(), kServiceSockets);
        const remote::RemotePorts ports = companion.service->Ports();
        QVERIFY(state->text().contains("127.0.0.1"));
        QVERIFY(state->text().contains(QString::number(ports.request)));
        QVERIFY(state->text().contains("0007"));  // the PIN
        const auto nameRequest = remote::BuildRequest(remote::NameRequest{});
        const std::optional<Packet> name =
            Ask(ports.request, Packet(nameRequest.begin(), nameRequest.end()));
        QVERIFY(name && remote::DecodeNameReply(*name).has_value());

        // A companion still watching is cut off when the user says no.
        UniqueFd watching = Connect(ports.status);
        QVERIFY(watching);
        QVERIFY(ReadExact(watching.get(), remote::kStreamPacketSize).has_value());
        option->click();
        QVERIFY(!companion.service->Running());
        QVERIFY(!option->isChecked());
        QCOMPARE(StoredRemote(rig), 0);
        QCOMPARE(InetSocketsOfThisProcess(), std::size_t{1});  // the test's own connection
        QVERIFY(ReadToEnd(watching.get()).has_value());
        watching.reset();
        QCOMPARE(InetSocketsOfThisProcess(), std::size_t{0});
        QVERIFY(!Connect(ports.request));
        QCOMPARE(state->text(), ui::Word(kWordRemoteOff));
    }

    void APortInUseIsSaidAndTheOptionStaysWanted() {
        UiRig rig("g12");
        QVERIFY(rig.WaitLoaded());
        // Another process has the status port.
        uint16_t taken = 0;
        UniqueFd other = remote::service_test::Open(SOCK_STREAM, 0, &taken);
        QVERIFY(::listen(other.get(), 1) == 0);
        ui::RemoteCompanionContext context;
        context.service.bindAddress = {127, 0, 0, 1};
        context.service.statusPort = taken;
        context.service.datagramPort = context.service.requestPort = 0;
        FakeInputInjector injector;
        context.injector = &injector;
        ui::RemoteCompanion companion(rig.Controller(), std::move(context));
        ui::OtherPage& page = rig.Window().Other();
        page.SetRemote(&companion);
        auto* option = page.findChild<QCheckBox*>("remoteOption");
        option->click();
        QVERIFY(!companion.Running());
        QCOMPARE(InetSocketsOfThisProcess(), std::size_t{1});  // only the other's socket
        QVERIFY(option->isChecked());                          // wanted, see the line below
        QCOMPARE(StoredRemote(rig), 1);
        const QString port = QString::number(taken);
        auto* state = page.findChild<QLabel*>("remoteState");
        QVERIFY2(state->text().contains(port), qPrintable(state->text()));
        // Unticked, it is simply off: the old reason is gone.
        option->click();
        QCOMPARE(StoredRemote(rig), 0);
        QCOMPARE(state->text(), ui::Word(kWordRemoteOff));
    }

    void CompanionsChangeTheMouseAndSeeEveryChange() {
        UiRig rig("g12");
        QVERIFY(rig.WaitLoaded());
        Companion companion(rig);
        QVERIFY(companion.service->SetRunning(true));
        FakeInputInjector hostInjector;
        ui::HostServicesContext hostContext;
        hostContext.injector = &hostInjector;
        ui::HostServices host(rig.Controller(), std::move(hostContext));
        const remote::RemotePorts ports = companion.service->Ports();
        UniqueFd stream = Connect(ports.status);
        QVERIFY(stream);
        QVERIFY(StatusUntil(stream.get(), [](const DecodedStatus&) { return true; }));

        const auto send = [&](const auto& request) {
            const auto bytes = remote::BuildRequest(request);
            return Ask(ports.request, Packet(bytes.begin(), bytes.end())).has_value();
        };
        struct Case {
            const char* name;
            std::function<void()> change;
            std::function<bool(const DecodedStatus&)> seen;
        };
        const std::vector<Case> cases = {
            {"a companion's stage values (stage 3 counted from 1)",
             [&] {
                 QVERIFY(send(remote::SetStageValues{2, 32, 32}));
             },
             [](const DecodedStatus& s) {
                 return s.stages[2] == std::array<uint8_t, 2>{32, 32};
             }},
            {"the window's stage",
             [&] {
                 rig.Controller().Change(HubOperation::CurrentStage,
                                         Setter(&ConfigModel::SetCurrentDpiStage, 3));
             },
             [](const DecodedStatus& s) { return s.currentStage == 3; }},
            {"the mouse's own profile button", [&] { rig.Device().SelectProfile(2); },
             [](const DecodedStatus& s) { return s.profile == 2; }},
            {"a companion's profile", [&] { QVERIFY(send(remote::SelectProfile{4})); },
             [](const DecodedStatus& s) { return s.profile == 4; }},
        };
        for (const Case& c : cases) {
            c.change();
            QVERIFY2(StatusUntil(stream.get(), c.seen).has_value(), c.name);
        }
        // The companion's values reached the mouse's memory, and the window shows them.
        rig.Settle();
        const ConfigImage& image = *rig.Controller().View().image;
        QCOMPARE(rig.Device().PeekMemory(image.Layout().dpiBase + 2 * 2, 2),
                 (std::vector<uint8_t>{32, 32}));
        QCOMPARE(image.dpiStages[2], (DpiStage{32, 32}));
        QCOMPARE(rig.Window().Profiles().Active(), 4);
    }
};

}  // namespace qvm::test

QTEST_MAIN(qvm::test::RemoteCompanionTest)
#include "remote_companion_test.moc"
