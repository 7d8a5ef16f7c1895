// What the macro list window and the macro editor's list share: the macro library as
// rows of a tree, and the label a dragged entry shows under the pointer.
#pragma once

#include <QPixmap>
#include <QString>
#include <functional>

#include "macro/macro_library.h"

class QTreeWidgetItem;

namespace qvm::ui {

// Makes the row of one library entry; the caller's tree takes ownership.
using LibraryRowMaker = std::function<QTreeWidgetItem*(const MacroLibraryEntry&)>;

// Hangs every entry of the library under `root`, each beneath its folder. Folders show
// in italics with their path as tool tip.
void AddLibraryRows(QTreeWidgetItem* root, const MacroLibrary& library,
                    const LibraryRowMaker& makeRow);

// The name on a highlighted rounded label, shown under the pointer while dragging.
QPixmap DragLabelPixmap(const QString& name);

}  // namespace qvm::ui
