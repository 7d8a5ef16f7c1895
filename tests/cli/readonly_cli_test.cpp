// Commands that only read leave the device exactly as they found it: on blank memory and
// on initialised devices of every layout class, no memory write reaches the device and
// its memory stays byte for byte the same. A device whose memory holds no configuration
// is reported as such, and only an explicit reset or restore writes it.
#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <sstream>

#include "base/atomic_file.h"
#include "cli/qvmctl.h"
#include "config/backup.h"
#include "run_qvmctl.h"
#include "sim/sim_backend.h"
#include "support/temp_folder.h"

namespace qvm::cli {
namespace {

// Lends the test's simulator to one qvmctl session: the devices, their memory and their
// transfer counts outlive the run.
class LentSimulator final : public HidBackend {
  public:
    explicit LentSimulator(SimBackend& sim) : sim_(sim) {}
    Result<std::vector<HidDeviceInfo>> Enumerate() override { return sim_.Enumerate(); }
    Result<std::unique_ptr<HidHandle>> Open(const std::string& path) override {
        return sim_.Open(path);
    }
    std::vector<HidEvent> TakeEvents() override { return sim_.TakeEvents(); }
    int EventFd() const override { return sim_.EventFd(); }

  private:
    SimBackend& sim_;
};

// One simulated mouse kept in the test, and qvmctl run on it.
struct HeldMouse {
    std::unique_ptr<SimBackend> sim;

    explicit HeldMouse(const std::string& devices) {
        auto made = SimBackend::Create(devices, "");
        EXPECT_TRUE(made.ok()) << (made ? "" : made.message());
        if (made) sim = std::move(made).value();
    }
    SimDevice& Device() { return sim->Device(0); }
    std::vector<uint8_t> Memory() { return Device().PeekMemory(0, Device().Config().memorySize); }
    uint64_t MemoryWrites() { return Device().Stats().memoryWrites; }

    Outcome Run(const std::vector<std::string>& args, const std::string& input = "") {
        std::istringstream in(input);
        std::ostringstream out, err;
        SimBackend& lent = *sim;
        const int status =
            RunQvmctl(args, in, out, err, [&lent]() -> Result<std::unique_ptr<HidBackend>> {
                return std::unique_ptr<HidBackend>(std::make_unique<LentSimulator>(lent));
            });
        return {status, out.str(), err.str()};
    }
};

constexpr const char* kTapMacro = "key-down A\nwait 50\nkey-up A\n";

struct MouseCase {
    const char* devices;
    bool initialised;  // a factory image, with a macro stored in slot 1 before the reads
    bool sizeKnown;    // the memory size can be learnt by reading (not on a blank A or B)
};

const MouseCase kMice[] = {
    {"g12/blank", false, true}, {"g0/blank", false, false}, {"g5/blank", false, false},
    {"g0", true, true},         {"g5", true, true},         {"g5x/mem=16k", true, true},
    {"g12", true, true},        {"g12/mem=8k", true, true},
};

// Every command that only reads, and how it ends on an initialised and a blank device.
struct ReadCase {
    std::vector<std::string> args;  // "FILE" stands for a file in the test's folder
    int initialised;
    int blank;
};

const ReadCase kReads[] = {
    {{"list"}, kExitOk, kExitOk},
    {{"list", "--all"}, kExitOk, kExitOk},
    {{"info"}, kExitOk, kExitOk},
    {{"status"}, kExitOk, kExitOk},
    {{"show"}, kExitOk, kExitDevice},
    {{"show", "--json"}, kExitOk, kExitDevice},
    {{"backup", "FILE"}, kExitOk, kExitOk},  // blank A and B: see sizeKnown
    {{"mem", "read", "0", "0x100"}, kExitOk, kExitOk},
    {{"macro", "list"}, kExitOk, kExitDevice},
    {{"macro", "list", "--json"}, kExitOk, kExitDevice},
    {{"macro", "show", "1"}, kExitOk, kExitDevice},
    {{"macro", "read", "1", "FILE"}, kExitOk, kExitDevice},
    {{"library", "list"}, kExitOk, kExitOk},
    {{"functions"}, kExitOk, kExitOk},
};

std::string Words(const std::vector<std::string>& args) {
    std::string text;
    for (const auto& a : args) text += (text.empty() ? "" : " ") + a;
    return text;
}

TEST(QvmctlReadOnly, ReadingCommandsNeverWriteTheDevice) {
    for (const MouseCase& mouse : kMice) {
        SCOPED_TRACE(mouse.devices);
        test::TempFolder folder;
        HeldMouse held(mouse.devices);
        ASSERT_TRUE(held.sim);
        if (mouse.initialised) {
            Outcome stored = held.Run({"macro", "store", "1", "-", "--name", "Tap"}, kTapMacro);
            ASSERT_EQ(stored.status, kExitOk) << stored.err;
        }
        const std::vector<uint8_t> before = held.Memory();
        held.Device().ResetStats();

        for (const ReadCase& read : kReads) {
            SCOPED_TRACE(Words(read.args));
            const std::string file = folder.File("out");
            std::filesystem::remove(file);
            std::filesystem::remove(file + ".mf");
            std::vector<std::string> args = read.args;
            for (auto& a : args) a = a == "FILE" ? file : a;
            const Outcome run = held.Run(args);

            EXPECT_EQ(held.MemoryWrites(), 0u);
            ASSERT_EQ(held.Memory(), before) << "the memory changed";
            const bool backup = read.args[0] == "backup";
            int expected = mouse.initialised ? read.initialised : read.blank;
            if (backup && !mouse.sizeKnown) expected = kExitDevice;
            EXPECT_EQ(run.status, expected) << run.err;
            if (run.status == kExitDevice) {
                EXPECT_TRUE(Has(run.err, "uninitialised")) << run.err;
                EXPECT_TRUE(Has(run.err, "'qvmctl reset' initialises it")) << run.err;
            }
            if (backup && run.status == kExitOk) {
                // The file holds the memory as it is, not what a load would make of it.
                auto bytes = ReadFileIfExists(file);
                ASSERT_TRUE(bytes.ok() && bytes->has_value());
                auto contents = DecodeBackupFile(**bytes);
                ASSERT_TRUE(contents.ok()) << contents.message();
                EXPECT_EQ(contents->memory, before);
            }
        }
    }
}

// The counter the test above relies on sees the writes of a command that writes.
TEST(QvmctlReadOnly, WritingCommandsAreCounted) {
    for (const char* devices : {"g0", "g5", "g12"}) {
        SCOPED_TRACE(devices);
        test::TempFolder folder;
        HeldMouse held(devices);
        ASSERT_EQ(held.Run({"set", "dpi", "1", "1200"}).status, kExitOk);
        EXPECT_GT(held.MemoryWrites(), 0u);
    }
}

// Only a reset, after the user agreed, initialises a blank device.
TEST(QvmctlReadOnly, ResetInitialisesABlankDeviceOnlyWhenAgreed) {
    for (const char* devices : {"g12/blank", "g0/blank", "g5/blank"}) {
        SCOPED_TRACE(devices);
        test::TempFolder folder;
        HeldMouse held(devices);
        const std::vector<uint8_t> blank = held.Memory();
        Outcome no = held.Run({"reset"}, "n\n");
        EXPECT_EQ(no.status, kExitDevice);
        EXPECT_TRUE(Has(no.err, "nothing was changed")) << no.err;
        EXPECT_EQ(held.MemoryWrites(), 0u);
        EXPECT_EQ(held.Memory(), blank);

        Outcome yes = held.Run({"reset"}, "y\n");
        ASSERT_EQ(yes.status, kExitOk) << yes.err;
        EXPECT_EQ(held.Memory()[0], 0x12);
        Outcome show = held.Run({"show"});
        EXPECT_EQ(show.status, kExitOk) << show.err;
        EXPECT_TRUE(Has(show.out, "profile 1")) << show.out;
    }
}

// A backup file as the device's memory would be saved: `memory` whole, or cut to `keep`.
std::vector<uint8_t> BackupBytes(const std::vector<uint8_t>& memory, std::size_t keep) {
    std::vector<uint8_t> file = EncodeBackupHeader(static_cast<uint32_t>(memory.size()));
    file.insert(file.end(), memory.begin(), memory.begin() + static_cast<long>(keep));
    return file;
}

TEST(QvmctlReadOnly, RestoreRefusesFilesThatWouldLeaveNoConfigurationUnlessForced) {
    struct Case {
        const char* name;
        uint8_t firstByte;
        std::size_t keep;  // memory bytes the file holds of the 8 KiB it declares
        bool force;
        int status;
        const char* message;  // in standard error
        bool written;         // the file's bytes reach the device
    };
    const Case cases[] = {
        {"no marker", 0xFF, 0x2000, false, kExitUsage, "not the configuration marker", false},
        {"no marker, forced", 0xFF, 0x2000, true, kExitOk, "now holds no configuration", true},
        {"cut short", 0x12, 0x1000, false, kExitUsage, "cut short: it holds 4096 of its 8192",
         false},
        {"cut short, forced", 0x12, 0x1000, true, kExitOk, "were not written", true},
        {"both", 0x00, 0x10, false, kExitUsage, "configuration marker 0x12", false},
        {"whole", 0x12, 0x2000, false, kExitOk, "", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        test::TempFolder folder;
        HeldMouse held("g12/mem=8k");
        // The device's own memory with a changed byte, so a written file shows.
        std::vector<uint8_t> memory = held.Memory();
        memory[0] = c.firstByte;
        memory[0x40] ^= 0x5A;
        const std::string file = folder.Write("r.bf", BackupBytes(memory, c.keep));
        const std::vector<uint8_t> before = held.Memory();
        held.Device().ResetStats();

        std::vector<std::string> args = {"restore", "--yes", file};
        if (c.force) args.push_back("--force");
        const Outcome run = held.Run(args);
        EXPECT_EQ(run.status, c.status) << run.err;
        EXPECT_TRUE(Has(run.err, c.message)) << run.err;
        if (c.status == kExitUsage) {
            EXPECT_TRUE(Has(run.err, "--force")) << run.err;
        }
        if (!c.written) {
            EXPECT_EQ(held.MemoryWrites(), 0u);
            EXPECT_EQ(held.Memory(), before);
            continue;
        }
        std::vector<uint8_t> expected = before;
        std::copy_n(memory.begin(), c.keep, expected.begin());
        EXPECT_EQ(held.Memory(), expected);
    }
}

}  // namespace
}  // namespace qvm::cli
