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

    void pageTabsShowTheirPages_data() {
        QTest::addColumn<int>("page");
        QTest::addColumn<QString>("screenshot");
        QTest::newRow("buttons") << 0 << "main_buttons.png";
        QTest::newRow("dpi") << 1 << "main_dpi.png";
        QTest::newRow("other") << 2 << "main_other.png";
    }
    void pageTabsShowTheirPages() {
        QFETCH(int, page);
        QFETCH(QString, screenshot);
        UiRig rig;
        MainWindow& w = rig.Window();
        w.show();
        QVERIFY(rig.WaitLoaded());
        // Start from another page so the click has something to change.
        w.ShowPage((page + 1) % MainWindow::kPageCount);
        UiRig::Click(w.PageTab(page));
        QCOMPARE(w.CurrentPage(), page);
        QVERIFY(w.PageTab(page)->isChecked());
        QWidget* shown = w.findChild<QStackedWidget*>()->currentWidget();
        const std::array<QWidget*, 3> expected{&w.Buttons(), &w.Dpi(), &w.Other()};
        QCOMPARE(shown, expected[static_cast<std::size_t>(page)]);
        for (int other = 0; other < MainWindow::kPageCount; ++other) {
            if (other != page) QVERIFY(!w.PageTab(other)->isChecked());
        }
        QTest::qWait(50);
        rig.Screenshot(&w, screenshot);
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
        TextEntryRequest asked;
        SetTextEntryHook([&](const TextEntryRequest& request) {
            asked = request;
            TextEntryRequest answer = request;
            answer.text = "Zeta";
            return std::optional<TextEntryRequest>(answer);
        });
        ProfileTabs& tabs = rig.Window().Profiles();
        UiRig::Click(&tabs, tabs.PenRect(1).center());
        SetTextEntryHook({});
        QCOMPARE(QString::fromStdString(asked.caption), QString("Enter profile name"));
        QCOMPARE(asked.maximumLength, 9);
        QCOMPARE(asked.form, TextEntryForm::Text);
        const Bytes want{'Z', 0, 'e', 0, 't', 0, 'a', 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
        QTRY_VERIFY_WITH_TIMEOUT(rig.Device().PeekMemory(kProfile1NameAt, 18) == want, 5000);
        QTRY_COMPARE_WITH_TIMEOUT(tabs.Tab(1).name, QString("Zeta"), 5000);
    }

    void cancelledRenameWritesNothing() {
        UiRig rig;
        QVERIFY(rig.WaitLoaded());
        const Bytes before = rig.Device().PeekMemory(kProfile1NameAt, 18);
        SetTextEntryHook([](const TextEntryRequest&) { return std::optional<TextEntryRequest>(); });
        ProfileTabs& tabs = rig.Window().Profiles();
        QTest::mouseDClick(&tabs, Qt::LeftButton, Qt::NoModifier, tabs.TabRect(1).center());
        SetTextEntryHook({});
        rig.Settle();
        QCOMPARE(rig.Device().PeekMemory(kProfile1NameAt, 18), before);
    }

    void withoutADeviceTheWindowSaysSo() {
        UiRig rig("");
        MainWindow& w = rig.Window();
        w.show();
        QTest::qWait(300);  // the first refresh runs 100 ms after the start
        rig.Settle();
        QVERIFY(!rig.Controller().View().present);
        QCOMPARE(w.Profiles().Count(), 0);
        QVERIFY(!w.Buttons().ButtonAt(0));
        QVERIFY(!w.Buttons().DefaultButton()->isEnabled());
        QVERIFY(w.InfoText().contains("Software version: 1.37"));
        QVERIFY(!w.InfoText().contains("Model"));
        rig.Screenshot(&w, "main_nodevice.png");
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
        QCOMPARE(w.Profiles().Count(), 5);
        QVERIFY(w.Buttons().ButtonAt(0));
        QVERIFY(w.InfoText().contains("Model: MX-21"));
        rig.Screenshot(&w, "main_away.png");

        // Back: identified and read again, and the window comes back to life.
        rig.Device().Attach();
        QTRY_VERIFY_WITH_TIMEOUT(!rig.Controller().View().away, qvm::test::kUiLoadTimeoutMs);
        QTRY_VERIFY_WITH_TIMEOUT(w.Buttons().isEnabled(), 5000);
        QVERIFY(w.Profiles().isEnabled());
        QCOMPARE(w.Profiles().Count(), 5);
        QVERIFY(w.Buttons().ButtonAt(0));
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

    // "Default" within reach: the label's menu, and the settings dialog opened from the
    // label or from the button's dot on the drawn mouse. Each gives button 3 its own
    // function back (backward, mouse mask 8), as the page's "Default" does.
    void defaultWithinReach_data() {
        QTest::addColumn<QString>("way");
        QTest::newRow("label menu") << "menu";
        QTest::newRow("dialog from the label") << "label";
        QTest::newRow("dialog from the dot") << "dot";
    }
    void defaultWithinReach() {
        QFETCH(QString, way);
        UiRig rig;
        rig.Window().show();
        QVERIFY(rig.WaitLoaded());
        ButtonPage& page = rig.Window().Buttons();
        const int position = PositionOf(page, 3);
        QVERIFY(position >= 0);
        const auto firstPlanes = [&] {
            const Bytes b = rig.ButtonBytes(0, 3);
            return Bytes(b.begin(), b.begin() + 3);
        };
        rig.Controller().Change(HubOperation::AssignButton,
                                Setter(&ConfigModel::AssignSlot, 0, 3, ButtonSlot{4, 0x02, 0, 0}));
        QTRY_COMPARE_WITH_TIMEOUT(firstPlanes(), (Bytes{4, 0x02, 0}), 5000);
        rig.Settle();

        if (way == "menu") {
            const QPoint at = page.Map().LabelRect(position).center();
            QContextMenuEvent event(QContextMenuEvent::Mouse, at, page.Map().mapToGlobal(at));
            QApplication::sendEvent(&page.Map(), &event);
            QVERIFY(page.LabelMenu() != nullptr);
            QCOMPARE(page.Selected(), std::optional<int>(position));
            QVERIFY(page.DefaultButton()->isEnabled());
            rig.Screenshot(page.LabelMenu(), "button_label_menu.png");
            QAction* reset = nullptr;
            for (QAction* action : page.LabelMenu()->actions()) {
                if (action->text() == ToQ(Ui().button_str[9])) reset = action;
            }
            QVERIFY(reset != nullptr);
            reset->trigger();
            page.LabelMenu()->close();
        } else {
            QString title;
            QTimer::singleShot(0, [&] {
                auto* dialog =
                    qobject_cast<ButtonSettingsDialog*>(QApplication::activeModalWidget());
                if (dialog == nullptr) return;
                title = dialog->windowTitle();
                dialog->DefaultButton()->click();
            });
            const QPoint at = way == "dot" ? page.Map().AnchorPoint(position)
                                           : page.Map().LabelRect(position).center();
            QVERIFY(!page.Map().LabelRect(position).contains(at) || way == "label");
            UiRig::Click(&page.Map(), at);
            // The title names the button, what it does now and the profile.
            QCOMPARE(title, QString("Button settings - Button %1 (Right click) - %2")
                                .arg(position + 1)
                                .arg(ToQ(rig.Controller().View().image->profiles[0].name)));
        }
        QTRY_COMPARE_WITH_TIMEOUT(firstPlanes(), (Bytes{4, 0x08, 0}), 5000);
    }

    void failedOperationsAreShownToTheUser() {
        UiRig rig;
        QVERIFY(rig.WaitLoaded());
        QStringList shown;
        ScopedDialogHooks hooks([](const QString&, const QString&) { return false; },
                                [&](const QString&, const QString& text) { shown << text; });
        SimFaults faults;
        faults.noReply = true;
        rig.Device().SetFaults(faults);
        const int position = OrdinaryPosition(rig);
        emit rig.Window().Buttons().Map().functionDropped(position, ButtonSlot{4, 2, 0, 0}, "x");
        QTRY_VERIFY_WITH_TIMEOUT(!shown.isEmpty(), 10000);
        QVERIFY2(shown.front().startsWith("Assign button: "), qPrintable(shown.front()));
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

    void closingWithoutATrayMinimises() {
        UiRig rig;
        MainWindow& w = rig.Window();
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        QVERIFY(!w.close());
        QVERIFY(w.isMinimized());
        QVERIFY(rig.Controller().View().image);  // the program is still running
    }

    void profileColourChannelsForTheDevice_data() {
        QTest::addColumn<QColor>("colour");
        QTest::addColumn<bool>("twoBit");
        QTest::addColumn<QByteArray>("expected");
        QTest::newRow("8-bit kept")
            << QColor(0x12, 0x80, 0xFE) << false << QByteArray("\x12\x80\xfe");
        QTest::newRow("2-bit extremes")
            << QColor(0, 255, 0) << true << QByteArray("\x00\x03\x00", 3);
        QTest::newRow("2-bit nearest")
            << QColor(42, 43, 128) << true << QByteArray("\x00\x01\x02", 3);
        QTest::newRow("2-bit upper")
            << QColor(212, 213, 170) << true << QByteArray("\x02\x03\x02", 3);
    }
    void profileColourChannelsForTheDevice() {
        QFETCH(QColor, colour);
        QFETCH(bool, twoBit);
        QFETCH(QByteArray, expected);
        const auto channels = DeviceColour(colour, twoBit);
        QCOMPARE(QByteArray(reinterpret_cast<const char*>(channels.data()), 3), expected);
    }

    void processAgeIsReadFromTheKernel() {
        const long long first = MillisecondsSinceProcessStart();
        QVERIFY2(first >= 0 && first < 10 * 60 * 1000, qPrintable(QString::number(first)));
        QTest::qWait(50);
        QVERIFY(MillisecondsSinceProcessStart() >= first + 40);
    }
};

QTEST_MAIN(MainWindowTest)
#include "main_window_test.moc"
