// DeviceHub: the device stack of the running desktop program, without any window code.
//
// It owns the device stack over the backend OpenBackend chose (simulated devices keep
// their memory in <user data>/sim as qvmctl does), the layout decided for the active
// device and the configuration model of the active mouse.
//
// Every device exchange runs on ONE worker thread that takes tasks from a queue; the
// worker sleeps on a condition variable until a task arrives or it is stopped, it never
// wakes periodically. Each queued operation reports its progress and ends with exactly
// one `finished` call on the listener (called on the worker thread: a window forwards
// them to its own thread). The configuration model is held as a shared pointer and
// replaced only on the worker, so a reader that copied the pointer keeps a valid model.
//
// Locks: queueMutex_ guards the task queue; stateMutex_ guards what Snapshot() shows;
// listenerMutex_ guards the listener. All three are leaves: none is held while another
// lock (the model's, the link's, the transport's) is taken.
#pragma once

#include <atomic>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <stop_token>
#include <string>
#include <thread>
#include <vector>

#include "config/config_image.h"
#include "config/first_backup.h"
#include "device/device_stack.h"
#include "device/model_table.h"
#include "lighting/keyboard_lighting.h"
#include "platform/clock.h"
#include "platform/hid.h"
#include "session/hid_factory.h"

namespace qvm {

class SimBackend;

using DeviceHubOptions = BackendChoice;

// The operations of the hub, as reported to the listener.
enum class HubOperation : int {
    Refresh,
    DeviceChange,  // arrivals and removals handled
    Reset,
    Backup,
    Restore,
    AssignButton,
    ProfileName,
    ProfileColour,
    ActiveProfile,
    StageFlags,
    CurrentStage,
    KeyCycleList,
    FlushDeferred,
    Macro,     // a macro store, read-back or delete
    Lighting,  // a lighting change of a mouse or a keyboard
    Last = Lighting,
};

// An English name of each operation, for logs and messages.
const char* HubOperationName(HubOperation op);

// One attached device the user can choose to work on.
struct HubDevice {
    std::string path;
    std::string modelName;
    bool keyboard = false;

    bool operator==(const HubDevice&) const = default;
};

// What the windows show about the device, taken consistently at one moment.
struct HubSnapshot {
    bool present = false;  // a mouse configuration is shown (see `away`)
    // The active mouse left: the configuration shown is the last one known, to be shown
    // greyed; every device operation is refused until the device returns and is loaded
    // again (or another device is chosen).
    bool away = false;
    bool keyboard = false;  // the active device is a keyboard (no configuration memory)
    // The active mouse's memory holds no configuration: nothing is loaded, and only a
    // reset (or a restore) writes it; the windows ask the user first.
    bool uninitialised = false;
    std::string path;
    std::string modelName;
    int firmwareVersion = 0;
    bool extendedButtons = false;  // the configuration holds the extended (24) button set
    ModelLayout layout;
    std::shared_ptr<const ConfigImage> image;  // never null
    // The active keyboard's lighting as last read or changed; null before the first
    // keyboard task read it, and for a mouse.
    std::shared_ptr<const KeyboardLightingState> keyboardLighting;
    std::vector<std::string> unusable;  // "PATH: reason"
    // Every listed device, in list order; the active one is `path`.
    std::vector<HubDevice> devices;
};

// Called on the worker thread.
struct HubListener {
    std::function<void(HubOperation op, int percent)> progress;
    std::function<void(HubOperation op, const Status& status)> finished;
    // The active device, its layout or its configuration changed.
    std::function<void()> viewChanged;
    // Arrivals or removals ask for a refresh after this many milliseconds.
    std::function<void(int delayMs)> refreshWanted;
    // Before its first change, the memory of the mouse at `path` was saved to `file`.
    std::function<void(const std::string& path, const std::string& file)> firstBackupSaved;
};

class DeviceHub {
  public:
    // The button count of the extended button set.
    static constexpr int kExtendedButtonCount = 24;

    static Result<std::unique_ptr<DeviceHub>> Open(const DeviceHubOptions& options,
                                                   Clock& clock = SystemClock::Instance());

    using ProgressFn = std::function<void(int percent)>;

    // Use Open(); the key keeps construction to it.
    struct Key {
        explicit Key() = default;
    };
    // `userDataFolder` holds the first backups (in "backups"); empty: UserDataFolder().
    DeviceHub(Key, std::unique_ptr<DeviceStack> stack, const std::string& userDataFolder = {});
    // Stops the worker (a running task finishes first; queued ones are dropped), then
    // writes every pending deferred value.
    ~DeviceHub();
    DeviceHub(const DeviceHub&) = delete;
    DeviceHub& operator=(const DeviceHub&) = delete;

    void SetListener(HubListener listener);

    HidBackend& Backend() { return stack_->Backend(); }
    SimBackend* Simulator();  // nullptr unless the devices are simulated
    DeviceLink& Link() { return stack_->Link(); }
    Clock& GetClock() { return stack_->GetClock(); }
    // Readable when arrivals or removals are waiting; -1 when the backend has none.
    int EventFd() const { return stack_->Backend().EventFd(); }

    // What the user should know from the start: the simulated devices' damaged state
    // files that were set aside (naming both files). Empty for real devices.
    std::vector<std::string> StartWarnings() const;

    HubSnapshot Snapshot() const;
    // The model of the active mouse; nullptr when none is loaded.
    std::shared_ptr<ConfigModel> Model() const;
    // A refresh, reset, backup or restore is queued or running.
    bool Busy() const { return longOperations_.load() > 0; }
    bool RefreshQueued() const { return refreshQueued_.load(); }

    // Queued operations. A refresh only reads the device: when the active mouse's memory
    // holds no configuration it ends with an error of kind Uninitialised and the snapshot
    // says so. Reset, backup and restore work on such a mouse too; a backup only reads.
    void Refresh();
    void HandleEvents();
    // Makes `path` (one of the snapshot's devices) the device the windows work on, with
    // a refresh. The choice holds across arrivals and removals while the device is
    // listed, and returns with it, until another device is chosen. Deferred values of the
    // device left behind are written first.
    void SelectDevice(const std::string& path);
    std::string SelectedDevice() const;
    void Reset();
    void SaveBackup(const std::string& file);
    void RestoreBackup(const std::string& file, bool force);
    // A change of the loaded mouse's configuration, run on the worker: `op` names it in
    // the progress and in the finished report, which carries the change's error. Every
    // change ends with a view change. Fails when no mouse is loaded.
    using ModelTask = std::function<Status(ConfigModel& model, const ProgressFn& progress)>;
    void Change(HubOperation op, ModelTask task);
    // A lighting change of the active keyboard, run on the worker with its lighting
    // (kept while the keyboard stays active, so the state read once serves the next
    // tasks; a refresh drops it). Ends with a view change, the snapshot then showing the
    // keyboard's lighting state. Fails with BadInput when the active device is not a
    // keyboard.
    using KeyboardTask =
        std::function<Status(KeyboardLighting& lighting, const ProgressFn& progress)>;
    void ChangeKeyboard(HubOperation op, KeyboardTask task);
    // Writes the deferred values that are due (or all of them).
    void FlushDeferred(DeferredWrites::Scope scope = DeferredWrites::Scope::Due);

    // A deferred setting, on the caller's thread: shown in the model at once, written by
    // a later FlushDeferred. Fails when no mouse is loaded.
    using DeferredChange = std::function<Status(DeferredWrites& deferred)>;
    Status ChangeDeferred(const DeferredChange& change);
    std::optional<Clock::TimePoint> NextDeferredDue() const;

    // Queues a flush of everything pending and waits until it has run.
    Status FlushDeferredNow();

    // A task that would have made the first write into a mouse whose memory could not be
    // saved first ends with an error of kind Unsaved and is kept. The user's answer:
    // AcceptUnsaved lets the device at `path` be written without that backup and runs
    // the kept tasks of that device again, in their order; DropUnsaved forgets them.
    void AcceptUnsaved(const std::string& path);
    void DropUnsaved();
    // The device's first backup (for a restore of it); an error when there is none.
    Result<std::string> FirstBackupOf(const std::string& path);
    // Waits until the queue is empty and no task runs.
    void WaitIdle();

  private:
    struct Task {
        HubOperation op = HubOperation::Refresh;
        std::function<Status(const ProgressFn&)> run;
        bool longOperation = false;
    };

    void Post(Task task);
    void WorkerLoop(std::stop_token stop);
    void RunTask(Task& task);
    Status RequireModelLoaded(std::shared_ptr<ConfigModel>& model) const;
    // The active mouse's model, loaded or not (reset, backup and restore need no load).
    Status RequireModel(std::shared_ptr<ConfigModel>& model) const;
    // Records whether the last load found the memory without a configuration.
    void NoteUninitialised(bool uninitialised);

    Status RunRefresh(const ProgressFn& progress);
    Status RunEvents();
    Status RunBackup(const std::string& file, const ProgressFn& progress);
    Status RunRestore(const std::string& file, bool force, const ProgressFn& progress);
    void DecideLayout(const std::string& path);
    Status LoadActive(const std::string& path, const ProgressFn& progress);
    void ClearActive();
    // The active device left: keep its last configuration to show, greyed.
    void MarkAway();
    // The unusable interfaces and the listed devices, as the snapshot shows them.
    void NoteDevices();

    std::shared_ptr<const HubListener> Listener() const;
    void NotifyViewChanged() const;
    std::string ActivePath() const;  // the active device's path

    std::unique_ptr<DeviceStack> stack_;
    // After stack_, before the worker: its write gate is removed before the stack goes.
    std::unique_ptr<FirstBackup> firstBackup_;

    mutable std::mutex listenerMutex_;  // leaf
    std::shared_ptr<const HubListener> listener_;

    mutable std::mutex stateMutex_;  // leaf
    HubSnapshot state_;              // image left null here: it comes from model_
    std::shared_ptr<ConfigModel> model_;
    std::string selected_;  // the device the user chose; empty: the first listed

    std::unique_ptr<KeyboardLighting> keyboardLighting_;  // the worker's alone

    std::atomic<int> longOperations_{0};
    std::atomic<bool> refreshQueued_{false};

    std::mutex queueMutex_;  // leaf
    std::condition_variable_any queueChanged_;
    std::deque<Task> queue_;
    // Tasks refused for want of a first backup, with their device (queueMutex_).
    std::vector<std::pair<std::string, Task>> unsaved_;
    bool running_ = false;

    std::jthread worker_;  // last: stopped and joined before the members above go
};

// A change that calls one setter of the model with `args` (kept as copies), e.g.
// hub.Change(HubOperation::ActiveProfile, Setter(&ConfigModel::SetActiveProfile, 2)).
template <class... Params, class... Args>
DeviceHub::ModelTask Setter(Status (ConfigModel::*setter)(Params...), Args... args) {
    return
        [=](ConfigModel& model, const DeviceHub::ProgressFn&) { return (model.*setter)(args...); };
}

// A deferred change that calls one change of the deferred writes with `args`, e.g.
// hub.ChangeDeferred(DeferredSetter(&DeferredWrites::ChangeReportRate, 3)).
template <class... Params, class... Args>
DeviceHub::DeferredChange DeferredSetter(Status (DeferredWrites::*change)(Params...),
                                         Args... args) {
    return [=](DeferredWrites& deferred) { return (deferred.*change)(args...); };
}

}  // namespace qvm
