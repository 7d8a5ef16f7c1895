// The program's icon: a stylised mouse on a rounded square in the accent colour, drawn
// at every size a desktop asks for (16 to 256 pixels). The window and the tray use it.
#pragma once

#include <QIcon>
#include <QPixmap>

namespace qvm::ui {

QIcon AppIcon();
// The icon drawn at one size (square, transparent corners).
QPixmap DrawAppIcon(int size);

}  // namespace qvm::ui
