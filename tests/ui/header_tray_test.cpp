// The fixed window size and where the macro list opens.
#include <QtTest>

#include "ui/main_window.h"
#include "ui/skin.h"
#include "ui/window_placement.h"
#include "ui_rig.h"

using namespace qvm;
using namespace qvm::ui;
using qvm::test::UiRig;

class HeaderTrayTest : public QObject {
    Q_OBJECT

  private slots:
    void initTestCase() {
        skin::CreateSharedFonts();
        skin::ApplySkin(*qApp);
    }

    void windowIsFixedWithoutMaximise() {
        UiRig rig;
        MainWindow& w = rig.Window();
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        const Qt::WindowFlags flags = w.windowFlags();
        QVERIFY(!(flags & Qt::WindowMaximizeButtonHint));
        QVERIFY(flags & Qt::WindowMinimizeButtonHint);
        QVERIFY(flags & Qt::WindowCloseButtonHint);
        QCOMPARE(w.minimumSize(), QSize(1024, 600));
        QCOMPARE(w.maximumSize(), QSize(1024, 600));
    }

    void macroListOpensBesideTheWindow_data() {
        QTest::addColumn<QRect>("anchor");
        QTest::addColumn<QSize>("size");
        QTest::addColumn<QRect>("room");
        QTest::addColumn<QPoint>("expected");
        const QRect screen(0, 0, 1920, 1080);
        QTest::newRow("room at the right")
            << QRect(100, 100, 1024, 600) << QSize(320, 500) << screen << QPoint(1144, 120);
        QTest::newRow("room only at the left")
            << QRect(560, 100, 1024, 600) << QSize(320, 500) << screen << QPoint(220, 120);
        QTest::newRow("no room: the wider side, against its edge")
            << QRect(40, 50, 1024, 600) << QSize(320, 500) << QRect(0, 0, 1280, 720)
            << QPoint(960, 70);
        QTest::newRow("no room: the left side wider")
            << QRect(230, 50, 1024, 600) << QSize(320, 500) << QRect(0, 0, 1280, 720)
            << QPoint(0, 70);
        QTest::newRow("kept above the screen's bottom")
            << QRect(100, 700, 1024, 600) << QSize(320, 500) << screen << QPoint(1144, 580);
        QTest::newRow("second screen: stays on it")
            << QRect(2000, 0, 1024, 600) << QSize(320, 500) << QRect(1920, 0, 1920, 1080)
            << QPoint(3044, 20);
        QTest::newRow("taller than the screen: top edge")
            << QRect(100, 100, 1024, 600) << QSize(320, 1200) << screen << QPoint(1144, 0);
    }
    void macroListOpensBesideTheWindow() {
        QFETCH(QRect, anchor);
        QFETCH(QSize, size);
        QFETCH(QRect, room);
        QFETCH(QPoint, expected);
        const QPoint at = PlaceBeside(anchor, size, room, 20);
        QCOMPARE(at, expected);
        QVERIFY(room.contains(QRect(at, size).topLeft()));
    }
};

QTEST_MAIN(HeaderTrayTest)
#include "header_tray_test.moc"
