// The on-screen display shown by a status report of the simulated mouse: its window, its
// pixels at each stage of the fade, and that nothing runs once it hid. The test drives the
// passes itself, never the clock. Screenshots go to the build folder.
#include "ui/osd_window.h"

#include <QDir>
#include <QScreen>
#include <QSignalSpy>
#include <QtTest>

#include "host/vendor_report.h"
#include "sim/sim_wire.h"
#include "ui/skin.h"

using namespace qvm;
using namespace qvm::ui;

namespace {

constexpr Rgb kThird{0, 200, 120};  // a colour found in no other part of the display

OsdSource TestSource() {
    return OsdSource{{{"First", {255, 0, 0}}, {"Second", {0, 0, 255}}, {"Third", kThird}}, 50, 32};
}

// The simulated mouse's status report after the user switched profile, stage or mode.
StatusEffects FeedReport(HostStatus& status, uint8_t profile, uint8_t stage, uint8_t x, uint8_t y,
                         uint8_t options = 0) {
    const SimLiveView view{
        .stage = stage, .profile = profile, .stageX = x, .stageY = y, .options = options};
    const VendorReport decoded = DecodeVendorReport(BuildStatusReport(view));
    if (!std::holds_alternative<StatusReport>(decoded)) qFatal("no status report");
    return status.Apply(std::get<StatusReport>(decoded));
}

// Pixels of exactly `colour`, and the highest alpha of the grabbed window.
std::pair<int, int> Pixels(OsdWindow& osd, QColor colour, const QString& screenshot = {}) {
    const QImage image = osd.grab().toImage();
    if (!screenshot.isEmpty() && QDir().mkpath(QVM_SCREENSHOT_DIR)) {
        image.save(QString(QVM_SCREENSHOT_DIR) + "/" + screenshot);
    }
    int count = 0, alpha = 0;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            count += image.pixelColor(x, y) == colour;
            alpha = std::max(alpha, qAlpha(image.pixel(x, y)));
        }
    }
    return {count, alpha};
}

}  // namespace

class OsdWindowTest : public QObject {
    Q_OBJECT

  private slots:
    void initTestCase() { skin::CreateSharedFonts(); }

    void reportShowsFadesAndHides() {
        HostStatus status;
        OsdWindow osd(status, TestSource);
        QSignalSpy hidden(&osd, &OsdWindow::hidden);
        for (const Qt::WindowType flag :
             {Qt::Tool, Qt::FramelessWindowHint, Qt::WindowStaysOnTopHint,
              Qt::WindowDoesNotAcceptFocus, Qt::WindowTransparentForInput}) {
            QVERIFY(osd.windowFlags().testFlag(flag));
        }
        QVERIFY(osd.testAttribute(Qt::WA_ShowWithoutActivating));
        // Switched off, a report starts nothing.
        status.SetDisplayEnabled(false);
        osd.Start(FeedReport(status, 1, 1, 16, 16).displayCountdown);
        QVERIFY(!osd.TimerRunning() && !osd.Showing());
        status.SetDisplayEnabled(true);

        // Profile 2, X at the maximum and Y at half: faint at the first pass, whole at full.
        osd.Start(FeedReport(status, 2, 2, 32, 16).displayCountdown);
        QVERIFY(osd.TimerRunning() && !osd.isVisible());
        osd.RunPass();
        QVERIFY(osd.isVisible());
        const int faint = Pixels(osd, QColor()).second;
        QVERIFY2(faint > 0 && faint < 128, qPrintable(QString::number(faint)));
        const QRect area = osd.screen()->availableGeometry();
        QVERIFY(area.contains(osd.geometry()) && osd.y() > area.center().y());
        while (osd.Fader().Opacity() < kOsdFullOpacity) osd.RunPass();
        const QColor swatch(kThird.red, kThird.green, kThird.blue);
        QVERIFY(Pixels(osd, swatch, "osd_profile_and_dpi.png").first >= 20 * 20);
        // The two bars: more accent than one full bar of 200 holds.
        QVERIFY(Pixels(osd, skin::kAccent).first > 200 * 6);

        // A report while it is up is drawn at the next pass; the window grows about its
        // centre for the scroll hint and the angle-snapping line.
        const QRect before = osd.geometry();
        constexpr uint8_t kAngleSnappingAndScrollMode = 0x81;
        osd.Start(FeedReport(status, 0, 3, 8, 8, kAngleSnappingAndScrollMode).displayCountdown);
        osd.RunPass();
        QVERIFY(osd.Content().dpi && !osd.Content().dpi->hint.empty());
        QCOMPARE(osd.Content().angleSnapping, std::string("angle snapping ON"));
        QVERIFY(osd.height() > before.height());
        QCOMPARE(osd.geometry().center().y(), before.center().y());
        QVERIFY(Pixels(osd, QColor(255, 0, 0), "osd_scroll_mode.png").first >= 20 * 20);
        QCOMPARE(Pixels(osd, swatch).first, 0);

        int passes = 1;  // the pass that drew the new values held too
        for (; osd.Showing() && passes < 200; ++passes) osd.RunPass();
        QCOMPARE(passes, 80 + 11);  // the hold, then the fade-out
        QVERIFY(!osd.isVisible() && !osd.TimerRunning());
        QCOMPARE(hidden.count(), 1);
        QCOMPARE(status.Snapshot().changeFlags, 0u);

        // Left to its own timer, a short display runs and stops by itself.
        osd.Start(3);
        QTRY_VERIFY_WITH_TIMEOUT(!osd.Showing(), 20000);
        QVERIFY(!osd.TimerRunning());
        QCOMPARE(hidden.count(), 2);
    }
};

QTEST_MAIN(OsdWindowTest)
#include "osd_window_test.moc"
