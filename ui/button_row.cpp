#include "ui/button_row.h"

#include <QPushButton>
#include <algorithm>

namespace qvm::ui {

void PlaceButtonRow(std::span<QPushButton* const> buttons, const QRect& row, int gap) {
    if (buttons.empty()) return;
    const int count = static_cast<int>(buttons.size());
    const int room = row.width() - (count - 1) * gap;
    int needed = 0;
    int widest = 0;
    for (const QPushButton* button : buttons) {
        needed += button->sizeHint().width();
        widest = std::max(widest, button->sizeHint().width());
    }
    const int share = room / count;
    const int spare = std::max(0, room - needed) / count;
    int x = row.left();
    for (QPushButton* button : buttons) {
        const int hint = button->sizeHint().width();
        const int width = widest <= share  ? share
                          : needed <= room ? hint + spare
                                           : hint * room / needed;
        button->setGeometry(x, row.top(), width, row.height());
        x += width + gap;
    }
}

}  // namespace qvm::ui
