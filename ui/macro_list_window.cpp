#include "ui/macro_list_window.h"

#include <QDrag>
#include <QFontMetrics>
#include <QHeaderView>
#include <QLabel>
#include <QPainter>
#include <QScreen>
#include <QSet>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <algorithm>
#include <functional>
#include <utility>

#include "lang/ui_strings.h"
#include "macro/macro_describe.h"
#include "platform/folders.h"
#include "present/info_text.h"
#include "ui/macro_tree.h"
#include "ui/qt_text.h"
#include "ui/skin.h"
#include "ui/window_placement.h"

namespace qvm::ui {

// The tree: starts a drag with the window's payload for the pressed row.
class MacroListTree : public QTreeWidget {
  public:
    using MimeSource = std::function<std::unique_ptr<QMimeData>(const QTreeWidgetItem*)>;

    MacroListTree(MimeSource source, QWidget* parent)
        : QTreeWidget(parent), source_(std::move(source)) {}

  protected:
    void startDrag(Qt::DropActions /*supported*/) override {
        QTreeWidgetItem* item = currentItem();
        std::unique_ptr<QMimeData> mime = source_(item);
        if (!mime) return;
        const QString name = mime->text();
        auto* drag = new QDrag(this);       // owned by the tree (Qt parent); Qt ends its life
        drag->setMimeData(mime.release());  // QDrag takes ownership
        drag->setPixmap(DragLabelPixmap(name));
        drag->exec(Qt::CopyAction, Qt::CopyAction);
    }

  private:
    MimeSource source_;
};

namespace {

constexpr int kKindRole = Qt::UserRole;
constexpr int kIndexRole = Qt::UserRole + 1;  // function item index, slot index or entry id
constexpr int kKeyRole = Qt::UserRole + 2;    // identity kept across rebuilds (open branches)

constexpr int kNameColumn = 0;
constexpr int kSlotColumn = 1;
constexpr int kSlotColumnWidth = 64;

constexpr QSize kWindowSize{320, 580};
// The first opening places the window this far beside the main window (see PlaceBeside).
constexpr int kPlacementGap = 20;

// Table indices of the texts this window shows.
constexpr int kMsgFunctionList = 0;
constexpr int kMsgMacroList = 1;
constexpr int kMsgQuickDrop = 8;
constexpr int kMsgLibraryRoot = 31;
constexpr int kMsgMouseMemory = 33;

QString Msg(int index) {
    return ToQ(Ui().msg_str[static_cast<std::size_t>(index)]);
}

// Slots are counted from 1 wherever a person reads them, as qvmctl does.
int SlotNumber(int slot) {
    return slot + 1;
}

QString SlotText(int slot) {
    return Word(kWordSlot, {std::to_string(SlotNumber(slot))});
}
QString HeldToolTip(const QString& name, int slot) {
    return Word(kWordHeldMacroTip, {name.toStdString(), std::to_string(SlotNumber(slot))});
}
QString NotHeldToolTip(const QString& name) {
    return Word(kWordNotHeldMacroTip, {name.toStdString(), Ui().macro_editor_cap_str});
}

QTreeWidgetItem* NewRow(MacroListWindow::RowKind kind, int index, const QString& name,
                        const QString& key) {
    auto* item = new QTreeWidgetItem();  // owned by whoever it is added to
    item->setText(kNameColumn, name);
    item->setData(kNameColumn, kKindRole, static_cast<int>(kind));
    item->setData(kNameColumn, kIndexRole, index);
    item->setData(kNameColumn, kKeyRole, key);
    const bool draggable =
        kind == MacroListWindow::RowKind::Function || kind == MacroListWindow::RowKind::DeviceMacro;
    item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable |
                   (draggable ? Qt::ItemIsDragEnabled : Qt::NoItemFlags));
    return item;
}

QTreeWidgetItem* NewHeading(const QString& name, const QString& key) {
    QTreeWidgetItem* item = NewRow(MacroListWindow::RowKind::Heading, 0, name, key);
    QFont font = item->font(kNameColumn);
    font.setBold(true);
    item->setFont(kNameColumn, font);
    return item;
}

void ForEachRow(QTreeWidgetItem* item, const std::function<void(QTreeWidgetItem*)>& visit) {
    visit(item);
    for (int i = 0; i < item->childCount(); ++i) ForEachRow(item->child(i), visit);
}

void ForEachRow(QTreeWidget* tree, const std::function<void(QTreeWidgetItem*)>& visit) {
    for (int i = 0; i < tree->topLevelItemCount(); ++i) ForEachRow(tree->topLevelItem(i), visit);
}

}  // namespace

MacroListWindow::MacroListWindow(QWidget* parent)
    : MacroListWindow(ProgramFolder(), MacroLibrary::DefaultRoot(), parent) {}

MacroListWindow::MacroListWindow(std::string programFolder, std::string libraryRoot,
                                 QWidget* parent)
    : QWidget(parent, Qt::Tool),
      programFolder_(std::move(programFolder)),
      library_(std::move(libraryRoot)) {
    setWindowTitle(Msg(kMsgMacroList));
    resize(kWindowSize);

    auto* layout = new QVBoxLayout(this);  // owned by the window
    hint_ = new QLabel(Msg(kMsgQuickDrop), this);
    hint_->setWordWrap(true);
    layout->addWidget(hint_);

    tree_ = new MacroListTree([this](const QTreeWidgetItem* item) { return DragMime(item); }, this);
    tree_->setColumnCount(2);
    tree_->setHeaderHidden(true);
    tree_->setAccessibleName(Msg(kMsgMacroList));
    tree_->header()->setStretchLastSection(false);
    tree_->header()->setSectionResizeMode(kNameColumn, QHeaderView::Stretch);
    tree_->header()->setSectionResizeMode(kSlotColumn, QHeaderView::Fixed);
    tree_->header()->resizeSection(kSlotColumn, kSlotColumnWidth);
    tree_->setDragEnabled(true);
    tree_->setDragDropMode(QAbstractItemView::DragOnly);
    tree_->setSelectionMode(QAbstractItemView::SingleSelection);
    tree_->setUniformRowHeights(true);
    layout->addWidget(tree_, 1);

    status_ = new QLabel(this);
    status_->setWordWrap(true);
    status_->setVisible(false);
    layout->addWidget(status_);

    Reload();
}

MacroListWindow::~MacroListWindow() = default;

QTreeWidget* MacroListWindow::Tree() const {
    return tree_;
}

QString MacroListWindow::StatusText() const {
    return status_->text();
}

MacroListWindow::RowKind MacroListWindow::KindOf(const QTreeWidgetItem* item) {
    if (item == nullptr) return RowKind::Heading;
    return static_cast<RowKind>(item->data(kNameColumn, kKindRole).toInt());
}

void MacroListWindow::Reload() {
    const Status scanned = library_.Rescan();
    libraryError_ = scanned ? QString() : ErrorMessage(scanned.error());
    functions_ = BuildFunctionLibrary(programFolder_, Ui(), dpiStep_, Ui().language_id);
    Rebuild();
}

void MacroListWindow::SetMacroSlots(const MacroSlots& macroSlots) {
    slots_ = macroSlots;
    AddDeviceMacros();
    RefreshLibraryMacroRows();
    ShowStatus();
}

void MacroListWindow::SetDpiStep(int dpiStep) {
    if (dpiStep == dpiStep_) return;
    dpiStep_ = dpiStep;
    functions_ = BuildFunctionLibrary(programFolder_, Ui(), dpiStep_, Ui().language_id);
    Rebuild();
}

void MacroListWindow::ShowBeside(const QWidget* anchor) {
    if (!placed_ && anchor != nullptr) {
        const QScreen* screen = anchor->screen();
        const QRect room =
            screen != nullptr ? screen->availableGeometry() : anchor->frameGeometry();
        const QPoint at =
            PlaceBeside(anchor->frameGeometry(), frameGeometry().size(), room, kPlacementGap);
        move(at);
        placed_ = true;
    }
    show();
    raise();
    activateWindow();
}

std::optional<int> MacroListWindow::SlotNamed(const std::string& name) const {
    for (int s = 0; s < kMacroSlotCount; ++s) {
        const MacroSlot& slot = slots_[static_cast<std::size_t>(s)];
        if (!slot.Empty() && slot.name == name) return s;
    }
    return std::nullopt;
}

std::optional<DraggedFunction> MacroListWindow::DragPayload(const QTreeWidgetItem* item) const {
    if (item == nullptr) return std::nullopt;
    const int index = item->data(kNameColumn, kIndexRole).toInt();
    switch (KindOf(item)) {
        case RowKind::Function: {
            if (index < 0 || static_cast<std::size_t>(index) >= functions_.items.size()) break;
            const FunctionLibraryItem& f = functions_.items[static_cast<std::size_t>(index)];
            return DraggedFunction{f.Slot(), ToQ(f.entry.name.empty() ? f.text : f.entry.name)};
        }
        case RowKind::DeviceMacro: {
            if (index < 0 || index >= kMacroSlotCount) break;
            const MacroSlot& slot = slots_[static_cast<std::size_t>(index)];
            if (slot.Empty()) break;
            return DraggedFunction{MacroSlotFunction(slot), ToQ(slot.name)};
        }
        case RowKind::LibraryMacro: {
            const MacroLibraryEntry* entry = library_.Find(index);
            if (entry == nullptr) break;
            const std::optional<int> held = SlotNamed(entry->name);
            if (!held) break;
            const MacroSlot& slot = slots_[static_cast<std::size_t>(*held)];
            return DraggedFunction{MacroSlotFunction(slot), ToQ(slot.name)};
        }
        case RowKind::Heading:
        case RowKind::LibraryFolder:
            break;
    }
    return std::nullopt;
}

std::unique_ptr<QMimeData> MacroListWindow::DragMime(const QTreeWidgetItem* item) const {
    const std::optional<DraggedFunction> payload = DragPayload(item);
    if (!payload) return nullptr;
    return MakeFunctionMime(*payload);
}

void MacroListWindow::Rebuild() {
    QSet<QString> open;
    const bool first = tree_->topLevelItemCount() == 0;
    ForEachRow(tree_, [&](QTreeWidgetItem* item) {
        if (item->isExpanded()) open.insert(item->data(kNameColumn, kKeyRole).toString());
    });
    tree_->clear();
    deviceHeading_ = nullptr;

    AddFunctionGroups();
    AddLibrary();
    AddDeviceMacros();

    ForEachRow(tree_, [&](QTreeWidgetItem* item) {
        const QString key = item->data(kNameColumn, kKeyRole).toString();
        // At first the device's macros and the macro library are open, the function
        // groups closed; afterwards every branch stays as the user left it.
        const bool opened = first ? KindOf(item) == RowKind::Heading &&
                                        (item == deviceHeading_ || key == QStringLiteral("pc"))
                                  : open.contains(key);
        item->setExpanded(opened);
    });
    RefreshLibraryMacroRows();
    ShowStatus();
}

void MacroListWindow::AddFunctionGroups() {
    QTreeWidgetItem* group = nullptr;
    int groupNumber = 0;
    for (std::size_t i = 0; i < functions_.items.size(); ++i) {
        const FunctionLibraryItem& f = functions_.items[i];
        if (f.entry.IsFolder()) {
            // Every library file shares one group id, so a group is known by its place.
            group =
                NewHeading(ToQ(f.entry.name),
                           QStringLiteral("fn:%1:%2").arg(groupNumber++).arg(ToQ(f.entry.name)));
            tree_->addTopLevelItem(group);
            continue;
        }
        if (group == nullptr) continue;  // the library lists a group before its entries
        QTreeWidgetItem* row = NewRow(RowKind::Function, static_cast<int>(i),
                                      ToQ(f.entry.name.empty() ? f.text : f.entry.name), QString());
        QString tip = ToQ(f.text);
        if (!f.entry.description.empty()) tip = ToQ(f.entry.description) + "\n" + tip;
        row->setToolTip(kNameColumn, tip);
        group->addChild(row);
    }
    if (tree_->topLevelItemCount() > 0) {
        tree_->topLevelItem(0)->setToolTip(kNameColumn, Msg(kMsgFunctionList));
    }
}

void MacroListWindow::AddDeviceMacros() {
    if (deviceHeading_ == nullptr) {
        deviceHeading_ = NewHeading(Msg(kMsgMouseMemory), QStringLiteral("device"));
        // The device's macros come right after the function groups, before the library.
        int at = tree_->topLevelItemCount();
        for (int i = 0; i < tree_->topLevelItemCount(); ++i) {
            if (tree_->topLevelItem(i)->data(kNameColumn, kKeyRole).toString() == "pc") at = i;
        }
        tree_->insertTopLevelItem(at, deviceHeading_);
        deviceHeading_->setExpanded(true);
    }
    const bool wasOpen = deviceHeading_->isExpanded();
    qDeleteAll(deviceHeading_->takeChildren());  // rows the tree no longer shows
    for (int s = 0; s < kMacroSlotCount; ++s) {
        const MacroSlot& slot = slots_[static_cast<std::size_t>(s)];
        if (slot.Empty()) continue;
        QTreeWidgetItem* row = NewRow(RowKind::DeviceMacro, s, ToQ(slot.name), QString());
        row->setText(kSlotColumn, SlotText(s));
        row->setToolTip(kNameColumn, HeldToolTip(ToQ(slot.name), s));
        deviceHeading_->addChild(row);
    }
    deviceHeading_->setHidden(deviceHeading_->childCount() == 0);
    deviceHeading_->setExpanded(wasOpen);
}

void MacroListWindow::AddLibrary() {
    QTreeWidgetItem* heading = NewHeading(Msg(kMsgLibraryRoot), QStringLiteral("pc"));
    heading->setToolTip(kNameColumn, ToQ(library_.Root()));
    tree_->addTopLevelItem(heading);
    AddLibraryRows(heading, library_, [](const MacroLibraryEntry& e) {
        const RowKind kind = e.IsFolder() ? RowKind::LibraryFolder : RowKind::LibraryMacro;
        return NewRow(kind, e.id, ToQ(e.name), ToQ(e.path));
    });
}

void MacroListWindow::RefreshLibraryMacroRows() {
    ForEachRow(tree_, [&](QTreeWidgetItem* item) {
        if (KindOf(item) != RowKind::LibraryMacro) return;
        const MacroLibraryEntry* entry = library_.Find(item->data(kNameColumn, kIndexRole).toInt());
        if (entry == nullptr) return;
        const QString name = ToQ(entry->name);
        const std::optional<int> held = SlotNamed(entry->name);
        Qt::ItemFlags flags = item->flags();
        flags.setFlag(Qt::ItemIsDragEnabled, held.has_value());
        item->setFlags(flags);
        item->setText(kSlotColumn, held ? SlotText(*held) : QString());
        item->setToolTip(kNameColumn, held ? HeldToolTip(name, *held) : NotHeldToolTip(name));
        item->setForeground(kNameColumn, held ? QBrush(skin::kText) : QBrush(skin::kTextDim));
        item->setForeground(kSlotColumn, QBrush(skin::kTextDim));
    });
}

void MacroListWindow::ShowStatus() {
    QStringList lines;
    for (const std::string& damaged : DamagedSlotWarnings(slots_)) lines << ToQ(damaged);
    if (!libraryError_.isEmpty()) lines << libraryError_;
    for (const SkippedLibraryFile& skipped : library_.Skipped()) {
        // The table text, then which file and why beneath it.
        if (skipped.invalid) lines << ToQ(FileMessage(Ui(), skipped.path, skipped.reason));
    }
    for (const std::string& problem : functions_.problems) lines << ToQ(problem);
    // The label shows the first few; its tool tip has them all.
    constexpr qsizetype kShownProblems = 3;
    status_->setText(lines.mid(0, kShownProblems).join('\n'));
    status_->setToolTip(lines.join('\n'));
    status_->setVisible(!lines.isEmpty());
}

}  // namespace qvm::ui
