// A write that finds the disk full, for every kind of file the user keeps: the old file
// stays as it was, no temporary file is left behind, and the message the user sees names
// the file. (The simulated devices' memory on a full disk: device_failure_cli_test.cpp.)
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "base/atomic_file.h"
#include "run_qvmctl.h"
#include "session/autostart.h"
#include "support/small_tmpfs.h"
#include "support/temp_folder.h"
#include "temporary_files.h"

namespace qvm::cli {
namespace {

constexpr std::size_t kFullDiskBytes = 1u << 20;
constexpr const char* kFullDiskNoSpace = "No space left on device";
constexpr const char* kFullDiskTap = "key-down A\nwait 50\nkey-up A\n";
constexpr const char* kFullDiskLonger = "key-down B\nwait 20\nkey-up B\nwait 20\nkey-down C\n";

// "@/NAME" stands for NAME in the user folder.
std::vector<std::string> FullDiskArgs(const test::TempFolder& folder,
                                      std::vector<std::string> args) {
    for (std::string& a : args) {
        if (a.rfind("@/", 0) == 0) a = folder.File(a.substr(2));
    }
    return args;
}

Outcome RunQvmctlIn(const test::TempFolder& folder, const std::vector<std::string>& args) {
    return Qvmctl(FullDiskArgs(folder, args));
}

// "on PROGRAM" or "off": the desktop program's autostart option; its Status message is
// what the user is shown.
Outcome RunAutostartOption(const test::TempFolder&, const std::vector<std::string>& args) {
    const Status set = SetAutostart(args.at(0) == "on", args.size() > 1 ? args[1] : "");
    return {set ? kExitOk : 1, "", set ? "" : set.message()};
}

// Every regular file below folder but the filler, with its bytes.
std::map<std::string, std::vector<uint8_t>> FullDiskFilesBelow(const std::string& folder) {
    std::map<std::string, std::vector<uint8_t>> files;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(folder)) {
        if (!entry.is_regular_file() || entry.path().filename() == "filler") continue;
        auto bytes = ReadFileIfExists(entry.path().string());
        files[entry.path().string()] = bytes && *bytes ? **bytes : std::vector<uint8_t>();
    }
    return files;
}

struct UserFileOnFullDisk {
    const char* name;
    Outcome (*run)(const test::TempFolder&, const std::vector<std::string>&);
    std::vector<std::pair<std::string, std::string>> files;  // text files made first
    std::vector<std::vector<std::string>> before;            // runs while there is space
    std::vector<std::string> write;                          // the run on the full disk
    const char* named;               // what the message must name, below the user folder
    bool fails;                      // the run fails (a trace stops; the command goes on)
    const char* appended = nullptr;  // a file the write may add to, keeping what it held
};

TEST(FullDisk, OldFilesStayNoTemporaryIsLeftAndTheMessageNamesTheFile) {
    const std::string program = QVM_QVMCTL_BINARY;  // a file any binding may name
    const std::vector<UserFileOnFullDisk> cases = {
        {"set.ini",
         RunQvmctlIn,
         {},
         {{"app", "bind", "2", program}},
         {"app", "bind", "1", program},
         "set.ini",
         true},
        {"a backup",
         RunQvmctlIn,
         {},
         {{"--simulate=g12", "backup", "@/mouse.bf"}},
         {"--simulate=g12", "backup", "@/mouse.bf"},
         "mouse.bf",
         true},
        {"a macro file read from the device",
         RunQvmctlIn,
         {{"tap.txt", kFullDiskTap}, {"longer.txt", kFullDiskLonger}},
         {{"--simulate=g12", "macro", "store", "1", "@/tap.txt", "--name", "Tap"},
          {"--simulate=g12", "macro", "read", "1", "@/saved.mf"},
          {"--simulate=g12", "macro", "store", "1", "@/longer.txt", "--name", "Longer"}},
         {"--simulate=g12", "macro", "read", "1", "@/saved.mf"},
         "saved.mf",
         true},
        {"a macro exported from the library",
         RunQvmctlIn,
         {{"tap.txt", kFullDiskTap}},
         {{"--simulate=g12", "macro", "store", "1", "@/tap.txt", "--name", "Tap"},
          {"--simulate=g12", "macro", "read", "1", "@/source.mf"},
          {"library", "import", "@/source.mf"},
          {"library", "export", "Tap", "@/exported.mf"}},
         {"library", "export", "Tap", "@/exported.mf", "--force"},
         "exported.mf",
         true},
        // The new macro has no name yet: the message names the library folder.
        {"a macro imported into the library",
         RunQvmctlIn,
         {{"tap.txt", kFullDiskTap}},
         {{"--simulate=g12", "macro", "store", "1", "@/tap.txt", "--name", "Tap"},
          {"--simulate=g12", "macro", "read", "1", "@/source.mf"},
          {"library", "import", "@/source.mf"}},
         {"library", "import", "@/source.mf"},
         "Favorite",
         true},
        {"the autostart entry",
         RunAutostartOption,
         {},
         {{"on", "/old/program"}},
         {"on", "/new/program"},
         "config/autostart/qvm-gaming.desktop",
         true},
        {"a trace of the device exchanges",
         RunQvmctlIn,
         {},
         {{"--trace", "@/exchanges.trace", "--simulate=g12", "show"}},
         {"--trace", "@/exchanges.trace", "--simulate=g12", "show"},
         "exchanges.trace",
         false,
         "exchanges.trace"},
    };
    for (const UserFileOnFullDisk& c : cases) {
        SCOPED_TRACE(c.name);
        test::TempFolder folder;
        test::SmallTmpfs disk(folder.path(), kFullDiskBytes);
        if (!disk.Mounted()) GTEST_SKIP() << "cannot mount a tmpfs: " << disk.Why();
        const test::ScopedEnv config("XDG_CONFIG_HOME", folder.File("config"));
        for (const auto& [name, text] : c.files) folder.Write(name, text);
        for (const auto& args : c.before) {
            const Outcome made = c.run(folder, args);
            ASSERT_EQ(made.status, kExitOk) << made.err;
        }
        const std::string named = folder.File(c.named);
        ASSERT_TRUE(std::filesystem::exists(named)) << "the file to keep was not made";
        const auto kept = FullDiskFilesBelow(folder.path());
        disk.Fill();

        const Outcome full = c.run(folder, c.write);
        EXPECT_EQ(full.status != kExitOk, c.fails) << full.err;
        EXPECT_TRUE(Has(full.err, named + ": ")) << full.err;
        EXPECT_TRUE(Has(full.err, kFullDiskNoSpace)) << full.err;
        EXPECT_EQ(TemporaryFiles(folder.path()), std::vector<std::string>());
        auto now = FullDiskFilesBelow(folder.path());
        if (c.appended != nullptr) {
            const std::string grown = folder.File(c.appended);
            const std::vector<uint8_t>& was = kept.at(grown);
            std::vector<uint8_t>& is = now[grown];
            ASSERT_GE(is.size(), was.size());
            EXPECT_TRUE(std::equal(was.begin(), was.end(), is.begin())) << "the old part changed";
            EXPECT_EQ(is.back(), '\n') << "a line was cut where the disk ended";
            is = was;
        }
        EXPECT_EQ(now, kept) << "a file changed or appeared";
    }
}

}  // namespace
}  // namespace qvm::cli
