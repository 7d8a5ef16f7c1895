#include "ui/button_settings_dialog.h"

#include <QButtonGroup>
#include <QComboBox>
#include <QFormLayout>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QSpinBox>
#include <QStackedWidget>
#include <QVBoxLayout>
#include <algorithm>

#include "config/catalogue.h"
#include "macro/macro_slots.h"
#include "ui/onscreen_keyboard.h"
#include "ui/qt_text.h"
#include "ui/skin.h"

namespace qvm::ui {
namespace {

constexpr QSize kDialogSize{940, 560};
constexpr int kClassListWidth = 150;
constexpr int kEntryListWidth = 250;
constexpr int kListHeight = 214;
constexpr int kProblemHeight = 34;  // two lines of an error text
constexpr int kFireUnitMs = 10;
constexpr int kMaxRepeatCount = 255;
// DPI operands are single bytes, whatever step count the device reports.
constexpr int kMaxDpiOperand = 255;

// UI string entries the dialog shows.
constexpr std::size_t kOkButton = 7;  // button_str
constexpr std::size_t kCancelButton = 8;
constexpr std::size_t kClearButton = 20;
constexpr std::size_t kDeleteButton = 25;
constexpr std::size_t kOnceModeButton = 15;  // then loop and fire-key mode
constexpr std::size_t kDelayMsg = 61;        // msg_str
constexpr std::size_t kKeyCycleMsg = 40;
constexpr std::size_t kTypeMsg = 41;
constexpr std::size_t kPressKeyboardMsg = 45;
constexpr std::size_t kMacroListMsg = 1;

bool IsUserMacro(const ButtonSlot& s) {
    return s.type >= kTypeMacro && s.type <= kTypeMacroHold && s.op3 != kBuiltinMacroMarker;
}

}  // namespace

ButtonSettingsDialog::ButtonSettingsDialog(ButtonSettingsModel model, const ConfigImage& image,
                                           const KeyboardLayout& keyboard, QWidget* parent)
    : QDialog(parent),
      model_(std::move(model)),
      dpiStep_(image.dpiStep),
      dpiStepCount_(image.dpiStepCount),
      shownClass_(model_.SelectedClass()) {
    setWindowTitle(ToQ(Ui().button_str[0]));
    setFixedSize(kDialogSize);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(12, 12, 12, 12);
    // The lists, the operand editor and the preview share one band of fixed height, so
    // whichever editor shows, the keyboard below keeps its size.
    auto* band = new QWidget(this);
    band->setFixedHeight(kListHeight);
    layout->addWidget(band);
    auto* top = new QHBoxLayout(band);
    top->setContentsMargins(0, 0, 0, 0);
    classList_ = new QListWidget(band);
    classList_->setFixedSize(kClassListWidth, kListHeight);
    entryList_ = new QListWidget(band);
    entryList_->setFixedSize(kEntryListWidth, kListHeight);
    top->addWidget(classList_);
    top->addWidget(entryList_);

    auto* right = new QVBoxLayout();
    top->addLayout(right, 1);
    right->addWidget(BuildEditors(), 1);
    auto* previewRow = new QHBoxLayout();
    previewRow->addWidget(new QLabel(ToQ(Ui().msg_str[kTypeMsg]), this));
    preview_ = new QLabel(this);
    preview_->setFont(skin::SharedFont(8));
    previewRow->addWidget(preview_, 1);
    right->addLayout(previewRow);
    problem_ = new QLabel(this);
    problem_->setWordWrap(true);
    problem_->setFixedHeight(kProblemHeight);
    problem_->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    problem_->setStyleSheet(QStringLiteral("color: %1;").arg(skin::kDanger.name()));
    right->addWidget(problem_);

    keyboard_ = new OnscreenKeyboard(keyboard, this);
    layout->addWidget(keyboard_, 1);
    connect(keyboard_, &OnscreenKeyboard::keyCombination, this,
            &ButtonSettingsDialog::OnKeyCombination);
    connect(keyboard_, &OnscreenKeyboard::modifiersLatched, this,
            &ButtonSettingsDialog::OnModifiersLatched);
    connect(keyboard_, &OnscreenKeyboard::consumerKey, this, [this](int usage) {
        if (shownEditor_ == OperandEditor::ConsumerKey) Report(model_.SetConsumerUsage(usage));
    });

    auto* buttons = new QHBoxLayout();
    buttons->addStretch(1);
    ok_ = new QPushButton(ToQ(Ui().button_str[kOkButton]), this);
    cancel_ = new QPushButton(ToQ(Ui().button_str[kCancelButton]), this);
    ok_->setDefault(true);
    buttons->addWidget(ok_);
    buttons->addWidget(cancel_);
    layout->addLayout(buttons);
    connect(ok_, &QPushButton::clicked, this, &QDialog::accept);
    connect(cancel_, &QPushButton::clicked, this, &QDialog::reject);

    BuildLists();
    Report({});
}

ButtonSettingsDialog::~ButtonSettingsDialog() = default;

void ButtonSettingsDialog::BuildLists() {
    for (FunctionClass cls : model_.Classes()) classList_->addItem(ToQ(model_.ClassName(cls)));
    connect(classList_, &QListWidget::currentRowChanged, this, [this](int row) {
        if (refreshing_ || row < 0) return;
        ShowClass(model_.Classes().at(static_cast<std::size_t>(row)));
    });
    connect(entryList_, &QListWidget::currentRowChanged, this, [this](int row) {
        if (!refreshing_ && row >= 0) ChooseEntry(row);
    });
    ShowClass(shownClass_);
}

QWidget* ButtonSettingsDialog::BuildEditors() {
    editors_ = new QStackedWidget(this);
    editors_->addWidget(new QWidget(editors_));  // OperandEditor::None
    // No table entry explains the key combination editor; this hint stays English.
    keyHint_ = new QLabel(QStringLiteral("Click a key on the keyboard below, after Ctrl, Shift, "
                                         "Alt or Win for a combination."),
                          editors_);
    keyHint_->setWordWrap(true);
    keyHint_->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    editors_->addWidget(keyHint_);

    consumerList_ = new QListWidget(editors_);
    for (const ConsumerKey& key : Ui().consumer_keys) {
        if (key.usage == kConsumerKeyTerminator) break;
        auto* item = new QListWidgetItem(ToQ(key.name), consumerList_);
        item->setData(Qt::UserRole, key.usage);
    }
    connect(consumerList_, &QListWidget::currentRowChanged, this, [this](int row) {
        if (refreshing_ || row < 0) return;
        Report(model_.SetConsumerUsage(consumerList_->item(row)->data(Qt::UserRole).toInt()));
    });
    editors_->addWidget(consumerList_);
    editors_->addWidget(BuildDpiEditor());
    editors_->addWidget(BuildFireEditor());

    auto* rapid = new QWidget(editors_);
    auto* rapidForm = new QFormLayout(rapid);
    rapidInterval_ = new QSpinBox(rapid);
    rapidInterval_->setRange(kMinRapidFireMs, kMaxRapidFireMs);
    rapidInterval_->setSuffix(QStringLiteral(" ms"));
    rapidForm->addRow(ToQ(Ui().msg_str[kDelayMsg]), rapidInterval_);
    connect(rapidInterval_, &QSpinBox::valueChanged, this, [this](int ms) {
        if (!refreshing_) Report(model_.SetRapidFireInterval(ms));
    });
    editors_->addWidget(rapid);
    editors_->addWidget(BuildMacroEditor());
    editors_->addWidget(BuildKeyCycleEditor());
    return editors_;
}

QWidget* ButtonSettingsDialog::BuildDpiEditor() {
    auto* page = new QWidget(editors_);
    auto* form = new QFormLayout(page);
    dpiX_ = new QSpinBox(page);
    dpiY_ = new QSpinBox(page);
    for (QSpinBox* spin : {dpiX_, dpiY_}) {
        spin->setRange(dpiStep_, std::clamp(dpiStepCount_, 1, kMaxDpiOperand) * dpiStep_);
        spin->setSingleStep(dpiStep_);
        spin->setSuffix(QStringLiteral(" DPI"));
        spin->setEnabled(dpiStepCount_ > 0);
        connect(spin, &QSpinBox::valueChanged, this, [this] {
            if (!refreshing_)
                Report(model_.SetDpiValues(dpiX_->value() / dpiStep_, dpiY_->value() / dpiStep_));
        });
    }
    // Axis letters, the same in every language; no table holds them.
    form->addRow(QStringLiteral("X"), dpiX_);
    form->addRow(QStringLiteral("Y"), dpiY_);
    return page;
}

QWidget* ButtonSettingsDialog::BuildFireEditor() {
    auto* page = new QWidget(editors_);
    auto* form = new QFormLayout(page);
    fireInterval_ = new QSpinBox(page);
    fireInterval_->setRange(0, kMaxFireIntervalUnits * kFireUnitMs);
    fireInterval_->setSingleStep(kFireUnitMs);
    fireInterval_->setSuffix(QStringLiteral(" ms"));
    fireCount_ = new QSpinBox(page);
    fireCount_->setRange(0, kMaxRepeatCount);
    for (QSpinBox* spin : {fireInterval_, fireCount_}) {
        connect(spin, &QSpinBox::valueChanged, this, [this] {
            if (!refreshing_)
                Report(model_.SetFireButton(fireInterval_->value() / kFireUnitMs,
                                            fireCount_->value()));
        });
    }
    form->addRow(ToQ(Ui().msg_str[kDelayMsg]), fireInterval_);
    // No table entry names the repeat count; this label stays English.
    form->addRow(QStringLiteral("Count"), fireCount_);
    return page;
}

QWidget* ButtonSettingsDialog::BuildMacroEditor() {
    auto* page = new QWidget(editors_);
    auto* column = new QVBoxLayout(page);
    column->addWidget(new QLabel(ToQ(Ui().msg_str[kMacroListMsg]), page));
    macroChoice_ = new QComboBox(page);
    for (const FunctionEntry& entry : model_.Entries(FunctionClass::Macro)) {
        if (entry.macroSlot) macroChoice_->addItem(ToQ(entry.text), *entry.macroSlot);
    }
    column->addWidget(macroChoice_);
    macroModes_ = new QButtonGroup(page);
    auto* modes = new QHBoxLayout();
    for (int mode = kMacroModeOnce; mode <= kMacroModeFireKey; ++mode) {
        const std::size_t label = kOnceModeButton + static_cast<std::size_t>(mode - kMacroModeOnce);
        auto* button = new QPushButton(ToQ(Ui().button_str[label]), page);
        button->setCheckable(true);
        macroModes_->addButton(button, mode);
        modes->addWidget(button);
    }
    column->addLayout(modes);
    column->addStretch(1);
    const auto apply = [this] {
        if (refreshing_ || macroChoice_->currentIndex() < 0) return;
        const int mode = macroModes_->checkedId() < 0 ? kMacroModeOnce : macroModes_->checkedId();
        Report(model_.SetMacro(macroChoice_->currentData().toInt(), mode));
    };
    connect(macroChoice_, &QComboBox::currentIndexChanged, this, apply);
    connect(macroModes_, &QButtonGroup::idClicked, this, apply);
    return page;
}

QWidget* ButtonSettingsDialog::BuildKeyCycleEditor() {
    auto* page = new QWidget(editors_);
    auto* grid = new QGridLayout(page);
    grid->addWidget(new QLabel(ToQ(Ui().msg_str[kKeyCycleMsg]), page), 0, 0);
    grid->addWidget(new QLabel(ToQ(Ui().msg_str[kPressKeyboardMsg]), page), 0, 1);
    cycleList_ = new QListWidget(page);
    cycleList_->setSelectionMode(QAbstractItemView::NoSelection);
    grid->addWidget(cycleList_, 1, 0);
    cycleRemove_ = new QPushButton(ToQ(Ui().button_str[kDeleteButton]), page);
    cycleClear_ = new QPushButton(ToQ(Ui().button_str[kClearButton]), page);
    auto* column = new QVBoxLayout();
    column->addWidget(cycleRemove_);
    column->addWidget(cycleClear_);
    column->addStretch(1);
    grid->addLayout(column, 1, 1);
    grid->setColumnStretch(0, 1);
    connect(cycleRemove_, &QPushButton::clicked, this,
            [this] { Report(model_.RemoveLastKeyCycle()); });
    connect(cycleClear_, &QPushButton::clicked, this, [this] {
        model_.ClearKeyCycle();
        Report({});
    });
    return page;
}

QPushButton* ButtonSettingsDialog::MacroModeButton(int mode) const {
    return qobject_cast<QPushButton*>(macroModes_->button(mode));
}

void ButtonSettingsDialog::ShowClass(FunctionClass cls) {
    shownClass_ = cls;
    refreshing_ = true;
    const auto& classes = model_.Classes();
    classList_->setCurrentRow(
        static_cast<int>(std::find(classes.begin(), classes.end(), cls) - classes.begin()));
    entryList_->clear();
    for (const FunctionEntry& entry : model_.Entries(cls)) entryList_->addItem(ToQ(entry.text));
    refreshing_ = false;
    keyboard_->ClearLatches();
    Refresh();
}

void ButtonSettingsDialog::ChooseEntry(int row) {
    keyboard_->ClearLatches();
    Report(model_.Select(shownClass_, row));
}

void ButtonSettingsDialog::OnKeyCombination(uint8_t modifiers, int usage) {
    if (shownEditor_ == OperandEditor::KeyCycle) {
        Report(model_.AppendKeyCycle({modifiers, static_cast<uint8_t>(usage)}));
        return;
    }
    if (model_.Current().type != kTypeKeyboard) {
        // A key clicked while another function is edited starts a keyboard function from
        // the first keyboard entry on offer.
        const auto entries = model_.Entries(FunctionClass::Keyboard);
        const auto hit = std::find_if(entries.begin(), entries.end(), [](const FunctionEntry& e) {
            return e.slot.type == kTypeKeyboard;
        });
        if (hit == entries.end()) {
            Report(MakeError("no keyboard function is offered for this button"));
            return;
        }
        if (Status ok =
                model_.Select(FunctionClass::Keyboard, static_cast<int>(hit - entries.begin()));
            !ok) {
            Report(ok);
            return;
        }
        ShowClass(FunctionClass::Keyboard);
    }
    Report(model_.SetKeyCombination(modifiers, usage));
}

void ButtonSettingsDialog::OnModifiersLatched(uint8_t modifiers) {
    // Modifiers alone are a function of their own ("Ctrl + Shift"); the key that may
    // follow completes the combination.
    if (shownEditor_ == OperandEditor::KeyCombination && modifiers != 0)
        Report(model_.SetKeyCombination(modifiers, 0));
}

void ButtonSettingsDialog::Report(const Status& status) {
    Refresh();
    if (!status) problem_->setText(ToQ(status.message()));
}

void ButtonSettingsDialog::Refresh() {
    refreshing_ = true;
    const ButtonSlot& current = model_.Current();
    const auto entries = model_.Entries(shownClass_);
    int row = -1;
    if (model_.SelectedClass() == shownClass_ && model_.SelectedEntry() &&
        entries[static_cast<std::size_t>(*model_.SelectedEntry())].slot == current) {
        row = *model_.SelectedEntry();
    } else {
        const auto hit = std::find_if(entries.begin(), entries.end(),
                                      [&](const FunctionEntry& e) { return e.slot == current; });
        if (hit != entries.end()) row = static_cast<int>(hit - entries.begin());
    }
    entryList_->setCurrentRow(row);
    RefreshEditors();
    RefreshKeyCycle();

    QString text = ToQ(FormatButtonSlotWith(Ui(), current, dpiStep_));
    if (IsUserMacro(current)) {
        // The formatter gives the type name; the stored macro's name completes it.
        for (const FunctionEntry& e : model_.Entries(FunctionClass::Macro)) {
            if (e.macroSlot && e.slot.op1 == current.op1 && e.slot.op2 == current.op2)
                text += ToQ(e.text);
        }
    }
    preview_->setText(text);
    const qvm::Result<ButtonSlot> chosen = model_.Chosen();
    ok_->setEnabled(chosen.ok());
    problem_->setText(chosen.ok() ? QString() : ToQ(chosen.message()));
    keyboard_->SetHighlight(current.type == kTypeKeyboard ? current.op1 : 0,
                            current.type == kTypeKeyboard ? current.op2 : 0);
    refreshing_ = false;
}

OperandEditor ButtonSettingsDialog::EditorFor(const ButtonSlot& s) const {
    if (shownClass_ == FunctionClass::KeyCycle) return OperandEditor::KeyCycle;
    switch (s.type) {
        case kTypeKeyboard:
            return OperandEditor::KeyCombination;
        case kTypeConsumer:
            return OperandEditor::ConsumerKey;
        case kTypeDpiFirekey:
        case kTypeDpiHotkey:
            return OperandEditor::DpiValues;
        case kTypeFireButton:
            return OperandEditor::FireButton;
        case kTypeRapidFire:
            return OperandEditor::RapidFire;
        default:
            return IsUserMacro(s) ? OperandEditor::Macro : OperandEditor::None;
    }
}

void ButtonSettingsDialog::RefreshEditors() {
    const ButtonSlot& s = model_.Current();
    shownEditor_ = EditorFor(s);
    editors_->setCurrentIndex(static_cast<int>(shownEditor_));
    switch (shownEditor_) {
        case OperandEditor::ConsumerKey: {
            const int usage = s.op1 | (s.op2 << 8);
            consumerList_->setCurrentRow(-1);
            for (int i = 0; i < consumerList_->count(); ++i) {
                if (consumerList_->item(i)->data(Qt::UserRole).toInt() == usage)
                    consumerList_->setCurrentRow(i);
            }
            break;
        }
        case OperandEditor::DpiValues:
            dpiX_->setValue(s.op1 * dpiStep_);
            dpiY_->setValue(s.op2 * dpiStep_);
            break;
        case OperandEditor::FireButton:
            fireInterval_->setValue(s.op2 * kFireUnitMs);
            fireCount_->setValue(s.op3);
            break;
        case OperandEditor::RapidFire:
            rapidInterval_->setValue(s.op2);
            break;
        case OperandEditor::Macro: {
            int index = -1;
            for (const FunctionEntry& e : model_.Entries(FunctionClass::Macro)) {
                if (e.macroSlot && e.slot.op1 == s.op1 && e.slot.op2 == s.op2)
                    index = macroChoice_->findData(*e.macroSlot);
            }
            macroChoice_->setCurrentIndex(index);
            if (QAbstractButton* mode = macroModes_->button(s.type)) mode->setChecked(true);
            break;
        }
        default:
            break;
    }
}

void ButtonSettingsDialog::RefreshKeyCycle() {
    cycleList_->clear();
    int n = 0;
    for (const KeyCycleEntry& e : model_.KeyCycle())
        cycleList_->addItem(
            QStringLiteral("%1. %2").arg(++n).arg(ToQ(KeyCombinationText(e.modifiers, e.usage))));
    cycleRemove_->setEnabled(!model_.KeyCycle().empty());
    cycleClear_->setEnabled(!model_.KeyCycle().empty());
}

void ButtonSettingsDialog::accept() {
    // The default button is disabled while the function is incomplete; Return must not
    // get past that either.
    if (model_.Chosen().ok()) QDialog::accept();
}

ButtonSlot ButtonSettingsDialog::Result() const {
    const qvm::Result<ButtonSlot> chosen = model_.Chosen();
    return chosen.ok() ? chosen.value() : model_.Current();
}

std::optional<std::vector<KeyCycleEntry>> ButtonSettingsDialog::KeyCycleResult() const {
    if (!model_.KeyCycleChanged()) return std::nullopt;
    return model_.KeyCycle();
}

}  // namespace qvm::ui
