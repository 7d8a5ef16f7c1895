// qvmctl killed at every step of putting its bytes on disk (each write to a file, each
// fsync, each rename; a write it dies in is cut in half) leaves every file it writes
// either as it was or complete: the settings, a backup, the simulated mouse's memory, a
// macro file, a macro imported into the library and the autostart entry (written by a
// small helper program, since only the desktop program writes it). The next write that
// is not killed leaves no temporary file of the killed one behind. The kill comes from a
// preloaded library (tests/support/crash_at_step.cpp).
#include <fcntl.h>
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/wait.h>

#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "base/atomic_file.h"
#include "macro/macro_file.h"
#include "session/settings.h"
#include "support/temp_folder.h"
#include "temporary_files.h"

extern char** environ;

namespace qvm::cli {
namespace {

constexpr int kCrashedStatus = 86;  // as crash_at_step.cpp ends the process
constexpr long kMaxSteps = 200;

// Runs `program` with its user folder (and home) in `folder`, killed before step `crashAt`
// (0: not killed); its exit status, -1 when it did not exit.
int RunProgram(const std::string& program, const std::string& folder, std::vector<std::string> args,
               long crashAt = 0, std::string* out = nullptr) {
    std::vector<std::string> env = {"QVM_USER_DIR=" + folder, "XDG_RUNTIME_DIR=" + folder,
                                    "HOME=" + folder,
                                    // The preloaded library comes before the sanitizer's runtime.
                                    "ASAN_OPTIONS=verify_asan_link_order=0:detect_leaks=0"};
    if (crashAt > 0) {
        env.push_back(std::string("LD_PRELOAD=") + QVM_CRASH_AT_STEP_LIBRARY);
        env.push_back("QVM_CRASH_AT=" + std::to_string(crashAt));
    }
    if (const char* path = ::getenv("PATH")) env.push_back(std::string("PATH=") + path);
    // "@/NAME" is a file in the user folder.
    for (std::string& a : args) {
        if (a.rfind("@/", 0) == 0) a = folder + a.substr(1);
    }
    args.insert(args.begin(), program);
    const std::string outFile = folder + "/program.out";
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, outFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0644);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    std::vector<char*> argv, envp;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    for (std::string& e : env) envp.push_back(e.data());
    envp.push_back(nullptr);
    pid_t pid = -1;
    const int spawned = ::posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0) return -1;
    int status = 0;
    ::waitpid(pid, &status, 0);
    if (out != nullptr) {
        const auto bytes = ReadFileIfExists(outFile);
        *out = bytes && *bytes ? std::string((*bytes)->begin(), (*bytes)->end()) : std::string();
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

int RunQvmctlProgram(const std::string& folder, std::vector<std::string> args, long crashAt = 0,
                     std::string* out = nullptr) {
    return RunProgram(QVM_QVMCTL_BINARY, folder, std::move(args), crashAt, out);
}

std::optional<std::vector<uint8_t>> FileBytes(const std::string& path) {
    auto bytes = ReadFileIfExists(path);
    return bytes ? *bytes : std::nullopt;
}

// The regular files ending in ".mf" below folder.
std::vector<std::string> MacroFilesBelow(const std::string& folder) {
    std::vector<std::string> found;
    std::error_code ec;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(folder, ec)) {
        if (entry.is_regular_file() && entry.path().extension() == ".mf") {
            found.push_back(entry.path().string());
        }
    }
    return found;
}

std::string AutostartEntry(const std::string& home) {
    return home + "/.config/autostart/qvm-gaming.desktop";
}

constexpr const char* kFirstMacro = "key-down A\nwait 50\nkey-up A\n";
constexpr const char* kSecondMacro =
    "key-down B\nwait 20\nkey-up B\nwait 20\nkey-down C\nkey-up C\n";

struct CrashCase {
    const char* name;
    const char* program;
    // Text files put in the user folder first; then the runs made normally, in a fresh
    // user folder; then the run that is killed.
    std::vector<std::pair<std::string, std::string>> files;
    std::vector<std::vector<std::string>> before;
    std::vector<std::string> run;
    // What must hold after the kill, and after the run that was not killed: an empty text
    // when it holds, else what is wrong.
    std::function<std::string(const std::string& folder, bool completed)> check;
};

TEST(KilledWhileWriting, EveryFileIsAsItWasOrComplete) {
    const std::string qvmctl = QVM_QVMCTL_BINARY;  // a file any binding may name
    const std::string writer = QVM_AUTOSTART_WRITER_BINARY;
    // What a complete backup holds: the same simulated mouse, saved without a kill.
    test::TempFolder reference;
    ASSERT_EQ(RunQvmctlProgram(reference.path(),
                               {"--simulate=g12", "backup", reference.path() + "/ref.bf"}),
              0);
    const std::optional<std::vector<uint8_t>> completeBackup =
        FileBytes(reference.path() + "/ref.bf");
    ASSERT_TRUE(completeBackup && !completeBackup->empty());
    // The autostart entry of each program, written without a kill.
    std::optional<std::vector<uint8_t>> entries[2];
    for (int i = 0; i < 2; ++i) {
        test::TempFolder home;
        ASSERT_EQ(RunProgram(writer, home.path(), {"on", i == 0 ? "/old/program" : "/new/program"}),
                  0);
        entries[i] = FileBytes(AutostartEntry(home.path()));
        ASSERT_TRUE(entries[i] && !entries[i]->empty());
    }
    ASSERT_NE(entries[0], entries[1]);

    const std::vector<CrashCase> cases = {
        {"set.ini: a second binding",
         QVM_QVMCTL_BINARY,
         {},
         {{"app", "bind", "2", qvmctl}},
         {"app", "bind", "1", qvmctl},
         [&](const std::string& folder, bool completed) -> std::string {
             const LoadedSettings read = ReadSettings(folder + "/set.ini");
             if (!read.warning.empty()) return "set.ini is damaged: " + read.warning;
             if (read.settings.apps[1].path != qvmctl) return "the first binding was lost";
             const std::string& added = read.settings.apps[0].path;
             if (added != qvmctl && (completed || !added.empty())) return "the new binding is cut";
             return {};
         }},
        {"a backup file",
         QVM_QVMCTL_BINARY,
         {},
         {{"--simulate=g12", "show"}},
         {"--simulate=g12", "backup", "@/mouse.bf"},
         [&](const std::string& folder, bool completed) -> std::string {
             const auto bytes = FileBytes(folder + "/mouse.bf");
             if (!bytes) return completed ? "no backup was written" : "";
             return *bytes == *completeBackup ? "" : "the backup is incomplete";
         }},
        {"the simulated mouse's memory",
         QVM_QVMCTL_BINARY,
         {},
         {{"--simulate=g12", "show"}},
         {"--simulate=g12", "set", "dpi", "2", "1200"},
         [&](const std::string& folder, bool completed) -> std::string {
             std::string shown;
             if (RunQvmctlProgram(folder, {"--simulate=g12", "show"}, 0, &shown) != 0) {
                 return "the memory no longer loads";
             }
             for (const auto& entry : std::filesystem::recursive_directory_iterator(folder)) {
                 if (entry.path().string().find(".rejected") != std::string::npos) {
                     return "the state file was set aside as damaged";
                 }
             }
             const bool now = shown.find("2: 1200 x 1200") != std::string::npos;
             const bool was = shown.find("2: 1600 x 1600") != std::string::npos;
             if (completed ? !now : !(now || was)) return "stage 2 is neither old nor new";
             return {};
         }},
        {"a macro file saved over an older one",
         QVM_QVMCTL_BINARY,
         {{"first.txt", kFirstMacro}, {"second.txt", kSecondMacro}},
         {{"--simulate=g12", "macro", "store", "1", "@/first.txt", "--name", "First"},
          {"--simulate=g12", "macro", "read", "1", "@/saved.mf"},
          {"--simulate=g12", "macro", "store", "1", "@/second.txt", "--name", "Second"}},
         {"--simulate=g12", "macro", "read", "1", "@/saved.mf"},
         [&](const std::string& folder, bool completed) -> std::string {
             auto file = ReadMacroFile(folder + "/saved.mf");
             if (!file) return "the macro file is damaged: " + file.message();
             const bool first = file->name == "First" && file->items.size() == 3;
             const bool second = file->name == "Second" && file->items.size() == 6;
             if (completed ? !second : !(first || second)) return "neither old nor new macro";
             return {};
         }},
        {"a macro imported into the library",
         QVM_QVMCTL_BINARY,
         {{"first.txt", kFirstMacro}},
         {{"--simulate=g12", "macro", "store", "1", "@/first.txt", "--name", "First"},
          {"--simulate=g12", "macro", "read", "1", "@/source.mf"},
          {"library", "list"}},
         {"library", "import", "@/source.mf"},
         [&](const std::string& folder, bool completed) -> std::string {
             const auto source = FileBytes(folder + "/source.mf");
             const std::vector<std::string> placed = MacroFilesBelow(folder + "/Favorite");
             if (placed.size() > 1) return "the macro was placed twice";
             if (placed.empty()) return completed ? "the macro was not placed" : "";
             return FileBytes(placed[0]) == source ? "" : "the placed macro is incomplete";
         }},
        {"the autostart entry",
         QVM_AUTOSTART_WRITER_BINARY,
         {},
         {{"on", "/old/program"}},
         {"on", "/new/program"},
         [&](const std::string& folder, bool completed) -> std::string {
             const auto bytes = FileBytes(AutostartEntry(folder));
             if (bytes == entries[1]) return {};
             return !completed && bytes == entries[0] ? "" : "the entry is neither old nor new";
         }},
    };
    for (const CrashCase& c : cases) {
        SCOPED_TRACE(c.name);
        long crashAt = 1;
        int leftTemporary = 0;  // killed runs that left a temporary file behind
        for (; crashAt <= kMaxSteps; ++crashAt) {
            test::TempFolder folder;
            for (const auto& [name, text] : c.files) folder.Write(name, text);
            for (const auto& args : c.before) {
                ASSERT_EQ(RunProgram(c.program, folder.path(), args), 0);
            }
            const int status = RunProgram(c.program, folder.path(), c.run, crashAt);
            ASSERT_TRUE(status == kCrashedStatus || status == 0)
                << "step " << crashAt << ": exit status " << status;
            const std::string wrong = c.check(folder.path(), status == 0);
            EXPECT_EQ(wrong, "") << "killed before step " << crashAt;
            if (status == 0) {
                EXPECT_EQ(TemporaryFiles(folder.path()), std::vector<std::string>());
                break;
            }
            // The same write again, not killed, takes away what the killed one left.
            if (!TemporaryFiles(folder.path()).empty()) ++leftTemporary;
            ASSERT_EQ(RunProgram(c.program, folder.path(), c.run), 0)
                << "after a kill before step " << crashAt;
            EXPECT_EQ(TemporaryFiles(folder.path()), std::vector<std::string>())
                << "after a kill before step " << crashAt;
        }
        // Killed at least once, and it ended by itself once there was no step left to die at.
        EXPECT_GT(crashAt, 1);
        EXPECT_LE(crashAt, kMaxSteps);
        // Some kill came between making a temporary file and renaming it.
        EXPECT_GT(leftTemporary, 0);
    }
}

}  // namespace
}  // namespace qvm::cli
