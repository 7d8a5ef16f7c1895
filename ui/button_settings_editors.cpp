// The operand editors of the button settings dialog: one page per kind of operand, each
// forwarding its values to the model and set back from the model after every change.
#include <QButtonGroup>
#include <QCheckBox>
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
#include "config/macro_slots.h"
#include "ui/button_settings_dialog.h"
#include "ui/qt_text.h"

namespace qvm::ui {
namespace {

constexpr int kFireUnitMs = 10;
constexpr int kMaxRepeatCount = 255;
// DPI operands are single bytes, whatever step count the device reports.
constexpr int kMaxDpiOperand = 255;

// UI string entries the editors show.
constexpr std::size_t kClearButton = 20;  // button_str
constexpr std::size_t kDeleteButton = 25;
constexpr std::size_t kOnceModeButton = 15;  // then loop and fire-key mode
constexpr std::size_t kDelayMsg = 61;        // msg_str
constexpr std::size_t kKeyCycleMsg = 40;
constexpr std::size_t kPressKeyboardMsg = 45;
constexpr std::size_t kMacroListMsg = 1;
constexpr std::size_t kRecordIntervalsButton = 21;  // button_str "Record intervals"
constexpr std::size_t kMacroEditButton = 33;        // button_str "Macro edit"

// A typed value takes effect when editing ends (Return, focus leaves, an arrow step),
// never per keystroke: "120" typed into a field counted in tens must not pass through
// "1" and "12" and be rounded on the way.
QSpinBox* MakeSpinBox(QWidget* parent) {
    auto* spin = new QSpinBox(parent);
    spin->setKeyboardTracking(false);
    return spin;
}

}  // namespace

bool ButtonSettingsDialog::IsUserMacro(const ButtonSlot& s) {
    return s.type >= kTypeMacro && s.type <= kTypeMacroHold && s.op3 != kBuiltinMacroMarker;
}

QWidget* ButtonSettingsDialog::BuildEditors() {
    editors_ = new QStackedWidget(this);
    editors_->addWidget(new QWidget(editors_));  // OperandEditor::None
    keyHint_ = new QLabel(ToQ(Ui().word_str[kWordKeyHint]), editors_);
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
    rapidInterval_ = MakeSpinBox(rapid);
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
    dpiX_ = MakeSpinBox(page);
    dpiY_ = MakeSpinBox(page);
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
    fireInterval_ = MakeSpinBox(page);
    fireInterval_->setRange(0, kMaxFireIntervalUnits * kFireUnitMs);
    fireInterval_->setSingleStep(kFireUnitMs);
    fireInterval_->setSuffix(QStringLiteral(" ms"));
    fireCount_ = MakeSpinBox(page);
    fireCount_->setRange(0, kMaxRepeatCount);
    for (QSpinBox* spin : {fireInterval_, fireCount_}) {
        connect(spin, &QSpinBox::valueChanged, this, [this] {
            if (!refreshing_)
                Report(model_.SetFireButton(fireInterval_->value() / kFireUnitMs,
                                            fireCount_->value()));
        });
    }
    form->addRow(ToQ(Ui().msg_str[kDelayMsg]), fireInterval_);
    form->addRow(ToQ(Ui().word_str[kWordCount]), fireCount_);
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
    recordIntervals_ = new QCheckBox(ToQ(Ui().button_str[kRecordIntervalsButton]), page);
    recordIntervals_->setVisible(false);  // until the editor's option is shared
    column->addWidget(recordIntervals_);
    macroEditor_ = new QPushButton(ToQ(Ui().button_str[kMacroEditButton]), page);
    macroEditor_->setToolTip(ToQ(Ui().macro_editor_cap_str));
    connect(macroEditor_, &QPushButton::clicked, this, [this] {
        editorWanted_ = true;
        reject();
    });
    column->addWidget(macroEditor_);
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

void ButtonSettingsDialog::ShareRecordIntervals(bool on, std::function<void(bool)> changed) {
    recordIntervals_->setChecked(on);
    recordIntervals_->setVisible(true);
    connect(recordIntervals_, &QCheckBox::toggled, this, std::move(changed));
}

QPushButton* ButtonSettingsDialog::MacroModeButton(int mode) const {
    return qobject_cast<QPushButton*>(macroModes_->button(mode));
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

}  // namespace qvm::ui
