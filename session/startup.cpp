#include "session/startup.h"

#include <chrono>
#include <random>
#include <utility>

#include "platform/folders.h"

namespace qvm {
namespace {

constexpr std::string_view kLongOptionPrefix = "--";
constexpr std::string_view kSimulateOption = "--simulate";
constexpr std::string_view kHidOption = "--hid";
constexpr std::string_view kTraceOption = "--trace";
constexpr std::string_view kRemoteOption = "--remote";
constexpr std::string_view kHelpOption = "--help";
constexpr std::string_view kVersionOption = "--version";

constexpr std::string_view kFavoriteFolderName = "Favorite";
constexpr std::string_view kLanguageFileName = "language.ini";
// The reload waiter pauses this long after each reload before it waits again.
constexpr int kReloadPauseMs = 2;

// Splits "--name=value" into its name and, when there is an '=', its value.
std::pair<std::string_view, std::optional<std::string>> SplitOption(std::string_view arg) {
    const std::size_t equals = arg.find('=');
    if (equals == std::string_view::npos) return {arg, std::nullopt};
    return {arg.substr(0, equals), std::string(arg.substr(equals + 1))};
}

// Handles one "--" option; `i` moves past a value taken from the next argument.
// Returns the error text, empty when the option was understood.
std::string ParseLongOption(const std::vector<std::string>& args, std::size_t& i,
                            StartupOptions& options) {
    const auto [name, value] = SplitOption(args[i]);
    if (name == kSimulateOption) {
        options.simulate = value.value_or("");
        return {};
    }
    if (name == kHidOption || name == kTraceOption) {
        std::optional<std::string>& target =
            name == kHidOption ? options.hidBackend : options.traceFile;
        if (value) {
            target = *value;
        } else if (i + 1 < args.size()) {
            target = args[++i];
        }
        if (!target || target->empty()) {
            target.reset();
            return name == kHidOption
                       ? "--hid needs a backend (linux, sim[:DEVICES] or exec:COMMAND)"
                       : "--trace needs a file";
        }
        return {};
    }
    const bool flag = name == kRemoteOption || name == kHelpOption || name == kVersionOption;
    if (flag && value) return "option " + std::string(name) + " takes no value";
    if (name == kRemoteOption) {
        options.remote = true;
    } else if (name == kHelpOption) {
        options.help = true;
    } else if (name == kVersionOption) {
        options.version = true;
    } else {
        return "unknown option " + std::string(name) + " (see --help)";
    }
    return {};
}

std::uint32_t TimeSeededRandom() {
    const auto now = std::chrono::system_clock::now().time_since_epoch().count();
    std::mt19937 generator(static_cast<std::mt19937::result_type>(now));
    return generator();
}

// Writes "/langid=" and "/genpin" into set.ini; failures become warnings and the start
// goes on with what the file holds.
void StoreCommandLineSettings(const StartupOptions& options, const StartupEnv& env,
                              const std::string& settingsPath, StartupOutcome& outcome) {
    if (options.languageText) {
        if (Status s = WriteLanguageSetting(settingsPath, *options.languageText); !s) {
            outcome.warnings.push_back(s.message());
        } else {
            outcome.languageStored = true;
        }
    }
    if (options.genPin) {
        const std::uint32_t draw = env.random ? env.random() : TimeSeededRandom();
        const int pin = static_cast<int>(draw % kPinRange);
        if (Status s = WritePinSetting(settingsPath, pin); !s) {
            outcome.warnings.push_back(s.message());
        } else {
            outcome.pinStored = true;
        }
    }
}

// Signals the running instance through event `name`. An event that does not exist means
// no instance runs: a warning only when `missingIsWarning`.
void Pulse(EventFactory& events, std::string_view name, bool missingIsWarning,
           StartupOutcome& outcome) {
    auto sender = events.Open(std::string(name));
    if (!sender) {
        if (missingIsWarning || sender.failure() != EventFailure::kNotFound) {
            outcome.warnings.push_back(sender.message());
        }
        return;
    }
    if (Status s = (*sender)->Pulse(); !s) {
        outcome.warnings.push_back(s.message());
        return;
    }
    outcome.signalled = true;
}

// "/close": pulses the running instance's close event. No instance running is not an
// error: nothing is signalled and the run ends quietly.
void SendClose(EventFactory& events, StartupOutcome& outcome) {
    Pulse(events, kCloseEventName, false, outcome);
}

// A second instance wakes the first through its wait event unless it starts hidden.
void WakeFirstInstance(EventFactory& events, StartupOutcome& outcome) {
    Pulse(events, kWaitEventName, true, outcome);
}

// The options of this start that only a new instance could take: the running one keeps
// the devices and services it started with.
std::vector<std::string> OptionsNotTaken(const StartupOptions& options) {
    std::vector<std::string> out;
    if (options.simulate) {
        out.push_back(options.simulate->empty()
                          ? std::string(kSimulateOption)
                          : std::string(kSimulateOption) + "=" + *options.simulate);
    }
    if (options.hidBackend) out.push_back(std::string(kHidOption) + " " + *options.hidBackend);
    if (options.traceFile) out.push_back(std::string(kTraceOption) + " " + *options.traceFile);
    if (options.remote) out.push_back(std::string(kRemoteOption));
    return out;
}

std::string JoinWords(const std::vector<std::string>& words) {
    std::string out;
    for (const std::string& word : words) out += (out.empty() ? "" : " ") + word;
    return out;
}

StartupOutcome Failed(StartupOutcome outcome, std::string message) {
    outcome.kind = StartupKind::kError;
    outcome.message = std::move(message);
    outcome.events = {};
    return outcome;
}

}  // namespace

StartupOptions ParseStartupArguments(const std::vector<std::string>& args) {
    StartupOptions options;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (arg == kCloseSwitch) {
            options.close = true;
        } else if (arg == kHideSwitch) {
            options.hide = true;
        } else if (arg.starts_with(kLanguageSwitch)) {
            options.languageText = arg.substr(kLanguageSwitch.size());
        } else if (arg == kGenPinSwitch) {
            options.genPin = true;
        } else if (arg.starts_with(kLongOptionPrefix)) {
            options.error = ParseLongOption(args, i, options);
            if (!options.error.empty()) return options;
        }
    }
    return options;
}

std::string StartupUsage() {
    return "Usage: qvm-gaming [OPTION]... [SWITCH]...\n"
           "Configure QVM gaming mice and keyboards.\n"
           "\n"
           "  --simulate[=DEVICES]  use simulated devices saved in the user data folder\n"
           "  --hid BACKEND         linux (default), sim[:DEVICES] or exec:COMMAND\n"
           "  --remote              turn the network remote service on\n"
           "  --trace FILE          append every exchange with the devices to FILE\n"
           "                        (for bug reports); also $QVM_TRACE\n"
           "  --help                show this text and end\n"
           "  --version             show the version and end\n"
           "  /close                end the running instance\n"
           "  /hide                 start without showing the window\n"
           "  /langid=ID            store ID as the user-interface language\n"
           "  /genpin               store a new random PIN for the remote service\n";
}

StartupOutcome RunStartup(const StartupOptions& options, StartupEnv env) {
    StartupOutcome outcome;
    outcome.startHidden = options.hide;
    if (!options.error.empty()) return Failed(std::move(outcome), options.error);

    const std::string userFolder =
        env.userDataFolder.empty() ? UserDataFolder() : env.userDataFolder;
    const std::string programFolder =
        env.programFolder.empty() ? ProgramFolder() : env.programFolder;
    // Failures here are not fatal: the file operations below report their own.
    for (const std::string& folder : {userFolder, JoinPath(userFolder, kFavoriteFolderName)}) {
        if (Status s = EnsureFolder(folder); !s) outcome.warnings.push_back(s.message());
    }

    const std::string settingsPath = JoinPath(userFolder, kSettingsFileName);
    StoreCommandLineSettings(options, env, settingsPath, outcome);
    if (options.close) {
        SendClose(env.events, outcome);
        outcome.kind = StartupKind::kCloseRun;
        return outcome;
    }

    outcome.settings = ReadStartupSettings(settingsPath);
    // Read before the single-instance test, so a second instance speaks the same language.
    if (std::string warning = LoadLanguageStrings(outcome.strings, outcome.settings.languageId,
                                                  JoinPath(programFolder, kLanguageFileName));
        !warning.empty()) {
        outcome.warnings.push_back(std::move(warning));
    }

    auto wait = env.events.Create(std::string(kWaitEventName));
    if (!wait) {
        if (wait.failure() != EventFailure::kAlreadyExists) {
            return Failed(std::move(outcome), wait.message());
        }
        if (!options.hide) WakeFirstInstance(env.events, outcome);
        outcome.kind = StartupKind::kSecondInstance;
        return outcome;
    }
    outcome.events.wait = std::move(wait).value();

    const std::pair<std::string_view, std::unique_ptr<NamedEvent> StartupEvents::*> owned[] = {
        {kCloseEventName, &StartupEvents::close},
        {kReloadEventName, &StartupEvents::reload},
        {kServerEventName, &StartupEvents::server},
        {kDrawEventName, &StartupEvents::draw},
    };
    for (const auto& [name, member] : owned) {
        auto event = env.events.Create(std::string(name));
        if (!event) return Failed(std::move(outcome), event.message());
        outcome.events.*member = std::move(event).value();
    }
    outcome.kind = StartupKind::kFirstInstance;
    return outcome;
}

std::vector<std::string> StartupReport(const StartupOptions& options,
                                       const StartupOutcome& outcome) {
    std::vector<std::string> lines;
    if (outcome.kind == StartupKind::kCloseRun) {
        lines.push_back(outcome.signalled ? "asked the running program to close"
                                          : "the program is not running: nothing to close");
    } else if (outcome.kind == StartupKind::kSecondInstance) {
        if (options.hide) {
            lines.push_back("the program is already running; nothing was done (/hide)");
        } else if (outcome.signalled) {
            lines.push_back("the program is already running; its window was brought to the front");
        } else {
            lines.push_back("the program is already running, but it could not be woken");
        }
        if (const std::vector<std::string> ignored = OptionsNotTaken(options); !ignored.empty()) {
            lines.push_back("the running program keeps its own devices and options; " +
                            JoinWords(ignored) +
                            " takes effect when it starts anew (end it with 'qvm-gaming /close')");
        }
    } else {
        return lines;
    }
    for (const std::string& warning : outcome.warnings) lines.push_back(warning);
    // Stored before the instance test: the running program reads them at its next start.
    if (outcome.languageStored) {
        lines.push_back("the language \"" + *options.languageText +
                        "\" was stored; it applies from the next start");
    }
    if (outcome.pinStored) lines.push_back("a new PIN was stored; it applies from the next start");
    return lines;
}

Waiters::Waiters(NamedEvent& wake, NamedEvent& close, NamedEvent& reload, WaiterCallbacks callbacks,
                 std::stop_source quit, Clock& clock)
    : callbacks_(std::move(callbacks)), quit_(std::move(quit)), clock_(clock) {
    threads_.emplace_back(
        [this, &wake](std::stop_token own) { Run(own, wake, callbacks_.wake, false, 0); });
    threads_.emplace_back([this, &close](std::stop_token own) {
        const std::function<void()> quitNow = [this] {
            quit_.request_stop();
            if (callbacks_.close) callbacks_.close();
        };
        Run(own, close, quitNow, true, 0);
    });
    threads_.emplace_back([this, &reload](std::stop_token own) {
        Run(own, reload, callbacks_.reload, false, kReloadPauseMs);
    });
}

Waiters::~Waiters() {
    for (std::jthread& thread : threads_) thread.request_stop();
    threads_.clear();
}

std::string Waiters::Failure() const {
    std::lock_guard lock(failureLock_);
    return failure_;
}

void Waiters::Run(std::stop_token own, NamedEvent& event, const std::function<void()>& act,
                  bool once, int pauseMs) {
    const std::stop_token quit = quit_.get_token();
    if (quit.stop_requested()) return;
    // One token that stops the wait on either the quit flag or this object's end.
    std::stop_source either;
    std::stop_callback onQuit(quit, [&either] { either.request_stop(); });
    std::stop_callback onOwn(own, [&either] { either.request_stop(); });
    for (;;) {
        Result<WaitOutcome> woken = event.Wait(either.get_token());
        if (!woken) {
            std::lock_guard lock(failureLock_);
            if (failure_.empty()) failure_ = woken.message();
            return;
        }
        if (*woken == WaitOutcome::kStopped || either.stop_requested()) return;
        if (act) act();
        if (once) return;
        if (pauseMs > 0) clock_.SleepMs(pauseMs);
    }
}

}  // namespace qvm
