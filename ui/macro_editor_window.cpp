#include "ui/macro_editor_window.h"

#include <QCloseEvent>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QPainter>
#include <QScreen>
#include <QVBoxLayout>
#include <chrono>

#include "platform/folders.h"
#include "ui/input_source.h"
#include "ui/macro_edit_area.h"
#include "ui/macro_editor_list.h"
#include "ui/macro_recording.h"
#include "ui/qt_text.h"
#include "ui/skin.h"
#include "ui/text_entry_dialog.h"
#include "ui/window_placement.h"

namespace qvm::ui {
namespace {

constexpr QSize kWindowSize{900, 620};
constexpr int kListWidth = 280;
constexpr int kPlacementGap = 20;
constexpr double kPercent = 100.0;
// Texts of the tables the window shows.
constexpr std::size_t kTipLoad = 2;  // drag a macro here to edit it

}  // namespace

// The progress box drawn over the whole window while a transfer runs: a 400 x 40 box in
// the middle and a 360 x 16 bar inside it, filled as far as the transfer has come. It
// takes the window's clicks, so nothing is edited under a running transfer.
class TransferOverlay : public QWidget {
  public:
    TransferOverlay(const MacroEditorModel& model, QWidget* parent)
        : QWidget(parent), model_(model) {}

  protected:
    void paintEvent(QPaintEvent* /*event*/) override {
        constexpr QSize kBox{400, 40};
        constexpr QSize kBar{360, 16};
        constexpr int kOuterFrame = 6;
        QPainter painter(this);
        const QRect box(rect().center() - QPoint(kBox.width() / 2, kBox.height() / 2), kBox);
        const QRect bar(rect().center() - QPoint(kBar.width() / 2, kBar.height() / 2), kBar);
        painter.fillRect(box, QColor::fromRgba(0xF0808080));
        painter.setPen(QPen(QColor::fromRgba(0x20202020), kOuterFrame));
        painter.drawRect(
            box.adjusted(-kOuterFrame / 2, -kOuterFrame / 2, kOuterFrame / 2, kOuterFrame / 2));
        painter.setPen(QPen(QColor::fromRgba(0xA0FFFFFF), 1));
        painter.drawRect(box);
        painter.fillRect(bar, QColor::fromRgba(0xFE202020));
        const int filled = static_cast<int>(model_.Progress() * kBar.width());
        painter.fillRect(QRect(bar.topLeft(), QSize(filled, kBar.height())),
                         QColor::fromRgba(0xFEFFFFFF));
    }

  private:
    const MacroEditorModel& model_;
};

MacroEditorWindow::MacroEditorWindow(DeviceController& controller, MacroEditorContext context,
                                     QWidget* parent)
    : QWidget(parent, Qt::Window),
      controller_(controller),
      context_(std::move(context)),
      library_(context_.libraryRoot) {
    Clock& clock = context_.clock != nullptr ? *context_.clock : controller_.Hub().GetClock();
    context_.clock = &clock;
    model_ = std::make_unique<MacroEditorModel>(library_, clock);
    setWindowTitle(ToQ(Ui().macro_editor_cap_str));
    setObjectName("macroEditor");
    resize(kWindowSize);

    auto* columns = new QHBoxLayout(this);
    auto* left = new QVBoxLayout();
    columns->addLayout(left);
    list_ = new MacroEditorList(this);
    list_->setFixedWidth(kListWidth);
    left->addWidget(list_, 1);
    left->addWidget(BuildCommands());

    auto* right = new QVBoxLayout();
    columns->addLayout(right, 1);
    right->addWidget(BuildHeader());
    free_ = new QLabel(this);
    free_->setAlignment(Qt::AlignRight);
    right->addWidget(free_);
    right->addWidget(BuildOptions());
    area_ = new MacroEditArea(*model_, this);
    area_->setWhatsThis(ToQ(Ui().drag_tip_str[kTipLoad]));
    right->addWidget(area_, 1);
    right->addWidget(BuildItemCommands());
    status_ = new QLabel(this);
    status_->setWordWrap(true);
    right->addWidget(status_);

    overlay_ = new TransferOverlay(*model_, this);
    overlay_->hide();

    arrowTimer_.setSingleShot(true);
    arrowTimer_.setTimerType(Qt::PreciseTimer);
    connect(&arrowTimer_, &QTimer::timeout, this, [this] {
        model_->AdvanceDelayArrow();
        ShowEditArea();
        ArmArrow();
    });
    connect(area_, &MacroEditArea::edited, this, [this] { ShowModel(); });
    connect(area_, &MacroEditArea::editRequested, this,
            [this](int row) { Follow(model_->EditRow(row)); });
    connect(area_, &MacroEditArea::loadRequested, this,
            [this](const MacroListTarget& target) { Follow(model_->Load(target)); });
    connect(list_, &MacroEditorList::droppedOnList, this,
            [this](const MacroListTarget& target) { Follow(model_->DropOnList(target)); });
    connect(&controller_, &DeviceController::operationFinished, this,
            &MacroEditorWindow::OnOperationFinished);
    connect(&controller_, &DeviceController::progress, this, &MacroEditorWindow::OnProgress);
    connect(&controller_, &DeviceController::viewChanged, this, &MacroEditorWindow::OnViewChanged);

    InputSource* input = context_.input;
    if (input == nullptr) {
        ownInput_ = InputSource::Open();
        input = ownInput_.get();
    }
    recording_ = std::make_unique<MacroRecording>(*input, clock);
    // Clicks on Record and Stop start and end the recording; they are not part of it.
    recording_->SetExcludedWidgets({Command("record"), Command("stop")});
    connect(recording_.get(), &MacroRecording::recorded, this,
            [this](const std::vector<MacroItem>& items) {
                model_->AppendRecorded(items);
                ShowEditArea();
            });
    connect(recording_.get(), &MacroRecording::captured, this,
            [this](const std::vector<MacroItem>& items) {
                model_->InsertCaptured(items);
                ShowModel();
            });
    connect(recording_.get(), &MacroRecording::stopped, this,
            &MacroEditorWindow::OnRecordingStopped);

    if (Status scanned = library_.Rescan(); !scanned) Report(ErrorMessage(scanned.error()));
    OnViewChanged();
    Command("insertCapture")->installEventFilter(this);
    ShowRecordingState();
    ShowList();
    ShowModel();
}

MacroEditorWindow::~MacroEditorWindow() {
    // The recording goes first: its lease (and any keyboard grab) ends with it.
    recording_.reset();
}

QPushButton* MacroEditorWindow::Command(const QString& objectName) const {
    return findChild<QPushButton*>(objectName);
}

bool MacroEditorWindow::OverlayShown() const {
    return overlay_->isVisible();
}

bool MacroEditorWindow::RecordIntervals() const {
    return intervals_->isChecked();
}

void MacroEditorWindow::SetRecordIntervals(bool on) {
    intervals_->setChecked(on);  // the toggled handler tells the model
}

void MacroEditorWindow::ShowBeside(const QWidget* anchor) {
    if (!placed_ && anchor != nullptr) {
        resize(size().expandedTo(minimumSizeHint()));
        const QScreen* screen = anchor->screen();
        const QRect room =
            screen != nullptr ? screen->availableGeometry() : anchor->frameGeometry();
        move(PlaceBeside(anchor->frameGeometry(), frameGeometry().size(), room, kPlacementGap));
        placed_ = true;
    }
    show();
    raise();
    activateWindow();
    area_->setFocus(Qt::OtherFocusReason);
}

void MacroEditorWindow::ReloadLibrary() {
    if (Status scanned = library_.Rescan(); !scanned) Report(ErrorMessage(scanned.error()));
    ShowList();
}

// ---- Steps, questions and transfers ----

void MacroEditorWindow::Follow(Result<EditorStep> step, bool fromTransfer) {
    bool asked = false;
    while (step && step->kind == EditorStep::Kind::Ask) {
        asked = true;
        const TextEntryRequest question = step->question;
        std::optional<TextEntryRequest> answer = RunTextEntry(this, question);
        step = model_->Answer(answer.has_value(), answer ? *answer : question);
    }
    if (!step) {
        const QString text = ErrorMessage(step.error());
        Report(text);
        // A failed transfer is reported by the main window, as every device operation is.
        if (!fromTransfer && context_.showError) context_.showError(text);
    } else {
        Report(QString());
        if (step->kind == EditorStep::Kind::Transfer) StartTransfer(step->transfer);
    }
    // An answer may have changed the library (a folder made, a file written or deleted),
    // and so may saving a library macro.
    if ((asked || model_->Source().kind == MacroSource::Kind::LibraryFile) &&
        context_.libraryChanged) {
        context_.libraryChanged();
    }
    ShowList();
    ShowModel();
}

void MacroEditorWindow::StartTransfer(const MacroTransfer& transfer) {
    outcome_ = std::make_shared<MacroTransferOutcome>();
    running_ = transfer;
    controller_.Change(HubOperation::Macro, MacroTransferTask(transfer, outcome_));
}

void MacroEditorWindow::OnProgress(const QString& operation, int percent) {
    if (!running_ || operation != DeviceController::OperationName(HubOperation::Macro)) return;
    model_->OnTransferProgress(percent / kPercent);
    overlay_->update();
}

void MacroEditorWindow::OnOperationFinished(const QString& operation, const QString& error) {
    if (!running_ || operation != DeviceController::OperationName(HubOperation::Macro)) return;
    const MacroTransfer transfer = *running_;
    running_.reset();
    MacroTransferOutcome outcome = std::move(*outcome_);
    outcome_.reset();
    // The hub's own failure (the device away, a write it could not keep) wins.
    if (!error.isEmpty() && outcome.status.ok()) {
        outcome.status = MakeError(ErrorKind::Other, FromQ(error));
    }
    Follow(model_->FinishTransfer(transfer, std::move(outcome)), true);
}

void MacroEditorWindow::OnViewChanged() {
    const DeviceView view = controller_.View();
    const bool present = view.present && !view.away;
    if (!present) {
        model_->SetDevice(std::nullopt, std::nullopt);
        devicePath_.clear();
        StopRecording();
    } else {
        const bool arrived = devicePath_ != view.path;
        devicePath_ = view.path;
        model_->SetDevice(view.image->macros, arrived ? std::nullopt : model_->FreeMemory());
        // Free memory is only known from the device itself.
        if (arrived && isVisible() && !model_->Transferring()) {
            Follow(model_->RefreshDevice(), true);
            return;
        }
    }
    ShowList();
    ShowModel();
}

void MacroEditorWindow::Import() {
    const QString file = QFileDialog::getOpenFileName(
        this, ToQ(Ui().button_tip_str[kButtonImport]), ToQ(library_.Root()),
        QStringLiteral("*%1").arg(ToQ(kMacroFileExtension)));
    if (file.isEmpty()) return;
    if (Status imported = model_->Import(FromQ(file)); !imported) {
        Follow(imported.error());
        return;
    }
    ShowModel();
}

void MacroEditorWindow::Export() {
    const QString suggested = ToQ(JoinPath(library_.Root(), model_->SuggestedExportFileName()));
    const QString file =
        QFileDialog::getSaveFileName(this, ToQ(Ui().button_tip_str[kButtonExport]), suggested,
                                     QStringLiteral("*%1").arg(ToQ(kMacroFileExtension)));
    if (file.isEmpty()) return;
    // The file dialog has asked before replacing a file.
    if (Status exported = model_->Export(FromQ(file), true); !exported) {
        Follow(exported.error());
        return;
    }
    // The file may have gone into the library's folder.
    ReloadLibrary();
    if (context_.libraryChanged) context_.libraryChanged();
}

// ---- Recording ----

void MacroEditorWindow::StartRecording() {
    if (recording_->Active()) return;
    const RecordOptions& o = model_->Options();
    recording_->SetOptions({o.intervals, o.clickPositions, o.cursorTrack,
                            o.trackIntervalMs == kTrackIntervalShortMs ? TrackInterval::k50Ms
                                                                       : TrackInterval::k200Ms});
    model_->BeginRecording();
    if (Status started = recording_->StartRecording(this); !started) {
        model_->EndRecording();
        Follow(started.error());
        return;
    }
    Report(ownInput_ ? ownInput_->FallbackNotice() : context_.input->FallbackNotice());
    ShowRecordingState();
}

void MacroEditorWindow::StartCapture(bool fromMouseInsert) {
    if (recording_->Active()) return;
    if (Status started = recording_->StartCapture(fromMouseInsert, this); !started) {
        Follow(started.error());
        return;
    }
    ShowRecordingState();
}

void MacroEditorWindow::StopRecording() {
    if (recording_ != nullptr) recording_->Stop();
    OnRecordingStopped();
}

void MacroEditorWindow::OnRecordingStopped() {
    if (model_->Recording()) model_->EndRecording();
    ShowRecordingState();
    ShowModel();
}

void MacroEditorWindow::ShowRecordingState() {
    const bool active = recording_ != nullptr && recording_->Active();
    Command("record")->setEnabled(!active);
    Command("stop")->setEnabled(active);
    Command("insertCapture")->setEnabled(!active);
}

// ---- The delay arrows ----

void MacroEditorWindow::PressArrow(DelayArrow arrow) {
    if (model_->PressDelayArrow(arrow)) ArmArrow();
    ShowModel();
}

void MacroEditorWindow::ArmArrow() {
    const std::optional<Clock::TimePoint> due = model_->NextDelayArrowRepeat();
    if (!due) {
        arrowTimer_.stop();
        return;
    }
    using std::chrono::milliseconds;
    const auto left = std::chrono::ceil<milliseconds>(*due - context_.clock->Now()).count();
    arrowTimer_.start(static_cast<int>(std::max<long long>(left, 0)));
}

void MacroEditorWindow::ReleaseArrow() {
    arrowTimer_.stop();
    model_->ReleaseDelayArrow();
}

// ---- Showing ----

void MacroEditorWindow::ShowEditArea() {
    size_->setText(ToQ(model_->SizeLabel()));
    area_->ShowModel();
}

void MacroEditorWindow::ShowList() {
    list_->Rebuild(*model_, library_);
}

void MacroEditorWindow::ShowModel() {
    name_->setText(ToQ(model_->NameLabel()));
    mode_->setText(ToQ(model_->ModeLabel()));
    free_->setText(ToQ(model_->FreeMemoryLabel()));
    ShowEditArea();
    overlay_->setGeometry(rect());
    overlay_->setVisible(model_->Transferring());
    if (model_->Transferring()) overlay_->raise();
}

void MacroEditorWindow::Report(const QString& text) {
    status_->setText(text);
    status_->setVisible(!text.isEmpty());
}

void MacroEditorWindow::closeEvent(QCloseEvent* event) {
    // The editor is made once: closing only hides it.
    event->ignore();
    hide();
}

void MacroEditorWindow::hideEvent(QHideEvent* event) {
    QWidget::hideEvent(event);
    ReleaseArrow();
    StopRecording();
}

void MacroEditorWindow::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    if (model_->DevicePresent() && !model_->FreeMemory() && !model_->Transferring()) {
        Follow(model_->RefreshDevice(), true);
    }
}

bool MacroEditorWindow::eventFilter(QObject* watched, QEvent* event) {
    if (watched == Command("insertCapture")) {
        // A capture started with the mouse must not take that click's own release.
        if (event->type() == QEvent::MouseButtonPress) captureByMouse_ = true;
        if (event->type() == QEvent::KeyPress) captureByMouse_ = false;
    }
    return QWidget::eventFilter(watched, event);
}

void MacroEditorWindow::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    overlay_->setGeometry(rect());
}

}  // namespace qvm::ui
