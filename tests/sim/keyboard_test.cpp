// The keyboard models: 32-byte output reports in, 32-byte input reports out.
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

// clang-format off
TEST_F(Keyboard, EffectIsStoredAndReadBack) {
    Start("mx28");
    const Bytes set = Report({{2, 0x15}, {4, 0x01}, {5, 0x02}, {6, 3}, {7, 1}, {8, 2}, {9, 3},
            {16, 0x12}, {17, 0x34}, {18, 0x56}, {19, 0x01}});
    EXPECT_EQ(Send(set)[3], 0x01);
    EXPECT_EQ(Send(Report({{2, 0x14}, {4, 0x00}})), Report({{2, 0x14}, {3, 0x01}, {6, 3}, {7, 1},
            {8, 2}, {9, 3}, {16, 0x12}, {17, 0x34}, {18, 0x56}, {19, 0x01}}));
    // The side light, off and then on.
    Send(Report({{2, 0x15}, {4, 0x02}, {5, 0x06}, {6, 0x06}, {8, 0}, {16, 0xFF}, {19, 1}}));
    EXPECT_EQ(Send(Report({{2, 0x14}, {4, 0x02}}))[8], 0x00);
    Send(Report({{2, 0x15}, {4, 0x02}, {5, 0x06}, {6, 0x06}, {8, 4}, {16, 0xFF}, {19, 1}}));
    EXPECT_EQ(Send(Report({{2, 0x14}, {4, 0x02}}))[8], 0x04);
    EXPECT_EQ(backend_->Device(0).KeyboardLighting().effect, 3);
}

// clang-format on

struct RefusedCase {
    const char* name;
    Bytes request;
};

const RefusedCase kRefused[] = {
    {"Effect14", Report({{2, 0x15}, {4, 0x01}, {5, 0x02}, {6, 14}})},
    {"Speed5", Report({{2, 0x15}, {4, 0x01}, {5, 0x02}, {7, 5}})},
    {"Brightness5", Report({{2, 0x15}, {4, 0x01}, {5, 0x02}, {8, 5}})},
    {"Direction4", Report({{2, 0x15}, {4, 0x01}, {5, 0x02}, {9, 4}})},
    {"WrongTarget", Report({{2, 0x15}, {4, 0x03}, {5, 0x02}})},
    {"UnknownSubCommand", Report({{2, 0x33}})},
};

class KeyboardRefuses : public Keyboard, public ::testing::WithParamInterface<RefusedCase> {};

TEST_P(KeyboardRefuses, OutOfRangeSettings) {
    Start("mx29/pid=7050");
    const SimKeyboardLighting before = backend_->Device(0).KeyboardLighting();
    const Bytes reply = Send(GetParam().request);
    ASSERT_EQ(reply.size(), 32u);
    EXPECT_EQ(reply[3], 0x00);
    EXPECT_EQ(backend_->Device(0).KeyboardLighting(), before);
}

INSTANTIATE_TEST_SUITE_P(Settings, KeyboardRefuses, ::testing::ValuesIn(kRefused),
                         [](const auto& info) { return std::string(info.param.name); });

// clang-format off
TEST_F(Keyboard, KeyColoursUpToTheFirstUnusedPosition) {
    Start("mx28");
    Send(Report({{2, 0x19}, {4, 0x01}, {6, 13}, {7, 0}, {8, 5}, {9, 200}, {12, 1}, {13, 2}, {14, 3},
            {15, 0x80}, {16, 4}, {17, 5}, {18, 6}, {20, 7}, {21, 8}, {22, 9}}));
    // A short list: key 9 only; positions 1 to 4 are unused and key 0 stays as it was.
    Send(Report({{2, 0x19}, {4, 0x01}, {6, 13}, {7, 9}, {12, 0xAA}, {13, 0xBB}, {14, 0xCC}}));
    const auto lighting = backend_->Device(0).KeyboardLighting();
    EXPECT_EQ(lighting.keys[0], (std::array<uint8_t, 4>{1, 2, 3, 0x80}));
    EXPECT_EQ(lighting.keys[9], (std::array<uint8_t, 4>{0xAA, 0xBB, 0xCC, 0x00}));
    EXPECT_EQ(Send(Report({{2, 0x18}, {4, 0x01}, {6, 13}, {7, 200}, {8, 5}})), Report({{2, 0x18},
            {3, 0x01}, {4, 0x01}, {6, 13}, {7, 200}, {8, 5}, {12, 7}, {13, 8}, {14, 9}, {16, 4},
            {17, 5}, {18, 6}}));
}

// clang-format on

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
