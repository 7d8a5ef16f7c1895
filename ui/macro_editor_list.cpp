#include "ui/macro_editor_list.h"

#include <QDrag>
#include <QDragEnterEvent>
#include <QHeaderView>
#include <QMimeData>
#include <QScrollBar>
#include <QSet>
#include <functional>

#include "ui/macro_edit_area.h"
#include "ui/macro_tree.h"
#include "ui/qt_text.h"
#include "ui/skin.h"

namespace qvm::ui {
namespace {

constexpr int kKindRole = Qt::UserRole;
constexpr int kSlotRole = Qt::UserRole + 1;
constexpr int kIdRole = Qt::UserRole + 2;
constexpr int kPathRole = Qt::UserRole + 3;
constexpr int kUsedRole = Qt::UserRole + 4;  // a device slot that holds a macro

constexpr std::size_t kMsgLibraryRoot = 31;  // "Macro list (PC)"
constexpr std::size_t kMsgMouseMemory = 33;  // "Mouse memory"
constexpr std::size_t kMsgNoDevice = 10;     // "No device !!"
constexpr std::size_t kTipCreateNew = 0;     // drag here to create a new macro
constexpr std::size_t kTipLoad = 5;          // drag right to edit, left to save

QTreeWidgetItem* NewRow(const MacroListTarget& target, const QString& text) {
    auto* item = new QTreeWidgetItem();  // owned by whoever it is added to
    item->setText(0, text);
    item->setData(0, kKindRole, static_cast<int>(target.kind));
    item->setData(0, kSlotRole, target.slot);
    item->setData(0, kIdRole, target.id);
    item->setData(0, kPathRole, ToQ(target.path));
    return item;
}

QTreeWidgetItem* NewHeading(const MacroListTarget& target, const QString& text) {
    QTreeWidgetItem* item = NewRow(target, text);
    QFont font = item->font(0);
    font.setBold(true);
    item->setFont(0, font);
    item->setToolTip(0, ToQ(Ui().drag_tip_str[kTipCreateNew]));
    return item;
}

QString KeyOf(const QTreeWidgetItem* item) {
    return QStringLiteral("%1:%2:%3")
        .arg(item->data(0, kKindRole).toInt())
        .arg(item->data(0, kSlotRole).toInt())
        .arg(item->data(0, kPathRole).toString());
}

void ForEachRow(QTreeWidgetItem* item, const std::function<void(QTreeWidgetItem*)>& visit) {
    visit(item);
    for (int i = 0; i < item->childCount(); ++i) ForEachRow(item->child(i), visit);
}

bool Loadable(const QTreeWidgetItem* item) {
    if (item == nullptr) return false;
    const MacroListTarget t = MacroEditorList::TargetOf(item);
    return t.kind == MacroListTarget::Kind::LibraryMacro ||
           (t.kind == MacroListTarget::Kind::DeviceSlot && item->data(0, kUsedRole).toBool());
}

}  // namespace

MacroEditorList::MacroEditorList(QWidget* parent) : QTreeWidget(parent) {
    setHeaderHidden(true);
    setColumnCount(1);
    setAccessibleName(ToQ(Ui().msg_str[kMsgLibraryRoot]));
    setSelectionMode(QAbstractItemView::SingleSelection);
    setDragEnabled(true);
    setAcceptDrops(true);
    viewport()->setAcceptDrops(true);
    setDragDropMode(QAbstractItemView::DragDrop);
    setDropIndicatorShown(true);
    setUniformRowHeights(true);
}

MacroListTarget MacroEditorList::TargetOf(const QTreeWidgetItem* item) {
    MacroListTarget t;
    if (item == nullptr) return t;
    t.kind = static_cast<MacroListTarget::Kind>(item->data(0, kKindRole).toInt());
    t.slot = item->data(0, kSlotRole).toInt();
    t.id = item->data(0, kIdRole).toInt();
    t.path = FromQ(item->data(0, kPathRole).toString());
    return t;
}

std::optional<MacroListTarget> MacroEditorList::Chosen() const {
    const QTreeWidgetItem* item = currentItem();
    if (item == nullptr) return std::nullopt;
    return TargetOf(item);
}

int32_t MacroEditorList::ChosenFolder() const {
    const auto chosen = Chosen();
    if (!chosen) return 0;
    if (chosen->kind == MacroListTarget::Kind::LibraryFolder) return chosen->id;
    if (chosen->kind == MacroListTarget::Kind::LibraryMacro && currentItem()->parent() != nullptr) {
        const MacroListTarget parent = TargetOf(currentItem()->parent());
        if (parent.kind == MacroListTarget::Kind::LibraryFolder) return parent.id;
    }
    return 0;
}

QTreeWidgetItem* MacroEditorList::SlotRow(int slot) const {
    if (deviceHeading_ == nullptr || slot < 0 || slot >= deviceHeading_->childCount()) {
        return nullptr;
    }
    return deviceHeading_->child(slot);
}

void MacroEditorList::Rebuild(const MacroEditorModel& model, const MacroLibrary& library) {
    QSet<QString> open;
    QString chosenKey;
    const bool first = topLevelItemCount() == 0;
    for (int i = 0; i < topLevelItemCount(); ++i) {
        ForEachRow(topLevelItem(i), [&](QTreeWidgetItem* item) {
            if (item->isExpanded()) open.insert(KeyOf(item));
        });
    }
    if (currentItem() != nullptr) chosenKey = KeyOf(currentItem());
    const int scrolled = verticalScrollBar()->value();
    clear();

    using Kind = MacroListTarget::Kind;
    deviceHeading_ = NewHeading({Kind::DeviceArea, -1, 0, {}}, ToQ(Ui().msg_str[kMsgMouseMemory]));
    addTopLevelItem(deviceHeading_);
    if (model.DevicePresent()) {
        for (int s = 0; s < kMacroSlotCount; ++s) {
            QTreeWidgetItem* row = NewRow({Kind::DeviceSlot, s, 0, {}}, ToQ(model.SlotLabel(s)));
            const bool used = !(*model.Slots())[static_cast<std::size_t>(s)].Empty();
            row->setData(0, kUsedRole, used);
            row->setForeground(0, used ? QBrush(skin::kText) : QBrush(skin::kTextDim));
            if (used) row->setToolTip(0, ToQ(Ui().drag_tip_str[kTipLoad]));
            deviceHeading_->addChild(row);
        }
    } else {
        QTreeWidgetItem* none =
            NewRow({Kind::DeviceArea, -1, 0, {}}, ToQ(Ui().msg_str[kMsgNoDevice]));
        none->setForeground(0, QBrush(skin::kTextDim));
        deviceHeading_->addChild(none);
    }
    libraryHeading_ =
        NewHeading({Kind::LibraryFolder, -1, 0, {}}, ToQ(Ui().msg_str[kMsgLibraryRoot]));
    addTopLevelItem(libraryHeading_);
    AddLibraryRows(libraryHeading_, library, [](const MacroLibraryEntry& e) {
        const Kind kind = e.IsFolder() ? Kind::LibraryFolder : Kind::LibraryMacro;
        QTreeWidgetItem* row = NewRow({kind, -1, e.id, e.path}, ToQ(e.name));
        if (!e.IsFolder()) row->setToolTip(0, ToQ(Ui().drag_tip_str[kTipLoad]));
        return row;
    });

    for (int i = 0; i < topLevelItemCount(); ++i) {
        ForEachRow(topLevelItem(i), [&](QTreeWidgetItem* item) {
            const QString key = KeyOf(item);
            // At first both headings are open; afterwards each branch stays as it was.
            item->setExpanded(first ? item->parent() == nullptr : open.contains(key));
            if (key == chosenKey) setCurrentItem(item);
        });
    }
    verticalScrollBar()->setValue(scrolled);
}

std::unique_ptr<QMimeData> MacroEditorList::DragMime(const QTreeWidgetItem* item) const {
    if (!Loadable(item)) return nullptr;
    auto mime = std::make_unique<QMimeData>();
    mime->setData(kMacroEntryMime, EncodeMacroEntry(TargetOf(item)));
    mime->setText(item->text(0));
    return mime;
}

void MacroEditorList::startDrag(Qt::DropActions /*supported*/) {
    QTreeWidgetItem* item = currentItem();
    std::unique_ptr<QMimeData> mime = DragMime(item);
    if (!mime) return;
    auto* drag = new QDrag(this);       // owned by the tree (Qt parent); Qt ends its life
    drag->setMimeData(mime.release());  // QDrag takes ownership
    drag->setPixmap(DragLabelPixmap(item->text(0)));
    drag->exec(Qt::CopyAction, Qt::CopyAction);
}

void MacroEditorList::dragEnterEvent(QDragEnterEvent* event) {
    if (event->mimeData()->hasFormat(kEditedMacroMime)) event->acceptProposedAction();
}

void MacroEditorList::dragMoveEvent(QDragMoveEvent* event) {
    if (!event->mimeData()->hasFormat(kEditedMacroMime)) {
        event->ignore();
        return;
    }
    event->acceptProposedAction();
}

void MacroEditorList::dropEvent(QDropEvent* event) {
    if (!event->mimeData()->hasFormat(kEditedMacroMime)) return;
    event->acceptProposedAction();
    QTreeWidgetItem* item = itemAt(event->position().toPoint());
    // Below the last row: a new macro in the device.
    emit droppedOnList(item != nullptr ? TargetOf(item) : MacroListTarget{});
}

}  // namespace qvm::ui
