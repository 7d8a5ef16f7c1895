#include "ui/text_entry_dialog.h"

#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QInputMethodEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QRadioButton>
#include <QVBoxLayout>
#include <QWindow>
#include <utility>

#include "base/text.h"
#include "ui/qt_text.h"
#include "ui/skin.h"

namespace qvm::ui {
namespace {

// UI string entries the dialog shows.
constexpr std::size_t kRelativeMsg = 14;  // msg_str
constexpr std::size_t kAbsoluteMsg = 15;
constexpr std::size_t kRootMsg = 28;
constexpr std::size_t kPickButton = 31;  // button_str "Press && hold to get position"
constexpr int kCaptionFont = 8;          // Tahoma bold 14
constexpr int kBodyFont = 3;             // Tahoma 12
constexpr int kMinimumWidth = 360;
constexpr int kFieldMinimumWidth = 120;
// With three choices the first accepts, the second cancels and the third accepts with
// the third-chosen flag; with two, OK accepts and Cancel cancels.
constexpr std::size_t kThirdChoice = 2;

TextEntryHook& Hook() {
    static TextEntryHook hook;
    return hook;
}

QString Q16(const std::u16string& text) {
    return QString::fromStdU16String(text);
}

bool IsTextForm(TextEntryForm form) {
    return form == TextEntryForm::Text || form == TextEntryForm::Number ||
           form == TextEntryForm::TextWithFolder;
}

}  // namespace

// ---- ModelLineEdit ----

ModelLineEdit::ModelLineEdit(LineEditModel& model, QWidget* parent)
    : QLineEdit(parent), model_(model) {
    // Every way text can arrive goes through keyPressEvent/inputMethodEvent; the context
    // menu's paste and drops would bypass the model, so they are off.
    setContextMenuPolicy(Qt::NoContextMenu);
    setAcceptDrops(false);
    setDragEnabled(false);
    ShowModel();
}

void ModelLineEdit::ShowModel() {
    const QString text = Q16(model_.Text());
    if (QLineEdit::text() != text) setText(text);
    const auto cursor = static_cast<int>(model_.Cursor());
    const auto length = static_cast<int>(model_.SelectionLength());
    if (length > 0) {
        const int anchor = cursor == static_cast<int>(model_.SelectionStart())
                               ? cursor + length
                               : static_cast<int>(model_.SelectionStart());
        setSelection(anchor, cursor - anchor);
    } else {
        deselect();
        setCursorPosition(cursor);
    }
}

void ModelLineEdit::SyncModelSelection() {
    const auto cursor = static_cast<std::size_t>(cursorPosition());
    std::size_t anchor = cursor;
    if (hasSelectedText()) {
        const auto start = static_cast<std::size_t>(selectionStart());
        const auto end = static_cast<std::size_t>(selectionEnd());
        anchor = cursor == start ? end : start;
    }
    model_.Select(anchor, cursor);
}

void ModelLineEdit::TypeAndShow(const QString& typed) {
    SyncModelSelection();
    model_.Type(typed.toStdU16String());
    ShowModel();
}

void ModelLineEdit::keyPressEvent(QKeyEvent* event) {
    if (event->matches(QKeySequence::Paste)) {
        TypeAndShow(QApplication::clipboard()->text());
    } else if (event->matches(QKeySequence::Cut)) {
        if (hasSelectedText()) {
            QApplication::clipboard()->setText(selectedText());
            SyncModelSelection();
            model_.Backspace();
            ShowModel();
        }
    } else if (event->matches(QKeySequence::Undo) || event->matches(QKeySequence::Redo)) {
        // The line edit's own history would restore texts the model never saw.
    } else if (event->key() == Qt::Key_Backspace) {
        SyncModelSelection();
        model_.Backspace();
        ShowModel();
    } else if (event->key() == Qt::Key_Delete && event->modifiers() == Qt::NoModifier) {
        SyncModelSelection();
        model_.DeleteForward();
        ShowModel();
    } else if (const QString typed = event->text();
               !typed.isEmpty() && typed.front().unicode() >= 0x20 &&
               typed.front().unicode() != 0x7F &&
               !(event->modifiers() & (Qt::ControlModifier | Qt::MetaModifier))) {
        TypeAndShow(typed);
    } else {
        // Cursor movement, selection, copy, Return and Escape: the line edit's own.
        QLineEdit::keyPressEvent(event);
        return;
    }
    event->accept();
}

void ModelLineEdit::inputMethodEvent(QInputMethodEvent* event) {
    // Only committed text counts; composition in progress is not shown in the field.
    if (!event->commitString().isEmpty()) TypeAndShow(event->commitString());
    event->accept();
}

// ---- PositionPickButton ----

void PositionPickButton::mousePressEvent(QMouseEvent* event) {
    QPushButton::mousePressEvent(event);
    if (event->button() == Qt::LeftButton) emit positionPicked(event->globalPosition().toPoint());
}

void PositionPickButton::mouseMoveEvent(QMouseEvent* event) {
    QPushButton::mouseMoveEvent(event);
    if (event->buttons() & Qt::LeftButton) emit positionPicked(event->globalPosition().toPoint());
}

// ---- TextEntryDialog ----

TextEntryDialog::TextEntryDialog(const TextEntryRequest& request, std::vector<FolderChoice> folders,
                                 QWidget* parent, const UiStrings& strings)
    : QDialog(parent, Qt::Dialog | Qt::FramelessWindowHint),
      request_(request),
      strings_(strings),
      folders_(std::move(folders)) {
    setWindowTitle(ToQ(request_.caption));
    setModal(true);
    setMinimumWidth(kMinimumWidth);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(18, 14, 18, 14);
    layout->setSpacing(10);
    caption_ = new QLabel(ToQ(request_.caption), this);
    caption_->setFont(skin::SharedFont(kCaptionFont));
    caption_->setVisible(!request_.caption.empty());
    layout->addWidget(caption_);

    auto* body = new QWidget(this);
    layout->addWidget(body);
    if (IsTextForm(request_.form)) {
        BuildTextField(body);
    } else if (request_.form == TextEntryForm::Position) {
        BuildPositionFields(body);
    } else {
        auto* bodyLayout = new QVBoxLayout(body);
        bodyLayout->setContentsMargins(0, 0, 0, 0);
        auto* question = new QLabel(ToQ(request_.text), body);
        question->setFont(skin::SharedFont(kBodyFont));
        question->setWordWrap(true);
        bodyLayout->addWidget(question);
    }
    BuildButtons(this);
}

TextEntryDialog::~TextEntryDialog() = default;

void TextEntryDialog::BuildTextField(QWidget* body) {
    auto* bodyLayout = new QVBoxLayout(body);
    bodyLayout->setContentsMargins(0, 0, 0, 0);
    if (!request_.prompt.empty()) {
        auto* prompt = new QLabel(ToQ(request_.prompt), body);
        prompt->setFont(skin::SharedFont(kBodyFont));
        prompt->setWordWrap(true);
        bodyLayout->addWidget(prompt);
    }
    if (request_.form == TextEntryForm::Number) {
        textModel_ = std::make_unique<NumberField>(request_.maximumValue, request_.maximumLength);
    } else {
        textModel_ = std::make_unique<TextField>(request_.maximumLength);
    }
    textModel_->SetText(Utf8ToUtf16(request_.text));
    // Form 0 (and the others) start with the whole text selected, ready to be replaced.
    textModel_->SelectAll();
    textEdit_ = new ModelLineEdit(*textModel_, body);
    textEdit_->setMinimumWidth(kFieldMinimumWidth);
    bodyLayout->addWidget(textEdit_);

    if (request_.form == TextEntryForm::TextWithFolder) {
        folderList_ = new QComboBox(body);
        if (folders_.empty()) folders_.push_back({0, strings_.msg_str[kRootMsg]});
        for (const FolderChoice& choice : folders_)
            folderList_->addItem(ToQ(choice.label), choice.id);
        folderList_->setCurrentIndex(
            static_cast<int>(PreselectedFolderIndex(folders_, request_.folder)));
        bodyLayout->addWidget(folderList_);
    }
}

void TextEntryDialog::BuildPositionFields(QWidget* body) {
    position_ = std::make_unique<PositionFields>(request_.x, request_.y, request_.absolute);
    auto* grid = new QGridLayout(body);
    grid->setContentsMargins(0, 0, 0, 0);
    // "X" and "Y" are axis letters, the same in every language; no table holds them.
    grid->addWidget(new QLabel(QStringLiteral("X"), body), 0, 0);
    xEdit_ = new ModelLineEdit(position_->x, body);
    grid->addWidget(xEdit_, 0, 1);
    grid->addWidget(new QLabel(QStringLiteral("Y"), body), 1, 0);
    yEdit_ = new ModelLineEdit(position_->y, body);
    grid->addWidget(yEdit_, 1, 1);

    relative_ = new QRadioButton(ToQ(strings_.msg_str[kRelativeMsg]), body);
    absolute_ = new QRadioButton(ToQ(strings_.msg_str[kAbsoluteMsg]), body);
    (request_.absolute ? absolute_ : relative_)->setChecked(true);
    grid->addWidget(relative_, 0, 2);
    grid->addWidget(absolute_, 1, 2);
    connect(absolute_, &QRadioButton::toggled, this, [this](bool on) { SetPositionMode(on); });

    pick_ = new PositionPickButton(ToQ(strings_.button_str[kPickButton]), body);
    grid->addWidget(pick_, 2, 0, 1, 3);
    connect(pick_, &PositionPickButton::positionPicked, this, &TextEntryDialog::PickPosition);
}

void TextEntryDialog::BuildButtons(QWidget* parent) {
    auto* row = new QHBoxLayout();
    row->addStretch(1);
    const std::vector<std::string> labels = ButtonLabels(request_, strings_);
    for (std::size_t i = 0; i < labels.size(); ++i) {
        auto* button = new QPushButton(ToQ(labels[i]), parent);
        buttons_.push_back(button);
        row->addWidget(button);
    }
    static_cast<QVBoxLayout*>(layout())->addLayout(row);
    buttons_.front()->setDefault(true);
    connect(buttons_[0], &QPushButton::clicked, this, &QDialog::accept);
    connect(buttons_[1], &QPushButton::clicked, this, &QDialog::reject);
    if (buttons_.size() > kThirdChoice) {
        connect(buttons_[kThirdChoice], &QPushButton::clicked, this, [this] {
            thirdChosen_ = true;
            accept();
        });
    }
}

void TextEntryDialog::SetPositionMode(bool absolute) {
    // Only the mode changes: a value outside the new range is put right by the next
    // digit typed, and Entered() already reports it within range.
    position_->SetAbsolute(absolute);
}

void TextEntryDialog::PickPosition(QPoint screenPosition) {
    position_->SetFromPointer(screenPosition.x(), screenPosition.y());
    absolute_->setChecked(true);
    xEdit_->ShowModel();
    yEdit_->ShowModel();
}

TextEntryRequest TextEntryDialog::Entered() const {
    TextEntryRequest entered = request_;
    if (textModel_) entered.text = Utf16ToUtf8(textModel_->Text());
    if (position_) {
        entered.x = position_->x.Value();
        entered.y = position_->y.Value();
        entered.absolute = position_->Absolute();
    }
    if (folderList_ && folderList_->currentIndex() >= 0)
        entered.folder = folderList_->currentData().toInt();
    entered.thirdChosen = thirdChosen_;
    return entered;
}

void TextEntryDialog::mousePressEvent(QMouseEvent* event) {
    // The dialog has no frame of its own: it is dragged by its body.
    if (event->button() == Qt::LeftButton && windowHandle() && windowHandle()->startSystemMove()) {
        event->accept();
        return;
    }
    QDialog::mousePressEvent(event);
}

void TextEntryDialog::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (textEdit_) {
        textEdit_->setFocus();
        textEdit_->ShowModel();
    } else if (xEdit_) {
        xEdit_->setFocus();
    }
}

void TextEntryDialog::paintEvent(QPaintEvent* event) {
    QDialog::paintEvent(event);
    // Without a window frame, a thin edge sets the dialog off from the window beneath.
    QPainter painter(this);
    painter.setPen(skin::kPanelEdge);
    painter.drawRect(rect().adjusted(0, 0, -1, -1));
}

TextEntryHook SetTextEntryHook(TextEntryHook hook) {
    return std::exchange(Hook(), std::move(hook));
}

std::optional<TextEntryRequest> RunTextEntry(QWidget* parent, const TextEntryRequest& request,
                                             std::vector<FolderChoice> folders) {
    if (Hook()) return Hook()(request);
    TextEntryDialog dialog(request, std::move(folders), parent);
    if (dialog.exec() != QDialog::Accepted) return std::nullopt;
    return dialog.Entered();
}

}  // namespace qvm::ui
