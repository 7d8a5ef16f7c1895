#include "cli/qvmctl.h"

#include <algorithm>
#include <cstdlib>
#include <map>
#include <optional>
#include <ostream>
#include <set>
#include <sstream>

#include "base/text.h"
#include "cli/commands.h"
#include "cli/parse.h"

namespace qvm::cli {
namespace {

constexpr const char* kOverviewHead =
    "usage: qvmctl [--hid BACKEND | --simulate[=DEVICES]] [--device DEVICE]\n"
    "              [--generation G] [--trace FILE] [--accept-unsaved] COMMAND [ARGS...]\n"
    "\n"
    "Configures QVM gaming mice, pads and keyboards (USB vendor 0c45).\n"
    "\n"
    "options:\n";

// The options before the command: each line after the first continues the text.
struct OptionHelp {
    const char* head;
    const char* text;
};
constexpr OptionHelp kOptions[] = {
    {"--hid BACKEND", "linux (default), sim[:DEVICES] or\nexec:COMMAND; also $QVM_HID"},
    {"--simulate[=DEVICES]", "simulated devices whose memory is kept in the\nuser data folder"},
    {"--device DEVICE",
     "the device to work on: the number or the path\n'qvmctl list' prints, or a model name;\n"
     "default: the first configuration interface"},
    {"--generation G", "the device's protocol generation, when it\ncannot be read"},
    {"--trace FILE",
     "append every exchange with the devices to\nFILE (for bug reports); also $QVM_TRACE"},
    {"--accept-unsaved",
     "write into a mouse even when its memory could\nnot be saved first (before the first change\n"
     "of a mouse, its memory is saved to\n<user data>/backups; 'restore --first' puts\nit back)"},
    {"--help, --version", ""},
};

// The column where the texts beside option and command heads start; a longer head takes
// a line of its own.
constexpr std::size_t kTextColumn = 34;
constexpr std::size_t kIndent = 2;
constexpr int kMaxGeneration = 255;

// "  HEAD    TEXT", the text (and each of its further lines) starting at kTextColumn.
std::string HelpRow(const std::string& head, const std::string& text) {
    std::string row = std::string(kIndent, ' ') + head;
    if (text.empty()) return row + '\n';
    if (row.size() + 1 > kTextColumn) row += '\n' + std::string(kTextColumn, ' ');
    row.resize(std::max(row.size(), kTextColumn), ' ');
    for (const char ch : text) {
        row += ch;
        if (ch == '\n') row += std::string(kTextColumn, ' ');
    }
    return row + '\n';
}

std::string Usage(const CommandSpec& spec) {
    std::string text = std::string("qvmctl [options] ") + spec.words;
    if (*spec.usage) text += std::string(" ") + spec.usage;
    return text;
}

std::string CommandRow(const CommandSpec& spec) {
    return HelpRow(std::string(spec.words) + (*spec.usage ? " " : "") + spec.usage, spec.summary);
}

std::string Overview() {
    std::ostringstream text;
    text << kOverviewHead;
    for (const OptionHelp& option : kOptions) text << HelpRow(option.head, option.text);
    text << "\ncommands:\n";
    for (const auto& spec : Commands()) text << CommandRow(spec);
    text << "\n'qvmctl COMMAND --help' explains a command.\n";
    return text.str();
}

std::string FirstWord(const char* words) {
    const std::string all(words);
    return all.substr(0, all.find(' '));
}

// Whether `word` starts commands of several words ("set", "mem", ...).
bool IsCommandGroup(const std::string& word) {
    return std::any_of(Commands().begin(), Commands().end(), [&](const CommandSpec& spec) {
        return std::string(spec.words).find(' ') != std::string::npos &&
               FirstWord(spec.words) == word;
    });
}

// The commands that start with `group`, for "qvmctl set" alone.
std::string GroupOverview(const std::string& group) {
    std::ostringstream text;
    text << "usage: qvmctl [options] " << group << " SUBCOMMAND [ARGS...]\n\nsubcommands:\n";
    for (const auto& spec : Commands()) {
        if (FirstWord(spec.words) == group) text << CommandRow(spec);
    }
    text << "\n'qvmctl " << group << " SUBCOMMAND --help' explains a subcommand.\n";
    return text.str();
}

// Edits (insertions, deletions, changes, swaps of neighbours) between two words.
std::size_t Distance(const std::string& a, const std::string& b) {
    std::vector<std::vector<std::size_t>> d(a.size() + 1, std::vector<std::size_t>(b.size() + 1));
    for (std::size_t i = 0; i <= a.size(); ++i) d[i][0] = i;
    for (std::size_t j = 0; j <= b.size(); ++j) d[0][j] = j;
    for (std::size_t i = 1; i <= a.size(); ++i) {
        for (std::size_t j = 1; j <= b.size(); ++j) {
            d[i][j] = std::min({d[i - 1][j] + 1, d[i][j - 1] + 1,
                                d[i - 1][j - 1] + (a[i - 1] == b[j - 1] ? 0 : 1)});
            if (i > 1 && j > 1 && a[i - 1] == b[j - 2] && a[i - 2] == b[j - 1]) {
                d[i][j] = std::min(d[i][j], d[i - 2][j - 2] + 1);
            }
        }
    }
    return d[a.size()][b.size()];
}

// The word of `words` nearest `typed`, when it is near enough to be a typo of it.
std::optional<std::string> Nearest(const std::string& typed,
                                   const std::vector<std::string>& words) {
    const std::size_t allowed = typed.size() <= 4 ? 1 : 2;
    std::optional<std::string> best;
    std::size_t bestDistance = allowed + 1;
    for (const std::string& word : words) {
        const std::size_t d = Distance(typed, word);
        if (d < bestDistance) {
            best = word;
            bestDistance = d;
        }
    }
    return best;
}

// "unknown command 'X'", with the nearest command when X looks like a typo of one.
std::string UnknownCommand(const std::vector<std::string>& args, std::size_t pos) {
    const bool inGroup = IsCommandGroup(args[pos]) && pos + 1 < args.size();
    const std::string typed = inGroup ? args[pos + 1] : args[pos];
    std::vector<std::string> words;
    for (const auto& spec : Commands()) {
        const std::string first = FirstWord(spec.words);
        if (!inGroup) {
            words.push_back(first);
        } else if (first == args[pos]) {
            words.push_back(std::string(spec.words).substr(first.size() + 1));
            words.back() = words.back().substr(0, words.back().find(' '));
        }
    }
    const std::string shown = inGroup ? args[pos] + " " + typed : typed;
    std::string message = "unknown command '" + shown + "'";
    if (auto near = Nearest(typed, words)) {
        message += "; did you mean '" + (inGroup ? args[pos] + " " : std::string()) + *near + "'?";
    }
    return message + (inGroup ? " (see qvmctl " + args[pos] + " --help)" : " (see qvmctl --help)");
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

// Pulses the running desktop program's reload event; nothing when none runs.
void WakeRunningProgram(EventFactory& events) {
    auto sender = events.Open(std::string(kReloadEventName));
    if (!sender) return;
    // A pulse that cannot be sent only leaves the window to reload by itself later.
    [[maybe_unused]] const Status sent = (*sender)->Pulse();
}

}  // namespace

int RunQvmctl(const std::vector<std::string>& args, std::istream& in, std::ostream& out,
              std::ostream& err) {
    return RunQvmctl(args, in, out, err, nullptr);
}

int RunQvmctl(const std::vector<std::string>& args, std::istream& in, std::ostream& out,
              std::ostream& err, BackendSource backend) {
    QvmctlEnv env;
    env.backend = std::move(backend);
    return RunQvmctl(args, in, out, err, std::move(env));
}

int RunQvmctl(const std::vector<std::string>& args, std::istream& in, std::ostream& out,
              std::ostream& err, QvmctlEnv env) {
    GlobalOptions options;
    options.backendSource = std::move(env.backend);
    if (const char* env = std::getenv("QVM_HID"); env && *env) options.backend = env;
    std::string traceFile;
    if (const char* env = std::getenv("QVM_TRACE"); env && *env) traceFile = env;
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
        } else if (IsOption(arg, "--trace")) {
            if (!TakeValue(args, i, "--trace", value, error)) return Fail(err, kExitUsage, error);
            if (value.empty()) return Fail(err, kExitUsage, "--trace needs a file");
            traceFile = value;
        } else if (arg == "--accept-unsaved") {
            options.acceptUnsaved = true;
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
    if (!spec && IsCommandGroup(args[i])) {
        // "qvmctl set" alone or with --help lists the subcommands.
        if (i + 1 < args.size() && args[i + 1] == "--help") {
            out << GroupOverview(args[i]);
            return kExitOk;
        }
        if (i + 1 >= args.size()) {
            err << GroupOverview(args[i]);
            return kExitUsage;
        }
    }
    if (!spec) return Fail(err, kExitUsage, UnknownCommand(args, i));
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
    options.firstBackupSaved = [&err](const std::string&, const std::string& file) {
        err << "qvmctl: before its first change, the mouse's memory was saved to "
            << EscapeForTerminal(file, KeepLineBreaks::kNo)
            << " ('qvmctl restore --first' puts it back)\n";
    };
    bool unsavedRefused = false;
    options.firstBackupMissing = [&err, &unsavedRefused](const std::string&, const std::string& why,
                                                         bool wrote) {
        if (!wrote) {
            unsavedRefused = true;  // the command says why; the way on follows it
            return;
        }
        err << "qvmctl: warning: writing without a first backup, as --accept-unsaved asks: "
            << EscapeForTerminal(why, KeepLineBreaks::kNo) << '\n';
    };
    if (!traceFile.empty()) {
        // Told once, when the file cannot be opened or written; the command goes on.
        options.trace =
            std::make_shared<TraceLog>(traceFile, "qvmctl", [&err](const std::string& message) {
                err << "qvmctl: " << EscapeForTerminal(message, KeepLineBreaks::kYes) << '\n';
            });
    }
    CommandContext context{options, rest, flags, in, out, err, values};
    const int status = spec->run(context);
    if (unsavedRefused) {
        err << "qvmctl: 'qvmctl --accept-unsaved ...' writes into the mouse without a first "
               "backup\n";
    }
    // A refused command changed nothing; any other run of a changing command (a device
    // failure too may leave part of a change behind) wakes the running program.
    if (spec->changes && status != kExitUsage) WakeRunningProgram(*env.events);
    if (lostWrites.empty() || status != kExitOk) return status;
    for (const std::string& lost : lostWrites) err << "qvmctl: " << lost << '\n';
    return kExitDevice;
}

}  // namespace qvm::cli
