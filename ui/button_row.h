// Places push buttons side by side in a fixed row of the skin.
#pragma once

#include <QRect>
#include <span>

class QPushButton;

namespace qvm::ui {

// The buttons share the row equally while every text fits its share; otherwise each gets
// the width its text needs and an equal part of what is left, so a long text (in some
// languages) takes room from short ones rather than being cut.
void PlaceButtonRow(std::span<QPushButton* const> buttons, const QRect& row, int gap);

}  // namespace qvm::ui
