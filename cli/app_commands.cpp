// qvmctl commands for the programs bound to profiles: when a bound program's window comes
// to the foreground, the running desktop program makes its profile the current one. The
// bindings live in set.ini; these commands change only their keys.
#include <ostream>

#include "cli/commands.h"
#include "cli/parse.h"
#include "cli/qvmctl.h"
#include "session/app_binding.h"
#include "session/settings.h"

namespace qvm::cli {
namespace {

constexpr long long kFirstProfile = 1;
constexpr long long kLastProfile = static_cast<long long>(kStoredAppSlots);

// The profile argument as a slot index.
Result<std::size_t> ParseSlot(const std::string& text) {
    auto profile = ParseNumber(text, kFirstProfile, kLastProfile, "profile");
    if (!profile) return profile.error();
    return static_cast<std::size_t>(*profile - kFirstProfile);
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
    const auto made = MakeAppSlot(c.args[1], c.Value("--name"));
    if (!made) return Fail(c.err, ExitStatusOf(made.kind()), made.message());
    UserSettings settings = ReadBindings(c);
    settings.apps[*slot] = *made;
    if (const int status = SaveBindings(c, settings); status != kExitOk) return status;
    c.out << "profile " << (*slot + kFirstProfile) << ": " << Shown(made->path) << "  \""
          << Shown(made->name) << "\"\n";
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
