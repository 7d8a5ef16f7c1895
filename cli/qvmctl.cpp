#include "cli/qvmctl.h"

#include <algorithm>
#include <cstdlib>
#include <map>
#include <ostream>
#include <set>
#include <sstream>

#include "cli/commands.h"
#include "cli/parse.h"

namespace qvm::cli {
namespace {

constexpr const char* kOverview =
    "usage: qvmctl [--hid BACKEND | --simulate[=DEVICES]] [--device PATH] [--generation G]\n"
    "              COMMAND [ARGS...]\n"
    "\n"
    "Configures QVM gaming mice, pads and keyboards (USB vendor 0c45).\n"
    "\n"
    "options:\n"
    "  --hid BACKEND        linux (default), sim[:DEVICES] or exec:COMMAND; also $QVM_HID\n"
    "  --simulate[=DEVICES] simulated devices whose memory is kept in the user data folder\n"
    "  --device PATH        the interface to work on (see 'qvmctl list'); default: the first\n"
    "                       configuration interface\n"
    "  --generation G       the device's protocol generation, when it cannot be read\n"
    "  --help, --version\n"
    "\n"
    "commands:\n";

constexpr int kMaxGeneration = 255;

std::string Usage(const CommandSpec& spec) {
    std::string text = std::string("qvmctl [options] ") + spec.words;
    if (*spec.usage) text += std::string(" ") + spec.usage;
    return text;
}

std::string Overview() {
    std::ostringstream text;
    text << kOverview;
    for (const auto& spec : Commands()) {
        std::string head = std::string(spec.words) + (*spec.usage ? " " : "") + spec.usage;
        head.resize(std::max<std::size_t>(head.size() + 1, 21), ' ');
        text << "  " << head << spec.summary << '\n';
    }
    text << "\n'qvmctl COMMAND --help' explains a command.\n";
    return text.str();
}

// Matches the longest command whose words start args at `pos`.
const CommandSpec* FindCommand(const std::vector<std::string>& args, std::size_t pos,
                               std::size_t& wordCount) {
    const CommandSpec* best = nullptr;
    for (const auto& spec : Commands()) {
        std::istringstream words(spec.words);
        std::string word;
        std::size_t n = 0;
        bool match = true;
        while (words >> word) {
            if (pos + n >= args.size() || args[pos + n] != word) {
                match = false;
                break;
            }
            ++n;
        }
        if (match && (!best || n > wordCount)) {
            best = &spec;
            wordCount = n;
        }
    }
    return best;
}

// Takes the value of an option given as "--name VALUE" or "--name=VALUE".
bool TakeValue(const std::vector<std::string>& args, std::size_t& i, const std::string& name,
               std::string& value, std::string& error) {
    const std::string& arg = args[i];
    if (arg.size() > name.size() && arg[name.size()] == '=') {
        value = arg.substr(name.size() + 1);
        return true;
    }
    if (i + 1 >= args.size()) {
        error = name + " needs a value";
        return false;
    }
    value = args[++i];
    return true;
}

bool IsOption(const std::string& arg, const std::string& name) {
    return arg == name || arg.rfind(name + "=", 0) == 0;
}

}  // namespace

int RunQvmctl(const std::vector<std::string>& args, std::istream& in, std::ostream& out,
              std::ostream& err) {
    return RunQvmctl(args, in, out, err, nullptr);
}

int RunQvmctl(const std::vector<std::string>& args, std::istream& in, std::ostream& out,
              std::ostream& err, BackendSource backend) {
    GlobalOptions options;
    options.backendSource = std::move(backend);
    if (const char* env = std::getenv("QVM_HID"); env && *env) options.backend = env;
    bool hidGiven = false;

    std::size_t i = 0;
    for (; i < args.size() && args[i].rfind("--", 0) == 0; ++i) {
        const std::string& arg = args[i];
        std::string value, error;
        if (arg == "--help") {
            out << Overview();
            return kExitOk;
        } else if (arg == "--version") {
            out << "qvmctl " << QVM_VERSION << '\n';
            return kExitOk;
        } else if (IsOption(arg, "--hid")) {
            if (!TakeValue(args, i, "--hid", value, error)) return Fail(err, kExitUsage, error);
            options.backend = value;
            hidGiven = true;
        } else if (arg == "--simulate") {
            options.simulate = "";
        } else if (arg.rfind("--simulate=", 0) == 0) {
            options.simulate = arg.substr(11);
        } else if (IsOption(arg, "--device")) {
            if (!TakeValue(args, i, "--device", value, error)) return Fail(err, kExitUsage, error);
            options.device = value;
        } else if (IsOption(arg, "--generation")) {
            if (!TakeValue(args, i, "--generation", value, error)) {
                return Fail(err, kExitUsage, error);
            }
            auto g = ParseNumber(value, 0, kMaxGeneration, "generation");
            if (!g) return Fail(err, kExitUsage, g.message());
            options.generation = static_cast<int>(*g);
        } else {
            return Fail(err, kExitUsage, "unknown option " + arg + " (see qvmctl --help)");
        }
    }
    if (hidGiven && options.simulate) {
        return Fail(err, kExitUsage, "--hid and --simulate cannot be used together");
    }
    if (options.backend.empty()) options.backend = "linux";

    if (i >= args.size()) {
        err << Overview();
        return kExitUsage;
    }
    std::size_t wordCount = 0;
    const CommandSpec* spec = FindCommand(args, i, wordCount);
    if (!spec) {
        return Fail(err, kExitUsage, "unknown command '" + args[i] + "' (see qvmctl --help)");
    }
    std::vector<std::string> rest;
    std::set<std::string> flags;
    std::map<std::string, std::string> values;
    for (std::size_t k = i + wordCount; k < args.size(); ++k) {
        const auto it = args.begin() + static_cast<long>(k);
        if (*it == "--help") {
            out << "usage: " << Usage(*spec) << "\n\n" << spec->help;
            return kExitOk;
        }
        const bool isFlag = it->size() > 2 && it->rfind("--", 0) == 0;
        const auto valued =
            std::find_if(spec->valueOptions.begin(), spec->valueOptions.end(),
                         [&](const std::string& name) { return IsOption(*it, name); });
        if (isFlag && valued != spec->valueOptions.end()) {
            std::string value, error;
            if (!TakeValue(args, k, *valued, value, error)) return Fail(err, kExitUsage, error);
            if (!values.emplace(*valued, value).second) {
                return Fail(err, kExitUsage, *valued + " is given twice");
            }
        } else if (isFlag) {
            if (std::find(spec->flags.begin(), spec->flags.end(), *it) == spec->flags.end()) {
                return Fail(err, kExitUsage,
                            "unknown option " + *it + " for " + spec->words +
                                " (usage: " + Usage(*spec) + ")");
            }
            flags.insert(*it);
        } else {
            rest.push_back(*it);
        }
    }
    if (static_cast<int>(rest.size()) < spec->minArgs ||
        static_cast<int>(rest.size()) > spec->maxArgs) {
        return Fail(err, kExitUsage, "usage: " + Usage(*spec));
    }
    // The simulated devices tell at once of a damaged state file they set aside. A write
    // they could not keep fails the command that made it, whose message gives the reason;
    // should a command still end well, the lost write is told and fails the run.
    std::vector<std::string> lostWrites;
    options.simulatorNotes = [&err, &lostWrites](const SimStateNote& note) {
        if (note.lost) {
            lostWrites.push_back(note.message);
        } else {
            err << "qvmctl: " << note.message << '\n';
        }
    };
    CommandContext context{options, rest, flags, in, out, err, values};
    const int status = spec->run(context);
    if (lostWrites.empty() || status != kExitOk) return status;
    for (const std::string& lost : lostWrites) err << "qvmctl: " << lost << '\n';
    return kExitDevice;
}

}  // namespace qvm::cli
