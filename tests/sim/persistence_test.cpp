// Saved simulator state: round trip, writes that cannot be kept, atomic replacement.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>

#include "sim/sim_backend.h"
#include "sim/sim_state_file.h"
#include "sim/sim_state_store.h"
#include "sim_test_util.h"

namespace qvm::test {
namespace {

namespace fs = std::filesystem;

class StateFolder : public ::testing::Test {
  protected:
    void SetUp() override {
        std::string pattern = (fs::temp_directory_path() / "qvm-sim-test-XXXXXX").string();
        ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
        root_ = pattern;
        folder_ = (root_ / "state").string();
    }
    void TearDown() override { fs::remove_all(root_); }

    std::unique_ptr<SimBackend> Make(const std::string& devices) {
        auto backend = SimBackend::Create(devices, folder_);
        EXPECT_TRUE(backend) << backend.message();
        return backend ? std::move(*backend) : nullptr;
    }
    void WriteFile(const std::string& name, size_t size) {
        fs::create_directories(folder_);
        std::ofstream(fs::path(folder_) / name, std::ios::binary) << std::string(size, 'x');
    }
    std::vector<std::string> Names() const {
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(folder_)) {
            names.push_back(entry.path().filename().string());
        }
        std::sort(names.begin(), names.end());
        return names;
    }

    fs::path root_;
    std::string folder_;
};

TEST_F(StateFolder, MemoryAndLightingSurviveARestart) {
    {
        auto backend = Make("g12,mx28");
        auto mouse = backend->Open("sim#vid_0c45&pid_7030&mi_02#d0i2");
        ASSERT_TRUE(mouse);
        ASSERT_TRUE((*mouse)->SetFeature(LongRequest({0x03, 0x00, 0x09, 0x02, 0xDE, 0xAD})));
        auto keyboard = backend->Open("sim#vid_0c45&pid_7050&mi_01#d1i1");
        ASSERT_TRUE(keyboard);
        Bytes effect(32, 0);
        effect[0] = 0x06, effect[1] = 0xBE, effect[2] = 0x15, effect[4] = 1, effect[5] = 2;
        effect[6] = 7;
        ASSERT_TRUE((*keyboard)->Write(effect));
        EXPECT_TRUE(backend->LoadNotes().empty()) << "nothing saved yet is no problem";
    }
    EXPECT_EQ(Names(), (std::vector<std::string>{"0-g12.mem", "0-g12.mem.lock", "1-mx28.mem",
                                                 "1-mx28.mem.lock"}));
    EXPECT_EQ(fs::file_size(fs::path(folder_) / "0-g12.mem"), 0x10000u);

    auto again = Make("g12,mx28");
    EXPECT_TRUE(again->LoadNotes().empty());
    EXPECT_EQ(again->Device(0).PeekMemory(0x900, 2), (Bytes{0xDE, 0xAD}));
    EXPECT_EQ(again->Device(1).KeyboardLighting().effect, 7);
    EXPECT_EQ(again->Device(0).MouseState().stage, 1) << "the loaded memory is applied";
}

TEST_F(StateFolder, ASizeChangeOfTheDeviceIsAWrongSizedFile) {
    ASSERT_TRUE(Make("g12")->Device(0).PokeMemory(0x900, Bytes{0x01}));
    auto smaller = Make("g12/mem=8k");
    ASSERT_EQ(smaller->LoadNotes().size(), 1u);
    EXPECT_EQ(smaller->Device(0).PeekMemory(0, 1), Bytes{0x12});
}

TEST_F(StateFolder, AFileReplacedByHandIsLoadedAtTheNextExchange) {
    auto backend = Make("g12");
    ASSERT_TRUE(backend->Device(0).PokeMemory(0x900, Bytes{0x01}));
    Bytes image = backend->Device(0).SaveImage();
    image[0x900] = 0x42;
    ASSERT_TRUE(WriteStateFileAtomic(folder_ + "/0-g12.mem", image));
    EXPECT_EQ(backend->Device(0).PeekMemory(0x900, 1), Bytes{0x42});
}

// A write the state folder cannot take fails its transfer and is undone, and the
// backend reports it once, naming the file.
struct LostWriteCase {
    const char* name;
    const char* devices;
    std::function<bool(SimBackend&)> write;  // the transfer's result
    std::function<uint8_t(SimBackend&)> read;
    uint8_t before;
};

const LostWriteCase kLostWrites[] = {
    {"Mouse", "g12",
     [](SimBackend& sim) {
         auto h = sim.Open("sim#vid_0c45&pid_7030&mi_02#d0i2");
         return h && (*h)->SetFeature(LongRequest({0x03, 0x03, 0x00, 0x01, 0x30}));
     },
     [](SimBackend& sim) { return sim.Device(0).PeekMemory(0x03, 1)[0]; }, 8},
};

void PrintTo(const LostWriteCase& c, std::ostream* os) {
    *os << c.name;
}

class LostWrite : public StateFolder, public ::testing::WithParamInterface<LostWriteCase> {};

TEST_P(LostWrite, FailsTheTransferAndIsUndone) {
    WriteFile("blocker", 1);
    std::vector<SimStateNote> notes;
    auto made =
        SimBackend::Create(GetParam().devices, folder_ + "/blocker/inner", SystemClock::Instance(),
                           [&](const SimStateNote& note) { notes.push_back(note); });
    ASSERT_TRUE(made) << made.message();
    SimBackend& sim = **made;
    EXPECT_FALSE(GetParam().write(sim));
    EXPECT_EQ(GetParam().read(sim), GetParam().before);
    ASSERT_EQ(notes.size(), 1u);
    EXPECT_TRUE(notes[0].lost);
    const std::string file = folder_ + "/blocker/inner/0-" + GetParam().devices + ".mem";
    EXPECT_EQ(notes[0].message.rfind("cannot keep the simulated device's memory in " + file +
                                         ": cannot create " + folder_ + "/blocker/inner",
                                     0),
              0u)
        << notes[0].message;
    const Status lost = sim.TakeLostWrite();
    EXPECT_EQ(lost.kind(), ErrorKind::Io);
    EXPECT_EQ(lost.message(), notes[0].message);
    EXPECT_TRUE(sim.TakeLostWrite()) << "told once";
}

INSTANTIATE_TEST_SUITE_P(Kinds, LostWrite, ::testing::ValuesIn(kLostWrites),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(StateFolder, AtomicWriteReplacesTheWholeFile) {
    const std::string file = folder_ + "/f.bin";
    ASSERT_TRUE(WriteStateFileAtomic(file, Bytes(10, 0x11)));
    ASSERT_TRUE(WriteStateFileAtomic(file, Bytes(3, 0x22)));
    auto read = ReadStateFile(file, 3);
    ASSERT_TRUE(read);
    EXPECT_EQ(*read, Bytes(3, 0x22));
    EXPECT_EQ(ReadStateFile(file, 2)->size(), 3u) << "one byte past the limit shows it is longer";
    EXPECT_FALSE(ReadStateFile(folder_ + "/missing.bin", 10));
}

}  // namespace
}  // namespace qvm::test
