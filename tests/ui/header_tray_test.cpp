// The header's device selector on several simulated devices, the tray menu's profiles,
// and where the macro list opens.
#include <QComboBox>
#include <QtTest>

#include "ui/device_selector.h"
#include "ui/main_window.h"
#include "ui/profile_tabs.h"
#include "ui/skin.h"
#include "ui/tray.h"
#include "ui/window_placement.h"
#include "ui_rig.h"

using namespace qvm;
using namespace qvm::ui;
using qvm::test::UiRig;

namespace {

constexpr int kDeviceWaitMs = 10000;

// Drains the simulator's arrivals and removals and lets the refresh that follows run.
void HotPlug(UiRig& rig) {
    rig.Controller().HandleDeviceEvents();
    rig.Settle();
    rig.Controller().RefreshAfter(0);
    QTest::qWait(20);
    rig.Settle();
}

}  // namespace

class HeaderTrayTest : public QObject {
    Q_OBJECT

  private slots:
    void initTestCase() {
        skin::CreateSharedFonts();
        skin::ApplySkin(*qApp);
    }

    void selectorShowsWithMoreThanOneDevice_data() {
        QTest::addColumn<QString>("devices");
        QTest::addColumn<QStringList>("entries");
        QTest::newRow("one mouse") << "g12" << QStringList{};
        QTest::newRow("same model twice") << "g12,g12" << QStringList{"MX-21 (1)", "MX-21 (2)"};
    }
    void selectorShowsWithMoreThanOneDevice() {
        QFETCH(QString, devices);
        QFETCH(QStringList, entries);
        UiRig rig(devices.toStdString());
        rig.Window().show();
        QVERIFY(rig.WaitLoaded());
        rig.Settle();
        DeviceSelector& selector = rig.Window().Devices();
        QCOMPARE(selector.isVisible(), !entries.isEmpty());
        if (entries.isEmpty()) return;
        QStringList shown;
        for (int i = 0; i < selector.count(); ++i) {
            shown << selector.itemText(i);
            QVERIFY(!selector.itemIcon(i).isNull());
        }
        QCOMPARE(shown, entries);
        QCOMPARE(selector.currentIndex(), 0);
    }

    // A keyboard beside two mice: each is reached from the selector, the window shows the
    // chosen one, and hot-plug of the others keeps the choice.
    void pagesFollowTheChosenDeviceAcrossHotPlug() {
        UiRig rig("g12,g0,mx28");
        MainWindow& w = rig.Window();
        w.show();
        QVERIFY(rig.WaitLoaded());
        rig.Settle();
        DeviceSelector& selector = w.Devices();
        QCOMPARE(selector.count(), 3);
        const std::string classA = selector.PathAt(1);
        const std::string keyboard = selector.PathAt(2);
        QCOMPARE(selector.itemIcon(1).pixmap(16).toImage(),
                 DeviceSelector::MouseIcon().pixmap(16).toImage());
        QCOMPARE(selector.itemIcon(2).pixmap(16).toImage(),
                 DeviceSelector::KeyboardIcon().pixmap(16).toImage());

        selector.setFocus();
        QTest::keyClick(&selector, Qt::Key_Down);  // as a user picks the next entry
        QTRY_COMPARE_WITH_TIMEOUT(rig.Controller().View().path, classA, kDeviceWaitMs);
        QTRY_VERIFY_WITH_TIMEOUT(rig.Controller().View().present, kDeviceWaitMs);
        rig.Settle();
        QVERIFY2(w.InfoText().contains("MX-12"), qPrintable(w.InfoText()));
        QCOMPARE(rig.Controller().View().image->ButtonCount(), 16);  // class A buttons
        QCOMPARE(selector.currentIndex(), 1);
        rig.Screenshot(&w, "main_device_selector.png");

        QTest::keyClick(&selector, Qt::Key_Down);
        QTRY_VERIFY_WITH_TIMEOUT(rig.Controller().View().keyboard, kDeviceWaitMs);
        rig.Settle();
        QCOMPARE(rig.Controller().View().path, keyboard);
        QVERIFY2(w.InfoText().contains("Keyboard"), qPrintable(w.InfoText()));

        rig.Device(0).Detach();
        HotPlug(rig);
        QCOMPARE(rig.Controller().View().path, keyboard);
        QCOMPARE(selector.count(), 2);
        QVERIFY(selector.isVisible());
        rig.Device(0).Attach();
        HotPlug(rig);
        QCOMPARE(rig.Controller().View().path, keyboard);
        QCOMPARE(selector.currentText(), QString("QVM Gaming Keyboard"));

        rig.Device(0).Detach();
        rig.Device(1).Detach();
        HotPlug(rig);
        QVERIFY(!selector.isVisible());  // one device left: nothing to choose
    }

    void trayMenuSwitchesTheActiveProfile() {
        UiRig rig;
        QVERIFY(rig.WaitLoaded());
        Tray tray;
        tray.FollowDevice(rig.Controller());
        const std::vector<QAction*>& profiles = tray.ProfileActions();
        QCOMPARE(profiles.size(), std::size_t{5});
        QVERIFY(profiles[0]->isChecked());
        QCOMPARE(profiles[1]->text(),
                 QString::fromStdString(rig.Controller().View().image->profiles[1].name));
        // The profiles come first, then "Settings" and "Quit".
        const QList<QAction*> menu = tray.Menu().actions();
        QCOMPARE(menu.indexOf(profiles[4]) + 2, menu.indexOf(tray.SettingsAction()));

        profiles[3]->trigger();
        QTRY_COMPARE_WITH_TIMEOUT(rig.Device().MouseState().profile, 3, kDeviceWaitMs);
        rig.Settle();
        QVERIFY(tray.ProfileActions()[3]->isChecked());
        QVERIFY(!tray.ProfileActions()[0]->isChecked());
        QCOMPARE(rig.Window().Profiles().Active(), 3);

        // Checking the active one again writes nothing more.
        QSignalSpy chosen(&tray, &Tray::profileChosen);
        tray.ProfileActions()[3]->trigger();
        QCOMPARE(chosen.count(), 0);
        QVERIFY(tray.ProfileActions()[3]->isChecked());

        rig.Device().Detach();
        HotPlug(rig);
        QVERIFY(tray.ProfileActions().empty());  // no profiles of a mouse that left
        QVERIFY(tray.SettingsAction()->isVisible());
    }

    void trayClickOpensTheWindow_data() {
        QTest::addColumn<QList<int>>("reasons");  // QSystemTrayIcon::ActivationReason
        QTest::addColumn<int>("restores");
        QTest::addColumn<int>("menus");
        const int trigger = QSystemTrayIcon::Trigger;
        const int context = QSystemTrayIcon::Context;
        QTest::newRow("left click opens the window") << QList<int>{trigger} << 1 << 0;
        QTest::newRow("right click opens the menu") << QList<int>{context} << 0 << 1;
    }
    void trayClickOpensTheWindow() {
        QFETCH(QList<int>, reasons);
        QFETCH(int, restores);
        QFETCH(int, menus);
        Tray tray;
        QSignalSpy restored(&tray, &Tray::restoreRequested);
        QSignalSpy menuShown(&tray, &Tray::menuShown);
        for (int reason : reasons) tray.Activate(QSystemTrayIcon::ActivationReason(reason));
        QCOMPARE(restored.count(), restores);
        QTest::qWait(50);
        QCOMPARE(menuShown.count(), menus);
        tray.Menu().hide();
    }

    void macroListOpensBesideTheWindow_data() {
        QTest::addColumn<QRect>("anchor");
        QTest::addColumn<QSize>("size");
        QTest::addColumn<QRect>("room");
        QTest::addColumn<QPoint>("expected");
        const QRect screen(0, 0, 1920, 1080);
        QTest::newRow("room at the right")
            << QRect(100, 100, 1024, 600) << QSize(320, 500) << screen << QPoint(1144, 120);
        QTest::newRow("no room: the wider side, against its edge")
            << QRect(40, 50, 1024, 600) << QSize(320, 500) << QRect(0, 0, 1280, 720)
            << QPoint(960, 70);
        QTest::newRow("kept above the screen's bottom")
            << QRect(100, 700, 1024, 600) << QSize(320, 500) << screen << QPoint(1144, 580);
        QTest::newRow("taller than the screen: top edge")
            << QRect(100, 100, 1024, 600) << QSize(320, 1200) << screen << QPoint(1144, 0);
    }
};

QTEST_MAIN(HeaderTrayTest)
#include "header_tray_test.moc"
