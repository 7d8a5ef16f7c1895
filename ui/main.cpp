// qvm-gaming: the desktop program. Start-up (command line, single instance, the named
// events other processes steer it with), the device controller, the main window and the
// tray icon, then Qt's event loop.
#include <QApplication>
#include <QMetaObject>
#include <QTimer>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <memory>
#include <optional>
#include <stop_token>
#include <string>
#include <vector>

#include "lang/ui_strings.h"
#include "macro/macro_library.h"
#include "net/remote_status_source.h"
#include "platform/folders.h"
#include "platform/pointer_acceleration.h"
#include "session/device_hub.h"
#include "session/settings.h"
#include "session/startup.h"
#ifdef QVM_HAVE_LINUX_HID
#include "platform/linux/x11_pointer_acceleration.h"
#endif
#include "ui/app_icon.h"
#include "ui/desktop_notices.h"
#include "ui/device_controller.h"
#include "ui/host_services.h"
#include "ui/main_window.h"
#include "ui/other_page.h"
#include "ui/qt_text.h"
#include "ui/remote_companion.h"
#include "ui/skin.h"
#include "ui/tray.h"

namespace {

constexpr int kExitUsage = 2;

// The desktop's pointer settings are reached through the Linux platform; a build without
// it says so when the option is used.
std::unique_ptr<qvm::PointerAcceleration> MakePointerAcceleration() {
#ifdef QVM_HAVE_LINUX_HID
    return qvm::MakeSystemPointerAcceleration();
#else
    return std::make_unique<qvm::PointerAcceleration>(
        std::string("the mouse acceleration option needs the Linux platform, which this build "
                    "leaves out"));
#endif
}
constexpr int kExitFailure = 1;

bool HasArgument(int argc, char** argv, const char* wanted) {
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], wanted) == 0) return true;
    }
    return false;
}

// Runs `work` on the UI thread, from any thread.
template <typename Work>
void OnUiThread(QObject* context, Work work) {
    QMetaObject::invokeMethod(context, std::move(work), Qt::QueuedConnection);
}

}  // namespace

int main(int argc, char** argv) {
    using namespace qvm;
    // "--help" and "--version" work without a display.
    if (HasArgument(argc, argv, "--help") || HasArgument(argc, argv, "--version")) {
        std::vector<std::string> args(argv, argv + argc);
        const StartupOptions options = ParseStartupArguments(args);
        if (!options.error.empty()) {
            std::cerr << "qvm-gaming: " << options.error << "\n";
            return kExitUsage;
        }
        if (options.help) {
            std::cout << StartupUsage();
        } else {
            std::cout << "qvm-gaming " << QVM_VERSION << "\n";
        }
        return 0;
    }

    // "/close" only signals the running program: it works without a display, from any
    // terminal. Everything else starts Qt first, so that it takes its own options
    // (-platform, -display ...) off the command line.
    std::optional<QApplication> app;
    if (!HasArgument(argc, argv, "/close")) app.emplace(argc, argv);
    const StartupOptions options =
        ParseStartupArguments(std::vector<std::string>(argv, argv + argc));
    if (!options.error.empty()) {
        std::cerr << "qvm-gaming: " << options.error << "\n"
                  << "Try 'qvm-gaming --help'.\n";
        return kExitUsage;
    }

    StartupOutcome started = RunStartup(options);
    for (const std::string& line : StartupReport(options, started)) {
        std::cerr << "qvm-gaming: " << line << "\n";
    }
    switch (started.kind) {
        case StartupKind::kCloseRun:
        case StartupKind::kSecondInstance:
            return 0;
        case StartupKind::kError:
            std::cerr << "qvm-gaming: " << started.message << "\n";
            return kExitFailure;
        case StartupKind::kFirstInstance:
            break;
    }
    if (!app) return kExitFailure;  // "/close" always ends above
    SetUi(std::move(started.strings));
    ui::skin::CreateSharedFonts();
    ui::skin::ApplySkin(*app);
    QApplication::setWindowIcon(ui::AppIcon());
    QApplication::setApplicationName(QStringLiteral("qvm-gaming"));
    QApplication::setQuitOnLastWindowClosed(false);

    DeviceHubOptions hubOptions;
    hubOptions.simulate = options.simulate;
    if (options.hidBackend) {
        hubOptions.hidBackend = *options.hidBackend;
    } else if (const char* env = std::getenv("QVM_HID"); env != nullptr && *env != '\0') {
        hubOptions.hidBackend = env;
    }
    std::string traceFile = options.traceFile.value_or("");
    if (const char* env = std::getenv("QVM_TRACE"); traceFile.empty() && env != nullptr) {
        traceFile = env;
    }
    if (!traceFile.empty()) {
        // Told once, when the file cannot be opened or written; the program goes on.
        hubOptions.trace =
            std::make_shared<TraceLog>(traceFile, "qvm-gaming", [](const std::string& message) {
                std::cerr << "qvm-gaming: " + message + "\n" << std::flush;
            });
    }
    auto controller = ui::DeviceController::Open(hubOptions);
    if (!controller) {
        std::cerr << "qvm-gaming: cannot open the devices: " << controller.message() << "\n";
        return kExitFailure;
    }

    const std::unique_ptr<PointerAcceleration> pointer = MakePointerAcceleration();
    const std::string settingsPath = SettingsFilePath();
    LoadedSettings loaded = LoadSettings(settingsPath, *pointer);
    if (!loaded.warning.empty()) {
        // Only to the terminal: where the desktop does not let the acceleration be switched
        // (Wayland) a box would say so at every start. The pointer is destroyed after the
        // window and puts back what the option changed.
        std::cerr << "qvm-gaming: " << loaded.warning << "\n";
    }

    // Made before the window, whose Other page holds it, so that it outlives the page.
    ui::RemoteCompanionContext remoteContext;
    remoteContext.pin = started.settings.pin;
    ui::RemoteCompanion companion(**controller, std::move(remoteContext));

    ui::MainWindowContext context;
    context.programFolder = ProgramFolder();
    context.libraryRoot = MacroLibrary::DefaultRoot();
    context.settingsPath = settingsPath;
    context.settings = &loaded.settings;
    context.pointer = pointer.get();
    context.pin = started.settings.pin;
    ui::MainWindow window(**controller, context);
    for (const std::string& warning : started.warnings) window.ShowError(ui::StartWarning(warning));
    for (const std::string& warning : (*controller)->Hub().StartWarnings()) {
        window.ShowError(ui::StartWarning(warning));
    }

    ui::HostServicesContext hostContext;
    hostContext.showError = [&window](const QString& text) { window.ShowError(text); };
    hostContext.restoreMainWindow = [&window] { window.BringToFront(); };
    hostContext.settings = &loaded.settings;
    ui::HostServices host(**controller, std::move(hostContext));
    QObject::connect(&window.Other(), &ui::OtherPage::osdChanged, &host,
                     &ui::HostServices::SettingsChanged);
    QObject::connect(&window, &ui::MainWindow::appSlotsChanged, &host,
                     &ui::HostServices::SettingsChanged);

    // The network remote service: nothing is opened unless set.ini or "--remote" asks.
    companion.SetFavourites(remote::FavouritesFromLibrary(window.Functions()));
    QObject::connect(&window, &ui::MainWindow::functionsChanged, &companion, [&] {
        companion.SetFavourites(remote::FavouritesFromLibrary(window.Functions()));
    });
    window.Other().SetRemote(&companion);
    ui::StartRemoteIfWanted(companion, loaded.settings, options.remote);

    // The waiters wait on the named events; what they do is done on the UI thread.
    std::stop_source quit;
    WaiterCallbacks callbacks;
    callbacks.wake = [&window] { OnUiThread(&window, [&window] { window.BringToFront(); }); };
    callbacks.close = [&window] { OnUiThread(&window, [&window] { window.Quit(); }); };
    callbacks.reload = [&window] { OnUiThread(&window, [&window] { window.ReloadLibraries(); }); };
    Waiters waiters(*started.events.wait, *started.events.close, *started.events.reload,
                    std::move(callbacks), quit);
    QObject::connect(&window, &ui::MainWindow::quitting, [&quit] { quit.request_stop(); });
    ui::FollowPointerChanges(*pointer, &window,
                             [&window](const QString& text) { window.ShowError(text); });
    ui::QuitOnSignals quitOnSignals([&window] { window.Quit(); });

    (*controller)->Start();
    const bool toTray = started.startHidden && window.TrayIcon() != nullptr;
    if (started.startHidden && !toTray) {
        window.showMinimized();  // no tray to live in: the next best thing to hidden
    } else if (!toTray) {
        window.BringToFront();
    }
    const int status = QApplication::exec();
    quit.request_stop();
    if (const std::string failure = waiters.Failure(); !failure.empty()) {
        std::cerr << "qvm-gaming: " << failure << "\n";
    }
    return status;
}
