// The shared rig of the window tests: a temporary user folder (QVM_USER_DIR), a device
// controller on simulated devices whose memory the test can read, and a MainWindow on
// them, with helpers to wait for the first load and to click widgets.
//
// Windows are created without a tray icon, so closing them never depends on the desktop.
#pragma once

#include <QMouseEvent>
#include <QPushButton>
#include <QTemporaryDir>
#include <QtTest>
#include <memory>
#include <string>
#include <vector>

#include "lang/ui_strings.h"
#include "platform/folders.h"
#include "session/device_hub.h"
#include "session/settings.h"
#include "sim/sim_backend.h"
#include "support/fake_pointer_devices.h"
#include "ui/device_controller.h"
#include "ui/main_window.h"

namespace qvm::test {

inline constexpr int kUiLoadTimeoutMs = 20000;

class UiRig {
  public:
    // `devices`: the simulated device list; "" starts with the default mouse unplugged.
    // `programFolder`: where the window reads its function library and keyboard layout.
    explicit UiRig(const std::string& devices = "g12",
                   const std::string& programFolder = QVM_SOURCE_DATA_DIR)
        : pointer_(pointerDesktop_.Connect()) {
        if (!dir_.isValid()) qFatal("no temporary folder");
        qputenv("QVM_USER_DIR", dir_.path().toUtf8());
        DeviceHubOptions options;
        options.simulate = devices.empty() ? std::string("g12") : devices;
        options.userDataFolder = dir_.path().toStdString();
        auto made = ui::DeviceController::Open(options);
        if (!made) qFatal("cannot open the simulated devices: %s", made.message().c_str());
        controller_ = std::move(made).value();
        if (devices.empty()) Device().Detach();

        ui::MainWindowContext context;
        context.programFolder = programFolder;
        context.libraryRoot = JoinPath(dir_.path().toStdString(), "Favorite");
        context.settingsPath = JoinPath(dir_.path().toStdString(), "set.ini");
        context.settings = &settings_;
        context.pointer = &pointer_;
        context.pin = 7;
        context.useTray = false;
        window_ = std::make_unique<ui::MainWindow>(*controller_, context);
        controller_->Start();
    }
    ~UiRig() {
        window_.reset();
        controller_.reset();
        qunsetenv("QVM_USER_DIR");
    }
    UiRig(const UiRig&) = delete;
    UiRig& operator=(const UiRig&) = delete;

    ui::DeviceController& Controller() { return *controller_; }
    ui::MainWindow& Window() { return *window_; }
    SimDevice& Device(size_t index = 0) { return controller_->Hub().Simulator()->Device(index); }
    std::string Folder() const { return dir_.path().toStdString(); }

    // True once the device is loaded, the controller idle and the window showing it (its
    // model line, msg_str 58 "Model" in the language in force).
    bool WaitLoaded() {
        QElapsedTimer clock;
        clock.start();
        while (clock.elapsed() < kUiLoadTimeoutMs) {
            if (controller_->View().present && !controller_->Busy() &&
                window_->InfoText().contains(QString::fromStdString(Ui().msg_str[58]))) {
                return true;
            }
            QTest::qWait(20);
        }
        return false;
    }
    // True once every queued device operation has run and its result reached the window.
    void Settle() {
        controller_->Hub().WaitIdle();
        QCoreApplication::processEvents();
        QTest::qWait(10);
    }

    // One plane byte of a button (class C layout: 0x40 + 0xA0 profile + 0x20 plane +
    // button), as the simulated device holds it.
    std::vector<uint8_t> ButtonBytes(int profile, int button) {
        std::vector<uint8_t> bytes;
        for (uint32_t plane = 0; plane < 4; ++plane) {
            const uint32_t at = 0x40 + 0xA0 * static_cast<uint32_t>(profile) + 0x20 * plane +
                                static_cast<uint32_t>(button);
            bytes.push_back(Device().PeekMemory(at, 1).at(0));
        }
        return bytes;
    }

    static void Click(QWidget* widget, QPoint at = QPoint(-1, -1),
                      Qt::MouseButton button = Qt::LeftButton) {
        if (at == QPoint(-1, -1)) at = widget->rect().center();
        QTest::mouseClick(widget, button, Qt::NoModifier, at);
    }

    // Runs `script` on the dialog the next modal loop opens (a window's exec()).
    template <class Dialog>
    static void OnNextModal(std::function<void(Dialog&)> script) {
        QTimer::singleShot(0, [script = std::move(script)] {
            auto* dialog = qobject_cast<Dialog*>(QApplication::activeModalWidget());
            if (dialog == nullptr) qFatal("the expected dialog did not open");
            script(*dialog);
        });
    }

    void Screenshot(QWidget* widget, const QString& name) {
        QDir().mkpath(QVM_SCREENSHOT_DIR);
        widget->grab().save(QString(QVM_SCREENSHOT_DIR) + "/" + name);
    }

  private:
    QTemporaryDir dir_;
    UserSettings settings_;
    FakePointerDesktop pointerDesktop_;
    PointerAcceleration pointer_;
    std::unique_ptr<ui::DeviceController> controller_;
    std::unique_ptr<ui::MainWindow> window_;
};

}  // namespace qvm::test
