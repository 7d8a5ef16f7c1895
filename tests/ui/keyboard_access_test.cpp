// Keyboard reach and accessible names, judged through Qt's accessibility interface: every
// control the window shows carries a name and is reached by Tab; the arrow keys and Enter
// work the profile tabs and the button labels as clicks do.
#include <QAbstractButton>
#include <QAccessible>
#include <QApplication>
#include <QButtonGroup>
#include <QSet>
#include <QSignalSpy>
#include <QtTest>

#include "ui/button_map_view.h"
#include "ui/button_page.h"
#include "ui/button_settings_dialog.h"
#include "ui/keyboard_access.h"
#include "ui/macro_list_window.h"
#include "ui/main_window.h"
#include "ui/profile_tabs.h"
#include "ui/quick_bind_input.h"
#include "ui/skin.h"
#include "ui_rig.h"

using namespace qvm;
using namespace qvm::ui;
using qvm::test::UiRig;

namespace {

// Every visible control under `root` whose accessible name is empty or that Tab cannot
// reach, as "ClassName objectName: what is wrong".
void CollectProblems(QAccessibleInterface* face, QSet<QObject*>& seen, QStringList& problems) {
    if (face == nullptr || !face->isValid()) return;
    auto* widget = qobject_cast<QWidget*>(face->object());
    if (widget != nullptr && !seen.contains(widget)) {
        seen.insert(widget);
        if (widget->isVisible() && IsControl(*widget)) {
            const QString who =
                QString("%1 %2").arg(widget->metaObject()->className(), widget->objectName());
            if (face->text(QAccessible::Name).trimmed().isEmpty()) problems << who + ": no name";
            // Of an exclusive group Tab reaches the checked button; the arrow keys move on
            // to the others, as Qt does for every exclusive group.
            const auto* button = qobject_cast<QAbstractButton*>(widget);
            const bool grouped = button != nullptr && button->isCheckable() &&
                                 !button->isChecked() &&
                                 (button->autoExclusive() || button->group() != nullptr);
            if (!(widget->focusPolicy() & Qt::TabFocus) && !grouped) {
                problems << who + ": not reached by Tab";
            }
        }
    }
    for (int i = 0; i < face->childCount(); ++i) CollectProblems(face->child(i), seen, problems);
}

QStringList Problems(QWidget* window) {
    QSet<QObject*> seen;
    QStringList problems;
    CollectProblems(QAccessible::queryAccessibleInterface(window), seen, problems);
    return problems;
}

void Focus(QWidget* widget) {
    widget->window()->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(widget->window()));
    widget->setFocus(Qt::TabFocusReason);
    QTRY_VERIFY(widget->hasFocus());
}

}  // namespace

class KeyboardAccessTest : public QObject {
    Q_OBJECT

  private slots:
    void initTestCase() {
        skin::CreateSharedFonts();
        skin::ApplySkin(*qApp);
        QAccessible::setActive(true);
    }

    void everyControlIsNamedAndReachable() {
        UiRig rig;
        rig.Window().show();
        QVERIFY(rig.WaitLoaded());
        for (int page = 0; page < MainWindow::kPageCount; ++page) {
            rig.Window().ShowPage(page);
            QTest::qWait(20);
            const QStringList problems = Problems(&rig.Window());
            QVERIFY2(problems.isEmpty(), qPrintable(problems.join("\n")));
        }
    }

    void keysWorkTheProfileTabsAndTheLabels_data() {
        QTest::addColumn<QList<int>>("keys");  // pressed on the profile tabs
        QTest::addColumn<int>("profile");      // active afterwards
        QTest::newRow("right, enter") << QList<int>{Qt::Key_Right, Qt::Key_Return} << 1;
        QTest::newRow("left stops at the first")
            << QList<int>{Qt::Key_Left, Qt::Key_Left, Qt::Key_Return} << 0;
    }

    void keysWorkTheProfileTabsAndTheLabels() {
        QFETCH(QList<int>, keys);
        QFETCH(int, profile);
        UiRig rig;
        MainWindow& window = rig.Window();
        window.show();
        QVERIFY(QTest::qWaitForWindowActive(&window));
        QVERIFY(rig.WaitLoaded());
        ProfileTabs& tabs = window.Profiles();
        Focus(&tabs);
        for (int key : keys) QTest::keyClick(&tabs, Qt::Key(key));
        QVERIFY(tabs.accessibleName().contains(QString::number(tabs.Focused() + 1)));
        QTRY_COMPARE_WITH_TIMEOUT(rig.Device().MouseState().profile, profile, 5000);
        rig.Settle();
        QCOMPARE(tabs.Active(), profile);
        rig.Screenshot(&window, QString("keyboard_profile_%1.png").arg(QTest::currentDataTag()));

        // The labels: the frame moves from one to the next, and Ctrl+B quick-binds the framed.
        auto* map = window.Buttons().findChild<ButtonMapView*>();
        QVERIFY(map != nullptr);
        Focus(map);
        QVERIFY(map->Labels().size() >= 2);
        QSignalSpy bind(map, &ButtonMapView::quickBindClicked);
        QTest::keyClick(map, Qt::Key_Right);
        QTest::keyClick(map, Qt::Key_B, Qt::ControlModifier);
        const int second = map->Labels()[1].position;
        QVERIFY2(map->accessibleName().endsWith(map->Labels()[1].text),
                 qPrintable(map->accessibleName()));
        if (!map->QuickBindRect(second).isNull()) {
            QCOMPARE(bind.size(), 1);
            QCOMPARE(bind.at(0).at(0).toInt(), second);
        }
        window.Buttons().QuickBind().Cancel();
    }
};

QTEST_MAIN(KeyboardAccessTest)
#include "keyboard_access_test.moc"
