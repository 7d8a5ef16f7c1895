// The dark skin: palette, style sheet, shared fonts and drawing helpers.
#include "ui/skin.h"

#include <QApplication>
#include <QDir>
#include <QFontMetricsF>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QPalette>
#include <QStandardPaths>
#include <algorithm>
#include <array>
#include <memory>

#include "lang/ui_strings.h"
#include "ui/keyboard_access.h"
#include "ui/qt_text.h"

namespace qvm::ui::skin {
namespace {

struct FontRow {
    bool mono;
    int pixelSize;
    bool bold;
};

// The shared fonts in their fixed order.
constexpr std::array<FontRow, kSharedFontCount> kFontRows = {{
    {false, 16, false},
    {false, 20, false},
    {false, 10, false},
    {false, 12, false},
    {false, 14, false},
    {false, 14, false},
    {false, 14, false},
    {true, 11, false},
    {false, 14, true},
    {false, 24, false},
    {true, 20, true},
}};

// Families asked for first, then the ones a plain Linux desktop has.
const QStringList& SansFamilies() {
    static const QStringList families = {"Tahoma", "DejaVu Sans", "Liberation Sans", "sans-serif"};
    return families;
}
const QStringList& MonoFamilies() {
    static const QStringList families = {"Courier New", "DejaVu Sans Mono", "Liberation Mono",
                                         "monospace"};
    return families;
}
const QStringList& LabelFamilies() {
    static const QStringList families = {"Arial Unicode MS", "DejaVu Sans", "sans-serif"};
    return families;
}

QFont MakeFont(const FontRow& row) {
    QFont font;
    font.setFamilies(row.mono ? MonoFamilies() : SansFamilies());
    font.setStyleHint(row.mono ? QFont::Monospace : QFont::SansSerif);
    font.setPixelSize(row.pixelSize);
    font.setBold(row.bold);
    return font;
}

std::unique_ptr<std::array<QFont, kSharedFontCount>>& FontStore() {
    static std::unique_ptr<std::array<QFont, kSharedFontCount>> store;
    return store;
}

// Label corners: radius relative to the label height, capped so tall labels stay crisp.
constexpr qreal kLabelRadiusShare = 0.5;
constexpr qreal kLabelRadiusMax = 9;
constexpr qreal kLabelTextPadding = 8;
constexpr qreal kPanelRadius = 8;
constexpr int kHeaderAccentLine = 2;

QPixmap TransparentPixmap(int width, int height) {
    QPixmap pixmap(width, height);
    pixmap.fill(Qt::transparent);
    return pixmap;
}

QPixmap DrawLogo() {
    QPixmap pixmap = TransparentPixmap(256, 64);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    // A small mouse outline in the accent colour, then the program's name.
    QPainterPath mouse;
    mouse.addRoundedRect(QRectF(8, 10, 28, 44), 14, 14);
    painter.setPen(QPen(kAccent, 3));
    painter.setBrush(Qt::NoBrush);
    painter.drawPath(mouse);
    painter.drawLine(QPointF(22, 12), QPointF(22, 26));
    QFont title = SharedFont(9);
    title.setBold(true);
    title.setLetterSpacing(QFont::AbsoluteSpacing, 1.5);
    painter.setFont(title);
    painter.setPen(kText);
    // The program's name is a fixed text, not a translated one.
    painter.drawText(QRectF(48, 6, 208, 34), Qt::AlignLeft | Qt::AlignVCenter, "QVM");
    painter.setPen(kAccent);
    QFont sub = SharedFont(8);
    sub.setLetterSpacing(QFont::AbsoluteSpacing, 4);
    painter.setFont(sub);
    painter.drawText(QRectF(49, 36, 208, 22), Qt::AlignLeft | Qt::AlignVCenter, "GAMING");
    return pixmap;
}

void DrawCallout(QPainter& painter, const QRectF& box, const QString& text) {
    DrawPanel(painter, box);
    painter.setPen(kText);
    painter.setFont(SharedFont(3));
    painter.drawText(box.adjusted(12, 8, -12, -8),
                     Qt::AlignLeft | Qt::AlignVCenter | Qt::TextWordWrap, text);
}

// A level arrow from `from` to the tip `to`.
void DrawArrow(QPainter& painter, const QPointF& from, const QPointF& to) {
    const qreal back = to.x() < from.x() ? 10 : -10;
    painter.setPen(QPen(kAccent, 2, Qt::SolidLine, Qt::RoundCap));
    painter.drawLine(from, to);
    painter.drawLine(to, to + QPointF(back, -6));
    painter.drawLine(to, to + QPointF(back, 6));
}

QPixmap DrawHelpOverlay() {
    QPixmap pixmap = TransparentPixmap(1024, 492);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.fillRect(pixmap.rect(), QColor(0, 0, 0, 170));
    const QString hints[] = {
        ToQ(Ui().word_str[kWordHelpLabels]),
        ToQ(Ui().word_str[kWordHelpQuickBinding]),
        ToQ(Ui().msg_str[8]),
    };
    qreal y = 150;
    for (const QString& hint : hints) {
        DrawCallout(painter, QRectF(312, y, 400, 56), hint);
        y += 72;
    }
    // Arrows towards the label columns, each level with the middle of a label: the labels
    // stand on rungs 40 pixels apart, 30 high, rung 0 at window y 528; the overlay starts
    // at window y 108.
    constexpr qreal kOverlayTop = 108;
    const auto rungMiddle = [](int rung) { return 528 - 40.0 * rung + 15 - kOverlayTop; };
    DrawArrow(painter, QPointF(312, rungMiddle(6)), QPointF(240, rungMiddle(6)));
    DrawArrow(painter, QPointF(712, rungMiddle(5)), QPointF(900, rungMiddle(5)));
    return pixmap;
}

QPixmap DrawSymbolImage(void (*draw)(QPainter&, const QRectF&, const QColor&)) {
    QPixmap pixmap = TransparentPixmap(32, 32);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    draw(painter, QRectF(0, 0, 32, 32), kText);
    return pixmap;
}

// The spin boxes' arrows. A style sheet takes images only from files, so the skin draws
// them once into the user's cache folder; empty when that cannot be written (the buttons
// then show without arrows, as nothing else depends on the files).
QString SpinArrowFolder() {
    static const QString folder = [] {
        const QString dir = QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation) +
                            "/qvm-gaming/skin";
        if (!QDir().mkpath(dir)) return QString();
        for (const bool up : {true, false}) {
            QImage image(20, 20, QImage::Format_ARGB32_Premultiplied);
            image.fill(Qt::transparent);
            QPainter painter(&image);
            painter.setRenderHint(QPainter::Antialiasing);
            painter.setPen(Qt::NoPen);
            painter.setBrush(kText);
            const QPolygonF triangle =
                up ? QPolygonF{{2, 15}, {18, 15}, {10, 5}} : QPolygonF{{2, 5}, {18, 5}, {10, 15}};
            painter.drawPolygon(triangle);
            painter.end();
            if (!image.save(dir + (up ? "/spin-up.png" : "/spin-down.png"))) return QString();
        }
        return dir;
    }();
    return folder;
}

QString SpinArrowRules() {
    const QString folder = SpinArrowFolder();
    if (folder.isEmpty()) return {};
    return QStringLiteral(
               "QSpinBox::up-arrow, QDoubleSpinBox::up-arrow { image: url(%1/spin-up.png); "
               "width: 10px; height: 10px; }\n"
               "QSpinBox::down-arrow, QDoubleSpinBox::down-arrow { image: url(%1/spin-down.png); "
               "width: 10px; height: 10px; }\n")
        .arg(folder);
}

}  // namespace

QString StyleSheet() {
    // Placeholders: %1 background, %2 panel, %3 raised, %4 edge, %5 text, %6 dim text,
    // %7 accent, %8 bright accent, %9 danger.
    static const char* const kSheet = R"(
QWidget { color: %5; font-family: "Tahoma", "DejaVu Sans"; font-size: 13px; }
QDialog, QMainWindow { background: qlineargradient(x1:0, y1:0, x2:0, y2:1, stop:0 %1, stop:1 #060608); }
QToolTip { color: %5; background: %3; border: 1px solid %7; padding: 4px; border-radius: 4px; }
QLabel { background: transparent; }
QLabel:disabled { color: %6; }
QPushButton { background: qlineargradient(x1:0, y1:0, x2:0, y2:1, stop:0 #343842, stop:1 %3);
  border: 1px solid %4; border-radius: 5px; padding: 5px 14px; min-height: 18px; }
QPushButton:hover { border-color: %7; }
QPushButton:pressed, QPushButton:checked { background: %7; color: #101010; border-color: %8; }
QPushButton:default { border-color: %7; }
QPushButton:disabled { color: %6; background: %2; border-color: %4; }
QPushButton:focus { border: 2px solid %8; padding: 4px 13px; }
QCheckBox, QRadioButton { spacing: 8px; background: transparent; }
QCheckBox:disabled, QRadioButton:disabled { color: %6; }
QCheckBox::indicator, QRadioButton::indicator { width: 14px; height: 14px; border: 1px solid %4; background: %2; }
QCheckBox::indicator { border-radius: 3px; }
QRadioButton::indicator { border-radius: 8px; }
QCheckBox::indicator:hover, QRadioButton::indicator:hover { border-color: %7; }
QCheckBox::indicator:checked { background: %7; border-color: %8; }
QCheckBox:focus, QRadioButton:focus { color: %8; }
QCheckBox::indicator:focus, QRadioButton::indicator:focus { border: 2px solid %8; width: 12px; height: 12px; }
QRadioButton::indicator:checked { background: qradialgradient(cx:0.5, cy:0.5, radius:0.5, fx:0.5, fy:0.5, stop:0 %8, stop:0.45 %7, stop:0.55 %2, stop:1 %2); border-color: %7; }
QSlider { background: transparent; border: 1px solid transparent; border-radius: 3px; }
QSlider:focus { border: 1px dashed %8; }
QSlider::groove:horizontal { height: 6px; background: %2; border: 1px solid %4; border-radius: 3px; }
QSlider::sub-page:horizontal { background: %7; border-radius: 3px; }
QSlider::handle:horizontal { width: 14px; margin: -6px 0; border-radius: 7px; background: %5; border: 2px solid %7; }
QSlider::groove:vertical { width: 6px; background: %2; border: 1px solid %4; border-radius: 3px; }
QSlider::add-page:vertical { background: %7; border-radius: 3px; }
QSlider::handle:vertical { height: 14px; margin: 0 -6px; border-radius: 7px; background: %5; border: 2px solid %7; }
QSlider::handle:hover { background: %8; }
QSlider::handle:disabled { background: %6; border-color: %4; }
QProgressBar { background: %2; border: 1px solid %4; border-radius: 4px; text-align: center; min-height: 16px; }
QProgressBar::chunk { background: qlineargradient(x1:0, y1:0, x2:1, y2:0, stop:0 %7, stop:1 %8); border-radius: 3px; }
QTabWidget::pane { border: 1px solid %4; background: %2; border-radius: 4px; }
QTabBar::tab { background: %3; color: %6; border: 1px solid %4; padding: 6px 16px; margin-right: 2px;
  border-top-left-radius: 5px; border-top-right-radius: 5px; }
QTabBar::tab:selected { color: %5; background: %2; border-bottom: 2px solid %7; }
QTabBar::tab:hover { color: %5; }
QListWidget, QTreeWidget, QListView, QTreeView, QTableView, QTextEdit, QPlainTextEdit {
  background: %2; border: 1px solid %4; border-radius: 4px; alternate-background-color: #22252b;
  selection-background-color: %7; selection-color: #101010; outline: 0; }
QListWidget::item, QTreeWidget::item { padding: 3px; border: none; }
QListWidget::item:hover, QTreeWidget::item:hover { background: %3; padding: 3px; }
QListWidget::item:selected, QTreeWidget::item:selected { background: %7; color: #101010; padding: 3px; }
QListWidget:focus, QTreeWidget:focus, QListView:focus, QTreeView:focus { border-color: %8; }
QHeaderView::section { background: %3; color: %6; border: none; border-right: 1px solid %4; padding: 4px; }
QComboBox, QSpinBox, QDoubleSpinBox, QLineEdit { background: %2; border: 1px solid %4;
  border-radius: 4px; padding: 3px 6px; min-height: 18px; selection-background-color: %7; selection-color: #101010; }
QComboBox:hover, QSpinBox:hover, QLineEdit:hover, QComboBox:focus, QSpinBox:focus, QLineEdit:focus { border-color: %7; }
QComboBox:disabled, QSpinBox:disabled, QLineEdit:disabled { color: %6; }
QSpinBox, QDoubleSpinBox { padding-right: 20px; }
QSpinBox::up-button, QDoubleSpinBox::up-button { subcontrol-origin: border; subcontrol-position: top right;
  width: 18px; background: %3; border-left: 1px solid %4; border-bottom: 1px solid %4; border-top-right-radius: 4px; }
QSpinBox::down-button, QDoubleSpinBox::down-button { subcontrol-origin: border; subcontrol-position: bottom right;
  width: 18px; background: %3; border-left: 1px solid %4; border-bottom-right-radius: 4px; }
QSpinBox::up-button:hover, QSpinBox::down-button:hover, QDoubleSpinBox::up-button:hover, QDoubleSpinBox::down-button:hover { background: %7; }
QComboBox QAbstractItemView { background: %2; border: 1px solid %7; selection-background-color: %7; selection-color: #101010; }
QGroupBox { border: 1px solid %4; border-radius: 6px; margin-top: 14px; padding: 10px 8px 8px 8px; background: %2; }
QGroupBox::title { subcontrol-origin: margin; left: 10px; padding: 0 6px; color: %7; font-weight: bold; }
QMenu { background: %2; border: 1px solid %4; padding: 4px; }
QMenu::item { padding: 5px 22px; border-radius: 3px; }
QMenu::item:selected { background: %7; color: #101010; }
QMenu::item:disabled { color: %6; }
QMenu::separator { height: 1px; background: %4; margin: 4px 6px; }
QScrollBar:vertical { background: %2; width: 10px; margin: 0; }
QScrollBar::handle:vertical { background: %4; border-radius: 4px; min-height: 24px; margin: 1px; }
QScrollBar:horizontal { background: %2; height: 10px; margin: 0; }
QScrollBar::handle:horizontal { background: %4; border-radius: 4px; min-width: 24px; margin: 1px; }
QScrollBar::handle:hover { background: %7; }
QScrollBar::add-line, QScrollBar::sub-line { width: 0; height: 0; }
QMessageBox QLabel { color: %5; }
*[danger="true"] { color: %9; }
)";
    return QString::fromLatin1(kSheet).arg(kBackground.name(), kPanel.name(), kPanelRaised.name(),
                                           kPanelEdge.name(), kText.name(), kTextDim.name(),
                                           kAccent.name(), kAccentBright.name(), kDanger.name()) +
           SpinArrowRules();
}

void ApplySkin(QApplication& app) {
    CreateSharedFonts();
    QPalette palette;
    palette.setColor(QPalette::Window, kBackground);
    palette.setColor(QPalette::WindowText, kText);
    palette.setColor(QPalette::Base, kPanel);
    palette.setColor(QPalette::AlternateBase, kPanelRaised);
    palette.setColor(QPalette::Text, kText);
    palette.setColor(QPalette::Button, kPanelRaised);
    palette.setColor(QPalette::ButtonText, kText);
    palette.setColor(QPalette::BrightText, kAccentBright);
    palette.setColor(QPalette::Highlight, kAccent);
    palette.setColor(QPalette::HighlightedText, kLabelDark);
    palette.setColor(QPalette::ToolTipBase, kPanelRaised);
    palette.setColor(QPalette::ToolTipText, kText);
    palette.setColor(QPalette::PlaceholderText, kTextDim);
    palette.setColor(QPalette::Link, kAccentBright);
    for (QPalette::ColorRole role : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText}) {
        palette.setColor(QPalette::Disabled, role, kTextDim);
    }
    app.setPalette(palette);
    app.setFont(SharedFont(3));
    app.setStyleSheet(StyleSheet());
    // Part of the look: every control is reachable by Tab and shows its focus.
    InstallKeyboardAccess(app);
}

void CreateSharedFonts() {
    auto& store = FontStore();
    if (store) return;
    store = std::make_unique<std::array<QFont, kSharedFontCount>>();
    for (int i = 0; i < kSharedFontCount; ++i) (*store)[i] = MakeFont(kFontRows[i]);
}

const QFont& SharedFont(int index) {
    CreateSharedFonts();
    if (index < 0 || index >= kSharedFontCount) index = 0;
    return (*FontStore())[index];
}

QFont LabelFont(int pixelSize) {
    QFont font;
    font.setFamilies(LabelFamilies());
    font.setStyleHint(QFont::SansSerif);
    font.setPixelSize(pixelSize);
    return font;
}

void DrawRoundedLabel(QPainter& painter, const QRectF& rect, const QString& text, bool highlighted,
                      qreal textRightInset) {
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    const qreal radius = std::min(rect.height() * kLabelRadiusShare, kLabelRadiusMax);
    // Straight edges joined by Bezier corners (control point at the rectangle's corner).
    const QRectF r = rect.adjusted(0.5, 0.5, -0.5, -0.5);
    QPainterPath path;
    path.moveTo(r.left() + radius, r.top());
    path.lineTo(r.right() - radius, r.top());
    path.quadTo(r.topRight(), QPointF(r.right(), r.top() + radius));
    path.lineTo(r.right(), r.bottom() - radius);
    path.quadTo(r.bottomRight(), QPointF(r.right() - radius, r.bottom()));
    path.lineTo(r.left() + radius, r.bottom());
    path.quadTo(r.bottomLeft(), QPointF(r.left(), r.bottom() - radius));
    path.lineTo(r.left(), r.top() + radius);
    path.quadTo(r.topLeft(), QPointF(r.left() + radius, r.top()));
    path.closeSubpath();

    QLinearGradient fill(r.topLeft(), r.bottomLeft());
    if (highlighted) {
        fill.setColorAt(0, kAccentBright);
        fill.setColorAt(1, kAccent);
    } else {
        fill.setColorAt(0, kPanelRaised);
        fill.setColorAt(1, kPanel);
    }
    painter.setBrush(fill);
    QPen outline(highlighted ? kAccentBright : kPanelEdge, 1);
    outline.setCapStyle(Qt::RoundCap);
    outline.setJoinStyle(Qt::RoundJoin);
    painter.setPen(outline);
    painter.drawPath(path);

    const int pixelSize = std::clamp(static_cast<int>(rect.height() * 0.45), 9, 13);
    const QFont font = LabelFont(pixelSize);
    painter.setFont(font);
    painter.setPen(highlighted ? kLabelDark : kLabelLight);
    const QRectF textRect =
        r.adjusted(kLabelTextPadding, 0, -kLabelTextPadding - textRightInset, 0);
    const QString shown =
        QFontMetricsF(font).elidedText(text, Qt::ElideRight, std::max<qreal>(textRect.width(), 0));
    painter.drawText(textRect, Qt::AlignCenter, shown);
    painter.restore();
}

QPixmap LoadSkinImage(int id) {
    switch (id) {
        case kImageLogo:
            return DrawLogo();
        case kImageHelpOverlay:
            return DrawHelpOverlay();
        case kImageKeySymbol:
            return DrawSymbolImage(&DrawKeySymbol);
        case kImageLockSymbol:
            return DrawSymbolImage(&DrawLockSymbol);
        default:
            return {};
    }
}

void DrawBackground(QPainter& painter, const QRect& rect) {
    QLinearGradient ground(rect.topLeft(), rect.bottomLeft());
    ground.setColorAt(0, kBackground);
    ground.setColorAt(1, kBackgroundLow);
    painter.fillRect(rect, ground);
}

void DrawHeaderBand(QPainter& painter, const QRect& rect) {
    painter.save();
    QLinearGradient band(rect.topLeft(), rect.bottomLeft());
    band.setColorAt(0, QColor(34, 36, 42));
    band.setColorAt(1, QColor(18, 19, 23));
    painter.fillRect(rect, band);
    // Accent line fading out towards both ends.
    QLinearGradient line(rect.bottomLeft(), rect.bottomRight());
    QColor clear = kAccent;
    clear.setAlpha(0);
    line.setColorAt(0, clear);
    line.setColorAt(0.25, kAccent);
    line.setColorAt(0.75, kAccent);
    line.setColorAt(1, clear);
    painter.fillRect(
        QRect(rect.left(), rect.bottom() - kHeaderAccentLine + 1, rect.width(), kHeaderAccentLine),
        line);
    painter.restore();
}

void DrawPanel(QPainter& painter, const QRectF& rect) {
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF r = rect.adjusted(0.5, 0.5, -0.5, -0.5);
    QLinearGradient fill(r.topLeft(), r.bottomLeft());
    fill.setColorAt(0, QColor(33, 36, 42, 235));
    fill.setColorAt(1, QColor(22, 24, 28, 235));
    painter.setBrush(fill);
    painter.setPen(QPen(kPanelEdge, 1));
    painter.drawRoundedRect(r, kPanelRadius, kPanelRadius);
    // A faint highlight along the top edge makes the panel read as raised.
    painter.setPen(QPen(QColor(255, 255, 255, 22), 1));
    painter.drawLine(QPointF(r.left() + kPanelRadius, r.top() + 1),
                     QPointF(r.right() - kPanelRadius, r.top() + 1));
    painter.restore();
}

void DrawKeySymbol(QPainter& painter, const QRectF& rect, const QColor& colour) {
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    const qreal side = std::min(rect.width(), rect.height());
    const QRectF key(rect.center().x() - side * 0.4, rect.center().y() - side * 0.32, side * 0.8,
                     side * 0.64);
    painter.setPen(QPen(colour, std::max<qreal>(1, side / 14)));
    painter.setBrush(Qt::NoBrush);
    painter.drawRoundedRect(key, side * 0.1, side * 0.1);
    // Three key caps over a space bar.
    painter.setBrush(colour);
    painter.setPen(Qt::NoPen);
    const qreal cap = side * 0.12;
    for (int i = 0; i < 3; ++i) {
        painter.drawRect(
            QRectF(key.left() + side * 0.12 + i * side * 0.2, key.top() + side * 0.12, cap, cap));
    }
    painter.drawRect(
        QRectF(key.left() + side * 0.2, key.bottom() - side * 0.22, side * 0.4, side * 0.09));
    painter.restore();
}

void DrawLockSymbol(QPainter& painter, const QRectF& rect, const QColor& colour) {
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    const qreal side = std::min(rect.width(), rect.height());
    const QPointF c = rect.center();
    const QRectF body(c.x() - side * 0.32, c.y() - side * 0.05, side * 0.64, side * 0.45);
    painter.setPen(QPen(colour, std::max<qreal>(1.2, side / 10), Qt::SolidLine, Qt::RoundCap));
    painter.setBrush(Qt::NoBrush);
    const QRectF shackle(c.x() - side * 0.2, c.y() - side * 0.4, side * 0.4, side * 0.5);
    painter.drawArc(shackle, 0, 180 * 16);
    painter.drawLine(QPointF(shackle.left(), shackle.center().y()),
                     QPointF(shackle.left(), body.top()));
    painter.drawLine(QPointF(shackle.right(), shackle.center().y()),
                     QPointF(shackle.right(), body.top()));
    painter.setPen(Qt::NoPen);
    painter.setBrush(colour);
    painter.drawRoundedRect(body, side * 0.06, side * 0.06);
    painter.restore();
}

}  // namespace qvm::ui::skin
