#include "ui/macro_edit_area.h"

#include <QApplication>
#include <QDrag>
#include <QKeyEvent>
#include <QMimeData>
#include <QPainter>
#include <QScrollBar>
#include <algorithm>

#include "ui/macro_tree.h"
#include "ui/qt_text.h"
#include "ui/skin.h"

namespace qvm::ui {
namespace {

constexpr int kNumberX = 8;
constexpr int kTextX = 56;
constexpr int kCursorLine = 2;
constexpr int kTextSize = 13;
constexpr char kEntrySeparator = '\n';
constexpr std::size_t kTipLoad = 2;  // "Drag a macro in the left list to here to edit."

}  // namespace

QByteArray EncodeMacroEntry(const MacroListTarget& target) {
    QByteArray out;
    out += QByteArray::number(static_cast<int>(target.kind)) + kEntrySeparator;
    out += QByteArray::number(target.slot) + kEntrySeparator;
    out += QByteArray::number(target.id) + kEntrySeparator;
    out += QByteArray::fromStdString(target.path);
    return out;
}

std::optional<MacroListTarget> DecodeMacroEntry(const QByteArray& data) {
    // The path may hold the separator itself: only the first three split.
    const qsizetype a = data.indexOf(kEntrySeparator);
    const qsizetype b = a < 0 ? -1 : data.indexOf(kEntrySeparator, a + 1);
    const qsizetype c = b < 0 ? -1 : data.indexOf(kEntrySeparator, b + 1);
    if (c < 0) return std::nullopt;
    bool okKind = false;
    bool okSlot = false;
    bool okId = false;
    const int kind = data.left(a).toInt(&okKind);
    const int slot = data.mid(a + 1, b - a - 1).toInt(&okSlot);
    const int id = data.mid(b + 1, c - b - 1).toInt(&okId);
    constexpr int kLastKind = static_cast<int>(MacroListTarget::Kind::LibraryMacro);
    if (!okKind || !okSlot || !okId || kind < 0 || kind > kLastKind) return std::nullopt;
    MacroListTarget target;
    target.kind = static_cast<MacroListTarget::Kind>(kind);
    target.slot = slot;
    target.id = id;
    target.path = data.mid(c + 1).toStdString();
    return target;
}

MacroEditArea::MacroEditArea(MacroEditorModel& model, QWidget* parent)
    : QAbstractScrollArea(parent), model_(model) {
    setFocusPolicy(Qt::StrongFocus);
    setAcceptDrops(true);
    viewport()->setAcceptDrops(true);
    setAccessibleName(ToQ(Ui().button_str[33]));  // "Macro edit"
    setToolTip(ToQ(Ui().drag_tip_str[5]));        // drag to edit / drag to save
    verticalScrollBar()->setSingleStep(kRowHeight);
    connect(verticalScrollBar(), &QScrollBar::valueChanged, viewport(),
            [this] { viewport()->update(); });
    UpdateScrollRange();
}

int MacroEditArea::RowAt(QPoint viewportPos) const {
    const int row = (viewportPos.y() + verticalScrollBar()->value()) / kRowHeight;
    return std::clamp(row, 0, model_.RowCount() - 1);
}

void MacroEditArea::UpdateScrollRange() {
    const int content = model_.RowCount() * kRowHeight;
    verticalScrollBar()->setPageStep(viewport()->height());
    verticalScrollBar()->setRange(0, std::max(0, content - viewport()->height()));
}

void MacroEditArea::ShowModel() {
    UpdateScrollRange();
    const int top = model_.Cursor() * kRowHeight;
    QScrollBar* bar = verticalScrollBar();
    if (top < bar->value()) {
        bar->setValue(top);
    } else if (top + kRowHeight > bar->value() + viewport()->height()) {
        bar->setValue(top + kRowHeight - viewport()->height());
    }
    viewport()->update();
}

void MacroEditArea::paintEvent(QPaintEvent* event) {
    QPainter painter(viewport());
    const QRect area = event->rect();
    painter.fillRect(area, skin::kPanel);
    painter.setFont(skin::LabelFont(kTextSize));
    const int offset = verticalScrollBar()->value();
    const int first = std::max(0, (area.top() + offset) / kRowHeight);
    const int last = std::min(model_.RowCount() - 1, (area.bottom() + offset) / kRowHeight);
    const int width = viewport()->width();
    for (int r = first; r <= last; ++r) {
        const MacroEditorRow row = model_.Row(r);
        const QRect rect(0, r * kRowHeight - offset, width, kRowHeight);
        if (row.selected) painter.fillRect(rect, skin::kAccent.darker(160));
        painter.setPen(skin::kTextDim);
        painter.drawText(rect.adjusted(kNumberX, 0, 0, 0), Qt::AlignVCenter | Qt::AlignLeft,
                         ToQ(row.number));
        painter.setPen(row.number.empty() ? skin::kTextDim : skin::kText);
        painter.drawText(rect.adjusted(kTextX, 0, 0, 0), Qt::AlignVCenter | Qt::AlignLeft,
                         ToQ(row.text));
        if (row.cursor) {
            painter.fillRect(QRect(rect.left(), rect.top(), width, kCursorLine), skin::kAccent);
        }
    }
    if (model_.Items().empty()) {
        // An empty macro says how to fill it from the list.
        painter.setPen(skin::kTextDim);
        painter.drawText(viewport()->rect().adjusted(kTextX, 0, -kTextX, 0),
                         Qt::AlignCenter | Qt::TextWordWrap, ToQ(Ui().drag_tip_str[kTipLoad]));
    }
}

void MacroEditArea::resizeEvent(QResizeEvent* event) {
    QAbstractScrollArea::resizeEvent(event);
    UpdateScrollRange();
}

bool MacroEditArea::HandleKey(const QKeyEvent& key) {
    const Qt::KeyboardModifiers mods = key.modifiers() & ~Qt::KeypadModifier;
    const bool shift = mods.testFlag(Qt::ShiftModifier);
    if (mods == Qt::NoModifier || mods == Qt::ShiftModifier) {
        switch (key.key()) {
            case Qt::Key_Delete:
                if (mods == Qt::NoModifier) model_.DeleteItems();
                return mods == Qt::NoModifier;
            case Qt::Key_Up:
                model_.MoveCursor(-1, shift);
                return true;
            case Qt::Key_Down:
                model_.MoveCursor(1, shift);
                return true;
            default:
                return false;
        }
    }
    if (mods == (Qt::ControlModifier | Qt::ShiftModifier) && key.key() == Qt::Key_Z) {
        model_.Redo();
        return true;
    }
    if (mods != Qt::ControlModifier) return false;
    switch (key.key()) {
        case Qt::Key_A:
            model_.SelectAll();
            return true;
        case Qt::Key_C:
            model_.Copy();
            return true;
        case Qt::Key_X:
            model_.Cut();
            return true;
        case Qt::Key_V:
            model_.Paste();
            return true;
        case Qt::Key_Z:
            model_.Undo();
            return true;
        default:
            return false;
    }
}

void MacroEditArea::keyPressEvent(QKeyEvent* event) {
    // The model refuses every key while a recording runs.
    if (model_.Recording() || !HandleKey(*event)) {
        QAbstractScrollArea::keyPressEvent(event);
        return;
    }
    event->accept();
    ShowModel();
    emit edited();
}

void MacroEditArea::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) return;
    setFocus(Qt::MouseFocusReason);
    const int row = RowAt(event->position().toPoint());
    const bool extend = event->modifiers().testFlag(Qt::ShiftModifier);
    // A press inside the selection keeps it, so that the selection can be dragged away.
    const MacroEditorRow shown = model_.Row(row);
    if (!shown.selected || extend) model_.ClickRow(row, extend);
    pressedAt_ = event->position().toPoint();
    ShowModel();
    emit edited();
}

void MacroEditArea::mouseMoveEvent(QMouseEvent* event) {
    if (!pressedAt_ || !event->buttons().testFlag(Qt::LeftButton)) return;
    if ((event->position().toPoint() - *pressedAt_).manhattanLength() <
        QApplication::startDragDistance()) {
        return;
    }
    pressedAt_.reset();
    StartDrag();
}

void MacroEditArea::mouseReleaseEvent(QMouseEvent* /*event*/) {
    pressedAt_.reset();
}

void MacroEditArea::mouseDoubleClickEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) return;
    const int row = RowAt(event->position().toPoint());
    if (row < static_cast<int>(model_.Items().size())) emit editRequested(row);
}

std::unique_ptr<QMimeData> MacroEditArea::DragMime() const {
    auto mime = std::make_unique<QMimeData>();
    mime->setData(kEditedMacroMime, QByteArray());
    mime->setText(ToQ(model_.NameLabel()));
    return mime;
}

void MacroEditArea::StartDrag() {
    std::unique_ptr<QMimeData> mime = DragMime();
    const QString name = mime->text();
    auto* drag = new QDrag(this);       // owned by the area (Qt parent); Qt ends its life
    drag->setMimeData(mime.release());  // QDrag takes ownership
    drag->setPixmap(DragLabelPixmap(name));
    drag->exec(Qt::CopyAction, Qt::CopyAction);
}

void MacroEditArea::dragEnterEvent(QDragEnterEvent* event) {
    if (event->mimeData()->hasFormat(kMacroEntryMime)) event->acceptProposedAction();
}

void MacroEditArea::dragMoveEvent(QDragMoveEvent* event) {
    if (event->mimeData()->hasFormat(kMacroEntryMime)) event->acceptProposedAction();
}

void MacroEditArea::dropEvent(QDropEvent* event) {
    const auto target = DecodeMacroEntry(event->mimeData()->data(kMacroEntryMime));
    if (!target) return;
    event->acceptProposedAction();
    emit loadRequested(*target);
}

}  // namespace qvm::ui
