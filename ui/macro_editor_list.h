// The macro editor's list: the device's 80 macro slots under "Mouse memory" (a slot's
// macro name, or "Empty") and the macro library under "Macro list (PC)" as a folder tree.
// A used slot or a library macro drags to the edit area to be loaded; the edited macro
// dropped on an entry is stored there (the window asks the model what that means).
#pragma once

#include <QMimeData>
#include <QTreeWidget>
#include <memory>
#include <optional>

#include "present/macro_editor_model.h"

namespace qvm::ui {

class MacroEditorList : public QTreeWidget {
    Q_OBJECT
  public:
    explicit MacroEditorList(QWidget* parent = nullptr);

    // Shows the model's slots and the library again, keeping the open folders and the
    // chosen entry where they still exist.
    void Rebuild(const MacroEditorModel& model, const MacroLibrary& library);

    // What a row stands for; the heading "Mouse memory" is the device area, the heading
    // "Macro list (PC)" the library's root folder.
    static MacroListTarget TargetOf(const QTreeWidgetItem* item);
    std::optional<MacroListTarget> Chosen() const;
    // The row of a slot, for tests and drops.
    QTreeWidgetItem* SlotRow(int slot) const;
    QTreeWidgetItem* LibraryHeading() const { return libraryHeading_; }
    // The library folder new folders go into: the chosen folder, or the root.
    int32_t ChosenFolder() const;
    // What dragging the row carries to the edit area: null unless it holds a macro.
    std::unique_ptr<QMimeData> DragMime(const QTreeWidgetItem* item) const;

  signals:
    void droppedOnList(const qvm::MacroListTarget& target);

  protected:
    void startDrag(Qt::DropActions supported) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dropEvent(QDropEvent* event) override;

  private:
    QTreeWidgetItem* deviceHeading_ = nullptr;   // owned by the tree
    QTreeWidgetItem* libraryHeading_ = nullptr;  // owned by the tree
};

}  // namespace qvm::ui
