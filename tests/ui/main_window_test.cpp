// The main window on simulated devices: the page tabs, the profile tabs reaching the
// device, the window without a device and across hot-plug, button assignment by drop,
// "Default" and the settings dialog, failures shown to the user, and a screenshot of
// every page.
#include <QContextMenuEvent>
#include <QLabel>
#include <QMenu>
#include <QStackedWidget>
#include <QtTest>

#include "lang/ui_strings.h"
#include "ui/button_map_view.h"
#include "ui/button_page.h"
#include "ui/button_settings_dialog.h"
#include "ui/confirm.h"
#include "ui/dpi_page.h"
#include "ui/main_window.h"
#include "ui/other_page.h"
#include "ui/profile_tabs.h"
#include "ui/qt_text.h"
#include "ui/skin.h"
#include "ui/text_entry_dialog.h"
#include "ui_rig.h"

#include <QListWidget>

using namespace qvm;
using namespace qvm::ui;
using qvm::test::UiRig;

namespace {

using Bytes = std::vector<uint8_t>;

// Class C: profile p's name field (UTF-16LE, 9 units written) at 0x26 + 0xA0 p.
constexpr uint32_t kProfile1NameAt = 0xC6;

// The first label position whose button is `button`; -1 when none shows it.
int PositionOf(ButtonPage& page, int button) {
    for (int p = 0; p < 32; ++p) {
        if (page.ButtonAt(p) == button) return p;
    }
    return -1;
}

// A position that does not hold the sole left-click button.
int OrdinaryPosition(UiRig& rig) {
    const auto sole = rig.Controller().View().image->soleLeftClickButton;
    for (int p = 0; p < 32; ++p) {
        const auto b = rig.Window().Buttons().ButtonAt(p);
        if (b && b != sole && *b != 0) return p;
    }
    return -1;
}

}  // namespace

class MainWindowTest : public QObject {
    Q_OBJECT

  private slots:
    void initTestCase() {
        skin::CreateSharedFonts();
        skin::ApplySkin(*qApp);
    }

    void profileTabSwitchReachesTheDevice() {
        UiRig rig;
        rig.Window().show();
        QVERIFY(rig.WaitLoaded());
        ProfileTabs& tabs = rig.Window().Profiles();
        QCOMPARE(tabs.Count(), 5);
        QCOMPARE(tabs.Active(), 0);
        QCOMPARE(rig.Device().MouseState().profile, 0);

        UiRig::Click(&tabs, tabs.TabRect(3).center());
        QTRY_COMPARE_WITH_TIMEOUT(rig.Device().MouseState().profile, 3, 5000);
        QTRY_COMPARE_WITH_TIMEOUT(tabs.Active(), 3, 5000);
        QCOMPARE(rig.Controller().View().image->currentProfile, 3);
    }

    void renameGoesThroughTheTextEntryDialog() {
        UiRig rig;
        QVERIFY(rig.WaitLoaded());
        ProfileTabs& tabs = rig.Window().Profiles();
        // Typed into the real dialog: the name field holds at most 9 characters.
        QTimer::singleShot(0, [] {
            auto* dialog = qobject_cast<TextEntryDialog*>(QApplication::activeModalWidget());
            if (dialog == nullptr) return;
            QTest::keyClick(dialog->TextEdit(), Qt::Key_A, Qt::ControlModifier);
            QTest::keyClicks(dialog->TextEdit(), QStringLiteral("Zeta12345678"));
            QTest::keyClick(dialog->TextEdit(), Qt::Key_Return);
        });
        UiRig::Click(&tabs, tabs.PenRect(1).center());
        const Bytes want{'Z', 0, 'e', 0, 't', 0, 'a', 0, '1', 0, '2', 0, '3', 0, '4', 0, '5', 0};
        QTRY_VERIFY_WITH_TIMEOUT(rig.Device().PeekMemory(kProfile1NameAt, 18) == want, 5000);
        QTRY_COMPARE_WITH_TIMEOUT(tabs.Tab(1).name, QString("Zeta12345"), 5000);
    }

    // The header's information panel: its four lines at the window's own text size,
    // all within the panel, and clear rows between the last line and the accent rule
    // along the header's bottom edge. Judged on the drawn pixels, so it holds at any
    // QT_SCALE_FACTOR (ctest runs it at 2 as well).
    void headerInfoIsReadableAndClearOfTheRule_data() {
        QTest::addColumn<QString>("devices");
        QTest::newRow("class C") << "g12";
        QTest::newRow("extended button set") << "g5x";
        QTest::newRow("device selector shown") << "g12,g0";
    }
    void headerInfoIsReadableAndClearOfTheRule() {
        constexpr int kClearRows = 4;  // at least this many clear rows above the rule
        constexpr int kTextGrey = 80;  // brighter than the band: part of a letter
        QFETCH(QString, devices);
        UiRig rig(devices.toStdString());
        MainWindow& w = rig.Window();
        w.show();
        QVERIFY(rig.WaitLoaded());
        QCoreApplication::processEvents();
        auto* info = w.findChild<QLabel*>("infoPanel");
        QVERIFY(info != nullptr);
        QCOMPARE(info->text().count('\n'), 3);
        const QRect room = info->contentsRect();
        const QRect used =
            info->fontMetrics().boundingRect(room, int(info->alignment()), info->text());
        QVERIFY2(room.contains(used),
                 qPrintable(QString("needs %1 px of %2").arg(used.height()).arg(room.height())));

        const QImage image = w.grab().toImage();
        const qreal ratio = image.devicePixelRatio();
        const QRect panel(info->geometry().topLeft() * ratio, info->geometry().size() * ratio);
        int ruleTop = -1;
        for (int y = panel.top(); y < image.height() && ruleTop < 0; ++y) {
            const QColor c = image.pixelColor(panel.center().x(), y);
            if (c.red() > 200 && c.green() < 120 && c.blue() < 100) ruleTop = y;
        }
        QVERIFY(ruleTop > panel.top());
        int lastText = -1;
        for (int y = panel.top(); y < ruleTop; ++y) {
            for (int x = panel.left(); x <= panel.right(); ++x) {
                if (qGray(image.pixel(x, y)) > kTextGrey) lastText = y;
            }
        }
        QVERIFY(lastText > panel.top());
        const int clear = int((ruleTop - lastText - 1) / ratio);
        rig.Screenshot(&w, QString("header_%1_%2.png")
                               .arg(QString(QTest::currentDataTag()).replace(' ', '_'))
                               .arg(int(ratio * 100)));
        QVERIFY2(clear >= kClearRows, qPrintable(QString("%1 clear rows").arg(clear)));
        QVERIFY2(info->fontInfo().pixelSize() >= w.PageTab(0)->fontInfo().pixelSize(),
                 qPrintable(QString("%1 px").arg(info->fontInfo().pixelSize())));
    }

    void hotPlugWhileTheWindowIsOpen() {
        UiRig rig;
        MainWindow& w = rig.Window();
        w.show();
        QVERIFY(rig.WaitLoaded());
        QVERIFY(w.InfoText().contains("Model: MX-21"));
        QVERIFY(w.Buttons().ButtonAt(0));

        // Away: the last configuration stays on show, greyed, with every control off.
        rig.Device().Detach();
        QTRY_VERIFY_WITH_TIMEOUT(rig.Controller().View().away, 5000);
        QTRY_VERIFY_WITH_TIMEOUT(!w.Buttons().isEnabled(), 5000);
        QVERIFY(!w.Profiles().isEnabled());
        QVERIFY(!w.Dpi().isEnabled());
        QVERIFY(!w.Other().isEnabled());
        rig.Screenshot(&w, "main_away.png");

        // Back: identified and read again, and the window comes back to life.
        rig.Device().Attach();
        QTRY_VERIFY_WITH_TIMEOUT(!rig.Controller().View().away, qvm::test::kUiLoadTimeoutMs);
        QTRY_VERIFY_WITH_TIMEOUT(w.Buttons().isEnabled(), 5000);
        QVERIFY(w.Profiles().isEnabled());
        QTRY_VERIFY_WITH_TIMEOUT(w.InfoText().contains("Model: MX-21"), 5000);
    }

    void droppedFunctionIsAssignedButNeverOnTheSoleLeftClick() {
        UiRig rig;
        QVERIFY(rig.WaitLoaded());
        ButtonPage& page = rig.Window().Buttons();
        const auto sole = rig.Controller().View().image->soleLeftClickButton;
        QVERIFY(sole.has_value());
        const int solePosition = PositionOf(page, *sole);
        QVERIFY(solePosition >= 0);
        const Bytes soleBefore = rig.ButtonBytes(0, *sole);

        const ButtonSlot rightClick{4, 0x02, 0, 0};
        emit page.Map().functionDropped(solePosition, rightClick, "Right click");
        rig.Settle();
        QCOMPARE(rig.ButtonBytes(0, *sole), soleBefore);

        const int position = OrdinaryPosition(rig);
        QVERIFY(position >= 0);
        const int button = *page.ButtonAt(position);
        const ButtonSlot ctrlC{5, 0x01, 0x06, 0};
        emit page.Map().functionDropped(position, ctrlC, "Ctrl + C");
        QTRY_VERIFY_WITH_TIMEOUT(rig.ButtonBytes(0, button) == (Bytes{5, 0x01, 0x06, 0}), 5000);
    }

    void settingsDialogOkAssignsAndDefaultResets() {
        UiRig rig;
        rig.Window().show();
        QVERIFY(rig.WaitLoaded());
        ButtonPage& page = rig.Window().Buttons();
        const int position = PositionOf(page, 3);  // button 3: backward by default
        QVERIFY(position >= 0);
        // "Default" stores the button's own function as bytes: backward is mouse mask 8.
        const auto firstPlanes = [&] {
            const Bytes b = rig.ButtonBytes(0, 3);
            return Bytes(b.begin(), b.begin() + 3);
        };

        bool sawDialog = false;
        QTimer::singleShot(0, [&] {
            auto* dialog = qobject_cast<ButtonSettingsDialog*>(QApplication::activeModalWidget());
            if (dialog == nullptr) return;
            sawDialog = true;
            const auto mouse = dialog->EntryList()->findItems("Right click", Qt::MatchExactly);
            if (!mouse.isEmpty()) dialog->EntryList()->setCurrentItem(mouse.front());
            dialog->OkButton()->click();
        });
        UiRig::Click(&page.Map(), page.Map().LabelRect(position).center());
        QVERIFY(sawDialog);
        QTRY_VERIFY_WITH_TIMEOUT(rig.ButtonBytes(0, 3) == (Bytes{4, 0x02, 0, 0}), 5000);
        QVERIFY(!page.Selected());  // OK clears the selection

        // Select it again, cancel the dialog, and let "Default" restore it.
        QTimer::singleShot(0, [] {
            if (auto* dialog = QApplication::activeModalWidget()) dialog->close();
        });
        UiRig::Click(&page.Map(), page.Map().LabelRect(position).center());
        QCOMPARE(page.Selected(), std::optional<int>(position));
        QVERIFY(page.DefaultButton()->isEnabled());
        UiRig::Click(page.DefaultButton());
        QTRY_COMPARE_WITH_TIMEOUT(firstPlanes(), (Bytes{4, 0x08, 0}), 5000);
    }

    void failedOperationsAreShownToTheUser() {
        UiRig rig;
        QVERIFY(rig.WaitLoaded());
        QStringList shown;
        QStringList notices;
        ScopedDialogHooks hooks([](const QString&, const QString&) { return false; },
                                [&](const QString&, const QString& text) { shown << text; });
        SetNoticeHook([&](const QString&, const QString& text) { notices << text; });
        const int position = OrdinaryPosition(rig);
        // The first change saves the mouse's memory and says where; the next one fails.
        emit rig.Window().Buttons().Map().functionDropped(position, ButtonSlot{4, 8, 0, 0}, "x");
        QTRY_COMPARE_WITH_TIMEOUT(notices.size(), 1, 10000);
        QVERIFY2(notices.front().contains(QString::fromStdString(rig.Folder()) + "/backups/"),
                 qPrintable(notices.front()));
        SetNoticeHook({});
        SimFaults faults;
        faults.noReply = true;
        rig.Device().SetFaults(faults);
        emit rig.Window().Buttons().Map().functionDropped(position, ButtonSlot{4, 2, 0, 0}, "x");
        QTRY_VERIFY_WITH_TIMEOUT(!shown.isEmpty(), 10000);
        QVERIFY2(shown.front().startsWith("Assign button: "), qPrintable(shown.front()));
    }

    // The first change of a mouse whose memory cannot be read is not written; the window
    // asks, once, and on yes makes it (here it fails on the silent mouse, which is shown).
    void firstChangeWithoutABackupIsAskedAbout_data() {
        QTest::addColumn<bool>("answer");
        QTest::newRow("no") << false;
        QTest::newRow("yes") << true;
    }
    void firstChangeWithoutABackupIsAskedAbout() {
        QFETCH(bool, answer);
        UiRig rig;
        QVERIFY(rig.WaitLoaded());
        QStringList questions;
        QStringList shown;
        ScopedDialogHooks hooks(
            [&](const QString&, const QString& text) {
                questions << text;
                return answer;
            },
            [&](const QString&, const QString& text) { shown << text; });
        SimFaults faults;
        faults.noReply = true;
        rig.Device().SetFaults(faults);
        const uint64_t writes = rig.Device().Stats().memoryWrites;
        const int position = OrdinaryPosition(rig);
        emit rig.Window().Buttons().Map().functionDropped(position, ButtonSlot{4, 2, 0, 0}, "x");
        QTRY_COMPARE_WITH_TIMEOUT(questions.size(), 1, 10000);
        QVERIFY2(questions.front().contains("could not be saved before its first change"),
                 qPrintable(questions.front()));
        if (answer) {
            QTRY_VERIFY_WITH_TIMEOUT(!shown.isEmpty(), 10000);
            QVERIFY2(shown.front().startsWith("Assign button: "), qPrintable(shown.front()));
            QVERIFY2(!shown.front().contains("could not be saved"), qPrintable(shown.front()));
        } else {
            rig.Settle();
            QVERIFY2(shown.isEmpty(), qPrintable(shown.join("; ")));
            QCOMPARE(rig.Device().Stats().memoryWrites, writes);
        }
        QCOMPARE(questions.size(), 1);
    }

    // A mouse whose memory holds no configuration: the window asks once before the
    // reset that initialises it, and on no writes nothing and says what it found.
    void uninitialisedMouseIsInitialisedOnlyOnYes_data() {
        QTest::addColumn<bool>("answer");
        QTest::newRow("no") << false;
        QTest::newRow("yes") << true;
    }
    void uninitialisedMouseIsInitialisedOnlyOnYes() {
        QFETCH(bool, answer);
        QStringList questions;
        QStringList messages;
        ScopedDialogHooks hooks(
            [&](const QString&, const QString& text) {
                questions << text;
                return answer;
            },
            [&](const QString&, const QString& text) { messages << text; });
        UiRig rig("g12/mem=8k/blank");
        MainWindow& w = rig.Window();
        const Bytes blank = rig.Device().PeekMemory(0, 0x2000);
        QTRY_VERIFY_WITH_TIMEOUT(!questions.isEmpty(), qvm::test::kUiLoadTimeoutMs);
        QVERIFY2(questions.front().contains("Initialise it with the factory settings?"),
                 qPrintable(questions.front()));
        if (answer) {
            QTRY_VERIFY_WITH_TIMEOUT(rig.Controller().View().present, qvm::test::kUiLoadTimeoutMs);
            QCOMPARE(rig.Device().PeekMemory(0, 1), Bytes{0x12});
            QTRY_VERIFY_WITH_TIMEOUT(w.InfoText().contains("Model"), 5000);
        } else {
            rig.Settle();
            QCOMPARE(rig.Device().PeekMemory(0, 0x2000), blank);
            QCOMPARE(rig.Device().Stats().memoryWrites, uint64_t{0});
            QVERIFY(rig.Controller().View().uninitialised);
            QVERIFY2(w.InfoText().contains("Uninitialised"), qPrintable(w.InfoText()));
            const auto* info = w.Other().findChild<QLabel*>("informationText");
            QVERIFY(info != nullptr);
            QVERIFY2(info->text().contains("no configuration"), qPrintable(info->text()));
            QVERIFY(!info->text().contains(ToQ(Ui().msg_str[10])));  // "No device !!"
            QVERIFY(w.Other().findChild<QPushButton*>("resetButton")->isEnabled());
            // The next refresh of the same mouse does not ask again.
            rig.Controller().RefreshAfter(0);
            QTest::qWait(200);
            rig.Settle();
        }
        QCOMPARE(questions.size(), 1);
        QVERIFY2(messages.isEmpty(), qPrintable(messages.join("; ")));
    }
};

QTEST_MAIN(MainWindowTest)
#include "main_window_test.moc"
