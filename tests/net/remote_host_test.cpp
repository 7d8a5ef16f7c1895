// The companion service on simulated mice: requests over 127.0.0.1 reach the mouse the
// way the window's changes do, pointer moves reach the injector, and the status stream
// follows the hub.
#include "net/remote_host.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <functional>

#include "remote_service_rig.h"
#include "sim/sim_backend.h"
#include "support/fake_clock.h"
#include "support/fake_input_injector.h"
#include "support/sim_hub.h"
#include "support/temp_folder.h"

namespace qvm::remote::host_test {
namespace {

using service_test::Ask;
using service_test::Connect;
using service_test::ReadExact;
using service_test::ReceiveDatagram;
using service_test::SendTo;
using test::InjectedCall;

constexpr int kPin = 417;

// A hub on simulated devices with the service in front of it, whose view changes reach
// the service as the window's listener passes them on.
struct HostRig {
    explicit HostRig(const std::string& devices) {
        hub = test::OpenSimHub(devices, folder.path(), clock);
        hub->Refresh();
        hub->WaitIdle();
        host = std::make_unique<RemoteHost>(*hub, injector);
        HubListener listener;
        listener.viewChanged = [this] { host->ViewChanged(); };
        listener.finished = [this](HubOperation, const Status& s) {
            ++finished;
            if (!s) ++failed;
        };
        hub->SetListener(std::move(listener));
        RemoteHostOptions o;
        o.service.bindAddress = {127, 0, 0, 1};
        o.service.statusPort = o.service.datagramPort = o.service.requestPort = 0;
        o.service.companionPort = companionPort;
        o.service.announceInterval = std::chrono::hours(1);
        o.service.announceTargets = [] { return std::vector<Ipv4Address>{{127, 0, 0, 1}}; };
        o.pin = kPin;
        const Status started = host->Start(o);
        EXPECT_TRUE(started) << started.message();
        // The announcement made at start, so that the tests read only replies.
        EXPECT_TRUE(ReceiveDatagram(companion.get()).has_value());
    }
    ~HostRig() {
        host->Stop();
        hub->SetListener({});
        hub->WaitIdle();  // no listener call is still running when the host goes
    }

    SimDevice& Mouse() { return hub->Simulator()->Device(0); }
    std::shared_ptr<const ConfigImage> Image() const { return hub->Snapshot().image; }
    std::vector<uint8_t> StageBytes(int stage) {
        return Mouse().PeekMemory(Image()->Layout().dpiBase + 2 * static_cast<uint32_t>(stage), 2);
    }
    // One request; the reply read to the end, and the change it queued run.
    std::optional<Packet> Send(const Packet& request) {
        std::optional<Packet> reply = Ask(host->Ports().request, request);
        hub->WaitIdle();
        return reply;
    }
    // Stream packets until one of kind Status or NoDevice satisfies `want`.
    std::optional<DecodedStreamPacket> ReadUntil(
        int fd, const std::function<bool(const DecodedStreamPacket&)>& want) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        while (std::chrono::steady_clock::now() < deadline) {
            const std::optional<Packet> p = ReadExact(fd);
            if (!p) return std::nullopt;
            DecodedStreamPacket d = DecodeStreamPacket(*p);
            if (d.kind != StreamKind::List && want(d)) return d;
        }
        return std::nullopt;
    }

    test::TempFolder folder;
    test::FakeClock clock;
    test::FakeInputInjector injector;
    std::uint16_t companionPort = 0;
    UniqueFd companion = service_test::Open(SOCK_DGRAM, 0, &companionPort);
    std::atomic<int> finished{0}, failed{0};
    std::unique_ptr<DeviceHub> hub;
    std::unique_ptr<RemoteHost> host;
};

Packet Command(std::initializer_list<uint8_t> tail) {
    Packet p{0x0C, 0x12};
    p.insert(p.end(), tail);
    return p;
}

Packet WithFloats(Packet p, std::initializer_list<float> values) {
    for (const float v : values) {
        uint8_t bytes[4];
        std::memcpy(bytes, &v, 4);
        p.insert(p.end(), bytes, bytes + 4);
    }
    return p;
}

TEST(RemoteHostTest, RequestsChangeTheSimulatedMouseThroughTheHub) {
    const struct {
        const char* label;
        Packet request;
        std::function<void(HostRig&, const std::vector<uint8_t>& stage1Before)> check;
    } cases[] = {
        {"stage: b3 AND 3", Command({1, 6}),
         [](HostRig& r, auto&) {
             EXPECT_EQ(r.Mouse().MouseState().stage, 2);
             EXPECT_EQ(r.Image()->currentDpiStage, 2);
         }},
        {"profile: b3 modulo 5", Command({2, 7}),
         [](HostRig& r, auto&) { EXPECT_EQ(r.Mouse().MouseState().profile, 2); }},
        {"stage values: stage b3 modulo 5", Command({3, 6, 40, 120}),
         [](HostRig& r, auto&) {
             EXPECT_EQ(r.StageBytes(1), (std::vector<uint8_t>{40, 120}));
             EXPECT_EQ(r.Image()->dpiStages[1], (DpiStage{40, 120}));
         }},
        {"stage value above the step count", Command({3, 1, 0xF0, 40}),
         [](HostRig& r, const auto& before) { EXPECT_EQ(r.StageBytes(1), before); }},
        {"live bytes, b3 lowest", Command({10, 0x11, 0x22, 0x33}),
         [](HostRig& r, auto&) { EXPECT_EQ(r.Mouse().MouseState().liveBytes, 0x332211u); }},
        {"assign: profile 6 is 1, button 2", Command({4, 6, 2, 0x01, 0x01, 0x00, 0x00}),
         [](HostRig& r, auto&) {
             const ButtonSlot slot = r.Image()->buttons[1][2].slot;
             EXPECT_EQ(slot.Bytes(), (std::array<uint8_t, 4>{1, 1, 0, 0}));
         }},
        {"floats into profile 0's name", WithFloats(Command({98}), {1.5f, 2.25f, -3.f}),
         [](HostRig& r, auto&) {  // The mouse keeps the first nine characters.
             EXPECT_EQ(r.Image()->profiles[0].name, "1.50, 2.2");
         }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        HostRig rig("g12");
        const std::vector<uint8_t> before = rig.StageBytes(1);
        ASSERT_NE(before, (std::vector<uint8_t>{40, 120}));
        const int finishedBefore = rig.finished.load();
        EXPECT_EQ(rig.Send(c.request), Packet{}) << "a change has no reply";
        c.check(rig, before);
        EXPECT_EQ(rig.finished.load() - finishedBefore, 1);
        EXPECT_EQ(rig.failed.load(), 0);
    }
}

// The pointer moves of both ports reach the injector as sent, and a zero move none.
// The window's stage values wait a moment before they are written; a companion's later
// value for the same stage must not be overwritten by them afterwards.
TEST(RemoteHostTest, ACompanionsStageValueOutlastsTheWindowsEarlierPendingOne) {
    HostRig rig("g12");
    ASSERT_TRUE(
        rig.hub->ChangeDeferred(DeferredSetter(&DeferredWrites::ChangeDpiStage, 1, 20, 20)));
    EXPECT_EQ(rig.Send(Command({3, 1, 40, 120})), Packet{});
    // Whatever the window still had pending is written by now or later: either way the
    // companion's value, the later one, is what the mouse keeps.
    rig.clock.SleepMs(10000);
    rig.hub->FlushDeferred(DeferredWrites::Scope::Everything);
    rig.hub->WaitIdle();
    EXPECT_EQ(rig.StageBytes(1), (std::vector<uint8_t>{40, 120}));
    EXPECT_EQ(rig.Image()->dpiStages[1], (DpiStage{40, 120}));
}

TEST(RemoteHostTest, PointerMovesReachTheInjectorExceptZeroMoves) {
    const struct {
        const char* label;
        bool datagram;
        Packet bytes;
        std::vector<InjectedCall> expected;
    } cases[] = {
        {"request 99", false, Command({99, 5, 0, 0xFD, 0xFF}), {{InjectedCall::Kind::Move, 5, -3}}},
        {"request 99, zero", false, Command({99, 0, 0, 0, 0}), {}},
        {"datagram",
         true,
         Packet{0x62, 0x00, 0x00, 0x80, 0x01, 0x00},
         {{InjectedCall::Kind::Move, -32768, 1}}},
        {"datagram, zero", true, Packet{0x62, 0x07, 0, 0, 0, 0}, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        HostRig rig("g12");
        if (c.datagram) {
            UniqueFd sender = service_test::Open(SOCK_DGRAM);
            SendTo(sender.get(), rig.host->Ports().datagram, c.bytes);
            // Datagrams are handled in order: once the discovery is answered, the move ran.
            SendTo(sender.get(), rig.host->Ports().datagram, Packet{0x63, 0x00});
            ASSERT_TRUE(ReceiveDatagram(rig.companion.get()).has_value());
        } else {
            rig.Send(c.bytes);
        }
        EXPECT_EQ(rig.injector.Calls(), c.expected);
        EXPECT_EQ(rig.Mouse().MouseState().profile, 0);
    }
}

TEST(RemoteHostTest, DiscoveryAndNameRequestsAnswerWithTheComputersNameAndThePin) {
    HostRig rig("g12");
    UniqueFd sender = service_test::Open(SOCK_DGRAM);
    SendTo(sender.get(), rig.host->Ports().datagram, Packet{0x63, 0x00});
    const std::optional<Packet> reply = ReceiveDatagram(rig.companion.get());
    ASSERT_TRUE(reply.has_value());
    ASSERT_EQ(reply->size(), kAnnouncementSize);
    const auto announced = DecodeAnnouncement(*reply);
    ASSERT_TRUE(announced.has_value());
    EXPECT_EQ(announced->pin, static_cast<uint32_t>(kPin));
    EXPECT_EQ(LocalComputerName().rfind(announced->name, 0), 0u) << announced->name;
    EXPECT_FALSE(announced->name.empty());

    const std::optional<Packet> name = rig.Send(Packet{0x63, 0x00});
    ASSERT_TRUE(name.has_value());
    EXPECT_EQ(name->size(), kNameReplySize);
    EXPECT_EQ(DecodeNameReply(*name), LocalComputerName());
}

TEST(RemoteHostTest, TheStatusStreamShowsAProfileTheHubSelected) {
    HostRig rig("g12");
    UniqueFd stream = Connect(rig.host->Ports().status);
    ASSERT_TRUE(stream);
    auto isStatus = [](const DecodedStreamPacket& d) { return d.kind == StreamKind::Status; };
    const auto first = rig.ReadUntil(stream.get(), isStatus);
    ASSERT_TRUE(first.has_value());
    EXPECT_EQ(first->status.profile, 0);
    EXPECT_EQ(first->status.dpiMax, rig.Image()->dpiStepCount);

    rig.hub->Change(HubOperation::ActiveProfile, Setter(&ConfigModel::SetActiveProfile, 3));
    const auto changed = rig.ReadUntil(stream.get(), [](const DecodedStreamPacket& d) {
        return d.kind == StreamKind::Status && d.status.profile == 3;
    });
    ASSERT_TRUE(changed.has_value()) << "the stream kept the old profile";
    EXPECT_EQ(changed->status.profileName, rig.Image()->profiles[3].name);
}

// Without a mouse the program can configure, the stream says so and device requests are
// dropped without an error reaching the window.
TEST(RemoteHostTest, WithoutAUsableMouseOnlyNoDevicePacketsAreSent) {
    for (const char* devices : {"mx28", "g12/blank"}) {
        SCOPED_TRACE(devices);
        HostRig rig(devices);
        const int finishedBefore = rig.finished.load();
        UniqueFd stream = Connect(rig.host->Ports().status);
        ASSERT_TRUE(stream);
        for (int i = 0; i < 3; ++i) {
            const auto p = rig.ReadUntil(stream.get(), [](auto&) { return true; });
            ASSERT_TRUE(p.has_value());
            EXPECT_EQ(p->kind, StreamKind::NoDevice);
        }
        rig.Send(Command({2, 3}));
        rig.Send(Command({3, 1, 40, 40}));
        EXPECT_EQ(rig.finished.load(), finishedBefore);
    }
}

}  // namespace
}  // namespace qvm::remote::host_test
