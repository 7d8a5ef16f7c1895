// Binding a program to a profile from the window: the tab's menu opens the dialog, the
// program chosen (from the running programs or a file) lands in set.ini as the current
// profile's two keys and nothing else, refused choices store nothing, the tab's marker
// removes the binding, and bindings changed by another program are picked up at a reload.
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QSignalSpy>
#include <QtTest>
#include <filesystem>
#include <fstream>

#include "base/ini_file.h"
#include "ui/app_bind_dialog.h"
#include "ui/main_window.h"
#include "ui/profile_tabs.h"
#include "ui/skin.h"
#include "ui_rig.h"

using namespace qvm;
using qvm::test::UiRig;
namespace fs = std::filesystem;

namespace {

constexpr int kDialogWaitMs = 10000;
constexpr std::size_t kAssignText = 52;  // msg_str: "Assign an executable file to ..."

// Runs `script` on the first dialog of type Dialog that becomes the modal window.
template <class Dialog>
void WhenModal(std::function<void(Dialog&)> script) {
    auto timer = std::make_shared<QTimer>();
    auto waited = std::make_shared<QElapsedTimer>();
    waited->start();
    timer->setInterval(10);
    QObject::connect(timer.get(), &QTimer::timeout, [timer, waited, script] {
        if (auto* dialog = qobject_cast<Dialog*>(QApplication::activeModalWidget())) {
            timer->stop();
            script(*dialog);
            // A failed check returns early: the dialog must not stay open.
            if (dialog->isVisible()) dialog->reject();
        } else if (waited->elapsed() > kDialogWaitMs) {
            timer->stop();
            qFatal("the expected dialog did not open");
        }
    });
    timer->start();
}

std::string MakeProgram(const std::string& folder, const std::string& name) {
    const std::string path = folder + "/bin/" + name;
    fs::create_directories(folder + "/bin");
    std::ofstream(path) << "#!/bin/sh\n";
    fs::permissions(path, fs::perms::owner_all);
    return path;
}

}  // namespace

class AppBindingTest : public QObject {
    Q_OBJECT

  private slots:
    void initTestCase() {
        ui::skin::CreateSharedFonts();
        ui::skin::ApplySkin(*qApp);
    }

    // The dialog alone: what OK hands to the store, and what it refuses without storing.
    void dialogStoresOnlyAnExecutableUnderAOneLineName() {
        QTemporaryDir dir;
        const std::string folder = dir.path().toStdString();
        qputenv("XDG_DATA_HOME", dir.path().toUtf8());
        qputenv("XDG_DATA_DIRS", dir.path().toUtf8());
        const std::string game = MakeProgram(folder, "xgame");
        const std::string plain = folder + "/notes.txt";
        std::ofstream(plain) << "text\n";
        const struct {
            const char* name;
            std::string chosen;
            QString typed;  // replaces the proposed name unless null
            Status storeAnswer;
            bool accepted;
            const char* problem;  // part of the message shown; "" when none
        } cases[] = {
            {"own name", game, "My Game", {}, true, ""},
            {"not executable", plain, {}, {}, false, "not executable"},
            {"empty name", game, " ", {}, false, "the name is empty"},
            {"store refuses",
             game,
             {},
             MakeError(ErrorKind::NoSpace, "no space left on set.ini"),
             false,
             "no space left"},
        };
        for (const auto& c : cases) {
            std::vector<AppSlot> stored;
            ui::AppBindSources sources{
                [] { return Result<std::vector<WindowProgram>>(std::vector<WindowProgram>{}); },
                [&](QWidget*, const QString&) { return QString::fromStdString(c.chosen); }};
            ui::AppBindDialog dialog(nullptr, 0, sources, [&](const AppSlot& slot) {
                stored.push_back(slot);
                return c.storeAnswer;
            });
            dialog.show();
            QTest::mouseClick(dialog.BrowseButton(), Qt::LeftButton);
            if (!c.typed.isNull()) dialog.NameField()->setText(c.typed);
            QTest::mouseClick(dialog.OkButton(), Qt::LeftButton);
            QVERIFY2(dialog.result() == (c.accepted ? QDialog::Accepted : QDialog::Rejected),
                     c.name);
            QVERIFY2(dialog.ErrorLine()->isVisible() == !c.accepted, c.name);
            QVERIFY2(dialog.ErrorLine()->text().contains(c.problem),
                     qPrintable(dialog.ErrorLine()->text()));
            const bool reachedStore = c.accepted || c.storeAnswer.kind() == ErrorKind::NoSpace;
            QCOMPARE(stored.size(), reachedStore ? 1u : 0u);
            if (!stored.empty()) {
                QCOMPARE(stored[0].path, fs::canonical(game).string());
                QCOMPARE(QString::fromStdString(stored[0].name),
                         c.typed.isNull() ? QString("xgame") : c.typed);
            }
        }
        qunsetenv("XDG_DATA_HOME");
        qunsetenv("XDG_DATA_DIRS");
    }

    void bindFromTheTabMenuAndRemoveWithTheMarker() {
        UiRig rig;
        qputenv("XDG_DATA_HOME", QByteArray::fromStdString(rig.Folder()));
        qputenv("XDG_DATA_DIRS", QByteArray::fromStdString(rig.Folder()));
        rig.Window().show();
        QVERIFY(rig.WaitLoaded());
        const std::string game = MakeProgram(rig.Folder(), "xgame");
        const std::string other = MakeProgram(rig.Folder(), "other");
        const std::string link = rig.Folder() + "/bin/game-link";
        fs::create_symlink(game, link);
        const std::string settings = JoinPath(rig.Folder(), "set.ini");
        {
            // Another program (qvmctl app bind 5) bound a program; the reload reads it.
            IniFile file = IniFile::Load(settings);
            file.SetString(kSettingsSection, "osd", "0");
            file.SetString(kSettingsSection, "app4", other);
            file.SetString(kSettingsSection, "app_name4", "Other one");
            file.SetString("Elsewhere", "kept", "yes");
            QVERIFY(file.Save(settings).ok());
        }
        QSignalSpy changed(&rig.Window(), &ui::MainWindow::appSlotsChanged);
        rig.Window().ReloadLibraries();
        QCOMPARE(changed.count(), 1);
        ui::ProfileTabs& tabs = rig.Window().Profiles();
        QCOMPARE(tabs.Tab(4).app, QString("Other one"));
        QVERIFY(!tabs.MarkerRect(4).isEmpty());

        const int current = rig.Controller().View().image->currentProfile;
        QVERIFY(current != 4);
        QVERIFY(tabs.MarkerRect(current).isEmpty());
        WindowProgram running;
        running.pid = 4321;
        running.executable = fs::canonical(game).string();
        running.title = "A game";
        running.icon = ProgramIcon{1, 1, {0xFF00FF00u}};
        rig.Window().SetAppBindSources(
            {[running] { return Result<std::vector<WindowProgram>>(std::vector{running}); },
             [link](QWidget*, const QString&) { return QString::fromStdString(link); }});

        // The tab's menu: "Colour", then "Assign an executable file to current profile.".
        QTimer::singleShot(0, [] {
            auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
            if (menu == nullptr) qFatal("the tab's menu did not open");
            for (QAction* action : menu->actions()) {
                if (action->text() == QString::fromStdString(Ui().msg_str[kAssignText])) {
                    menu->setActiveAction(action);
                }
            }
            QTest::keyClick(menu, Qt::Key_Return);
        });
        bool ran = false;
        WhenModal<ui::AppBindDialog>([&](ui::AppBindDialog& dialog) {
            ran = true;
            QCOMPARE(dialog.Programs()->count(), 1);
            QVERIFY(dialog.Programs()->item(0)->text().contains("xgame"));
            QVERIFY(!dialog.OkButton()->isEnabled());  // nothing chosen yet
            dialog.Programs()->setCurrentRow(0);
            QCOMPARE(dialog.ChosenPath(), running.executable);
            QCOMPARE(dialog.NameField()->text(), QString("xgame"));
            // A file chosen instead: the name proposed follows it, the link is resolved.
            QTest::mouseClick(dialog.BrowseButton(), Qt::LeftButton);
            QCOMPARE(dialog.NameField()->text(), QString("game-link"));
            QTest::mouseClick(dialog.OkButton(), Qt::LeftButton);
        });
        const QPoint at = tabs.TabRect(current).center();
        QContextMenuEvent menuEvent(QContextMenuEvent::Mouse, at, tabs.mapToGlobal(at));
        QApplication::sendEvent(&tabs, &menuEvent);
        QTRY_VERIFY_WITH_TIMEOUT(ran, kDialogWaitMs);
        QCOMPARE(changed.count(), 2);

        // Only the current profile's two keys changed.
        IniFile file = IniFile::Load(settings);
        const std::string slot = std::to_string(current);
        QCOMPARE(file.GetString(kSettingsSection, "app" + slot, ""), fs::canonical(game).string());
        QCOMPARE(file.GetString(kSettingsSection, "app_name" + slot, ""), std::string("game-link"));
        QCOMPARE(file.GetString(kSettingsSection, "osd", ""), std::string("0"));
        QCOMPARE(file.GetString("Elsewhere", "kept", ""), std::string("yes"));
        QCOMPARE(file.GetString(kSettingsSection, "app4", ""), other);
        QCOMPARE(file.GetString(kSettingsSection, "app_name4", ""), std::string("Other one"));
        QCOMPARE(tabs.Tab(current).app, QString("game-link"));
        rig.Settle();
        rig.Screenshot(&rig.Window(), "main_window_with_bound_programs.png");

        // The marker removes that binding and no other.
        const QRect marker = tabs.MarkerRect(current);
        QVERIFY(!marker.isEmpty());
        QCOMPARE(marker.size(), QSize(18, 18));
        QVERIFY(tabs.rect().contains(marker));
        UiRig::Click(&tabs, marker.center());
        QCOMPARE(changed.count(), 3);
        file = IniFile::Load(settings);
        QCOMPARE(file.GetString(kSettingsSection, "app" + slot, ""), std::string());
        QCOMPARE(file.GetString(kSettingsSection, "app4", ""), other);
        QVERIFY(tabs.MarkerRect(current).isEmpty());
        QCOMPARE(rig.Controller().View().image->currentProfile, current);

        // set.ini that cannot be written: the marker leaves the binding in force.
        fs::remove(settings);
        fs::create_directory(settings);
        UiRig::Click(&tabs, tabs.MarkerRect(4).center());
        QCOMPARE(changed.count(), 3);
        QCOMPARE(tabs.Tab(4).app, QString("Other one"));
        qunsetenv("XDG_DATA_HOME");
        qunsetenv("XDG_DATA_DIRS");
    }
};

QTEST_MAIN(AppBindingTest)
#include "app_binding_test.moc"
