// The qvmctl commands. Each takes its own arguments (after the command words and with
// its flags taken out) and writes results to `out`, errors to `err`; it returns an exit
// status of qvmctl.h.
#pragma once

#include <iosfwd>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "base/result.h"
#include "cli/session.h"

namespace qvm::cli {

struct CommandContext {
    const GlobalOptions& options;
    const std::vector<std::string>& args;
    const std::set<std::string>& flags;  // the flags given, e.g. "--json"
    std::istream& in;
    std::ostream& out;
    std::ostream& err;
    // Options given with a value ("--name NAME" or "--name=NAME"), by option name.
    const std::map<std::string, std::string>& values;

    bool Flag(const char* name) const { return flags.count(name) != 0; }
    std::optional<std::string> Value(const char* name) const {
        const auto it = values.find(name);
        if (it == values.end()) return std::nullopt;
        return it->second;
    }
};

struct CommandSpec {
    const char* words;    // "list", "mem read", ...
    const char* usage;    // arguments after the words
    const char* summary;  // one line for the overview
    const char* help;     // the rest of COMMAND --help
    int minArgs;
    int maxArgs;
    int (*run)(CommandContext&);
    std::vector<std::string> flags = {};         // flags the command takes
    std::vector<std::string> valueOptions = {};  // options that take a value
    // The command may change the device or the libraries: the running desktop program
    // is told to reload afterwards.
    bool changes = false;
};

// Every command, in the order the overview lists them.
const std::vector<CommandSpec>& Commands();
// The commands that read and change the configuration image.
void AddConfigCommands(std::vector<CommandSpec>& commands);
// The macro commands: device macro slots, the macro library and the function library.
void AddMacroCommands(std::vector<CommandSpec>& commands);
// The lighting commands: `light ...` for mice, `kbd ...` for keyboards.
void AddLightCommands(std::vector<CommandSpec>& commands);
void AddKeyboardCommands(std::vector<CommandSpec>& commands);
// The programs bound to profiles: `app list|bind|unbind`.
void AddAppCommands(std::vector<CommandSpec>& commands);
// The exchange traces: `trace show|replay`.
void AddTraceCommands(std::vector<CommandSpec>& commands);

// A session with the chosen device picked, nothing read from it yet.
struct Target {
    std::unique_ptr<Session> session;
    std::string path;
    int generation = 0;
};
// Opens the session and picks the device; on failure prints why, sets `status` (2 for a
// backend that cannot be opened, the failure's status otherwise) and gives nothing.
std::optional<Target> OpenTarget(CommandContext& c, int& status);

// A session with the chosen device's configuration loaded.
struct LoadedDevice {
    std::unique_ptr<Session> session;
    ConfigModel* model = nullptr;
    std::shared_ptr<const ConfigImage> image;  // as loaded
};
// Opens the session and loads the configuration; on failure prints why, sets `status`
// (2 for a backend that cannot be opened, 1 for a device failure) and gives nothing.
// A device whose memory holds no configuration is such a failure, unless
// `allowUninitialised`: then the device comes with an image that is not loaded (for the
// commands that write the whole memory).
std::optional<LoadedDevice> LoadDevice(CommandContext& c, int& status,
                                       bool allowUninitialised = false);

// Prints "qvmctl: MESSAGE" and returns `status`. Messages carry names, paths and file
// contents from outside: their control characters are printed escaped (line breaks
// stay, for messages laid out in lines).
int Fail(std::ostream& err, int status, const std::string& message);

// The exit status for a failure of that kind: bad input or arguments 2, anything else
// (the device, a file that cannot be read or written, a full disk) 1.
int ExitStatusOf(ErrorKind kind);

// Outside text made safe for the terminal (see EscapeForTerminal).
std::string Shown(std::string_view text);

// Asks `question` on `err` and reads the answer from `in`; true for y or yes. With
// `assumeYes` it asks nothing.
bool Confirm(CommandContext& c, const std::string& question, bool assumeYes);

}  // namespace qvm::cli
