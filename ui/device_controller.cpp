#include "ui/device_controller.h"

#include <QMetaObject>
#include <QSocketNotifier>
#include <algorithm>
#include <chrono>

#include "lang/ui_strings.h"
#include "session/device_hub.h"
#include "ui/qt_text.h"

namespace qvm::ui {

namespace {

// Backends without an event descriptor (the bridge) have their events drained this often.
constexpr int kEventDrainMs = 2000;
// A deferred write that failed is tried again no sooner than this.
constexpr int kDeferredRetryMs = 1000;

// The UI texts of the long operations' buttons.
constexpr int kResetText = 3;
constexpr int kBackupText = 4;
constexpr int kRestoreText = 5;

struct OperationWord {
    HubOperation op;
    WordText word;
};
// The other operations, as messages name them.
constexpr OperationWord kOperationWords[] = {
    {HubOperation::Refresh, kWordOpRefresh},
    {HubOperation::DeviceChange, kWordOpDeviceChange},
    {HubOperation::AssignButton, kWordOpAssignButton},
    {HubOperation::ProfileName, kWordOpProfileName},
    {HubOperation::ProfileColour, kWordOpProfileColour},
    {HubOperation::ActiveProfile, kWordOpActiveProfile},
    {HubOperation::StageFlags, kWordOpStageFlags},
    {HubOperation::CurrentStage, kWordOpCurrentStage},
    {HubOperation::KeyCycleList, kWordOpKeyCycle},
    {HubOperation::FlushDeferred, kWordOpSettings},
    {HubOperation::Macro, kWordOpMacro},
    {HubOperation::Lighting, kWordOpLighting},
};

}  // namespace

struct DeviceController::Impl {
    std::unique_ptr<DeviceHub> hub;
    QTimer refreshTimer;   // timer 2: starts a refresh when it fires
    QTimer deferredTimer;  // fires when the earliest deferred write is due
    QTimer eventDrain;     // only for backends without an event descriptor
    std::unique_ptr<QSocketNotifier> notifier;
    bool deferredFailed = false;
    QString unsavedError;  // the latest refusal for want of a first backup
    std::string unsavedPath;
};

QString DeviceController::OperationName(HubOperation op) {
    switch (op) {
        case HubOperation::Reset:
            return ToQ(Ui().button_str[kResetText]);
        case HubOperation::Backup:
            return ToQ(Ui().button_str[kBackupText]);
        case HubOperation::Restore:
            return ToQ(Ui().button_str[kRestoreText]);
        default:
            for (const OperationWord& entry : kOperationWords) {
                if (entry.op == op) return Word(entry.word);
            }
            // An operation without a table entry is named as the hub's log names it.
            return QString::fromUtf8(HubOperationName(op));
    }
}

Result<std::unique_ptr<DeviceController>> DeviceController::Open(const DeviceHubOptions& options,
                                                                 Clock& clock) {
    auto hub = DeviceHub::Open(options, clock);
    if (!hub) return hub.error();
    return std::make_unique<DeviceController>(std::move(hub).value());
}

DeviceController::DeviceController(std::unique_ptr<DeviceHub> hub, QObject* parent)
    : QObject(parent), impl_(std::make_unique<Impl>()) {
    impl_->hub = std::move(hub);
    impl_->refreshTimer.setSingleShot(true);
    impl_->deferredTimer.setSingleShot(true);
    impl_->deferredTimer.setTimerType(Qt::PreciseTimer);
    impl_->eventDrain.setInterval(kEventDrainMs);
    connect(&impl_->refreshTimer, &QTimer::timeout, this, [this] {
        // A refresh already waiting or running covers this one.
        if (!impl_->hub->RefreshQueued()) impl_->hub->Refresh();
    });
    connect(&impl_->deferredTimer, &QTimer::timeout, this,
            [this] { impl_->hub->FlushDeferred(DeferredWrites::Scope::Due); });
    connect(&impl_->eventDrain, &QTimer::timeout, this, [this] { HandleDeviceEvents(); });

    // The hub calls these on its worker; each hops to this object's thread. Events queued
    // for this object are dropped when it is destroyed, and the hub (with its worker)
    // goes before that, so nothing runs on a destroyed controller.
    HubListener listener;
    listener.progress = [this](HubOperation op, int percent) {
        QMetaObject::invokeMethod(
            this, [this, op, percent] { emit progress(OperationName(op), percent); },
            Qt::QueuedConnection);
    };
    listener.finished = [this](HubOperation op, const Status& status) {
        const bool uninitialised =
            op == HubOperation::Refresh && status.kind() == ErrorKind::Uninitialised;
        const QString error = status || uninitialised ? QString() : ErrorMessage(status.error());
        const bool unsaved = status.kind() == ErrorKind::Unsaved;
        QMetaObject::invokeMethod(
            this,
            [this, op, error, uninitialised, unsaved] {
                if (unsaved) {
                    impl_->unsavedError = error;
                    impl_->unsavedPath = View().path;
                }
                if (op == HubOperation::DeviceChange && impl_->notifier) {
                    impl_->notifier->setEnabled(true);
                }
                if (op == HubOperation::FlushDeferred) impl_->deferredFailed = !error.isEmpty();
                if (op == HubOperation::FlushDeferred || op == HubOperation::Refresh) {
                    ArmDeferred();
                }
                emit operationFinished(OperationName(op), error);
                if (uninitialised) emit uninitialisedFound();
                if (unsaved) emit unsavedFound(error);
            },
            Qt::QueuedConnection);
    };
    listener.viewChanged = [this] {
        QMetaObject::invokeMethod(
            this, [this] { emit viewChanged(); }, Qt::QueuedConnection);
    };
    listener.firstBackupSaved = [this](const std::string&, const std::string& file) {
        QMetaObject::invokeMethod(
            this, [this, shown = ToQ(file)] { emit firstBackupSaved(shown); },
            Qt::QueuedConnection);
    };
    listener.refreshWanted = [this](int delayMs) {
        QMetaObject::invokeMethod(
            this, [this, delayMs] { RefreshAfter(delayMs); }, Qt::QueuedConnection);
    };
    impl_->hub->SetListener(std::move(listener));
}

DeviceController::~DeviceController() {
    impl_->notifier.reset();
    impl_->refreshTimer.stop();
    impl_->deferredTimer.stop();
    impl_->eventDrain.stop();
    // Queued writes still reach the device; then the hub stops its worker (no listener
    // call can start after that) and writes every pending deferred value.
    impl_->hub->WaitIdle();
    impl_->hub.reset();
}

bool DeviceController::IsUnsavedRefusal(const QString& error) const {
    return !error.isEmpty() && error == impl_->unsavedError;
}

void DeviceController::AnswerUnsaved(bool write) {
    if (write && !impl_->unsavedPath.empty()) {
        impl_->hub->AcceptUnsaved(impl_->unsavedPath);
    } else {
        impl_->hub->DropUnsaved();
    }
    impl_->unsavedError.clear();
    impl_->unsavedPath.clear();
}

DeviceHub& DeviceController::Hub() {
    return *impl_->hub;
}

void DeviceController::Start() {
    const int fd = impl_->hub->EventFd();
    if (fd >= 0) {
        impl_->notifier = std::make_unique<QSocketNotifier>(fd, QSocketNotifier::Read);
        connect(impl_->notifier.get(), &QSocketNotifier::activated, this,
                [this] { HandleDeviceEvents(); });
    } else {
        impl_->eventDrain.start();
    }
    RefreshAfter(DeviceLink::kFirstRefreshDelayMs);
}

void DeviceController::HandleDeviceEvents() {
    // The descriptor stays readable until the worker has drained it: listen again only
    // once it has (see the finished handler), so one change queues one drain.
    if (impl_->notifier) impl_->notifier->setEnabled(false);
    impl_->hub->HandleEvents();
}

DeviceView DeviceController::View() const {
    return impl_->hub->Snapshot();
}

bool DeviceController::Busy() const {
    return impl_->hub->Busy();
}

void DeviceController::ArmDeferred() {
    const std::optional<Clock::TimePoint> due = impl_->hub->NextDeferredDue();
    if (!due) {
        impl_->deferredTimer.stop();
        return;
    }
    using std::chrono::milliseconds;
    const auto left = *due - impl_->hub->GetClock().Now();
    // Rounded up, so the flush never runs before the value is due.
    int ms = static_cast<int>(std::chrono::ceil<milliseconds>(left).count());
    ms = std::max(ms, 0);
    if (impl_->deferredFailed) ms = std::max(ms, kDeferredRetryMs);
    impl_->deferredTimer.start(ms);
}

Status DeviceController::ChangeDeferred(const DeviceHub::DeferredChange& change) {
    Status changed = impl_->hub->ChangeDeferred(change);
    if (changed) {
        ArmDeferred();
        emit viewChanged();
    }
    return changed;
}

void DeviceController::Change(HubOperation op, DeviceHub::ModelTask task) {
    impl_->hub->Change(op, std::move(task));
}

void DeviceController::ResetDevice() {
    impl_->hub->Reset();
}

void DeviceController::SaveBackupTo(const std::string& file) {
    impl_->hub->SaveBackup(file);
}

void DeviceController::RestoreBackupFrom(const std::string& file, bool force) {
    impl_->hub->RestoreBackup(file, force);
}

void DeviceController::SelectDevice(const std::string& path) {
    // The pending refresh timer would only repeat the refresh the choice queues.
    impl_->refreshTimer.stop();
    impl_->hub->SelectDevice(path);
}

void DeviceController::ShowDeviceState(const std::function<void(ConfigImage&)>& change) {
    const std::shared_ptr<ConfigModel> model = impl_->hub->Model();
    if (!model || !model->Snapshot()->loaded) return;
    model->Edit(change);
    emit viewChanged();
}

void DeviceController::RefreshAfter(int ms) {
    impl_->refreshTimer.start(std::max(ms, 0));
}

void DeviceController::FlushPending() {
    impl_->deferredTimer.stop();
    if (!impl_->hub) return;
    // Runs on the worker after whatever is queued; waits for it, the window is closing.
    if (Status flushed = impl_->hub->FlushDeferredNow(); !flushed) {
        emit operationFinished(OperationName(HubOperation::FlushDeferred),
                               ErrorMessage(flushed.error()));
    }
}

}  // namespace qvm::ui
