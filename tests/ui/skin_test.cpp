// The skin and the button page's picture: label hit-testing in window coordinates,
// function drops (never on the sole left-click button), the shared fonts, the skin
// images and the label colours; screenshots of every layout and of the styled widgets.
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QDropEvent>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMimeData>
#include <QPainter>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalSpy>
#include <QSlider>
#include <QSpinBox>
#include <QTabBar>
#include <QTest>
#include <QVBoxLayout>
#include <algorithm>
#include <array>
#include <cmath>
#include <vector>

#include "device/model_table.h"
#include "present/button_geometry.h"
#include "ui/app_icon.h"
#include "ui/button_map_view.h"
#include "ui/function_drag.h"
#include "ui/mouse_art.h"
#include "ui/skin.h"

using namespace qvm;
using namespace qvm::ui;

namespace {

// The most buttons a device of the layout shows (layout 11 has no model: its drawing).
int ShownButtons(int layoutIndex) {
    int shown = 0;
    for (int32_t code = 0; code <= 40; ++code) {
        for (int32_t generation : {0, 1, 11}) {
            DeviceValues device;
            device.ModelCode = code;
            device.ProtocolGeneration = generation;
            const ModelLayout layout = DecideModelLayout(device);
            if (layout.LayoutIndex == layoutIndex) shown = std::max(shown, layout.ButtonCount);
        }
    }
    return shown > 0 ? shown : DrawnButtonCount(layoutIndex);
}

ModelLayout LayoutOf(int layoutIndex) {
    ModelLayout layout;
    layout.LayoutIndex = layoutIndex;
    layout.ButtonCount = ShownButtons(layoutIndex);
    layout.ButtonOrder = LayoutOrderRow(layoutIndex);
    return layout;
}

// Realistic function texts, long ones among them.
const QStringList kTexts = {
    "Left click",
    "Right click",
    "Middle click",
    "Back",
    "Forward",
    "DPI +",
    "DPI -",
    "Ctrl + Alt + Delete",
    "Macro(R) Reload 12",
    "Scroll up",
    "Fire key: Left click x3, 50 ms",
    "Profile cycle",
    "Shift + F12",
    "Media: Volume up",
};

std::vector<ButtonLabel> LabelsFor(int count, int soleLeftClick = 0) {
    std::vector<ButtonLabel> labels;
    for (int i = 0; i < count; ++i) {
        labels.push_back({i, kTexts[i % kTexts.size()], i == soleLeftClick});
    }
    return labels;
}

QString ScreenshotPath(const QString& name) {
    QDir().mkpath(QVM_SCREENSHOT_DIR);
    return QString(QVM_SCREENSHOT_DIR) + "/" + name + ".png";
}

// A 1024 x 600 stand-in for the main window with the view placed like the page content.
struct Page {
    QWidget window;
    ButtonMapView* view;
    explicit Page(const QPoint& viewAt = QPoint(0, 0)) {
        window.setFixedSize(1024, 600);
        // The main window's dark ground, which the view draws over.
        QPalette ground = window.palette();
        ground.setColor(QPalette::Window, skin::kBackground);
        window.setPalette(ground);
        window.setAutoFillBackground(true);
        view = new ButtonMapView(&window);
        view->setGeometry(QRect(viewAt, QSize(1024, 600 - viewAt.y())));
    }
};

bool SendDrop(ButtonMapView& view, const QPoint& at, const QMimeData& mime) {
    QDropEvent drop(QPointF(at), Qt::CopyAction | Qt::MoveAction, &mime, Qt::LeftButton,
                    Qt::NoModifier);
    drop.setAccepted(false);
    QApplication::sendEvent(&view, &drop);
    return drop.isAccepted();
}

bool SendDragMove(ButtonMapView& view, const QPoint& at, const QMimeData& mime) {
    QDragEnterEvent enter(at, Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&view, &enter);
    QDragMoveEvent move(at, Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    move.setAccepted(false);
    QApplication::sendEvent(&view, &move);
    return move.isAccepted();
}

int CountPixels(const QImage& image, const QRect& area, const std::function<bool(QColor)>& test) {
    int count = 0;
    for (int y = area.top(); y <= area.bottom(); ++y) {
        for (int x = area.left(); x <= area.right(); ++x) {
            if (test(image.pixelColor(x, y))) ++count;
        }
    }
    return count;
}

// Distance from p to the segment a-b.
qreal DistanceToSegment(QPointF p, QPointF a, QPointF b) {
    const QPointF v = b - a;
    const qreal length2 = QPointF::dotProduct(v, v);
    const qreal t =
        length2 == 0 ? 0 : std::clamp(QPointF::dotProduct(p - a, v) / length2, 0.0, 1.0);
    const QPointF d = a + t * v - p;
    return std::hypot(d.x(), d.y());
}

// True when the two segments cross at a point inside both (touching ends do not count).
bool Cross(QPointF a, QPointF b, QPointF c, QPointF d) {
    const auto side = [](QPointF p, QPointF q, QPointF r) {
        return (q.x() - p.x()) * (r.y() - p.y()) - (q.y() - p.y()) * (r.x() - p.x());
    };
    const qreal d1 = side(c, d, a);
    const qreal d2 = side(c, d, b);
    const qreal d3 = side(a, b, c);
    const qreal d4 = side(a, b, d);
    return ((d1 > 0 && d2 < 0) || (d1 < 0 && d2 > 0)) && ((d3 > 0 && d4 < 0) || (d3 < 0 && d4 > 0));
}

}  // namespace

class SkinTest : public QObject {
    Q_OBJECT
  private slots:
    void initTestCase() {
        skin::CreateSharedFonts();
        qApp->setStyleSheet(skin::StyleSheet());
    }

    // Label boxes follow the layout's window-pixel hotspots through the view's own place.
    void labelRectsAreHotspotsInViewCoordinates_data() {
        QTest::addColumn<int>("layoutIndex");
        QTest::addColumn<QPoint>("viewAt");
        QTest::addColumn<int>("position");
        QTest::addColumn<QRect>("expected");
        QTest::newRow("layout 0 left button, view at page top")
            << 0 << QPoint(0, 108) << 0 << QRect(80, 420, 240, 36);
        QTest::newRow("layout 0 left button, view at origin")
            << 0 << QPoint(0, 0) << 0 << QRect(80, 528, 240, 36);
        QTest::newRow("layout 8 right button, shifted view")
            << 8 << QPoint(40, 108) << 1 << QRect(664, 100, 240, 30);
        QTest::newRow("layout 8 last grid key")
            << 8 << QPoint(0, 0) << 13 << QRect(80, 528, 240, 36);
        QTest::newRow("layout 7 past its buttons") << 7 << QPoint(0, 0) << 8 << QRect();
        QTest::newRow("negative position") << 2 << QPoint(0, 0) << -1 << QRect();
    }
    void labelRectsAreHotspotsInViewCoordinates() {
        QFETCH(int, layoutIndex);
        QFETCH(QPoint, viewAt);
        QFETCH(int, position);
        QFETCH(QRect, expected);
        Page page(viewAt);
        page.view->SetLayout(LayoutOf(layoutIndex));
        QCOMPARE(page.view->LabelRect(position), expected);
    }

    // A click on a label asks for the button's settings; a click on its key symbol starts
    // quick binding; the sole left-click button has no key symbol.
    void clicksEmitTheirPosition_data() {
        QTest::addColumn<int>("layoutIndex");
        QTest::addColumn<int>("position");
        QTest::addColumn<bool>("onKeySymbol");
        QTest::addColumn<int>("soleLeftClick");
        QTest::addColumn<QString>("expected");  // "button", "quick" or "none"
        QTest::newRow("layout 0 label") << 0 << 3 << false << 0 << "button";
        QTest::newRow("layout 0 key symbol") << 0 << 3 << true << 0 << "quick";
        QTest::newRow("layout 4 grid key label") << 4 << 8 << false << 0 << "button";
        QTest::newRow("layout 4 grid key symbol") << 4 << 8 << true << 0 << "quick";
        QTest::newRow("layout 8 last position symbol") << 8 << 13 << true << 0 << "quick";
        QTest::newRow("layout 12 right side label") << 12 << 5 << false << 0 << "button";
        QTest::newRow("sole left click, right end") << 0 << 0 << true << 0 << "button";
        QTest::newRow("left button not sole: symbol") << 0 << 0 << true << -1 << "quick";
    }
    void clicksEmitTheirPosition() {
        QFETCH(int, layoutIndex);
        QFETCH(int, position);
        QFETCH(bool, onKeySymbol);
        QFETCH(int, soleLeftClick);
        QFETCH(QString, expected);
        Page page(QPoint(0, 108));
        const ModelLayout layout = LayoutOf(layoutIndex);
        page.view->SetLayout(layout);
        page.view->SetLabels(LabelsFor(layout.ButtonCount, soleLeftClick));
        QSignalSpy buttons(page.view, &ButtonMapView::buttonClicked);
        QSignalSpy quick(page.view, &ButtonMapView::quickBindClicked);

        const QRect label = page.view->LabelRect(position);
        QVERIFY(!label.isNull());
        // The key symbol's spot is the label's right end, whether or not a symbol is there.
        const QPoint at = onKeySymbol
                              ? QPoint(label.right() - label.height() / 2, label.center().y())
                              : QPoint(label.left() + 20, label.center().y());
        if (expected == "quick") QVERIFY(page.view->QuickBindRect(position).contains(at));
        QTest::mouseClick(page.view, Qt::LeftButton, Qt::NoModifier, at);

        QCOMPARE(buttons.count(), expected == "button" ? 1 : 0);
        QCOMPARE(quick.count(), expected == "quick" ? 1 : 0);
        QSignalSpy& fired = expected == "button" ? buttons : quick;
        QCOMPARE(fired.takeFirst().at(0).toInt(), position);
    }

    void clicksBesideLabelsAndWithoutDeviceDoNothing() {
        Page page;
        page.view->SetLayout(LayoutOf(0));
        page.view->SetLabels(LabelsFor(10));
        QSignalSpy buttons(page.view, &ButtonMapView::buttonClicked);
        QSignalSpy quick(page.view, &ButtonMapView::quickBindClicked);
        QTest::mouseClick(page.view, Qt::LeftButton, Qt::NoModifier, QPoint(512, 330));  // mouse
        QTest::mouseClick(page.view, Qt::LeftButton, Qt::NoModifier, QPoint(40, 540));   // margin
        QTest::mouseClick(page.view, Qt::RightButton, Qt::NoModifier,
                          page.view->LabelRect(3).center());
        page.view->SetLayout(std::nullopt);
        QTest::mouseClick(page.view, Qt::LeftButton, Qt::NoModifier, QPoint(100, 545));
        QVERIFY(page.view->LabelRect(0).isNull());
        QCOMPARE(buttons.count(), 0);
        QCOMPARE(quick.count(), 0);
    }

    // Drops: a function on a label is handed over with its bytes and name; the sole
    // left-click button, empty space and foreign data refuse it.
    void drops_data() {
        QTest::addColumn<int>("position");  // -1: a point beside every label
        QTest::addColumn<bool>("functionPayload");
        QTest::addColumn<bool>("accepted");
        QTest::newRow("on a side button") << 3 << true << true;
        QTest::newRow("on the right button") << 1 << true << true;
        QTest::newRow("on the sole left click") << 0 << true << false;
        QTest::newRow("beside the labels") << -1 << true << false;
        QTest::newRow("plain text payload") << 4 << false << false;
    }
    void drops() {
        QFETCH(int, position);
        QFETCH(bool, functionPayload);
        QFETCH(bool, accepted);
        Page page(QPoint(0, 108));
        page.view->SetLayout(LayoutOf(0));
        page.view->SetLabels(LabelsFor(10, 0));
        QSignalSpy dropped(page.view, &ButtonMapView::functionDropped);

        const DraggedFunction function{ButtonSlot{0x05, 0x01, 0x2C, 0x00}, "Ctrl + Space"};
        std::unique_ptr<QMimeData> mime = MakeFunctionMime(function);
        QMimeData text;
        text.setText("Ctrl + Space");
        const QMimeData& payload = functionPayload ? *mime : text;
        const QPoint at = position < 0 ? QPoint(512, 300) : page.view->LabelRect(position).center();

        QCOMPARE(SendDragMove(*page.view, at, payload), accepted);
        QCOMPARE(SendDrop(*page.view, at, payload), accepted);
        QCOMPARE(dropped.count(), accepted ? 1 : 0);
        if (accepted) {
            const QList<QVariant> args = dropped.takeFirst();
            QCOMPARE(args.at(0).toInt(), position);
            const auto slot = args.at(1).value<ButtonSlot>();
            QCOMPARE(slot.type, uint8_t{0x05});
            QCOMPARE(slot.op1, uint8_t{0x01});
            QCOMPARE(slot.op2, uint8_t{0x2C});
            QCOMPARE(slot.op3, uint8_t{0x00});
            QCOMPARE(args.at(2).toString(), QString("Ctrl + Space"));
        }
    }

    // The eleven shared fonts in their fixed order: size in pixels, weight, fixed pitch.
    void sharedFontsInOrder_data() {
        QTest::addColumn<int>("index");
        QTest::addColumn<int>("pixelSize");
        QTest::addColumn<bool>("bold");
        QTest::addColumn<bool>("mono");
        const struct {
            int size;
            bool bold;
            bool mono;
        } rows[] = {{16, false, false}, {20, false, false}, {10, false, false}, {12, false, false},
                    {14, false, false}, {14, false, false}, {14, false, false}, {11, false, true},
                    {14, true, false},  {24, false, false}, {20, true, true}};
        for (int i = 0; i < 11; ++i) {
            QTest::addRow("font %d", i) << i << rows[i].size << rows[i].bold << rows[i].mono;
        }
        QTest::newRow("out of range falls back to font 0") << 11 << 16 << false << false;
    }
    void sharedFontsInOrder() {
        QFETCH(int, index);
        QFETCH(int, pixelSize);
        QFETCH(bool, bold);
        QFETCH(bool, mono);
        const QFont& font = skin::SharedFont(index);
        QCOMPARE(font.pixelSize(), pixelSize);
        QCOMPARE(font.bold(), bold);
        // Whatever family stands in on this system, the monospace ones stay fixed-pitch.
        QCOMPARE(QFontInfo(font).fixedPitch(), mono);
    }

    void skinImages_data() {
        QTest::addColumn<int>("id");
        QTest::addColumn<QSize>("size");
        QTest::newRow("logo") << skin::kImageLogo << QSize(256, 64);
        QTest::newRow("help overlay") << skin::kImageHelpOverlay << QSize(1024, 492);
        QTest::newRow("key symbol") << skin::kImageKeySymbol << QSize(32, 32);
        QTest::newRow("lock symbol") << skin::kImageLockSymbol << QSize(32, 32);
        QTest::newRow("below the range") << 149 << QSize();
        QTest::newRow("unused in range") << 400 << QSize();
        QTest::newRow("negative") << -1 << QSize();
    }
    void skinImages() {
        QFETCH(int, id);
        QFETCH(QSize, size);
        const QPixmap image = skin::LoadSkinImage(id);
        QCOMPARE(image.isNull(), !size.isValid());
        if (size.isValid()) {
            QCOMPARE(image.size(), size);
            // Something was drawn: not every pixel is transparent.
            const QImage pixels = image.toImage();
            QVERIFY(CountPixels(pixels, pixels.rect(), [](QColor c) { return c.alpha() > 0; }) > 0);
        }
    }

    // Label text is near-white on the dark label and near-black on the highlighted one.
    void roundedLabelColours_data() {
        QTest::addColumn<bool>("highlighted");
        QTest::newRow("normal") << false;
        QTest::newRow("highlighted") << true;
    }
    void roundedLabelColours() {
        QFETCH(bool, highlighted);
        QImage image(240, 30, QImage::Format_ARGB32_Premultiplied);
        image.fill(Qt::transparent);
        {
            QPainter painter(&image);
            skin::DrawRoundedLabel(painter, QRectF(0, 0, 240, 30), "MMMMMMMM", highlighted);
        }
        const QRect textArea(60, 8, 120, 14);
        const int light = CountPixels(image, textArea, [](QColor c) {
            return c.red() > 235 && c.green() > 235 && c.blue() > 235;
        });
        const int dark = CountPixels(image, textArea, [](QColor c) {
            return c.alpha() > 200 && c.red() < 22 && c.green() < 22 && c.blue() < 22;
        });
        QVERIFY2((highlighted ? dark : light) > 40, "text colour not found");
        QCOMPARE((highlighted ? light : dark), 0);
        // Corners are rounded: the very corner pixel stays clear.
        QCOMPARE(image.pixelColor(0, 0).alpha(), 0);
    }

    void appIconAtEverySize() {
        const QIcon icon = AppIcon();
        for (int size : {16, 32, 48, 256}) {
            const QPixmap pixmap = icon.pixmap(size, size);
            QCOMPARE(pixmap.width(), size);
            // The centre shows the dark mouse body or the accent wheel, never nothing.
            QVERIFY(pixmap.toImage().pixelColor(size / 2, size / 2).alpha() > 200);
        }
        DrawAppIcon(128).save(ScreenshotPath("skin_app_icon"));
    }

    // No two leader lines of a layout cross, and none passes over another button's dot:
    // each label's line reaches its button without being mistaken for another's.
    void leaderLinesDoNotCross_data() {
        QTest::addColumn<int>("layoutIndex");
        for (int i = 0; i < kLayoutCount; ++i) QTest::addRow("layout %02d", i) << i;
    }
    void leaderLinesDoNotCross() {
        QFETCH(int, layoutIndex);
        const ModelLayout layout = LayoutOf(layoutIndex);
        const QRectF area(344, 112, 336, 436);  // where the page draws the mouse
        constexpr qreal kClearOfDot = 5.5;      // the dot's radius and two pixels
        struct Leader {
            int position;
            std::vector<QPointF> path;
        };
        std::vector<Leader> leaders;
        for (int p = 0; p < layout.ButtonCount; ++p) {
            const Hotspot& h = ButtonHotspots(layoutIndex)[static_cast<std::size_t>(p)];
            if (h.w <= 0) continue;
            leaders.push_back(
                {p, LeaderPath(QRectF(h.x, h.y, h.w, h.h), ButtonAnchor(layoutIndex, p, area))});
        }
        QStringList faults;
        for (const Leader& a : leaders) {
            for (const Leader& b : leaders) {
                if (&a == &b) continue;
                for (std::size_t s = 0; s + 1 < a.path.size(); ++s) {
                    if (DistanceToSegment(b.path.back(), a.path[s], a.path[s + 1]) < kClearOfDot) {
                        faults << QString("%1 over the dot of %2").arg(a.position).arg(b.position);
                    }
                    if (a.position > b.position) continue;
                    for (std::size_t t = 0; t + 1 < b.path.size(); ++t) {
                        if (Cross(a.path[s], a.path[s + 1], b.path[t], b.path[t + 1])) {
                            faults << QString("%1 crosses %2").arg(a.position).arg(b.position);
                        }
                    }
                }
            }
        }
        faults.removeDuplicates();
        QVERIFY2(faults.isEmpty(), qPrintable(faults.join(", ")));
    }

    // One screenshot per layout, with the selection, the sole left click and long texts.
    void screenshotsOfEveryLayout_data() {
        QTest::addColumn<int>("layoutIndex");
        for (int i = 0; i < kLayoutCount; ++i) QTest::addRow("layout %02d", i) << i;
    }
    void screenshotsOfEveryLayout() {
        QFETCH(int, layoutIndex);
        Page page;
        const ModelLayout layout = LayoutOf(layoutIndex);
        page.view->SetLayout(layout);
        page.view->SetLabels(LabelsFor(layout.ButtonCount, 0));
        page.view->SetSelected(
            layoutIndex % layout.ButtonCount == 0 ? 1 : layoutIndex % layout.ButtonCount);
        QVERIFY(page.window.grab().save(
            ScreenshotPath(QString("skin_layout_%1").arg(layoutIndex, 2, 10, QChar('0')))));
    }

    void screenshotsOfBindingAndNoDevice() {
        Page page;
        page.view->SetLayout(LayoutOf(1));
        page.view->SetLabels(LabelsFor(12, 0));
        page.view->SetBinding(4, "7 sec, Press keyboard or click mouse button for binding");
        QVERIFY(page.window.grab().save(ScreenshotPath("skin_binding")));
        page.view->SetBinding(std::nullopt, {});
        page.view->SetLayout(std::nullopt);
        QVERIFY(page.window.grab().save(ScreenshotPath("skin_no_device")));
        QPixmap help(1024, 600);
        help.fill(Qt::black);
        {
            QPainter painter(&help);
            skin::DrawBackground(painter, help.rect());
            skin::DrawHeaderBand(painter, QRect(0, 0, 1024, 56));
            painter.drawPixmap(16, -4, skin::LoadSkinImage(skin::kImageLogo));
            painter.drawPixmap(0, 108, skin::LoadSkinImage(skin::kImageHelpOverlay));
        }
        QVERIFY(help.save(ScreenshotPath("skin_help_overlay")));
    }

    void screenshotOfStyledWidgets() {
        QWidget sample;
        sample.setObjectName("sample");
        sample.setStyleSheet("#sample { background: #0e0f12; }");
        sample.setFixedSize(720, 460);
        auto* outer = new QHBoxLayout(&sample);
        auto* left = new QVBoxLayout;
        auto* right = new QVBoxLayout;
        outer->addLayout(left);
        outer->addLayout(right);
        auto* tabs = new QTabBar;
        for (const char* name : {"Button settings", "DPI settings", "Other"}) tabs->addTab(name);
        left->addWidget(tabs);
        auto* group = new QGroupBox("GENERAL OPTIONS");
        auto* groupLayout = new QVBoxLayout(group);
        auto* check = new QCheckBox("Start with the desktop");
        check->setChecked(true);
        groupLayout->addWidget(check);
        groupLayout->addWidget(new QCheckBox("X-Y independent"));
        auto* radio = new QRadioButton("500 Hz");
        radio->setChecked(true);
        groupLayout->addWidget(radio);
        groupLayout->addWidget(new QRadioButton("1000 Hz"));
        left->addWidget(group);
        auto* slider = new QSlider(Qt::Horizontal);
        slider->setValue(60);
        left->addWidget(slider);
        auto* progress = new QProgressBar;
        progress->setValue(42);
        left->addWidget(progress);
        auto* buttons = new QHBoxLayout;
        auto* ok = new QPushButton("OK");
        ok->setDefault(true);
        buttons->addWidget(ok);
        buttons->addWidget(new QPushButton("Cancel"));
        auto* disabled = new QPushButton("Restore");
        disabled->setEnabled(false);
        buttons->addWidget(disabled);
        left->addLayout(buttons);
        auto* list = new QListWidget;
        for (const char* item : {"Reload macro", "Ctrl + Alt + Delete", "Fire key", "Volume up"}) {
            list->addItem(item);
        }
        list->setCurrentRow(1);
        right->addWidget(list);
        auto* combo = new QComboBox;
        combo->addItems({"English", "Deutsch"});
        right->addWidget(combo);
        auto* spin = new QSpinBox;
        spin->setRange(50, 16000);
        spin->setValue(1600);
        right->addWidget(spin);
        auto* edit = new QLineEdit("Profile 1");
        right->addWidget(edit);
        auto* vertical = new QSlider(Qt::Vertical);
        vertical->setValue(30);
        vertical->setFixedHeight(90);
        right->addWidget(vertical);
        right->addWidget(new QLabel("Firmware version: 1.08"));
        sample.show();
        QVERIFY(QTest::qWaitForWindowExposed(&sample));
        QVERIFY(sample.grab().save(ScreenshotPath("skin_widgets")));
    }
};

QTEST_MAIN(SkinTest)
#include "skin_test.moc"
