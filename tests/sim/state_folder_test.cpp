// The simulated devices' state folder. One device run by several backends on the same
// folder, as the desktop program, qvmctl and qvm-sim run it side by side: each sees the
// others' writes at its next exchange, and none puts old values back when it ends.
// Damaged state files are set aside and reported, one that is not a regular file never
// blocks, the state survives a restart, and a write the folder cannot take is undone.
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
#include "sim/sim_state_store.h"
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

std::unique_ptr<HidHandle> OpenOrFail(SimBackend& sim, const std::string& path) {
    auto handle = sim.Open(path);
    EXPECT_TRUE(handle) << handle.message();
    return handle ? std::move(*handle) : nullptr;
}

constexpr const char* kLongConfig = "sim#vid_0c45&pid_7030&mi_02#d0i2";
constexpr uint16_t kAt = 0x0900;

// One byte of device memory, written and read back through the device's own interface
// as a host would.
void WriteByte(SimBackend& sim, uint8_t value) {
    auto h = OpenOrFail(sim, kLongConfig);
    ASSERT_TRUE(h && h->SetFeature(LongRequest({0x03, kAt & 0xFF, kAt >> 8, 1, value})));
}

uint8_t ReadByte(SimBackend& sim) {
    auto h = OpenOrFail(sim, kLongConfig);
    if (!h || !h->SetFeature(LongRequest({0x02, kAt & 0xFF, kAt >> 8}))) return 0;
    Bytes reply(64, 0);
    reply[0] = 0x01;
    return h->GetFeature(reply) ? reply[2] : 0;
}

TEST_F(SharedFolder, EachSeesTheOthersWritesAtItsNextExchange) {
    auto first = Make("g12");
    auto second = Make("g12");
    ASSERT_TRUE(first && second);
    WriteByte(*first, 0x5A);
    EXPECT_EQ(ReadByte(*second), 0x5A) << "the second backend sees the first one's write";
    WriteByte(*second, 0xA5);
    EXPECT_EQ(ReadByte(*first), 0xA5) << "and the first sees the second's";
}

TEST_F(SharedFolder, NeitherPutsOldValuesBackWhenItEnds) {
    for (const bool writerEndsFirst : {true, false}) {
        SCOPED_TRACE(writerEndsFirst ? "writer ends first" : "idle one ends first");
        fs::remove_all(folder_);
        auto idle = Make("g12");  // loaded before the change, never writes
        auto writer = Make("g12");
        ASSERT_TRUE(idle && writer);
        WriteByte(*writer, 0x5A);
        if (writerEndsFirst) writer.reset();
        idle.reset();
        writer.reset();
        auto later = Make("g12");
        EXPECT_EQ(ReadByte(*later), 0x5A);
    }
}

// A state file the device cannot use, made in the folder before the backend starts.
struct DamagedCase {
    const char* name;
    std::function<void(const std::string& file)> make;
    const char* why;  // part of the note
};

const DamagedCase kDamagedCases[] = {
    {"Truncated", [](const std::string& f) { std::ofstream(f) << std::string(100, 'x'); },
     "100 bytes"},
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

TEST_F(SharedFolder, MemoryAndLightingSurviveARestart) {
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

// A write the state folder cannot take fails its transfer and is undone, and the
// backend reports it once, naming the file.
TEST_F(SharedFolder, ALostWriteFailsTheTransferAndIsUndone) {
    std::ofstream(File("blocker")) << "x";
    std::vector<SimStateNote> notes;
    auto made = SimBackend::Create("g12", folder_ + "/blocker/inner", SystemClock::Instance(),
                                   [&](const SimStateNote& note) { notes.push_back(note); });
    ASSERT_TRUE(made) << made.message();
    SimBackend& sim = **made;
    auto h = sim.Open("sim#vid_0c45&pid_7030&mi_02#d0i2");
    ASSERT_TRUE(h);
    EXPECT_FALSE((*h)->SetFeature(LongRequest({0x03, 0x03, 0x00, 0x01, 0x30})));
    EXPECT_EQ(sim.Device(0).PeekMemory(0x03, 1)[0], 8);
    ASSERT_EQ(notes.size(), 1u);
    EXPECT_TRUE(notes[0].lost);
    const std::string file = folder_ + "/blocker/inner/0-g12.mem";
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

}  // namespace
}  // namespace qvm::test
