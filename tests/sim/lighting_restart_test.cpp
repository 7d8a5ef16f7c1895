// Lighting kept across restarts: a simulated keyboard's effect, side light and key colours
// and a mouse's LED and effect read back the same by a new backend on the state folder, in
// process and through the device bridge; damaged keyboard state files are set aside.
#include <gtest/gtest.h>

#include "platform/bridge_backend.h"
#include "sim/sim_backend.h"
#include "sim/sim_keyboard.h"
#include "sim_test_util.h"
#include "support/temp_folder.h"

namespace qvm::test {
namespace {

Bytes Report32(uint8_t sub, std::initializer_list<std::pair<int, uint8_t>> bytes) {
    Bytes report(32, 0);
    report[0] = 0x06, report[1] = 0xBE, report[2] = sub;
    for (const auto& [at, value] : bytes) report[at] = value;
    return report;
}

// The writes: "Ripple" with its own colour, the side light off and every key a colour of
// its own, five keys a report. The reads: both lighting states and every key's colour.
std::vector<Bytes> KeyboardReports(bool write) {
    std::vector<Bytes> reports = {Report32(0x14, {{4, 0}}), Report32(0x14, {{4, 2}})};
    // clang-format off
    if (write) {
        reports = {Report32(0x15, {{4, 1}, {5, 2}, {6, 10}, {7, 2}, {8, 3}, {9, 2}, {16, 0x12},
                                   {17, 0x34}, {18, 0x56}, {19, 1}}),
                   Report32(0x15, {{4, 2}, {5, 6}, {6, 6}, {8, 0}, {16, 0xFF}, {19, 1}})};
    }
    // clang-format on
    for (int first = 0; first < 104; first += 5) {
        Bytes& report = reports.emplace_back(Report32(write ? 0x19 : 0x18, {{4, 1}, {6, 13}}));
        for (int i = 0; i < 5 && first + i < 104; ++i) {
            const auto key = static_cast<uint8_t>(first + i);
            report[7 + i] = key;
            if (write) report[12 + 4 * i] = key, report[13 + 4 * i] = 0xFF - key;
        }
    }
    return reports;
}

std::unique_ptr<HidHandle> OpenInterface(HidBackend& backend, uint16_t productId, int iface) {
    for (const HidDeviceInfo& info : backend.Enumerate().value()) {
        if (info.productId == productId && info.interfaceNumber == iface) {
            return backend.Open(info.path).value();
        }
    }
    return nullptr;
}

// The keyboard's replies to its reports, then the mouse's LED table, after storing LED 3
// and effect 4 when `write`.
std::vector<Bytes> Transcript(HidBackend* backend, bool write) {
    std::vector<Bytes> replies;  // 32-byte reports, then 61 bytes of the table
    auto keyboard = backend ? OpenInterface(*backend, 0x7050, 1) : nullptr;
    auto mouse = backend ? OpenInterface(*backend, 0x7030, 2) : nullptr;
    EXPECT_TRUE(keyboard && mouse) << "the keyboard or the mouse is missing";
    if (!keyboard || !mouse) return replies;
    for (const Bytes& report : KeyboardReports(write)) {
        EXPECT_TRUE(keyboard->Write(report));
        EXPECT_EQ(keyboard->Read(replies.emplace_back(32, 0), 1000), 32);
    }
    if (write) {
        EXPECT_TRUE(mouse->SetFeature(LongRequest({0x03, 0x0C, 0x05, 4, 0x00, 0x00, 0xFF, 0xC0})));
        EXPECT_TRUE(mouse->SetFeature(LongRequest({0x12, 4})));
    }
    Bytes reply(64, 0);
    reply[0] = 0x01;
    EXPECT_TRUE(mouse->SetFeature(LongRequest({0x02, 0x00, 0x05})));
    EXPECT_TRUE(mouse->GetFeature(reply));
    replies.emplace_back(reply.begin() + 2, reply.begin() + 63);
    return replies;
}

std::unique_ptr<SimBackend> InProcess(const std::string& folder) {
    auto backend = SimBackend::Create("g12,mx28", folder);
    EXPECT_TRUE(backend && (*backend)->LoadNotes().empty()) << backend.message();
    return backend ? std::move(*backend) : nullptr;
}

std::unique_ptr<HidBackend> Bridge(const std::string& folder) {
    auto backend = MakeExecBackend(
        std::string(QVM_SIM_BINARY) + " --state '" + folder + "' g12,mx28", BridgeOptions{});
    EXPECT_TRUE(backend) << backend.message();
    return backend ? std::move(*backend) : nullptr;
}

TEST(LightingRestart, NewBackendsAnswerTheSameInProcessAndThroughTheBridge) {
    TempFolder folder;
    std::vector<Bytes> writes, reads;
    {
        auto sim = InProcess(folder.File("direct"));
        writes = Transcript(sim.get(), true);
        reads = Transcript(sim.get(), false);
    }
    ASSERT_EQ(reads.size(), 2u + 21u + 1u);
    // Spot checks: the effect and its colour, the side light off, the last key, LED 3.
    EXPECT_EQ(Bytes(reads[0].begin() + 6, reads[0].begin() + 19),
              (Bytes{10, 2, 3, 2, 0, 0, 0, 0, 0, 0, 0x12, 0x34, 0x56}));
    EXPECT_EQ(reads[1][8], 0);
    EXPECT_EQ(Bytes(reads[22].begin() + 24, reads[22].begin() + 28),
              (Bytes{103, 0xFF - 103, 0, 0}));
    EXPECT_EQ(Bytes(reads[23].begin() + 12, reads[23].begin() + 16), (Bytes{0, 0, 0xFF, 0xC0}));
    auto again = InProcess(folder.File("direct"));
    ASSERT_TRUE(again);
    EXPECT_EQ(Transcript(again.get(), false), reads) << "in process";
    EXPECT_EQ(again->Device(0).MouseState().lightingEffect, 4);
    {
        auto bridge = Bridge(folder.File("bridged"));
        EXPECT_EQ(Transcript(bridge.get(), true), writes) << "write replies";
        EXPECT_EQ(Transcript(bridge.get(), false), reads) << "read replies";
    }
    EXPECT_EQ(Transcript(Bridge(folder.File("bridged")).get(), false), reads) << "restarted";
    EXPECT_EQ(Transcript(InProcess(folder.File("bridged")).get(), false), reads) << "same file";
}

// A keyboard state file the device cannot use: of another size, or with a byte out of range.
TEST(LightingRestart, DamagedKeyboardFileIsSetAsideAndTheKeyboardStartsFromTheFactory) {
    using Case = std::tuple<size_t, int, uint8_t, const char*>;  // size, byte at, its value, why
    const Bytes factory = SimKeyboard(DefaultKeyboard(SimKind::KeyboardMx28)).SaveImage();
    for (const auto& [size, at, value, why] :
         {Case{100, -1, 0, "100 bytes, expected 1040"}, Case{1041, -1, 0, "more than 1040 bytes"},
          Case{1040, 0, 14, "holds values the device does not take"},
          Case{1040, 12, 5, "holds values the device does not take"}}) {
        SCOPED_TRACE(testing::Message() << size << " bytes, byte " << at);
        TempFolder folder;
        Bytes bytes = factory;
        bytes.resize(size, 0);
        if (at >= 0) bytes[at] = value;
        const std::string file = folder.Write("state/0-mx28.mem", bytes);
        auto made = SimBackend::Create("mx28", folder.File("state"));
        ASSERT_TRUE(made) << made.message();
        ASSERT_EQ((*made)->LoadNotes().size(), 1u);
        const std::string note = (*made)->LoadNotes()[0];
        EXPECT_NE(note.find(file + ": " + why), std::string::npos) << note;
        EXPECT_NE(note.find("set aside as " + file + ".rejected"), std::string::npos) << note;
        EXPECT_TRUE((*made)->Device(0).KeyboardLighting() == SimKeyboardLighting{});
        // The next change keeps the whole lighting state in a new file.
        auto handle = (*made)->Open("sim#vid_0c45&pid_7050&mi_01#d0i1").value();
        ASSERT_TRUE(handle->Write(Report32(0x15, {{4, 2}, {5, 6}, {6, 6}, {16, 0xFF}, {19, 1}})));
        Bytes expected = factory;
        expected[12] = 0;  // side light off
        EXPECT_EQ(folder.Read("state/0-mx28.mem"), expected);
    }
}

}  // namespace
}  // namespace qvm::test
