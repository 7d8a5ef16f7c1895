// Cost of the keyboard lighting window and of the key colour writes, on a simulated
// keyboard.
//
//   (a) the window open with its preview animating every key ("Rainbow" at full speed)
//       for a while (default 10 s) on the offscreen platform: this process's CPU time
//       (user + system, every thread) over the wall time, as percent of one core;
//   (b) the same window hidden for the same while: the preview timer's wake-ups reaching
//       the window, the frames it computed, and the CPU again;
//   (c) writing the colours of every key of the full keyboard picture (keyboard.ini)
//       through the real transport and command set, each control transfer costing
//       --usb-cost-ms (default 1 ms): the reports exchanged and the time taken.
//
//   bench_lighting [--seconds N] [--usb-cost-ms N]
//
// Prints its figures; it judges nothing.
#include <sys/resource.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTemporaryDir>
#include <QTimer>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "bench/sim_link.h"
#include "config/catalogue.h"
#include "lang/keyboard_layout.h"
#include "lighting/keyboard_lighting.h"
#include "platform/folders.h"
#include "present/keyboard_lighting_view.h"
#include "ui/device_controller.h"
#include "ui/keyboard_lighting_window.h"
#include "ui/skin.h"

namespace {

using namespace qvm;

constexpr int kDefaultSeconds = 10;
constexpr int kMaxSeconds = 3600;
constexpr int kLoadTimeoutMs = 20000;

double CpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    auto seconds = [](const timeval& t) { return double(t.tv_sec) + double(t.tv_usec) / 1e6; };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

// Runs the event loop for `ms` and returns the process's CPU over it, in % of one core.
double CpuPercentOver(int ms) {
    const double cpu = CpuSeconds();
    QElapsedTimer wall;
    wall.start();
    QEventLoop loop;  // sleeps between events, as the program's own loop does
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
    return 100.0 * (CpuSeconds() - cpu) / (double(wall.elapsed()) / 1000.0);
}

bool WaitFor(const std::function<bool()>& done) {
    QElapsedTimer wall;
    wall.start();
    while (!done()) {
        if (wall.elapsed() > kLoadTimeoutMs) return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    }
    return true;
}

KeyboardLayout FullKeyboard() {
    const KeyNaming naming{[](int usage) { return std::string(KeyName(usage)); },
                           [](int usage) { return ConsumerName(usage); }};
    return LoadKeyboardLayout(JoinPath(QVM_SOURCE_DATA_DIR, "keyboard.ini"), naming);
}

int WindowFigures(const KeyboardLayout& layout, int seconds) {
    QTemporaryDir folder;
    auto controller = ui::DeviceController::Open(
        {.simulate = "mx28", .userDataFolder = folder.path().toStdString()});
    if (!controller) {
        std::fprintf(stderr, "bench_lighting: %s\n", controller.message().c_str());
        return 1;
    }
    ui::DeviceController& c = **controller;
    c.Start();
    if (!WaitFor([&] { return c.View().keyboard && !c.Busy(); })) {
        std::fprintf(stderr, "bench_lighting: the simulated keyboard was not found\n");
        return 1;
    }
    ui::KeyboardLightingWindow window(c, layout);
    window.Open();
    c.Hub().ChangeKeyboard(HubOperation::Lighting, [](KeyboardLighting& l, const auto&) {
        return l.ChangeEffect({.effect = kRainbowKeyboardEffect,
                               .speed = kMaxKeyboardLevel,
                               .brightness = kMaxKeyboardLevel});
    });
    if (!WaitFor([&] {
            const auto lit = c.View().keyboardLighting;
            return lit && lit->effect == kRainbowKeyboardEffect && !lit->keys.empty();
        })) {
        std::fprintf(stderr, "bench_lighting: the keyboard's lighting was not read\n");
        return 1;
    }
    const int ms = seconds * 1000;
    long wakeups = window.TimerWakeups(), frames = window.FramesComputed();
    const double shownCpu = CpuPercentOver(ms);
    std::printf(
        "(a) window shown, %zu keys animated for %d s: CPU %.2f %% of one core, "
        "%ld timer wake-ups, %ld frames (a frame every %d ms)\n",
        window.Keys().Keys().size(), seconds, shownCpu, window.TimerWakeups() - wakeups,
        window.FramesComputed() - frames, kPreviewFrameMs);
    window.hide();
    QCoreApplication::processEvents();
    wakeups = window.TimerWakeups();
    frames = window.FramesComputed();
    const double hiddenCpu = CpuPercentOver(ms);
    std::printf("(b) window hidden for %d s: %ld timer wake-ups, %ld frames, CPU %.2f %%\n",
                seconds, window.TimerWakeups() - wakeups, window.FramesComputed() - frames,
                hiddenCpu);
    return 0;
}

int WriteFigures(const KeyboardLayout& layout, int usbCostMs) {
    auto link = bench::SimLink::Open("mx28", usbCostMs);
    if (!link) return 1;
    KeyboardLighting lighting(link->stack.Keyboards(), link->path);
    if (auto read = lighting.ReadLightingState(); !read) {
        std::fprintf(stderr, "bench_lighting: %s\n", read.message().c_str());
        return 1;
    }
    std::vector<KeyColourAt> keys;
    for (const KeyOfKind& k : KeyPicture(layout).KeyKinds()) {
        keys.push_back({k.key, {uint8_t(k.key * 7), 0x40, uint8_t(0xFF - k.key), true}});
    }
    link->sim->Device(0).ResetStats();
    const auto start = std::chrono::steady_clock::now();
    const Status written = lighting.WriteKeyColours(keys);
    const auto took = std::chrono::steady_clock::now() - start;
    if (!written) {
        std::fprintf(stderr, "bench_lighting: %s\n", written.message().c_str());
        return 1;
    }
    const SimTransferStats stats = link->sim->Device(0).Stats();
    const auto ms = std::chrono::duration<double, std::milli>(took).count();
    std::printf(
        "(c) colours of all %zu keys at %d ms a transfer: %llu reports written, "
        "%llu replies read, %.1f ms (%.1f ms a report)\n",
        keys.size(), usbCostMs, static_cast<unsigned long long>(stats.writes),
        static_cast<unsigned long long>(stats.reads), ms,
        stats.writes > 0 ? ms / double(stats.writes) : 0.0);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    int seconds = kDefaultSeconds;
    std::vector<char*> rest{argv[0]};
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--seconds") == 0 && i + 1 < argc) {
            seconds = std::atoi(argv[++i]);
        } else {
            rest.push_back(argv[i]);
        }
    }
    if (seconds < 1 || seconds > kMaxSeconds) {
        std::fprintf(stderr, "bench_lighting: --seconds must be 1..%d\n", kMaxSeconds);
        return 2;
    }
    const int usbCostMs =
        bench::ParseUsbCost(static_cast<int>(rest.size()), rest.data(), "bench_lighting");
    if (usbCostMs < 0) return 2;

    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    ui::skin::CreateSharedFonts();
    ui::skin::ApplySkin(app);
    const KeyboardLayout layout = FullKeyboard();
    if (layout.keys.empty()) {
        std::fprintf(stderr, "bench_lighting: no keys in %s/keyboard.ini\n", QVM_SOURCE_DATA_DIR);
        return 1;
    }
    if (int failed = WindowFigures(layout, seconds); failed != 0) return failed;
    return WriteFigures(layout, usbCostMs);
}
