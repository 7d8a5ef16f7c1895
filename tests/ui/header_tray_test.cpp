// The header's device selector on several simulated devices, the tray menu's profiles,
// and where the macro list opens.
#include <QComboBox>
#include <QtTest>

#include "ui/device_selector.h"
#include "ui/main_window.h"
#include "ui/profile_tabs.h"
#include "ui/skin.h"
#include "ui/tray.h"
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

        rig.Device().Detach();
        HotPlug(rig);
        QVERIFY(tray.ProfileActions().empty());  // no profiles of a mouse that left
        QVERIFY(tray.SettingsAction()->isVisible());
    }
};

QTEST_MAIN(HeaderTrayTest)
#include "header_tray_test.moc"
