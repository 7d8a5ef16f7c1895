// The hidraw handle and backend: reports placed after their ID as the transport expects,
// a node that hangs up is a device that left, and the backend shared by several threads.
#ifdef QVM_HAVE_LINUX_HID

#include <gtest/gtest.h>
#include <sys/socket.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "platform/linux/hid_path.h"
#include "platform/linux/hidraw_handle.h"
#include "platform/linux/linux_hid.h"

namespace qvm {
namespace {

using Bytes = std::vector<uint8_t>;

// A handle whose "node" is one end of a packet socket pair: each send on the other end
// is one input report, each Write arrives there as one packet, as with a hidraw node.
struct SocketHandle {
    explicit SocketHandle(bool usesReportIds) {
        int fds[2];
        EXPECT_EQ(::socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_NONBLOCK | SOCK_CLOEXEC, 0, fds), 0);
        peer.reset(fds[1]);
        ReportDescriptorInfo descriptor;
        descriptor.caps = {0xFF18, 1, 64, 64, 0};
        descriptor.usesReportIds = usesReportIds;
        handle = MakeHidrawHandle(UniqueFd(fds[0]), descriptor, nullptr, std::nullopt);
    }
    void Send(const Bytes& report) const {
        ASSERT_EQ(::send(peer.get(), report.data(), report.size(), 0),
                  static_cast<ssize_t>(report.size()));
    }

    UniqueFd peer;
    std::unique_ptr<HidHandle> handle;
};

struct ReadCase {
    const char* name;
    bool usesReportIds;
    Bytes sent;  // empty: nothing pending
    size_t bufferSize;
    int result;
    Bytes buffer;  // the first `result` bytes of the buffer
};

class HidrawRead : public testing::TestWithParam<ReadCase> {};

TEST_P(HidrawRead, PlacesTheReportAfterItsId) {
    const ReadCase& c = GetParam();
    SocketHandle node(c.usesReportIds);
    if (!c.sent.empty()) node.Send(c.sent);
    Bytes buffer(c.bufferSize, 0xEE);
    // Data that is already pending is returned at once; with nothing pending, a zero
    // time-out returns at once as well.
    const int got = node.handle->Read(buffer, c.sent.empty() ? 0 : 5000);
    ASSERT_EQ(got, c.result);
    if (got > 0) {
        EXPECT_EQ(Bytes(buffer.begin(), buffer.begin() + got), c.buffer);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Reports, HidrawRead,
    testing::Values(
        ReadCase{"NumberedReport", true, {0x02, 0xAA, 0xBB}, 64, 3, {0x02, 0xAA, 0xBB}},
        ReadCase{
            "UnnumberedGetsZeroId", false, {0x01, 0x02, 0x03}, 64, 4, {0x00, 0x01, 0x02, 0x03}},
        ReadCase{
            "UnnumberedCutToBuffer", false, {0x01, 0x02, 0x03, 0x04}, 3, 3, {0x00, 0x01, 0x02}},
        ReadCase{"NothingPending", true, {}, 64, 0, {}},
        ReadCase{"NoRoomBesideTheId", false, {0x01}, 1, -1, {}}),
    [](const testing::TestParamInfo<ReadCase>& info) { return info.param.name; });

// A socket knows no feature-report ioctls: the failure reaches the caller with the
// system's reason, as a failed transfer of a device that is still there. A node that
// hung up is a device that left, not a read that may work next time.
TEST(HidrawHandle, TellsAFailedTransferFromADeparture) {
    SocketHandle node(true);
    Bytes feature(64, 0);
    feature[0] = 0x01;
    EXPECT_FALSE(node.handle->GetFeature(feature));
    EXPECT_EQ(node.handle->LastFailure(),
              (HidFailure{HidFailureKind::Failed, std::strerror(ENOTTY)}));
    node.peer.reset();
    EXPECT_EQ(node.handle->Read(feature, 5000), -1);
    EXPECT_EQ(node.handle->LastFailure().kind, HidFailureKind::Gone);
}

TEST(HidrawHandle, WriteSendsTheReportUnchanged) {
    SocketHandle node(true);
    Bytes report(32, 0);
    report[0] = 0x06;
    report[1] = 0xBE;
    ASSERT_TRUE(node.handle->Write(report));
    Bytes received(64);
    ASSERT_EQ(::recv(node.peer.get(), received.data(), received.size(), 0), 32);
    received.resize(32);
    EXPECT_EQ(received, report);
}

// The refresh and arrival threads share one backend: its udev state must stay consistent.
TEST(LinuxBackend, ServesSeveralThreadsAtOnce) {
    Result<std::unique_ptr<HidBackend>> backend = MakeLinuxBackend();
    ASSERT_TRUE(backend.ok()) << backend.message();
    HidBackend& shared = **backend;
    std::atomic<int> failures = 0;
    {
        std::vector<std::jthread> threads;
        for (int t = 0; t < 3; ++t) {
            threads.emplace_back([&] {
                for (int i = 0; i < 20; ++i) {
                    if (!shared.Enumerate().ok()) ++failures;
                    if (shared.Open("hid#vid_0c45&pid_7040&mi_01#hidraw987").ok()) ++failures;
                    (void)shared.TakeEvents();
                }
            });
        }
    }
    EXPECT_EQ(failures, 0);
}

}  // namespace
}  // namespace qvm

#endif  // QVM_HAVE_LINUX_HID
