// The button page's leader lines, for every layout the picture draws: no two lines cross
// and none passes over another button's dot, so each label's line leads to its own button.
#include <QTest>
#include <algorithm>
#include <cmath>
#include <vector>

#include "device/model_table.h"
#include "present/button_geometry.h"
#include "ui/mouse_art.h"

using namespace qvm;
using namespace qvm::ui;

namespace {

// The most buttons a device of the layout shows (a layout without a model: its drawing).
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

qreal DistanceToSegment(QPointF p, QPointF a, QPointF b) {
    const QPointF v = b - a;
    const qreal length2 = QPointF::dotProduct(v, v);
    const qreal t =
        length2 == 0 ? 0 : std::clamp(QPointF::dotProduct(p - a, v) / length2, 0.0, 1.0);
    const QPointF d = a + t * v - p;
    return std::hypot(d.x(), d.y());
}

bool Cross(QPointF a, QPointF b, QPointF c, QPointF d) {
    const auto side = [](QPointF p, QPointF q, QPointF r) {
        return (q.x() - p.x()) * (r.y() - p.y()) - (q.y() - p.y()) * (r.x() - p.x());
    };
    const qreal d1 = side(c, d, a), d2 = side(c, d, b), d3 = side(a, b, c), d4 = side(a, b, d);
    return ((d1 > 0 && d2 < 0) || (d1 < 0 && d2 > 0)) && ((d3 > 0 && d4 < 0) || (d3 < 0 && d4 > 0));
}

}  // namespace

class LeaderLinesTest : public QObject {
    Q_OBJECT

  private slots:
    void neitherCrossNorPassOverADot_data() {
        QTest::addColumn<int>("layoutIndex");
        for (int i = 0; i < kLayoutCount; ++i) QTest::addRow("layout %02d", i) << i;
    }
    void neitherCrossNorPassOverADot() {
        QFETCH(int, layoutIndex);
        const QRectF area(344, 112, 336, 436);  // where the page draws the mouse
        constexpr qreal kClearOfDot = 5.5;      // the dot's radius and two pixels
        std::vector<std::pair<int, std::vector<QPointF>>> leaders;
        for (int p = 0; p < ShownButtons(layoutIndex); ++p) {
            const Hotspot& h = ButtonHotspots(layoutIndex)[static_cast<std::size_t>(p)];
            if (h.w <= 0) continue;
            leaders.emplace_back(
                p, LeaderPath(QRectF(h.x, h.y, h.w, h.h), ButtonAnchor(layoutIndex, p, area)));
        }
        QStringList faults;
        for (const auto& [pa, a] : leaders) {
            for (const auto& [pb, b] : leaders) {
                if (pa == pb) continue;
                for (std::size_t s = 0; s + 1 < a.size(); ++s) {
                    if (DistanceToSegment(b.back(), a[s], a[s + 1]) < kClearOfDot) {
                        faults << QString("%1 over the dot of %2").arg(pa).arg(pb);
                    }
                    for (std::size_t t = 0; pa < pb && t + 1 < b.size(); ++t) {
                        if (Cross(a[s], a[s + 1], b[t], b[t + 1])) {
                            faults << QString("%1 crosses %2").arg(pa).arg(pb);
                        }
                    }
                }
            }
        }
        faults.removeDuplicates();
        QVERIFY2(faults.isEmpty(), qPrintable(faults.join(", ")));
    }
};

QTEST_MAIN(LeaderLinesTest)
#include "leader_lines_test.moc"
