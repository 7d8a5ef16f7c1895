#include "ui/macro_tree.h"

#include <QFontMetrics>
#include <QPainter>
#include <QTreeWidgetItem>
#include <algorithm>
#include <map>

#include "ui/qt_text.h"
#include "ui/skin.h"

namespace qvm::ui {

void AddLibraryRows(QTreeWidgetItem* root, const MacroLibrary& library,
                    const LibraryRowMaker& makeRow) {
    // The list is sorted by name across folders, so a folder may come after its
    // contents: make every row first, then hang each under its parent in list order.
    std::map<int32_t, QTreeWidgetItem*> rows;
    for (const MacroLibraryEntry& e : library.Entries()) {
        QTreeWidgetItem* row = makeRow(e);
        if (e.IsFolder()) {
            QFont font = row->font(0);
            font.setItalic(true);
            row->setFont(0, font);
            row->setToolTip(0, ToQ(e.path));
        }
        rows[e.id] = row;
    }
    for (const MacroLibraryEntry& e : library.Entries()) {
        const auto parent = rows.find(e.parent);
        (parent == rows.end() ? root : parent->second)->addChild(rows[e.id]);
    }
}

QPixmap DragLabelPixmap(const QString& name) {
    constexpr int kHeight = 26;
    constexpr int kPadding = 14;
    constexpr int kMaxWidth = 280;
    const QFontMetrics metrics(skin::LabelFont(kHeight / 2));
    const int width = std::min(metrics.horizontalAdvance(name) + 2 * kPadding, kMaxWidth);
    QPixmap pixmap(width, kHeight);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    skin::DrawRoundedLabel(painter, QRectF(pixmap.rect()), name, true);
    return pixmap;
}

}  // namespace qvm::ui
