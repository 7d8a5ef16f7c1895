// The program's skin: its colours, the style sheet of the standard widgets, the fonts
// every window shares and the few drawing helpers the windows build their frames from.
// Everything is drawn with QPainter; only the spin boxes' arrows are drawn into the user's
// cache folder, since a style sheet takes images from files alone.
#pragma once

#include <QColor>
#include <QFont>
#include <QPixmap>
#include <QRectF>
#include <QString>

class QApplication;
class QPainter;

namespace qvm::ui::skin {

// Colours of the dark skin. One accent colour marks what is active or selected.
inline constexpr QColor kBackground{14, 15, 18};              // window ground (top of its gradient)
inline constexpr QColor kBackgroundLow{6, 6, 8};              // window ground (bottom)
inline constexpr QColor kPanel{27, 29, 34};                   // panels and list grounds
inline constexpr QColor kPanelRaised{40, 43, 50};             // buttons, tabs, raised frames
inline constexpr QColor kPanelEdge{62, 66, 76};               // 1-pixel frame lines
inline constexpr QColor kText{236, 238, 242};                 // normal text
inline constexpr QColor kTextDim{138, 143, 154};              // secondary and disabled text
inline constexpr QColor kAccent{255, 72, 38};                 // active tab, selection, handles
inline constexpr QColor kAccentBright{255, 128, 92};          // hover of accented things
inline constexpr QColor kDanger{230, 36, 64};                 // destructive actions, errors
inline constexpr QColor kLabelLight{0xFE, 0xFE, 0xFE, 0xFE};  // rounded label text, normal
inline constexpr QColor kLabelDark{0x10, 0x10, 0x10, 0xFE};   // rounded label text, highlighted

// Palette and style sheet for the whole program. Call once after the QApplication exists.
void ApplySkin(QApplication& app);
// The style sheet ApplySkin installs (tests and single windows may apply it themselves).
QString StyleSheet();

// The shared fonts, created once for the life of the process, by index:
//   0 Tahoma 16, 1 Tahoma 20, 2 Tahoma 10, 3 Tahoma 12, 4..6 Tahoma 14,
//   7 Courier New 11, 8 Tahoma bold 14, 9 Tahoma 24, 10 Courier New bold 20.
// Sizes are pixels, so the fixed-size windows lay out the same on every screen. Where a
// family is missing the system's sans-serif (or monospace) family stands in.
inline constexpr int kSharedFontCount = 11;
void CreateSharedFonts();
// The font of that index (created on first use if CreateSharedFonts was not called).
// An index outside 0..10 is a programming error; it gets font 0.
const QFont& SharedFont(int index);
// The face of the rounded labels, at the given pixel size.
QFont LabelFont(int pixelSize);

// Rounded label: a rounded path filled dark (normal) or in the accent colour
// (highlighted), outlined with a 1-unit pen with round caps, the text centred in
// near-white (normal) or near-black (highlighted). Text longer than the label is elided.
// textRightInset keeps the label's right end free for a symbol drawn over it.
void DrawRoundedLabel(QPainter& painter, const QRectF& rect, const QString& text, bool highlighted,
                      qreal textRightInset = 0);

// Skin images kept under numeric identifiers; the skin draws them itself.
inline constexpr int kImageLogo = 150;         // program logo of the header band, 256 x 64
inline constexpr int kImageHelpOverlay = 151;  // help overlay of the button page, 1024 x 492
inline constexpr int kImageKeySymbol = 152;    // quick-binding key symbol, 32 x 32
inline constexpr int kImageLockSymbol = 153;   // sole left-click lock symbol, 32 x 32
// The image with that identifier; a null pixmap for identifiers the skin has no image of.
QPixmap LoadSkinImage(int id);

// The header band of a window (y 0..56 of the main window): dark gradient with an accent
// line along its lower edge.
void DrawHeaderBand(QPainter& painter, const QRect& rect);
// A raised panel: rounded, slightly lighter than the ground, with a thin edge.
void DrawPanel(QPainter& painter, const QRectF& rect);
// The window ground: the near-black vertical gradient.
void DrawBackground(QPainter& painter, const QRect& rect);

// Small symbols shared by the button map and the pages, drawn centred in rect.
void DrawKeySymbol(QPainter& painter, const QRectF& rect, const QColor& colour);
void DrawLockSymbol(QPainter& painter, const QRectF& rect, const QColor& colour);

}  // namespace qvm::ui::skin
