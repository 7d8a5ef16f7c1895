// The keyboard models: identification through 32-byte output and input reports, and
// reports that are malformed or meet a fault.
#include <gtest/gtest.h>

#include "sim/sim_backend.h"
#include "sim_test_util.h"

namespace qvm::test {
namespace {

constexpr const char* kMx28Config = "sim#vid_0c45&pid_7050&mi_01#d0i1";

Bytes Report(std::initializer_list<std::pair<int, uint8_t>> bytes) {
    Bytes report(32, 0);
    report[0] = 0x06;
    report[1] = 0xBE;
    for (const auto& [at, value] : bytes) report[at] = value;
    return report;
}

class Keyboard : public ::testing::Test {
  protected:
    void Start(const std::string& devices) {
        auto created = SimBackend::Create(devices, "");
        ASSERT_TRUE(created) << created.message();
        backend_ = std::move(*created);
        auto handle = backend_->Open(kMx28Config);
        ASSERT_TRUE(handle) << handle.message();
        handle_ = std::move(*handle);
    }
    Bytes Send(const Bytes& request) {
        EXPECT_TRUE(handle_->Write(request));
        Bytes reply(32, 0);
        const int got = handle_->Read(reply, 0);
        reply.resize(got > 0 ? got : 0);
        return reply;
    }
    std::unique_ptr<SimBackend> backend_;
    std::unique_ptr<HidHandle> handle_;
};

TEST_F(Keyboard, IdentificationCarriesResultAndFirmware) {
    Start("mx28");
    EXPECT_EQ(Send(Report({{2, 0x02}})),
              (Bytes{0x06, 0xBE, 0x02, 0x01, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0x00,
                     0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x03, 0x02,
                     0x00, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00}));
    EXPECT_EQ(backend_->Device(0).KeyboardIdentifications(), 1);
}

TEST_F(Keyboard, MalformedReportsAreIgnoredAndCounted) {
    Start("mx28");
    EXPECT_TRUE(Send(Report({{1, 0xBF}, {2, 0x02}})).empty());
    Bytes wrongId = Report({{2, 0x02}});
    wrongId[0] = 0x05;
    EXPECT_TRUE(Send(wrongId).empty());
    EXPECT_TRUE(handle_->Write(Bytes(16, 0x06)));
    EXPECT_EQ(backend_->Device(0).Stats().badFrames, 3u);
    EXPECT_EQ(backend_->Device(0).Stats().writes, 3u);
}

TEST_F(Keyboard, NoReplyAndCorruptFaults) {
    Start("mx28/noreply");
    EXPECT_TRUE(Send(Report({{2, 0x02}})).empty());
    EXPECT_EQ(backend_->Device(0).KeyboardIdentifications(), 1) << "the request arrived";
    Start("mx28/corrupt");
    const Bytes reply = Send(Report({{2, 0x02}}));
    ASSERT_EQ(reply.size(), 32u);
    EXPECT_NE(reply[6], 0x01);
}

}  // namespace
}  // namespace qvm::test
