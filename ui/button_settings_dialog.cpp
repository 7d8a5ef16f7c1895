#include "ui/button_settings_dialog.h"

#include <QAbstractItemView>
#include <QAbstractSpinBox>
#include <QApplication>
#include <QComboBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QVBoxLayout>
#include <algorithm>

#include "config/catalogue.h"
#include "lang/scancodes.h"
#include "macro/macro_describe.h"
#include "present/quick_binding.h"
#include "ui/onscreen_keyboard.h"
#include "ui/qt_text.h"
#include "ui/quick_bind_input.h"
#include "ui/skin.h"

namespace qvm::ui {
namespace {

constexpr QSize kDialogSize{940, 560};
constexpr int kClassListWidth = 150;
constexpr int kEntryListWidth = 250;
constexpr int kListHeight = 214;
constexpr int kProblemHeight = 34;  // two lines of an error text

// UI string entries the dialog shows.
constexpr std::size_t kOkButton = 7;  // button_str
constexpr std::size_t kCancelButton = 8;
constexpr std::size_t kDefaultButton = 9;
constexpr std::size_t kTitleText = 0;
constexpr std::size_t kButtonNumberText = 56;  // "Button %d"
constexpr std::size_t kTypeMsg = 41;           // msg_str

// Widgets that take typed text keep the keys typed into them.
bool TakesText(const QObject* widget) {
    for (const QObject* w = widget; w != nullptr; w = w->parent()) {
        if (qobject_cast<const QAbstractSpinBox*>(w) || qobject_cast<const QLineEdit*>(w) ||
            qobject_cast<const QComboBox*>(w)) {
            return true;
        }
    }
    return false;
}

bool IsNavigationKey(int key) {
    switch (key) {
        case Qt::Key_Up:
        case Qt::Key_Down:
        case Qt::Key_Left:
        case Qt::Key_Right:
        case Qt::Key_PageUp:
        case Qt::Key_PageDown:
        case Qt::Key_Home:
        case Qt::Key_End:
            return true;
        default:
            return false;
    }
}

}  // namespace

QString ButtonSettingsTitle(int position, const QString& function, const QString& profile) {
    const std::vector<std::string> number = {std::to_string(position + 1)};
    const QString button = ToQ(FillTextTemplate(Ui().button_str[kButtonNumberText], number));
    QString title = ToQ(Ui().button_str[kTitleText]) + QStringLiteral(" - ") + button;
    if (!function.isEmpty()) title += QStringLiteral(" (%1)").arg(function);
    if (!profile.isEmpty()) title += QStringLiteral(" - ") + profile;
    return title;
}

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
    classList_->setAccessibleName(Word(kWordFunctionClass));
    entryList_->setAccessibleName(ToQ(Ui().msg_str[0]));  // "Function list"
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
    default_ = new QPushButton(ToQ(Ui().button_str[kDefaultButton]), this);
    ok_ = new QPushButton(ToQ(Ui().button_str[kOkButton]), this);
    cancel_ = new QPushButton(ToQ(Ui().button_str[kCancelButton]), this);
    ok_->setDefault(true);
    buttons->insertWidget(0, default_);
    buttons->addWidget(ok_);
    buttons->addWidget(cancel_);
    layout->addLayout(buttons);
    connect(default_, &QPushButton::clicked, this, [this] {
        choseDefault_ = true;
        QDialog::accept();
    });
    connect(ok_, &QPushButton::clicked, this, &QDialog::accept);
    connect(cancel_, &QPushButton::clicked, this, &QDialog::reject);

    BuildLists();
    Report({});
    // Keys reach the focused child first; the application filter sees them before it.
    qApp->installEventFilter(this);
}

ButtonSettingsDialog::~ButtonSettingsDialog() {
    qApp->removeEventFilter(this);
    // A field being edited commits when it loses the focus, which its destruction below
    // would bring about after this dialog's own part is gone: nothing may reach it then.
    for (QObject* child : findChildren<QObject*>()) child->disconnect(this);
}

bool ButtonSettingsDialog::PicksKey(QObject* receiver, const QKeyEvent& key) const {
    auto* widget = qobject_cast<QWidget*>(receiver);
    if (widget == nullptr || (widget != this && !isAncestorOf(widget))) return false;
    if (key.key() == Qt::Key_Tab || key.key() == Qt::Key_Backtab || key.key() == Qt::Key_Escape)
        return false;
    if (TakesText(widget) || qobject_cast<QAbstractButton*>(widget)) return false;
    const bool editingKeys =
        shownEditor_ == OperandEditor::KeyCombination || shownEditor_ == OperandEditor::KeyCycle;
    if (!editingKeys && qobject_cast<QAbstractItemView*>(widget) && IsNavigationKey(key.key()))
        return false;
    return true;
}

bool ButtonSettingsDialog::eventFilter(QObject* watched, QEvent* event) {
    const QEvent::Type type = event->type();
    if (type != QEvent::KeyPress && type != QEvent::KeyRelease && type != QEvent::ShortcutOverride)
        return QDialog::eventFilter(watched, event);
    auto* key = static_cast<QKeyEvent*>(event);
    if (!PicksKey(watched, *key)) {
        // A modifier let go while a text field has the focus is still let go.
        if (type == QEvent::KeyRelease) {
            if (auto code = Set1ScanCodeOfNative(key->nativeScanCode()))
                heldModifiers_ &= static_cast<uint8_t>(~ModifierBitOf(*code));
        }
        return QDialog::eventFilter(watched, event);
    }
    if (type == QEvent::ShortcutOverride) {
        event->accept();  // no shortcut fires for a key being picked
        return true;
    }
    if (!key->isAutoRepeat()) OnPhysicalKey(*key);
    return true;
}

void ButtonSettingsDialog::OnPhysicalKey(const QKeyEvent& key) {
    const auto code = Set1ScanCodeOfNative(key.nativeScanCode());
    if (!code) return;
    const uint8_t bit = ModifierBitOf(*code);
    if (key.type() == QEvent::KeyRelease) {
        heldModifiers_ &= static_cast<uint8_t>(~bit);
        return;
    }
    if (bit != 0) {
        heldModifiers_ |= bit;
        OnModifiersLatched(static_cast<uint8_t>(heldModifiers_ | keyboard_->LatchedModifiers()));
        return;
    }
    const int usage = ScanCodeToUsage(*code);
    if (usage <= 0) return;  // a key the device cannot send
    const auto modifiers = static_cast<uint8_t>(heldModifiers_ | keyboard_->LatchedModifiers());
    keyboard_->ClearLatches();
    OnKeyCombination(modifiers, usage);
}

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
            Report(MakeError(ErrorKind::BadInput, FromQ(Word(kWordNoKeyboardFunction))));
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
    if (!status) problem_->setText(ErrorMessage(status.error()));
}

void ButtonSettingsDialog::Refresh() {
    refreshing_ = true;
    const ButtonSlot& current = model_.Current();
    const auto entries = model_.Entries(shownClass_);
    // The entry that shows the function; a stored macro stays marked in every mode.
    const auto shows = [&](const FunctionEntry& e) {
        return e.slot == current || (IsUserMacro(current) && e.macroSlot &&
                                     e.slot.op1 == current.op1 && e.slot.op2 == current.op2);
    };
    int row = -1;
    if (model_.SelectedClass() == shownClass_ && model_.SelectedEntry() &&
        shows(entries[static_cast<std::size_t>(*model_.SelectedEntry())])) {
        row = *model_.SelectedEntry();
    } else if (const auto hit = std::find_if(entries.begin(), entries.end(), shows);
               hit != entries.end()) {
        row = static_cast<int>(hit - entries.begin());
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
    problem_->setText(chosen.ok() ? QString() : ErrorMessage(chosen.error()));
    keyboard_->SetHighlight(current.type == kTypeKeyboard ? current.op1 : 0,
                            current.type == kTypeKeyboard ? current.op2 : 0);
    refreshing_ = false;
}

void ButtonSettingsDialog::accept() {
    // The default button is disabled while the function is incomplete; Return must not
    // get past that either.
    if (model_.Chosen().ok()) QDialog::accept();
}

ButtonSlot ButtonSettingsDialog::Result() const {
    if (choseDefault_) return ButtonSlot{};
    const qvm::Result<ButtonSlot> chosen = model_.Chosen();
    return chosen.ok() ? chosen.value() : model_.Current();
}

std::optional<std::vector<KeyCycleEntry>> ButtonSettingsDialog::KeyCycleResult() const {
    if (!model_.KeyCycleChanged()) return std::nullopt;
    return model_.KeyCycle();
}

}  // namespace qvm::ui
