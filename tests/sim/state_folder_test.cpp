// One simulated device run by several backends on the same state folder, as the desktop
// program, qvmctl and qvm-sim run it side by side: each sees the others' writes at its
// next exchange, and none puts old values back when it ends. Damaged state files are set
// aside and reported, and one that is not a regular file never blocks.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <future>

#include "sim/sim_backend.h"
#include "sim_test_util.h"

namespace qvm::test {
namespace {

namespace fs = std::filesystem;

class SharedFolder : public ::testing::Test {
  protected:
    void SetUp() override {
        std::string pattern = (fs::temp_directory_path() / "qvm-shared-XXXXXX").string();
        ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
        root_ = pattern;
        folder_ = (root_ / "state").string();
        fs::create_directories(folder_);
    }
    void TearDown() override { fs::remove_all(root_); }

    std::unique_ptr<SimBackend> Make(const std::string& devices) {
        auto backend = SimBackend::Create(devices, folder_);
        EXPECT_TRUE(backend) << backend.message();
        return backend ? std::move(*backend) : nullptr;
    }
    std::string File(const std::string& name) const { return folder_ + "/" + name; }

    fs::path root_;
    std::string folder_;
};

// One byte of device memory, written and read back through the device's own interface
// as a host would.
struct SharedCase {
    const char* name;
    const char* devices;
    std::function<void(SimBackend&, uint8_t)> write;
    std::function<uint8_t(SimBackend&)> read;
    uint8_t first, second;  // two values the device accepts, neither its factory value
};

std::unique_ptr<HidHandle> OpenOrFail(SimBackend& sim, const std::string& path) {
    auto handle = sim.Open(path);
    EXPECT_TRUE(handle) << handle.message();
    return handle ? std::move(*handle) : nullptr;
}

constexpr const char* kShortConfig = "sim#vid_0c45&pid_7010&mi_00#d0i0";
constexpr const char* kLongConfig = "sim#vid_0c45&pid_7030&mi_02#d0i2";
constexpr uint16_t kShortAt = 0x0300;
constexpr uint16_t kLongAt = 0x0900;

const SharedCase kSharedCases[] = {
    {"ShortFrames", "g0",
     [](SimBackend& sim, uint8_t value) {
         auto h = OpenOrFail(sim, kShortConfig);
         ASSERT_TRUE(h &&
                     h->SetFeature(Short({0x05, 0x01, kShortAt & 0xFF, kShortAt >> 8, 0, value})));
     },
     [](SimBackend& sim) -> uint8_t {
         auto h = OpenOrFail(sim, kShortConfig);
         if (!h || !h->SetFeature(Short({0x05, 0x00, kShortAt & 0xFF, kShortAt >> 8, 0}))) {
             return 0;
         }
         Bytes reply(9, 0);
         return h->GetFeature(reply) ? reply[2] : 0;
     },
     0x5A, 0xA5},
    {"LongFrames", "g12",
     [](SimBackend& sim, uint8_t value) {
         auto h = OpenOrFail(sim, kLongConfig);
         ASSERT_TRUE(h &&
                     h->SetFeature(LongRequest({0x03, kLongAt & 0xFF, kLongAt >> 8, 1, value})));
     },
     [](SimBackend& sim) -> uint8_t {
         auto h = OpenOrFail(sim, kLongConfig);
         if (!h || !h->SetFeature(LongRequest({0x02, kLongAt & 0xFF, kLongAt >> 8}))) return 0;
         Bytes reply(64, 0);
         reply[0] = 0x01;
         return h->GetFeature(reply) ? reply[2] : 0;
     },
     0x5A, 0xA5},
};

void PrintTo(const SharedCase& c, std::ostream* os) {
    *os << c.name;
}

class SharedDevice : public SharedFolder, public ::testing::WithParamInterface<SharedCase> {};

TEST_P(SharedDevice, EachSeesTheOthersWritesAtItsNextExchange) {
    const SharedCase& c = GetParam();
    auto first = Make(c.devices);
    auto second = Make(c.devices);
    ASSERT_TRUE(first && second);
    c.write(*first, c.first);
    EXPECT_EQ(c.read(*second), c.first) << "the second backend sees the first one's write";
    c.write(*second, c.second);
    EXPECT_EQ(c.read(*first), c.second) << "and the first sees the second's";
}

TEST_P(SharedDevice, NeitherPutsOldValuesBackWhenItEnds) {
    const SharedCase& c = GetParam();
    for (const bool writerEndsFirst : {true, false}) {
        SCOPED_TRACE(writerEndsFirst ? "writer ends first" : "idle one ends first");
        fs::remove_all(folder_);
        auto idle = Make(c.devices);  // loaded before the change, never writes
        auto writer = Make(c.devices);
        ASSERT_TRUE(idle && writer);
        c.write(*writer, c.first);
        if (writerEndsFirst) writer.reset();
        idle.reset();
        writer.reset();
        auto later = Make(c.devices);
        EXPECT_EQ(c.read(*later), c.first);
    }
}

INSTANTIATE_TEST_SUITE_P(Kinds, SharedDevice, ::testing::ValuesIn(kSharedCases),
                         [](const auto& info) { return std::string(info.param.name); });

// A state file the device cannot use, made in the folder before the backend starts.
struct DamagedCase {
    const char* name;
    std::function<void(const std::string& file)> make;
    const char* why;  // part of the note
};

const DamagedCase kDamagedCases[] = {
    {"Truncated", [](const std::string& f) { std::ofstream(f) << std::string(100, 'x'); },
     "100 bytes"},
    {"TooLong", [](const std::string& f) { std::ofstream(f) << std::string(0x10001, 'x'); },
     "more than 65536 bytes"},
    {"Fifo", [](const std::string& f) { ASSERT_EQ(::mkfifo(f.c_str(), 0600), 0); },
     "not a regular file"},
};

void PrintTo(const DamagedCase& c, std::ostream* os) {
    *os << c.name;
}

class DamagedFile : public SharedFolder, public ::testing::WithParamInterface<DamagedCase> {};

TEST_P(DamagedFile, IsSetAsideAndReportedByNameWithoutBlocking) {
    const std::string file = File("0-g12.mem");
    GetParam().make(file);
    auto pending = std::async(std::launch::async, [&] { return Make("g12"); });
    // A generous bound: the backend opens nothing that can block, so it is ready at once.
    if (pending.wait_for(std::chrono::seconds(30)) != std::future_status::ready) {
        // Let a reader stuck on the FIFO go (it sees the end of input) before failing.
        ::close(::open(file.c_str(), O_WRONLY | O_NONBLOCK));
        FAIL() << "opening the state folder blocked";
    }
    auto backend = pending.get();
    ASSERT_TRUE(backend);
    ASSERT_EQ(backend->LoadNotes().size(), 1u);
    const std::string note = backend->LoadNotes()[0];
    EXPECT_NE(note.find(file + ":"), std::string::npos) << note;
    EXPECT_NE(note.find(GetParam().why), std::string::npos) << note;
    EXPECT_NE(note.find(file + ".rejected"), std::string::npos) << note;
    EXPECT_TRUE(fs::exists(fs::symlink_status(file + ".rejected")));
    EXPECT_FALSE(fs::exists(fs::symlink_status(file)));
    EXPECT_EQ(backend->Device(0).PeekMemory(0, 1), Bytes{0x12}) << "the factory image";

    // The next write keeps the memory in a new state file.
    auto h = OpenOrFail(*backend, kLongConfig);
    ASSERT_TRUE(h && h->SetFeature(LongRequest({0x03, 0x00, 0x09, 1, 0x77})));
    EXPECT_TRUE(fs::is_regular_file(file));
    EXPECT_EQ(fs::file_size(file), 0x10000u);
}

INSTANTIATE_TEST_SUITE_P(Kinds, DamagedFile, ::testing::ValuesIn(kDamagedCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(SharedFolder, AFileSetAsideEarlierIsNotReplaced) {
    const std::string file = File("0-g12.mem");
    for (const std::string text : {"first", "second", "third"}) {
        std::ofstream(file) << text;
        auto backend = Make("g12");
        ASSERT_TRUE(backend);
        ASSERT_EQ(backend->LoadNotes().size(), 1u);
    }
    auto text = [&](const std::string& name) {
        std::ifstream in(File(name));
        return std::string(std::istreambuf_iterator<char>(in), {});
    };
    EXPECT_EQ(text("0-g12.mem.rejected"), "first");
    EXPECT_EQ(text("0-g12.mem.rejected.2"), "second");
    EXPECT_EQ(text("0-g12.mem.rejected.3"), "third");
}

}  // namespace
}  // namespace qvm::test
