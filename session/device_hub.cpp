#include "session/device_hub.h"

#include <algorithm>
#include <cstdio>

#include "base/atomic_file.h"
#include "config/backup.h"
#include "config/memory_top.h"
#include "session/hid_factory.h"
#include "session/settings.h"
#include "sim/sim_backend.h"

namespace qvm {

namespace {

constexpr int kPercentDone = 100;

struct OperationName {
    HubOperation op;
    const char* name;
};
constexpr OperationName kOperationNames[] = {
    {HubOperation::Refresh, "Refresh"},
    {HubOperation::DeviceChange, "Device change"},
    {HubOperation::Reset, "Reset"},
    {HubOperation::Backup, "Backup"},
    {HubOperation::Restore, "Restore"},
    {HubOperation::AssignButton, "Assign button"},
    {HubOperation::ProfileName, "Profile name"},
    {HubOperation::ProfileColour, "Profile colour"},
    {HubOperation::ActiveProfile, "Active profile"},
    {HubOperation::StageFlags, "DPI stages"},
    {HubOperation::CurrentStage, "Current DPI stage"},
    {HubOperation::KeyCycleList, "Key cycle"},
    {HubOperation::FlushDeferred, "Settings"},
    {HubOperation::Macro, "Macro transfer"},
    {HubOperation::Lighting, "Lighting"},
};

const std::shared_ptr<const ConfigImage>& EmptyImage() {
    static const auto empty = std::make_shared<const ConfigImage>();
    return empty;
}

Status NoDevice() {
    return MakeError("no mouse is connected");
}

Status Away() {
    return MakeError(ErrorKind::DeviceGone, "the mouse left; waiting for it to come back");
}

}  // namespace

const char* HubOperationName(HubOperation op) {
    for (const OperationName& entry : kOperationNames) {
        if (entry.op == op) return entry.name;
    }
    return "Operation";
}

Result<std::unique_ptr<DeviceHub>> DeviceHub::Open(const DeviceHubOptions& options, Clock& clock) {
    auto backend = OpenBackend(options, clock);
    if (!backend) return backend.error();
    auto stack = DeviceStack::Open(std::move(backend).value(), clock);
    if (!stack) return stack.error();
    return std::make_unique<DeviceHub>(Key{}, std::move(stack).value(), options.userDataFolder);
}

DeviceHub::DeviceHub(Key, std::unique_ptr<DeviceStack> stack, const std::string& userDataFolder)
    : stack_(std::move(stack)), listener_(std::make_shared<const HubListener>()) {
    FirstBackup::Options backups;
    backups.folder = FirstBackupsFolder(userDataFolder);
    backups.saved = [this](const std::string& path, const std::string& file) {
        if (const auto listener = Listener(); listener->firstBackupSaved) {
            listener->firstBackupSaved(path, file);
        }
    };
    firstBackup_ = std::make_unique<FirstBackup>(stack_->Commands(), stack_->Link(), backups);
    firstBackup_->InstallGate();
    worker_ = std::jthread([this](std::stop_token stop) { WorkerLoop(std::move(stop)); });
}

DeviceHub::~DeviceHub() {
    worker_.request_stop();
    if (worker_.joinable()) worker_.join();
    // The worker is gone: nothing else touches the model now.
    if (const std::shared_ptr<ConfigModel> model = Model()) {
        if (Status flushed = model->Deferred().Flush(DeferredWrites::Scope::Everything); !flushed) {
            std::fprintf(stderr, "qvm: settings not written at exit: %s\n",
                         flushed.message().c_str());
        }
    }
    // A write of that flush that the simulated memory could not keep has been reported
    // on standard error by the simulator; nothing else is left to save.
}

SimBackend* DeviceHub::Simulator() {
    return dynamic_cast<SimBackend*>(&UntracedBackend(stack_->Backend()));
}

void DeviceHub::SetListener(HubListener listener) {
    auto shared = std::make_shared<const HubListener>(std::move(listener));
    std::lock_guard lock(listenerMutex_);
    listener_ = std::move(shared);
}

std::shared_ptr<const HubListener> DeviceHub::Listener() const {
    std::lock_guard lock(listenerMutex_);
    return listener_;
}

void DeviceHub::NotifyViewChanged() const {
    const auto listener = Listener();
    if (listener->viewChanged) listener->viewChanged();
}

std::vector<std::string> DeviceHub::StartWarnings() const {
    return stack_->Backend().LoadNotes();
}

HubSnapshot DeviceHub::Snapshot() const {
    HubSnapshot out;
    std::shared_ptr<ConfigModel> model;
    {
        std::lock_guard lock(stateMutex_);
        out = state_;
        model = model_;
    }
    out.image = model ? model->Snapshot() : EmptyImage();
    out.present = model != nullptr && out.image->loaded;
    out.extendedButtons = out.present && out.image->ButtonCount() >= kExtendedButtonCount;
    return out;
}

std::shared_ptr<ConfigModel> DeviceHub::Model() const {
    std::lock_guard lock(stateMutex_);
    return model_;
}

// ---- The worker ----

void DeviceHub::Post(Task task) {
    if (task.longOperation) ++longOperations_;
    {
        std::lock_guard lock(queueMutex_);
        queue_.push_back(std::move(task));
    }
    queueChanged_.notify_all();
}

void DeviceHub::WorkerLoop(std::stop_token stop) {
    while (true) {
        Task task;
        {
            std::unique_lock lock(queueMutex_);
            if (!queueChanged_.wait(lock, stop, [&] { return !queue_.empty(); })) return;
            task = std::move(queue_.front());
            queue_.pop_front();
            running_ = true;
        }
        RunTask(task);
        {
            std::lock_guard lock(queueMutex_);
            running_ = false;
        }
        queueChanged_.notify_all();
    }
}

void DeviceHub::RunTask(Task& task) {
    const auto listener = Listener();
    int lastPercent = -1;
    const ProgressFn progress = [&](int percent) {
        percent = std::clamp(percent, 0, kPercentDone);
        if (percent == lastPercent) return;
        lastPercent = percent;
        if (listener->progress) listener->progress(task.op, percent);
    };
    Status status = task.run(progress);
    // The simulated memory keeps every write on disk at once; a write it could not keep
    // was undone, and the operation fails with the reason whatever else it reports. The
    // model still shows the change: it is read again from the device (not after a
    // refresh, which would only lose the same write again).
    if (Status kept = stack_->Backend().TakeLostWrite(); !kept) {
        status = kept;
        if (task.op != HubOperation::Refresh) Refresh();
    }
    if (status && task.longOperation && lastPercent != kPercentDone) progress(kPercentDone);
    if (task.longOperation) --longOperations_;
    if (task.op == HubOperation::Refresh) refreshQueued_ = false;
    if (status.kind() == ErrorKind::Unsaved) {
        // Kept for the user's answer; a long operation counts again when it is rerun.
        std::lock_guard lock(queueMutex_);
        unsaved_.emplace_back(ActivePath(), task);
    }
    if (listener->finished) listener->finished(task.op, status);
}

std::string DeviceHub::ActivePath() const {
    std::lock_guard lock(stateMutex_);
    return state_.path;
}

void DeviceHub::AcceptUnsaved(const std::string& path) {
    firstBackup_->Accept(path);
    std::vector<std::pair<std::string, Task>> kept;
    {
        std::lock_guard lock(queueMutex_);
        kept.swap(unsaved_);
    }
    for (auto& [device, task] : kept) {
        if (device == path) Post(std::move(task));
    }
}

void DeviceHub::DropUnsaved() {
    std::lock_guard lock(queueMutex_);
    unsaved_.clear();
}

Result<std::string> DeviceHub::FirstBackupOf(const std::string& path) {
    return firstBackup_->FirstBackupOf(path);
}

void DeviceHub::WaitIdle() {
    std::unique_lock lock(queueMutex_);
    queueChanged_.wait(lock, [&] { return queue_.empty() && !running_; });
}

// ---- Refresh and hot-plug ----

void DeviceHub::Refresh() {
    refreshQueued_ = true;
    Post({HubOperation::Refresh, [this](const ProgressFn& p) { return RunRefresh(p); }, true});
}

void DeviceHub::SelectDevice(const std::string& path) {
    {
        std::lock_guard lock(stateMutex_);
        selected_ = path;
    }
    Refresh();
}

std::string DeviceHub::SelectedDevice() const {
    std::lock_guard lock(stateMutex_);
    return selected_;
}

void DeviceHub::HandleEvents() {
    Post({HubOperation::DeviceChange, [this](const ProgressFn&) { return RunEvents(); }, false});
}

void DeviceHub::DecideLayout(const std::string& path) {
    const DeviceValues values = stack_->Values().Get(path);
    std::lock_guard lock(stateMutex_);
    state_.layout = DecideModelLayout(values);
}

Status DeviceHub::RunRefresh(const ProgressFn& progress) {
    // The user's choice wins over the first listed device while it is listed (the link
    // ignores a request for a path it does not list); a request of its own stays.
    if (const std::string selected = SelectedDevice();
        !selected.empty() && stack_->Link().RequestedDevice().empty()) {
        stack_->Link().RequestDevice(selected);
    }
    Status loaded;
    RefreshHooks hooks;
    hooks.decideLayout = [this](const std::string& path) { DecideLayout(path); };
    hooks.loadConfiguration = [&](const std::string& path) { loaded = LoadActive(path, progress); };
    const RefreshResult result = stack_->Link().Refresh(hooks);
    NoteDevices();
    NotifyViewChanged();
    if (!result.ran) return MakeError("another refresh is running");
    if (!result.enumeration) {
        return MakeError("cannot list the HID devices: " + result.enumeration.message());
    }
    if (!result.activation) return result.activation;
    return loaded;
}

Status DeviceHub::LoadActive(const std::string& path, const ProgressFn& progress) {
    if (path.empty()) {
        // A mouse that left stays shown, greyed, until it returns or another is chosen.
        if (!Snapshot().away) ClearActive();
        return {};
    }
    const DeviceValues values = stack_->Values().Get(path);
    const bool keyboard = values.ModelCode == kKeyboardModelCode;
    // The keyboard may have been changed meanwhile by another program: read it anew.
    keyboardLighting_.reset();
    std::shared_ptr<ConfigModel> model = Model();
    Status leftBehind;
    if (model && model->Path() != path && model->Deferred().Pending()) {
        // A slider moved just before another device was chosen: its value still goes to
        // the device it was meant for. One that left takes nothing more.
        if (Status flushed = model->Deferred().Flush(DeferredWrites::Scope::Everything);
            !flushed && flushed.kind() != ErrorKind::DeviceGone) {
            leftBehind = MakeError(flushed.kind(), "settings of " + model->Path() +
                                                       " not written: " + flushed.message());
        }
    }
    if (keyboard) {
        model.reset();
    } else if (!model || model->Path() != path) {
        model = std::make_shared<ConfigModel>(stack_->Commands(), path);
    }
    {
        std::lock_guard lock(stateMutex_);
        state_.path = path;
        state_.keyboard = keyboard;
        state_.modelName = GetModelName(values);
        state_.firmwareVersion = static_cast<int>(values.FirmwareVersion);
        state_.away = false;
        state_.keyboardLighting.reset();
        model_ = model;
        if (model) {
            const ModelLayout& layout = state_.layout;
            std::vector<int> shown(layout.ButtonOrder.begin(),
                                   layout.ButtonOrder.begin() + layout.ButtonCount);
            model->SetShownButtons(shown);
        }
    }
    if (!model) return leftBehind;
    const Status read = model->LoadConfiguration(progress);
    NoteUninitialised(read.kind() == ErrorKind::Uninitialised);
    if (!read) {
        // A device that left during the load is away, as if its removal had come first.
        if (read.kind() == ErrorKind::DeviceGone) MarkAway();
        return MakeError(read.kind(),
                         "cannot read the configuration of " + path + ": " + read.message());
    }
    return leftBehind;
}

void DeviceHub::NoteUninitialised(bool uninitialised) {
    std::lock_guard lock(stateMutex_);
    state_.uninitialised = uninitialised;
}

void DeviceHub::MarkAway() {
    // Only a mouse with a configuration to show is shown away; anything else is gone.
    const std::shared_ptr<ConfigModel> model = Model();
    if (model == nullptr || !model->Snapshot()->loaded) {
        ClearActive();
        return;
    }
    std::lock_guard lock(stateMutex_);
    state_.away = true;
}

void DeviceHub::ClearActive() {
    std::lock_guard lock(stateMutex_);
    state_.away = false;
    state_.path.clear();
    state_.keyboard = false;
    state_.uninitialised = false;
    state_.modelName.clear();
    state_.firmwareVersion = 0;
    state_.layout = ModelLayout{};
    state_.keyboardLighting.reset();
    model_.reset();
}

void DeviceHub::NoteDevices() {
    std::vector<std::string> lines;
    for (const UnusableDevice& device : stack_->Link().UnusableDevices()) {
        lines.push_back(device.path + ": " + device.reason);
    }
    std::vector<HubDevice> devices;
    for (const std::string& path : stack_->Link().DeviceList()) {
        const DeviceValues values = stack_->Values().Get(path);
        devices.push_back({path, GetModelName(values), values.ModelCode == kKeyboardModelCode});
    }
    std::lock_guard lock(stateMutex_);
    state_.unusable = std::move(lines);
    state_.devices = std::move(devices);
}

Status DeviceHub::RunEvents() {
    const DeviceEvents events = stack_->Link().HandleEvents();
    if (events.activeRemoved) MarkAway();
    NoteDevices();
    if (events.Changed()) NotifyViewChanged();
    if (events.refreshDelayMs > 0) {
        const auto listener = Listener();
        if (listener->refreshWanted) listener->refreshWanted(events.refreshDelayMs);
    }
    return {};
}

// ---- Configuration operations ----

Status DeviceHub::RequireModelLoaded(std::shared_ptr<ConfigModel>& model) const {
    bool away = false;
    {
        std::lock_guard lock(stateMutex_);
        model = model_;
        away = state_.away;
    }
    if (!model || !model->Snapshot()->loaded) return NoDevice();
    if (away) return Away();
    return {};
}

Status DeviceHub::RequireModel(std::shared_ptr<ConfigModel>& model) const {
    model = Model();
    if (!model) return NoDevice();
    return {};
}

void DeviceHub::Change(HubOperation op, ModelTask task) {
    Post({op,
          [this, task = std::move(task)](const ProgressFn& progress) -> Status {
              std::shared_ptr<ConfigModel> model;
              if (Status ready = RequireModelLoaded(model); !ready) return ready;
              Status done = task(*model, progress);
              NotifyViewChanged();
              return done;
          },
          false});
}

void DeviceHub::ChangeKeyboard(HubOperation op, KeyboardTask task) {
    Post({op,
          [this, task = std::move(task)](const ProgressFn& progress) -> Status {
              std::string path;
              bool keyboard = false;
              {
                  std::lock_guard lock(stateMutex_);
                  path = state_.path;
                  keyboard = state_.keyboard;
              }
              if (path.empty() || !keyboard) {
                  return MakeError(ErrorKind::BadInput, "no keyboard is connected");
              }
              if (!keyboardLighting_ || keyboardLighting_->Path() != path) {
                  keyboardLighting_ = std::make_unique<KeyboardLighting>(stack_->Keyboards(), path);
              }
              Status done = task(*keyboardLighting_, progress);
              auto shown =
                  keyboardLighting_->StateKnown()
                      ? std::make_shared<const KeyboardLightingState>(keyboardLighting_->State())
                      : nullptr;
              {
                  std::lock_guard lock(stateMutex_);
                  if (state_.path == path) state_.keyboardLighting = std::move(shown);
              }
              NotifyViewChanged();
              return done;
          },
          false});
}

void DeviceHub::Reset() {
    Post({HubOperation::Reset,
          [this](const ProgressFn& progress) -> Status {
              std::shared_ptr<ConfigModel> model;
              if (Status ready = RequireModel(model); !ready) return ready;
              Status reset = model->ResetConfiguration(ResetColoursSetting(), progress);
              NoteUninitialised(reset.kind() == ErrorKind::Uninitialised);
              NotifyViewChanged();
              return reset;
          },
          true});
}

void DeviceHub::SaveBackup(const std::string& file) {
    Post({HubOperation::Backup,
          [this, file](const ProgressFn& progress) { return RunBackup(file, progress); }, true});
}

void DeviceHub::RestoreBackup(const std::string& file, bool force) {
    Post({HubOperation::Restore,
          [this, file, force](const ProgressFn& progress) {
              return RunRestore(file, force, progress);
          },
          true});
}

namespace {
BackupProgress PercentOf(const std::function<void(int)>& progress) {
    return [&progress](int done, int total) {
        if (total > 0) progress(static_cast<int>(static_cast<int64_t>(done) * 100 / total));
    };
}
}  // namespace

Status DeviceHub::RunBackup(const std::string& file, const ProgressFn& progress) {
    std::shared_ptr<ConfigModel> model;
    if (Status ready = RequireModel(model); !ready) return ready;
    // Only reads: the memory as it is, loaded or not.
    auto top = LearnMemoryTop(stack_->Commands(), model->Path());
    if (!top) return MakeError(top.kind(), "cannot back up the memory: " + top.message());
    return qvm::SaveBackup(stack_->Commands(), stack_->Commands(), model->Path(), *top, file,
                           PercentOf(progress));
}

Status DeviceHub::RunRestore(const std::string& file, bool force, const ProgressFn& progress) {
    auto bytes = ReadFileIfExists(file);
    if (!bytes) return MakeError("cannot read " + file + ": " + bytes.message());
    if (!*bytes) return MakeError("cannot read " + file + ": no such file");
    auto contents = DecodeBackupFile(**bytes);
    if (!contents) return MakeError(ErrorKind::BadInput, file + ": " + contents.message());
    std::shared_ptr<ConfigModel> model;
    if (Status ready = RequireModel(model); !ready) return ready;
    if (Status judged = CheckRestore(*contents, model->Snapshot()->memoryTop, force); !judged) {
        return MakeError(ErrorKind::BadInput, file + ": " + judged.message());
    }
    auto report = qvm::RestoreBackup(
        stack_->Commands(), stack_->Commands(), model->Path(), file, stack_->GetClock(),
        [&] {
            Status loaded = model->LoadConfiguration();
            NoteUninitialised(loaded.kind() == ErrorKind::Uninitialised);
            // Forced in without the marker: the device holds what the file held, as asked.
            if (!loaded && loaded.kind() == ErrorKind::Uninitialised && force) return Status{};
            return loaded;
        },
        PercentOf(progress));
    NotifyViewChanged();
    if (!report) return report.error();
    return {};
}

void DeviceHub::FlushDeferred(DeferredWrites::Scope scope) {
    Post({HubOperation::FlushDeferred,
          [this, scope](const ProgressFn&) -> Status {
              // Nothing pending (or no device): nothing to write, nothing to report.
              const std::shared_ptr<ConfigModel> model = Model();
              if (!model || !model->Deferred().Pending()) return {};
              return model->Deferred().Flush(scope);
          },
          false});
}

// ---- Deferred settings ----

Status DeviceHub::ChangeDeferred(const DeferredChange& change) {
    std::shared_ptr<ConfigModel> model;
    if (Status ready = RequireModelLoaded(model); !ready) return ready;
    return change(model->Deferred());
}

std::optional<Clock::TimePoint> DeviceHub::NextDeferredDue() const {
    const std::shared_ptr<ConfigModel> model = Model();
    if (!model) return std::nullopt;
    return model->Deferred().NextDue();
}

Status DeviceHub::FlushDeferredNow() {
    std::mutex doneMutex;
    std::condition_variable doneChanged;
    bool done = false;
    Status result;
    Post({HubOperation::FlushDeferred,
          [&](const ProgressFn&) -> Status {
              const std::shared_ptr<ConfigModel> model = Model();
              Status flushed;
              if (model) flushed = model->Deferred().Flush(DeferredWrites::Scope::Everything);
              {
                  std::lock_guard lock(doneMutex);
                  result = flushed;
                  done = true;
              }
              doneChanged.notify_all();
              return flushed;
          },
          false});
    std::unique_lock lock(doneMutex);
    // The worker may be stopping: then the destructor flushes instead.
    doneChanged.wait(lock, [&] { return done || worker_.get_stop_token().stop_requested(); });
    return result;
}

}  // namespace qvm
