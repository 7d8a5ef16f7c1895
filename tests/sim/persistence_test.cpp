// Saved simulator state: round trip, unusable files, atomic replacement.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <algorithm>
#include <filesystem>
#include <fstream>

#include "sim/sim_backend.h"
#include "sim/sim_state_file.h"
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
        EXPECT_EQ(backend->LoadNotes().size(), 2u) << "nothing saved yet";
    }
    EXPECT_EQ(Names(), (std::vector<std::string>{"0-g12.mem", "1-mx28.mem"}));
    EXPECT_EQ(fs::file_size(fs::path(folder_) / "0-g12.mem"), 0x10000u);

    auto again = Make("g12,mx28");
    EXPECT_TRUE(again->LoadNotes().empty());
    EXPECT_EQ(again->Device(0).PeekMemory(0x900, 2), (Bytes{0xDE, 0xAD}));
    EXPECT_EQ(again->Device(1).KeyboardLighting().effect, 7);
    EXPECT_EQ(again->Device(0).MouseState().stage, 1) << "the loaded memory is applied";
}

struct UnusableCase {
    const char* name;
    size_t size;
};

class UnusableFile : public StateFolder, public ::testing::WithParamInterface<UnusableCase> {};

TEST_P(UnusableFile, IsSetAsideAndTheDeviceStartsFromTheFactoryImage) {
    WriteFile("0-g12.mem", GetParam().size);
    auto backend = Make("g12");
    ASSERT_EQ(backend->LoadNotes().size(), 1u);
    EXPECT_NE(backend->LoadNotes()[0].find(std::to_string(GetParam().size) + " bytes"),
              std::string::npos)
        << backend->LoadNotes()[0];
    EXPECT_EQ(backend->Device(0).PeekMemory(0, 1), Bytes{0x12});
    EXPECT_EQ(fs::file_size(fs::path(folder_) / "0-g12.mem.rejected"), GetParam().size);
    ASSERT_TRUE(backend->Save());
    EXPECT_EQ(fs::file_size(fs::path(folder_) / "0-g12.mem"), 0x10000u);
}

INSTANTIATE_TEST_SUITE_P(Sizes, UnusableFile,
                         ::testing::Values(UnusableCase{"Truncated", 100}, UnusableCase{"Empty", 0},
                                           UnusableCase{"TooLong", 0x10001}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(StateFolder, ASizeChangeOfTheDeviceIsAWrongSizedFile) {
    Make("g12");  // saves 64 KiB on destruction
    auto smaller = Make("g12/mem=8k");
    ASSERT_EQ(smaller->LoadNotes().size(), 1u);
    EXPECT_EQ(smaller->Device(0).PeekMemory(0, 1), Bytes{0x12});
}

TEST_F(StateFolder, ExplicitSaveLeavesNoTemporaryFiles) {
    auto backend = Make("g0,g5x");
    ASSERT_TRUE(backend->Save());
    EXPECT_EQ(Names(), (std::vector<std::string>{"0-g0.mem", "1-g5x.mem"}));
}

TEST_F(StateFolder, SaveReportsAnUnwritableFolder) {
    WriteFile("blocker", 1);
    auto backend = SimBackend::Create("g12", folder_ + "/blocker/inner");
    ASSERT_TRUE(backend);
    Status saved = (*backend)->Save();
    ASSERT_FALSE(saved);
    EXPECT_NE(saved.message().find("blocker"), std::string::npos) << saved.message();
}

TEST_F(StateFolder, AtomicWriteReplacesTheWholeFile) {
    const std::string file = folder_ + "/f.bin";
    ASSERT_TRUE(WriteStateFileAtomic(file, Bytes(10, 0x11)));
    ASSERT_TRUE(WriteStateFileAtomic(file, Bytes(3, 0x22)));
    auto read = ReadStateFile(file);
    ASSERT_TRUE(read);
    EXPECT_EQ(*read, Bytes(3, 0x22));
    EXPECT_FALSE(ReadStateFile(folder_ + "/missing.bin"));
}

}  // namespace
}  // namespace qvm::test
