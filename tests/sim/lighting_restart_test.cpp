// Lighting kept across restarts: the lighting window's RESET sequence with custom key
// colours and a mouse LED store, run on simulated devices with a state folder. A new
// backend on the folder answers the same reads, and so does qvm-sim through the device
// bridge; damaged keyboard state files are set aside like other damaged state files.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <functional>

#include "platform/bridge_backend.h"
#include "sim/sim_backend.h"
#include "sim/sim_keyboard.h"
#include "sim_test_util.h"

namespace qvm::test {
namespace {

namespace fs = std::filesystem;

constexpr int kKeys = 104;
constexpr uint8_t kRed[] = {0xFF, 0x00, 0x00};
constexpr uint8_t kBlue[] = {0x00, 0x00, 0xFF};
constexpr uint8_t kWasd[] = {17, 30, 31, 32};

Bytes Report32(uint8_t sub, std::initializer_list<std::pair<int, uint8_t>> bytes) {
    Bytes report(32, 0);
    report[0] = 0x06, report[1] = 0xBE, report[2] = sub;
    for (const auto& [at, value] : bytes) report[at] = value;
    return report;
}

// Key colour reports of five keys each; key k's colour from `colour`.
std::vector<Bytes> KeyReports(uint8_t sub, const std::vector<uint8_t>& keys,
                              const std::function<const uint8_t*(uint8_t key)>& colour) {
    std::vector<Bytes> reports;
    for (size_t first = 0; first < keys.size(); first += 5) {
        Bytes report = Report32(sub, {{4, 1}, {6, 13}});
        for (size_t i = 0; i < 5 && first + i < keys.size(); ++i) {
            report[7 + i] = keys[first + i];
            if (colour) std::copy_n(colour(keys[first + i]), 3, report.begin() + 12 + 4 * i);
        }
        reports.push_back(report);
    }
    return reports;
}

std::vector<uint8_t> AllKeys() {
    std::vector<uint8_t> keys(kKeys);
    for (int k = 0; k < kKeys; ++k) keys[k] = static_cast<uint8_t>(k);
    return keys;
}

// RESET (custom effect at full brightness, then Rainbow with red, the side light on, keys
// of every seventh index red and the others black), then WASD blue and "Ripple" with
// its own colour.
std::vector<Bytes> LightingWrites() {
    std::vector<Bytes> writes = {
        Report32(0x15, {{4, 1}, {5, 2}, {6, 13}, {8, 4}, {13, 0xFF}}),
        Report32(0x15, {{4, 1}, {5, 2}, {6, 1}, {8, 4}, {12, 0xFF}, {16, 0xFF}, {19, 1}}),
        Report32(0x15, {{4, 2}, {5, 6}, {6, 6}, {8, 4}, {16, 0xFF}, {19, 1}}),
    };
    static constexpr uint8_t kBlack[3] = {};
    for (Bytes& r :
         KeyReports(0x19, AllKeys(), [](uint8_t k) { return k % 7 == 3 ? kRed : kBlack; })) {
        writes.push_back(std::move(r));
    }
    const std::vector<uint8_t> wasd(std::begin(kWasd), std::end(kWasd));
    for (Bytes& r : KeyReports(0x19, wasd, [](uint8_t) { return kBlue; })) {
        writes.push_back(std::move(r));
    }
    writes.push_back(Report32(0x15, {{4, 1},
                                     {5, 2},
                                     {6, 10},
                                     {7, 2},
                                     {8, 3},
                                     {9, 2},
                                     {15, 1},
                                     {16, 0x12},
                                     {17, 0x34},
                                     {18, 0x56},
                                     {19, 1}}));
    return writes;
}

std::vector<Bytes> LightingReads() {
    std::vector<Bytes> reads = {Report32(0x14, {{4, 0}}), Report32(0x14, {{4, 2}})};
    for (Bytes& r : KeyReports(0x18, AllKeys(), nullptr)) reads.push_back(std::move(r));
    return reads;
}

const Bytes kStoreLed3 = LongRequest({0x03, 0x0C, 0x05, 4, 0x00, 0x00, 0xFF, 0xC0});
const Bytes kSetEffect4 = LongRequest({0x12, 4});
const Bytes kReadLedTable = LongRequest({0x02, 0x00, 0x05});

std::unique_ptr<HidHandle> OpenInterface(HidBackend& backend, uint16_t productId, int iface) {
    auto list = backend.Enumerate();
    EXPECT_TRUE(list) << list.message();
    if (!list) return nullptr;
    for (const HidDeviceInfo& info : *list) {
        if (info.productId != productId || info.interfaceNumber != iface) continue;
        auto handle = backend.Open(info.path);
        EXPECT_TRUE(handle) << handle.message();
        return handle ? std::move(*handle) : nullptr;
    }
    ADD_FAILURE() << "no interface " << iface << " of product " << productId;
    return nullptr;
}

// The replies to `reports` on the keyboard, then the mouse's LED table and status reply.
std::vector<Bytes> Transcript(HidBackend& backend, const std::vector<Bytes>& reports,
                              bool writeMouse) {
    std::vector<Bytes> replies;
    auto keyboard = OpenInterface(backend, 0x7050, 1);
    auto mouse = OpenInterface(backend, 0x7030, 2);
    if (!keyboard || !mouse) return replies;
    for (const Bytes& report : reports) {
        EXPECT_TRUE(keyboard->Write(report));
        Bytes reply(32, 0);
        EXPECT_EQ(keyboard->Read(reply, 1000), 32);
        replies.push_back(reply);
    }
    if (writeMouse) {
        EXPECT_TRUE(mouse->SetFeature(kStoreLed3));
        EXPECT_TRUE(mouse->SetFeature(kSetEffect4));
    }
    Bytes reply(64, 0);
    reply[0] = 0x01;
    EXPECT_TRUE(mouse->SetFeature(kReadLedTable));
    EXPECT_TRUE(mouse->GetFeature(reply));
    replies.push_back(Bytes(reply.begin() + 2, reply.begin() + 63));  // 61 bytes of the table
    return replies;
}

class LightingRestart : public ::testing::Test {
  protected:
    void SetUp() override {
        std::string pattern = (fs::temp_directory_path() / "qvm-light-XXXXXX").string();
        ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
        root_ = pattern;
    }
    void TearDown() override { fs::remove_all(root_); }

    std::string Folder(const std::string& name) const { return (root_ / name).string(); }
    static std::unique_ptr<SimBackend> InProcess(const std::string& folder) {
        auto backend = SimBackend::Create("g12,mx28", folder);
        EXPECT_TRUE(backend) << backend.message();
        if (backend) {
            EXPECT_TRUE((*backend)->LoadNotes().empty());
        }
        return backend ? std::move(*backend) : nullptr;
    }
    static std::unique_ptr<HidBackend> Bridge(const std::string& folder) {
        auto backend = MakeExecBackend(
            std::string(QVM_SIM_BINARY) + " --state '" + folder + "' g12,mx28", BridgeOptions{});
        EXPECT_TRUE(backend) << backend.message();
        return backend ? std::move(*backend) : nullptr;
    }

    fs::path root_;
};

TEST_F(LightingRestart, ANewBackendAnswersTheSameReads) {
    const std::string folder = Folder("state");
    std::vector<Bytes> before;
    {
        auto sim = InProcess(folder);
        ASSERT_TRUE(sim);
        Transcript(*sim, LightingWrites(), true);
        before = Transcript(*sim, LightingReads(), false);
    }
    ASSERT_EQ(before.size(), 2u + 21u + 1u);
    // What the reads say, spot-checked against the writes.
    EXPECT_EQ(Bytes(before[0].begin() + 6, before[0].begin() + 10), (Bytes{10, 2, 3, 2}));
    EXPECT_EQ(Bytes(before[0].begin() + 16, before[0].begin() + 19), (Bytes{0x12, 0x34, 0x56}));
    EXPECT_EQ(before[1][8], 4) << "side light on";
    EXPECT_EQ(Bytes(before[2 + 17 / 5].begin() + 12 + 4 * (17 % 5),
                    before[2 + 17 / 5].begin() + 15 + 4 * (17 % 5)),
              (Bytes{0x00, 0x00, 0xFF}))
        << "W is blue";
    EXPECT_EQ(before[2 + 20 / 5][28], 0xFF) << "key 24 (kind 3) red";
    EXPECT_EQ(before[2 + 20 / 5][24], 0x00) << "key 23 black";
    EXPECT_EQ(Bytes(before.back().begin() + 12, before.back().begin() + 16),
              (Bytes{0x00, 0x00, 0xFF, 0xC0}))
        << "LED 3 stored";

    auto again = InProcess(folder);
    ASSERT_TRUE(again);
    EXPECT_EQ(Transcript(*again, LightingReads(), false), before);
    EXPECT_EQ(again->Device(0).MouseState().lightingEffect, 4);
    EXPECT_EQ(again->Device(0).MouseState().leds[3], (std::array<uint8_t, 4>{0, 0, 0xFF, 0xC0}));
}

TEST_F(LightingRestart, TheBridgeAnswersTheSameAndKeepsTheSameFile) {
    std::vector<Bytes> inProcess;
    {
        auto sim = InProcess(Folder("direct"));
        ASSERT_TRUE(sim);
        const auto writes = Transcript(*sim, LightingWrites(), true);
        inProcess = Transcript(*sim, LightingReads(), false);
        auto bridge = Bridge(Folder("bridged"));
        ASSERT_TRUE(bridge);
        EXPECT_EQ(Transcript(*bridge, LightingWrites(), true), writes) << "write replies";
        EXPECT_EQ(Transcript(*bridge, LightingReads(), false), inProcess) << "read replies";
    }
    auto restarted = Bridge(Folder("bridged"));
    ASSERT_TRUE(restarted);
    EXPECT_EQ(Transcript(*restarted, LightingReads(), false), inProcess) << "after a restart";
    auto direct = InProcess(Folder("bridged"));
    ASSERT_TRUE(direct);
    EXPECT_EQ(Transcript(*direct, LightingReads(), false), inProcess) << "the same state file";
}

// A keyboard state file the device cannot use.
struct KeyboardFileCase {
    const char* name;
    std::function<Bytes()> bytes;
    const char* why;
};

Bytes GoodImage() {
    return SimKeyboard(DefaultKeyboard(SimKind::KeyboardMx28)).SaveImage();
}

const KeyboardFileCase kKeyboardFileCases[] = {
    {"Truncated", [] { return Bytes(100, 0); }, "100 bytes, expected 1040"},
    {"TooLong",
     [] {
         Bytes b = GoodImage();
         b.push_back(0);
         return b;
     },
     "more than 1040 bytes"},
    {"EffectAbove13",
     [] {
         Bytes b = GoodImage();
         b[0] = 14;
         return b;
     },
     "holds values the device does not take"},
    {"SideLevelAbove4",
     [] {
         Bytes b = GoodImage();
         b[12] = 5;
         return b;
     },
     "holds values the device does not take"},
};

void PrintTo(const KeyboardFileCase& c, std::ostream* os) {
    *os << c.name;
}

class DamagedKeyboardFile : public LightingRestart,
                            public ::testing::WithParamInterface<KeyboardFileCase> {};

TEST_P(DamagedKeyboardFile, IsSetAsideAndTheKeyboardStartsFromTheFactory) {
    const std::string folder = Folder("state");
    fs::create_directories(folder);
    const std::string file = folder + "/0-mx28.mem";
    {
        const Bytes bytes = GetParam().bytes();
        std::ofstream(file, std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()),
                   static_cast<std::streamsize>(bytes.size()));
    }
    auto made = SimBackend::Create("mx28", folder);
    ASSERT_TRUE(made) << made.message();
    SimBackend& sim = **made;
    ASSERT_EQ(sim.LoadNotes().size(), 1u);
    const std::string note = sim.LoadNotes()[0];
    EXPECT_NE(note.find(file + ": " + GetParam().why), std::string::npos) << note;
    EXPECT_NE(note.find("set aside as " + file + ".rejected"), std::string::npos) << note;
    EXPECT_TRUE(sim.Device(0).KeyboardLighting() == SimKeyboardLighting{});

    // The next change keeps the whole lighting state in a new file.
    auto handle = sim.Open("sim#vid_0c45&pid_7050&mi_01#d0i1");
    ASSERT_TRUE(handle);
    ASSERT_TRUE((*handle)->Write(Report32(0x15, {{4, 2}, {5, 6}, {6, 6}, {16, 0xFF}, {19, 1}})));
    Bytes expected = GoodImage();
    expected[12] = 0;  // side light off
    std::ifstream in(file, std::ios::binary);
    EXPECT_EQ(Bytes(std::istreambuf_iterator<char>(in), {}), expected);
}

INSTANTIATE_TEST_SUITE_P(Kinds, DamagedKeyboardFile, ::testing::ValuesIn(kKeyboardFileCases),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace qvm::test
