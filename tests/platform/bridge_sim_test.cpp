// The exec backend driving the real qvm-sim program: list, a memory write read back
// through feature reports (also after a restart, from the saved state), and strings.
#include <gtest/gtest.h>

#include <filesystem>
#include <vector>

#include "platform/bridge_backend.h"
#include "sim/sim_backend.h"

namespace qvm {
namespace {

namespace fs = std::filesystem;

constexpr int kFrameLength = 64;
constexpr int kBusyPolls = 500;
constexpr uint8_t kBusyBit = 0x80;

// Memory write of de ad be ef at 0x1000 in the 64-byte encoding of generations 11 and
// above: report ID 1, command 0x03, address low/high, length, data; check byte = XOR of
// bytes 1 to 62.
std::vector<uint8_t> WriteFrame() {
    std::vector<uint8_t> frame(kFrameLength, 0);
    const uint8_t head[] = {0x01, 0x03, 0x00, 0x10, 0x04, 0xde, 0xad, 0xbe, 0xef};
    std::copy(std::begin(head), std::end(head), frame.begin());
    frame[63] = 0x35;
    return frame;
}

// Memory read at 0x1000: command 0x02, address low/high.
std::vector<uint8_t> ReadFrame() {
    std::vector<uint8_t> frame(kFrameLength, 0);
    frame[0] = 0x01;
    frame[1] = 0x02;
    frame[3] = 0x10;
    frame[63] = 0x12;
    return frame;
}

// Reads the reply until the device is no longer busy.
std::vector<uint8_t> Reply(HidHandle& handle) {
    std::vector<uint8_t> reply(kFrameLength, 0);
    for (int i = 0; i < kBusyPolls; ++i) {
        reply.assign(kFrameLength, 0);
        reply[0] = 0x01;
        if (handle.GetFeature(reply) && (reply[1] & kBusyBit) == 0) return reply;
    }
    ADD_FAILURE() << "the device stayed busy";
    return reply;
}

class BridgeWithSimulator : public ::testing::Test {
  protected:
    void SetUp() override {
        auto inProcess = MakeSimBackend("", "");
        if (!inProcess.ok() && inProcess.message() == "the simulator is not built yet")
            GTEST_SKIP() << "the simulator has not landed yet";
        std::string pattern = (fs::temp_directory_path() / "qvm-bridge-sim-XXXXXX").string();
        state_ = ::mkdtemp(pattern.data());
    }
    void TearDown() override {
        if (!state_.empty()) fs::remove_all(state_);
    }

    std::unique_ptr<HidBackend> Start() {
        auto backend = MakeExecBackend(
            "'" + std::string(QVM_SIM_BINARY) + "' --state '" + state_.string() + "' g12",
            BridgeOptions{});
        EXPECT_TRUE(backend.ok()) << backend.message();
        return backend ? std::move(*backend) : nullptr;
    }

    // The configuration interface: 64-byte feature reports on the vendor page.
    static std::unique_ptr<HidHandle> OpenConfig(HidBackend& hid) {
        auto listed = hid.Enumerate();
        EXPECT_TRUE(listed.ok()) << listed.message();
        if (!listed) return nullptr;
        for (const HidDeviceInfo& info : *listed) {
            EXPECT_EQ(info.path.rfind("bridge#vid_0c45&pid_", 0), 0u) << info.path;
            if (info.caps.usagePage == 0xff18 && info.caps.featureLength == kFrameLength) {
                auto handle = hid.Open(info.path);
                EXPECT_TRUE(handle.ok()) << handle.message();
                return handle ? std::move(*handle) : nullptr;
            }
        }
        ADD_FAILURE() << "no configuration interface listed";
        return nullptr;
    }

    fs::path state_;
};

TEST_F(BridgeWithSimulator, WritesMemoryReadsItBackAndKeepsItAcrossARestart) {
    const std::vector<uint8_t> data = {0xde, 0xad, 0xbe, 0xef};
    {
        auto hid = Start();
        ASSERT_TRUE(hid);
        auto config = OpenConfig(*hid);
        ASSERT_TRUE(config);
        Reply(*config);  // idle before the write, as the transport waits
        ASSERT_TRUE(config->SetFeature(WriteFrame()));
        Reply(*config);
        ASSERT_TRUE(config->SetFeature(ReadFrame()));
        auto reply = Reply(*config);
        EXPECT_EQ(std::vector<uint8_t>(reply.begin() + 2, reply.begin() + 6), data);

        auto info = config->IndexedString(0xc7);
        ASSERT_TRUE(info.has_value());
        EXPECT_FALSE(info->empty());
    }
    // The simulator saved its memory when it left at bye.
    auto hid = Start();
    ASSERT_TRUE(hid);
    auto config = OpenConfig(*hid);
    ASSERT_TRUE(config);
    Reply(*config);
    ASSERT_TRUE(config->SetFeature(ReadFrame()));
    auto reply = Reply(*config);
    EXPECT_EQ(std::vector<uint8_t>(reply.begin() + 2, reply.begin() + 6), data);
}

}  // namespace
}  // namespace qvm
