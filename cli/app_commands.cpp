// qvmctl commands for the programs bound to profiles: when a bound program's window comes
// to the foreground, the running desktop program makes its profile the current one. The
// bindings live in set.ini; these commands change only their keys.
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <ostream>

#include "cli/commands.h"
#include "cli/parse.h"
#include "cli/qvmctl.h"
#include "session/settings.h"

namespace qvm::cli {
namespace {

namespace fs = std::filesystem;

constexpr long long kFirstProfile = 1;
constexpr long long kLastProfile = static_cast<long long>(kStoredAppSlots);

// The profile argument as a slot index.
Result<std::size_t> ParseSlot(const std::string& text) {
    auto profile = ParseNumber(text, kFirstProfile, kLastProfile, "profile");
    if (!profile) return profile.error();
    return static_cast<std::size_t>(*profile - kFirstProfile);
}

// set.ini keeps one value a line.
bool HasLineBreak(std::string_view text) {
    return text.find_first_of("\r\n") != text.npos;
}

// The bindings as set.ini holds them. What could not be read is told; a file that
// cannot be read at all is then refused by the save, not replaced.
UserSettings ReadBindings(CommandContext& c) {
    const std::string path = SettingsFilePath();
    LoadedSettings loaded = ReadSettings(path);
    if (!loaded.warning.empty()) c.err << "qvmctl: " << Shown(loaded.warning) << '\n';
    return loaded.settings;
}

int SaveBindings(CommandContext& c, const UserSettings& settings) {
    if (Status saved = SaveAppSlots(SettingsFilePath(), settings.apps); !saved) {
        return Fail(c.err, ExitStatusOf(saved.kind()), saved.message());
    }
    return kExitOk;
}

// The executable a binding stores: the file the kernel names for the running program,
// links resolved, so that the name it runs under is the one matched.
Result<std::string> BindablePath(const std::string& given) {
    std::error_code error;
    const fs::path resolved = fs::canonical(given, error);
    if (error) return MakeError(ErrorKind::BadInput, given + ": " + error.message());
    struct stat info {};
    if (::stat(resolved.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) {
        return MakeError(ErrorKind::BadInput, given + " is not a file");
    }
    if (::access(resolved.c_str(), X_OK) != 0) {
        return MakeError(ErrorKind::BadInput, given + " is not executable");
    }
    if (HasLineBreak(resolved.string())) {
        return MakeError(ErrorKind::BadInput, given + ": a path with a line break cannot be kept");
    }
    return resolved.string();
}

int RunAppList(CommandContext& c) {
    const UserSettings settings = ReadBindings(c);
    for (std::size_t i = 0; i < kStoredAppSlots; ++i) {
        const AppSlot& slot = settings.apps[i];
        c.out << (i + kFirstProfile) << "  ";
        if (slot.path.empty()) {
            c.out << "-\n";
        } else {
            c.out << Shown(slot.path) << "  \"" << Shown(slot.name) << "\"\n";
        }
    }
    return kExitOk;
}

int RunAppBind(CommandContext& c) {
    const auto slot = ParseSlot(c.args[0]);
    if (!slot) return Fail(c.err, kExitUsage, slot.message());
    const auto path = BindablePath(c.args[1]);
    if (!path) return Fail(c.err, ExitStatusOf(path.kind()), path.message());
    // The name comes from the path as given: desktop entries name the link, not its target.
    std::error_code error;
    const fs::path given = fs::absolute(c.args[1], error);
    const std::string name =
        c.Value("--name").value_or(GetAppDisplayName(error ? *path : given.string()));
    if (name.empty()) return Fail(c.err, kExitUsage, "the name is empty");
    if (HasLineBreak(name)) return Fail(c.err, kExitUsage, "the name holds a line break");
    UserSettings settings = ReadBindings(c);
    settings.apps[*slot] = {*path, name};
    if (const int status = SaveBindings(c, settings); status != kExitOk) return status;
    c.out << "profile " << (*slot + kFirstProfile) << ": " << Shown(*path) << "  \"" << Shown(name)
          << "\"\n";
    return kExitOk;
}

int RunAppUnbind(CommandContext& c) {
    const auto slot = ParseSlot(c.args[0]);
    if (!slot) return Fail(c.err, kExitUsage, slot.message());
    UserSettings settings = ReadBindings(c);
    if (settings.apps[*slot].path.empty()) {
        c.out << "profile " << (*slot + kFirstProfile) << " has no program bound\n";
        return kExitOk;
    }
    settings.apps[*slot] = {};
    if (const int status = SaveBindings(c, settings); status != kExitOk) return status;
    c.out << "profile " << (*slot + kFirstProfile) << ": no program bound now\n";
    return kExitOk;
}

}  // namespace

void AddAppCommands(std::vector<CommandSpec>& commands) {
    const std::vector<CommandSpec> added = {
        {"app list", "", "list the programs bound to profiles",
         "Prints the five profiles, each with the executable bound to it and the name shown\n"
         "for it, or '-' when none is. When a bound program's window comes to the foreground,\n"
         "the running desktop program makes its profile the current one.\n",
         0, 0, RunAppList},
        {"app bind",
         "PROFILE PATH [--name NAME]",
         "bind a program to a profile",
         "Binds the executable PATH to PROFILE (1 to 5), replacing the program bound to it.\n"
         "Links are resolved: the file stored is the one that runs. The name shown defaults\n"
         "to the Name of the program's desktop entry, else its file name.\n",
         2,
         2,
         RunAppBind,
         {},
         {"--name"}},
        {"app unbind", "PROFILE", "remove the program bound to a profile",
         "Removes the program bound to PROFILE (1 to 5).\n", 1, 1, RunAppUnbind},
    };
    commands.insert(commands.end(), added.begin(), added.end());
}

}  // namespace qvm::cli
