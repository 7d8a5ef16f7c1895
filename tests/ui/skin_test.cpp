// The button page's picture: label hit-testing in window coordinates, function drops
// (never on the sole left-click button), leader lines that reach their own buttons, and
// screenshots of every layout.
#include <QApplication>
#include <QDir>
#include <QDropEvent>
#include <QMimeData>
#include <QSignalSpy>
#include <QTest>
#include <algorithm>
#include <array>
#include <cmath>
#include <vector>

#include "device/model_table.h"
#include "present/button_geometry.h"
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
        QTest::newRow("layout 8 right button, shifted view")
            << 8 << QPoint(40, 108) << 1 << QRect(664, 100, 240, 30);
        QTest::newRow("layout 7 past its buttons") << 7 << QPoint(0, 0) << 8 << QRect();
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
        QTest::newRow("layout 8 last position symbol") << 8 << 13 << true << 0 << "quick";
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

    // For a person to look at: every layout with a selection, the sole left click and long
    // texts, then the binding banner and the page without a device.
    void screenshots() {
        for (int i = 0; i < kLayoutCount; ++i) {
            Page page;
            const ModelLayout layout = LayoutOf(i);
            page.view->SetLayout(layout);
            page.view->SetLabels(LabelsFor(layout.ButtonCount, 0));
            page.view->SetSelected(i % layout.ButtonCount == 0 ? 1 : i % layout.ButtonCount);
            QVERIFY(page.window.grab().save(
                ScreenshotPath(QString("skin_layout_%1").arg(i, 2, 10, QChar('0')))));
        }
        Page page;
        page.view->SetLayout(LayoutOf(1));
        page.view->SetLabels(LabelsFor(12, 0));
        page.view->SetBinding(4, "7 sec, Press keyboard or click mouse button for binding");
        QVERIFY(page.window.grab().save(ScreenshotPath("skin_binding")));
        page.view->SetBinding(std::nullopt, {});
        page.view->SetLayout(std::nullopt);
        QVERIFY(page.window.grab().save(ScreenshotPath("skin_no_device")));
    }
};

QTEST_MAIN(SkinTest)
#include "skin_test.moc"
