// The start of the desktop program before any window exists: the command line, the
// settings start-up needs, the UI strings, the single-instance test and the named events
// that let other processes steer the running instance; and the waiter threads that give
// those events their meaning once the main window runs.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <stop_token>
#include <string>
#include <thread>
#include <vector>

#include "lang/ui_strings.h"
#include "platform/clock.h"
#include "platform/named_event.h"
#include "session/settings.h"

namespace qvm {

// The command-line switches of the desktop program.
inline constexpr std::string_view kCloseSwitch = "/close";
inline constexpr std::string_view kHideSwitch = "/hide";
inline constexpr std::string_view kLanguageSwitch = "/langid=";  // a prefix; the rest is the value
inline constexpr std::string_view kGenPinSwitch = "/genpin";
inline constexpr int kPinRange = 1000;  // a generated PIN is 0..999

struct StartupOptions {
    bool close = false;   // "/close": pulse the running instance's close event and end
    bool hide = false;    // "/hide": start without showing; a second instance wakes nobody
    bool genPin = false;  // "/genpin": store a new random PIN before reading it
    std::optional<std::string> languageText;  // "/langid=TEXT": stored as "language", unchanged
    std::optional<std::string> simulate;      // "--simulate[=DEVICES]" (empty: the default set)
    std::optional<std::string> hidBackend;    // "--hid BACKEND"
    std::optional<std::string> traceFile;     // "--trace FILE"
    bool remote = false;                      // "--remote": turn the network service on
    bool help = false;                        // "--help"
    bool version = false;                     // "--version"
    std::string error;                        // non-empty: the command line is refused
};

// Walks every argument, the program name included. The slash switches match exactly and
// case-sensitively (only "/langid=" is a prefix) and each argument takes the first of
// "/close", "/hide", "/langid=", "/genpin" that matches; other words are ignored. Options
// starting with "--" must be known ones.
StartupOptions ParseStartupArguments(const std::vector<std::string>& args);

// The text "--help" prints.
std::string StartupUsage();

enum class StartupKind {
    kCloseRun,        // "/close" was given: the close pulse is sent (or nobody ran); end
    kSecondInstance,  // another instance runs: it was woken unless "/hide"; end
    kFirstInstance,   // run the main window with the events below
    kError,           // message says why; end
};

// The events a first instance owns for its whole life, released in reverse order of
// creation (draw, server, reload, close, wait).
struct StartupEvents {
    std::unique_ptr<NamedEvent> wait;
    std::unique_ptr<NamedEvent> close;
    std::unique_ptr<NamedEvent> reload;
    std::unique_ptr<NamedEvent> server;
    std::unique_ptr<NamedEvent> draw;
};

struct StartupOutcome {
    StartupKind kind = StartupKind::kError;
    StartupSettings settings;  // the PIN and language this start uses
    UiStrings strings;         // for SetUi() before any other thread starts
    bool startHidden = false;
    // kCloseRun: the close pulse went out; kSecondInstance: the running instance was woken.
    bool signalled = false;
    bool languageStored = false;        // "/langid=" reached set.ini
    bool pinStored = false;             // "/genpin" reached set.ini
    StartupEvents events;               // first instance only
    std::string message;                // kError: the reason
    std::vector<std::string> warnings;  // things that went wrong without stopping the start
};

// What start-up takes from the world, replaceable in tests.
struct StartupEnv {
    EventFactory& events = SystemEventFactory();
    // Source of the "/genpin" PIN; empty: a generator seeded from the current time.
    std::function<std::uint32_t()> random;
    std::string userDataFolder;  // empty: UserDataFolder()
    std::string programFolder;   // empty: ProgramFolder()
};

// Creates the user data folder and its "Favorite" subfolder, stores "/langid=" and
// "/genpin" in set.ini, then (unless "/close") reads the PIN and language, loads the
// language strings and decides whether this is the first instance.
StartupOutcome RunStartup(const StartupOptions& options, StartupEnv env = {});

// What a start that ends at once (a "/close" run or a second instance) tells the user on
// standard error, one line each: that the program already runs (or does not), what was
// done to it, and which of this start's options it did not take. Empty for a first
// instance and for an error, which says its own message.
std::vector<std::string> StartupReport(const StartupOptions& options,
                                       const StartupOutcome& outcome);

struct WaiterCallbacks {
    std::function<void()> wake;    // bring the main window to the front
    std::function<void()> close;   // quit: runs once, after the quit flag is set
    std::function<void()> reload;  // rebuild the libraries, reload the configuration, redraw
};

// The three waiter threads of a running first instance. The quit flag is a stop source
// shared with the rest of the program: the close waiter sets it, and setting it (or
// destroying the Waiters) ends every waiter promptly. The events must outlive this object.
class Waiters {
  public:
    Waiters(NamedEvent& wake, NamedEvent& close, NamedEvent& reload, WaiterCallbacks callbacks,
            std::stop_source quit, Clock& clock = SystemClock::Instance());
    Waiters(const Waiters&) = delete;
    Waiters& operator=(const Waiters&) = delete;
    // Stops and joins the threads without setting the quit flag.
    ~Waiters();

    // The first failure of a wait, if any; a waiter whose wait fails ends.
    std::string Failure() const;

  private:
    void Run(std::stop_token own, NamedEvent& event, const std::function<void()>& act, bool once,
             int pauseMs);

    WaiterCallbacks callbacks_;
    std::stop_source quit_;
    Clock& clock_;
    mutable std::mutex failureLock_;  // guards failure_
    std::string failure_;
    // Declared last: the threads start after every member above exists and stop first.
    std::vector<std::jthread> threads_;
};

}  // namespace qvm
