// The macro editor's commands: the buttons, check boxes and labels around the edit area,
// each calling the model or the window.
#include <QButtonGroup>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QRadioButton>
#include <QVBoxLayout>
#include <utility>

#include "macro/macro_describe.h"
#include "ui/macro_editor_list.h"
#include "ui/macro_editor_window.h"
#include "ui/qt_text.h"

namespace qvm::ui {
namespace {

constexpr std::size_t kButtonHide = 11;
constexpr std::size_t kButtonRecord = 18;
constexpr std::size_t kButtonStop = 19;
constexpr std::size_t kButtonClear = 20;
constexpr std::size_t kButtonIntervals = 21;
constexpr std::size_t kButtonDelete = 25;
constexpr std::size_t kButtonClickPositions = 28;
constexpr std::size_t kButtonCursorTrack = 29;
constexpr std::size_t kButtonMs = 30;  // "%dms"
constexpr std::size_t kButtonSave = 36;
constexpr std::size_t kButtonNewFolder = 39;
constexpr std::size_t kTipNameField = 14;    // "Click here to enter name"
constexpr std::size_t kTipDeleteMacro = 25;  // "Delete macro"
constexpr std::size_t kMsgStoreNew = 2;      // "Save to macro list"
constexpr std::size_t kMsgInsertCapture = 3;
constexpr std::size_t kMsgInsertMove = 4;
constexpr std::size_t kMsgInsertDelay = 5;
constexpr std::size_t kMsgRecordMovement = 18;  // "Record mouse movement:"
constexpr std::size_t kMsgSlowDown = 67;
constexpr std::size_t kMsgSpeedUp = 68;
constexpr std::size_t kTipCreateNew = 0;  // drag here to create a new macro

}  // namespace

QPushButton* MacroEditorWindow::AddCommand(QWidget* parent, const char* objectName,
                                           const std::string& text, const std::string& tip,
                                           std::function<void()> run) {
    auto* button = new QPushButton(ToQ(text), parent);
    button->setObjectName(objectName);
    if (!tip.empty()) button->setToolTip(ToQ(tip));
    if (run) connect(button, &QPushButton::clicked, this, std::move(run));
    return button;
}

QWidget* MacroEditorWindow::BuildCommands() {
    const UiStrings& ui = Ui();
    auto* box = new QWidget(this);
    auto* grid = new QGridLayout(box);
    grid->setContentsMargins(0, 0, 0, 0);
    grid->addWidget(
        AddCommand(box, "storeNew", ui.msg_str[kMsgStoreNew], ui.drag_tip_str[kTipCreateNew],
                   [this] { Follow(model_->StoreNew()); }),
        0, 0);
    grid->addWidget(AddCommand(box, "save", ui.button_str[kButtonSave],
                               ui.button_tip_str[kButtonSave], [this] { Follow(model_->Save()); }),
                    0, 1);
    grid->addWidget(AddCommand(box, "deleteEntry", ui.button_str[kButtonDelete],
                               ui.button_tip_str[kTipDeleteMacro],
                               [this] {
                                   if (auto chosen = list_->Chosen()) {
                                       Follow(model_->DeleteEntry(*chosen));
                                   }
                               }),
                    1, 0);
    grid->addWidget(AddCommand(box, "newFolder", ui.button_str[kButtonNewFolder],
                               ui.button_tip_str[kButtonNewFolder],
                               [this] { Follow(model_->NewFolder(list_->ChosenFolder())); }),
                    1, 1);
    grid->addWidget(AddCommand(box, "import", ui.button_str[kButtonImport],
                               ui.button_tip_str[kButtonImport], [this] { Import(); }),
                    2, 0);
    grid->addWidget(AddCommand(box, "export", ui.button_str[kButtonExport],
                               ui.button_tip_str[kButtonExport], [this] { Export(); }),
                    2, 1);
    return box;
}

QWidget* MacroEditorWindow::BuildHeader() {
    const UiStrings& ui = Ui();
    auto* box = new QWidget(this);
    auto* row = new QHBoxLayout(box);
    row->setContentsMargins(0, 0, 0, 0);
    name_ = AddCommand(box, "name", model_->NameLabel(), ui.button_tip_str[kTipNameField],
                       [this] { Follow(model_->AskName()); });
    name_->setFlat(true);
    mode_ = AddCommand(box, "mode", model_->ModeLabel(), {}, [this] {
        model_->CycleMode();
        ShowModel();
    });
    mode_->setFlat(true);
    size_ = new QLabel(box);
    row->addWidget(name_, 1);
    row->addWidget(mode_);
    row->addWidget(size_);
    row->addWidget(AddCommand(box, "hide", ui.button_str[kButtonHide], {}, [this] { hide(); }));
    return box;
}

QWidget* MacroEditorWindow::BuildOptions() {
    const UiStrings& ui = Ui();
    auto* box = new QWidget(this);
    auto* rows = new QVBoxLayout(box);
    rows->setContentsMargins(0, 0, 0, 0);

    auto* record = new QHBoxLayout();
    rows->addLayout(record);
    record->addWidget(AddCommand(box, "record", ui.button_str[kButtonRecord],
                                 ui.button_tip_str[kButtonRecord], [this] { StartRecording(); }));
    record->addWidget(AddCommand(box, "stop", ui.button_str[kButtonStop],
                                 ui.button_tip_str[kButtonStop], [this] { StopRecording(); }));
    record->addWidget(AddCommand(box, "clear", ui.button_str[kButtonClear],
                                 ui.button_tip_str[kButtonClear], [this] {
                                     model_->Clear();
                                     ShowModel();
                                 }));
    intervals_ = new QCheckBox(ToQ(ui.button_str[kButtonIntervals]), box);
    intervals_->setChecked(model_->Options().intervals);
    connect(intervals_, &QCheckBox::toggled, this, [this](bool on) {
        model_->SetRecordIntervals(on);
        emit recordIntervalsChanged(on);
    });
    record->addWidget(intervals_);
    record->addStretch(1);

    auto* movement = new QHBoxLayout();
    rows->addLayout(movement);
    movement->addWidget(new QLabel(ToQ(ui.msg_str[kMsgRecordMovement]), box));
    clickPositions_ = new QCheckBox(ToQ(ui.button_str[kButtonClickPositions]), box);
    connect(clickPositions_, &QCheckBox::toggled, this,
            [this](bool on) { model_->SetRecordClickPositions(on); });
    cursorTrack_ = new QCheckBox(ToQ(ui.button_str[kButtonCursorTrack]), box);
    connect(cursorTrack_, &QCheckBox::toggled, this,
            [this](bool on) { model_->SetRecordCursorTrack(on); });
    movement->addWidget(clickPositions_);
    movement->addWidget(cursorTrack_);
    auto* track = new QButtonGroup(box);
    const auto msLabel = [&](int ms) {
        const std::string args[] = {std::to_string(ms)};
        return ToQ(FillTextTemplate(ui.button_str[kButtonMs], args));
    };
    track50_ = new QRadioButton(msLabel(kTrackIntervalShortMs), box);
    track200_ = new QRadioButton(msLabel(kTrackIntervalLongMs), box);
    track->addButton(track50_, kTrackIntervalShortMs);
    track->addButton(track200_, kTrackIntervalLongMs);
    (model_->Options().trackIntervalMs == kTrackIntervalShortMs ? track50_ : track200_)
        ->setChecked(true);
    connect(track, &QButtonGroup::idClicked, this, [this](int ms) {
        if (Status set = model_->SetTrackInterval(ms); !set) Report(ErrorMessage(set.error()));
    });
    movement->addWidget(track50_);
    movement->addWidget(track200_);
    movement->addStretch(1);

    auto* insert = new QHBoxLayout();
    rows->addLayout(insert);
    insert->addWidget(AddCommand(box, "insertDelay", ui.msg_str[kMsgInsertDelay], {}, [this] {
        model_->InsertDelay();
        ShowModel();
    }));
    insert->addWidget(AddCommand(box, "insertCapture", ui.msg_str[kMsgInsertCapture], {},
                                 [this] { StartCapture(captureByMouse_); }));
    insert->addWidget(AddCommand(box, "insertMove", ui.msg_str[kMsgInsertMove], {},
                                 [this] { Follow(model_->AskInsertMovement()); }));
    insert->addStretch(1);
    return box;
}

QWidget* MacroEditorWindow::BuildItemCommands() {
    const UiStrings& ui = Ui();
    auto* box = new QWidget(this);
    auto* row = new QHBoxLayout(box);
    row->setContentsMargins(0, 0, 0, 0);
    // The arrows change the wait at the cursor at once and repeat while held.
    QPushButton* down = AddCommand(box, "delayDown", "\xE2\x96\xBC", ui.msg_str[kMsgSlowDown], {});
    QPushButton* up = AddCommand(box, "delayUp", "\xE2\x96\xB2", ui.msg_str[kMsgSpeedUp], {});
    for (auto [button, arrow] :
         {std::pair{down, DelayArrow::Down}, std::pair{up, DelayArrow::Up}}) {
        connect(button, &QPushButton::pressed, this, [this, arrow] { PressArrow(arrow); });
        connect(button, &QPushButton::released, this, [this] { ReleaseArrow(); });
        row->addWidget(button);
    }
    row->addStretch(1);
    row->addWidget(AddCommand(box, "deleteItems", ui.button_str[kButtonDelete], {}, [this] {
        model_->DeleteItems();
        ShowModel();
    }));
    return box;
}

}  // namespace qvm::ui
