// The windows in each shipped language (German has the longest texts): every label,
// button, check box, panel title, tab and list row shows its whole text on each page and
// in the dialogs, and a screenshot of each is written for a person to see.
#include <QAbstractButton>
#include <QAccessible>
#include <QDir>
#include <QGroupBox>
#include <QLabel>
#include <QLayout>
#include <QListWidget>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollBar>
#include <QStackedWidget>
#include <QStyle>
#include <QTabBar>
#include <QTreeWidget>
#include <QTreeWidgetItemIterator>
#include <QtTest>
#include <vector>

#include "lang/ui_strings.h"
#include "sim/sim_config.h"
#include "ui/button_page.h"
#include "ui/button_settings_dialog.h"
#include "ui/confirm.h"
#include "ui/device_controller.h"
#include "ui/macro_list_window.h"
#include "ui/main_window.h"
#include "ui/other_page.h"
#include "ui/skin.h"
#include "ui_rig.h"

using namespace qvm;
using namespace qvm::ui;
using qvm::test::UiRig;

namespace {

// The least room a push button's frame and padding take beside its text.
constexpr int kPushButtonFrame = 8;

QString Describe(const QWidget* widget, const QString& text) {
    return QStringLiteral("%1 '%2' (%3)")
        .arg(widget->metaObject()->className(), text, widget->objectName());
}

// The widest line of a text as the widget's font draws it.
int TextWidth(const QWidget* widget, const QString& text) {
    int width = 0;
    for (const QString& line : text.split('\n'))
        width = std::max(width, widget->fontMetrics().horizontalAdvance(line));
    return width;
}

void CheckLabel(const QLabel* label, QStringList& cut) {
    const QString text = label->text();
    if (text.isEmpty() || label->textFormat() == Qt::RichText) return;
    const QRect room = label->contentsRect();
    const bool fits = label->wordWrap() ? label->heightForWidth(room.width()) <= room.height()
                                        : TextWidth(label, text) <= room.width();
    if (!fits) cut << Describe(label, text);
}

// Push buttons: the text within the frame (the style's minimum width of a push button
// does not count); check boxes and radio buttons: the indicator and the text.
void CheckButton(const QAbstractButton* button, QStringList& cut) {
    if (button->text().isEmpty()) return;
    const int needed = qobject_cast<const QPushButton*>(button) != nullptr
                           ? TextWidth(button, button->text()) + kPushButtonFrame
                           : button->sizeHint().width();
    if (needed > button->width()) cut << Describe(button, button->text());
}

void CheckGroup(const QGroupBox* group, QStringList& cut) {
    if (TextWidth(group, group->title()) > group->contentsRect().width())
        cut << Describe(group, group->title());
}

void CheckTabs(const QTabBar* bar, QStringList& cut) {
    for (int i = 0; i < bar->count(); ++i) {
        if (TextWidth(bar, bar->tabText(i)) > bar->tabRect(i).width())
            cut << Describe(bar, bar->tabText(i));
    }
}

void CheckList(const QListWidget* list, QStringList& cut) {
    if (list->horizontalScrollBar()->isVisible()) return;  // wide rows can be scrolled to
    const int room = list->viewport()->width();
    for (int i = 0; i < list->count(); ++i) {
        const QListWidgetItem* item = list->item(i);
        const int icon = item->icon().isNull() ? 0 : list->iconSize().width() + 4;
        if (TextWidth(list, item->text()) + icon > room) cut << Describe(list, item->text());
    }
}

// Tree rows: the first column's text beside its indentation and the view's item margins.
void CheckTree(const QTreeWidget* tree, QStringList& cut) {
    if (tree->horizontalScrollBar()->isVisible()) return;
    const int margins = 2 * (tree->style()->pixelMetric(QStyle::PM_FocusFrameHMargin) + 1);
    for (QTreeWidgetItemIterator it(const_cast<QTreeWidget*>(tree)); *it != nullptr; ++it) {
        const QTreeWidgetItem* item = *it;
        int depth = tree->rootIsDecorated() ? 1 : 0;
        for (const QTreeWidgetItem* p = item->parent(); p != nullptr; p = p->parent()) ++depth;
        const int icon = item->icon(0).isNull() ? 0 : tree->iconSize().width() + 4;
        const int room = tree->columnWidth(0) - depth * tree->indentation();
        if (TextWidth(tree, item->text(0)) + icon + margins > room) {
            cut << Describe(tree, item->text(0));
        }
    }
}

// Widgets side by side in one layout that overlap: a row whose texts need more room than
// it has is squeezed that way rather than cut.
void CheckLayout(const QWidget* owner, QStringList& cut) {
    const QLayout* layout = owner->layout();
    if (layout == nullptr) return;
    std::vector<const QWidget*> shown;
    for (int i = 0; i < layout->count(); ++i) {
        const QWidget* w = layout->itemAt(i)->widget();
        if (w != nullptr && w->isVisible()) shown.push_back(w);
    }
    for (std::size_t a = 0; a < shown.size(); ++a) {
        for (std::size_t b = a + 1; b < shown.size(); ++b) {
            if (shown[a]->geometry().intersects(shown[b]->geometry())) {
                cut << Describe(shown[a], "overlaps " + shown[b]->objectName());
            }
        }
    }
}

// Every visible widget under root whose text is cut off.
QStringList CutTexts(const QWidget* root) {
    QStringList cut;
    for (const QWidget* w : root->findChildren<QWidget*>()) {
        if (!w->isVisibleTo(root)) continue;
        if (const auto* label = qobject_cast<const QLabel*>(w)) CheckLabel(label, cut);
        if (const auto* button = qobject_cast<const QAbstractButton*>(w)) CheckButton(button, cut);
        if (const auto* group = qobject_cast<const QGroupBox*>(w)) CheckGroup(group, cut);
        if (const auto* bar = qobject_cast<const QTabBar*>(w)) CheckTabs(bar, cut);
        if (const auto* list = qobject_cast<const QListWidget*>(w)) CheckList(list, cut);
        if (const auto* tree = qobject_cast<const QTreeWidget*>(w)) CheckTree(tree, cut);
        CheckLayout(w, cut);
    }
    return cut;
}

// What screen readers hear in English: names, descriptions and the words composed into
// them. None may be left in a translated window.
const QStringList kEnglishAccessibleWords = {"Device",         "The device the window works on",
                                             "Function class", "Button labels",
                                             "Arrow keys",     "DPI stage",
                                             ", active"};

// Every accessible name and description under root that still holds an English word.
QStringList EnglishAccessibleTexts(QWidget* root) {
    QStringList found;
    QList<QWidget*> widgets = root->findChildren<QWidget*>();
    widgets << root;
    for (QWidget* w : widgets) {
        QAccessibleInterface* face = QAccessible::queryAccessibleInterface(w);
        if (face == nullptr) continue;
        for (const QString& text :
             {face->text(QAccessible::Name), face->text(QAccessible::Description)}) {
            for (const QString& english : kEnglishAccessibleWords) {
                if (text.contains(english)) found << Describe(w, text);
            }
        }
    }
    found.removeDuplicates();
    return found;
}

// The language of the running test ("de", "fr"): screenshots are "<language>_<name>.png".
QString gLanguageTag;

void Screenshot(QWidget* widget, const QString& name) {
    QDir().mkpath(QVM_SCREENSHOT_DIR);
    const QString file = QStringLiteral("%1/%2_%3.png").arg(QVM_SCREENSHOT_DIR, gLanguageTag, name);
    QVERIFY(widget->grab().save(file));
}

}  // namespace

class LanguageTest : public QObject {
    Q_OBJECT

  private slots:
    // Every test runs once per shipped language; German has the longest texts.
    void initTestCase_data() {
        QTest::addColumn<int>("language");
        QTest::addColumn<QString>("tag");
        // A function of the function list, as the language names it.
        QTest::addColumn<QString>("copy");
        // How a message about a device that left begins, and the Backup button's name.
        QTest::addColumn<QString>("gone");
        QTest::addColumn<QString>("backup");
        // The heading of problems found while starting.
        QTest::addColumn<QString>("found");
        QTest::newRow("de") << 1031 << "de"
                            << "Kopieren"
                            << "Das Gerät ist nicht mehr da"
                            << "Sichern"
                            << "Beim Start festgestellt:";
        QTest::newRow("fr") << 1036 << "fr"
                            << "Copier"
                            << "Le périphérique n'est plus là"
                            << "Sauvegarder"
                            << "Constaté au démarrage :";
    }
    void initTestCase() {
        skin::CreateSharedFonts();
        skin::ApplySkin(*qApp);
        QAccessible::setActive(true);
    }
    void init() {
        QFETCH_GLOBAL(int, language);
        QFETCH_GLOBAL(QString, tag);
        gLanguageTag = tag;
        UiStrings strings;
        const std::string file = std::string(QVM_SOURCE_DATA_DIR) + "/language.ini";
        QCOMPARE(QString::fromStdString(LoadLanguageStrings(strings, language, file)), QString());
        QVERIFY(strings.button_str[0] != UiStrings().button_str[0]);  // the section was used
        SetUi(std::move(strings));
    }
    void cleanupTestCase() { SetUi(UiStrings()); }

    void pagesFitTheirTexts_data() {
        QTest::addColumn<int>("page");
        QTest::addColumn<QString>("devices");
        QTest::addColumn<QString>("screenshot");
        QTest::newRow("buttons") << 0 << "g12"
                                 << "main_buttons";
        QTest::newRow("dpi") << 1 << "g12"
                             << "main_dpi";
        QTest::newRow("other") << 2 << "g12"
                               << "main_other";
        QTest::newRow("other_class_a") << 2 << "g0"
                                       << "main_other_class_a";
    }
    void pagesFitTheirTexts() {
        QFETCH(int, page);
        QFETCH(QString, devices);
        QFETCH(QString, screenshot);
        UiRig rig(devices.toStdString());
        MainWindow& w = rig.Window();
        w.show();
        QVERIFY(rig.WaitLoaded());
        w.ShowPage(page);
        QCoreApplication::processEvents();
        Screenshot(&w, screenshot);
        const QStringList cut = CutTexts(&w);
        QVERIFY2(cut.isEmpty(), qPrintable(cut.join("\n")));
    }

    void noDeviceFitsItsTexts() {
        UiRig rig("");
        MainWindow& w = rig.Window();
        w.show();
        QCoreApplication::processEvents();
        Screenshot(&w, "main_nodevice");
        QVERIFY2(CutTexts(&w).isEmpty(), qPrintable(CutTexts(&w).join("\n")));
    }

    void helpOverlayScreenshot() {
        UiRig rig;
        MainWindow& w = rig.Window();
        w.show();
        QVERIFY(rig.WaitLoaded());
        UiRig::Click(w.Buttons().HelpButton());
        QVERIFY(w.Buttons().HelpShown());
        Screenshot(&w, "main_help");
    }

    // The button settings dialog with each function class in turn; its function list
    // speaks the language too.
    void buttonSettingsDialogFitsItsTexts() {
        QFETCH_GLOBAL(QString, copy);
        UiRig rig;
        rig.Window().show();
        QVERIFY(rig.WaitLoaded());
        QStringList cut;
        QStringList functions;
        bool sawDialog = false;
        QTimer::singleShot(0, [&] {
            auto* dialog = qobject_cast<ButtonSettingsDialog*>(QApplication::activeModalWidget());
            if (dialog == nullptr) return;
            sawDialog = true;
            for (int row = 0; row < dialog->ClassList()->count(); ++row) {
                dialog->ClassList()->setCurrentRow(row);
                QCoreApplication::processEvents();
                cut << CutTexts(dialog);
                for (int entry = 0; entry < dialog->EntryList()->count(); ++entry) {
                    functions << dialog->EntryList()->item(entry)->text();
                }
                Screenshot(dialog, QStringLiteral("button_settings_%1").arg(row));
            }
            dialog->close();
        });
        rig.Window().Buttons().OpenSettings(1);
        QVERIFY(sawDialog);
        QVERIFY2(functions.contains(copy), qPrintable(functions.join(", ")));
        cut.removeDuplicates();
        QVERIFY2(cut.isEmpty(), qPrintable(cut.join("\n")));
    }

    // Screen readers hear the language too: the device selector (two devices), the DPI
    // sliders, the profile tabs and the label map of the window, and the lists of the
    // button settings dialog.
    void accessibleNamesAreTranslated() {
        UiRig rig("g12,g0");
        MainWindow& w = rig.Window();
        w.show();
        QVERIFY(rig.WaitLoaded());
        QTRY_VERIFY(w.findChild<QWidget*>("deviceSelector")->isVisible());
        QStringList english;
        for (int page = 0; page < 3; ++page) {
            w.ShowPage(page);
            QCoreApplication::processEvents();
            english << EnglishAccessibleTexts(&w);
        }
        QTimer::singleShot(0, [&] {
            QWidget* dialog = QApplication::activeModalWidget();
            if (dialog == nullptr) return;
            english << EnglishAccessibleTexts(dialog);
            dialog->close();
        });
        w.ShowPage(0);
        w.Buttons().OpenSettings(1);
        english.removeDuplicates();
        QVERIFY2(english.isEmpty(), qPrintable(english.join("\n")));
    }

    // Messages about failures open with a sentence in the language; the program's own
    // detail (English, with numbers and paths) follows beneath it, nothing left out.
    void failuresAreToldInTheLanguage() {
        QFETCH_GLOBAL(QString, gone);
        QFETCH_GLOBAL(QString, backup);
        UiRig rig("g12/mem=8k");
        MainWindow& w = rig.Window();
        w.show();
        QVERIFY(rig.WaitLoaded());
        QTemporaryDir dir;
        const QString file = dir.filePath("saved.bf");
        w.Other().SetFileChoosers([&](QWidget*, const QString&) { return file; },
                                  [](QWidget*, const QString&) { return QString(); });
        QStringList told;
        ScopedDialogHooks hooks([](const QString&, const QString&) { return true; },
                                [&](const QString&, const QString& text) { told << text; });
        SimFaults faults;
        faults.removeAfter = 4;  // the mouse leaves a few reads into the backup
        rig.Device().SetFaults(faults);
        w.ShowPage(2);
        auto* start = w.Other().findChild<QPushButton*>("backupButton");
        QVERIFY(start != nullptr && start->isEnabled());
        UiRig::Click(start);
        QTRY_VERIFY_WITH_TIMEOUT(!told.isEmpty(), qvm::test::kUiLoadTimeoutMs);
        QVERIFY2(told.front().startsWith(gone), qPrintable(told.front()));
        QVERIFY2(told.front().contains("\nthe device left during the backup"),
                 qPrintable(told.front()));
        const QString result = w.Other().findChild<QLabel*>("driverResult")->text();
        QVERIFY2(result.contains(backup) && result.contains(gone), qPrintable(result));
        QVERIFY(!QFile::exists(file));
        Screenshot(&w, "backup_failed");
    }

    // What the window finds wrong while starting (here: a program folder without its
    // function library) is headed in the language, the program's own line beneath.
    void startWarningsAreToldInTheLanguage() {
        QFETCH_GLOBAL(QString, found);
        QStringList told;
        ScopedDialogHooks hooks([](const QString&, const QString&) { return true; },
                                [&](const QString&, const QString& text) { told << text; });
        QTemporaryDir empty;
        UiRig rig("g12", empty.path().toStdString());
        QTRY_VERIFY_WITH_TIMEOUT(!told.isEmpty(), qvm::test::kUiLoadTimeoutMs);
        QVERIFY2(told.front().startsWith(found + "\n"), qPrintable(told.front()));
        QVERIFY2(told.front().contains("bulitin.ini: not found"), qPrintable(told.front()));
    }

    // Every device operation a message can name has a name in the language.
    void operationNamesAreTranslated() {
        for (int op = 0; op <= static_cast<int>(HubOperation::Last); ++op) {
            const auto operation = static_cast<HubOperation>(op);
            const QString name = DeviceController::OperationName(operation);
            QVERIFY2(!name.isEmpty() && name != QString::fromUtf8(HubOperationName(operation)),
                     qPrintable(name));
        }
    }

    void macroListFitsItsTexts() {
        UiRig rig;
        rig.Window().show();
        QVERIFY(rig.WaitLoaded());
        UiRig::Click(rig.Window().Buttons().MacroListButton());
        MacroListWindow* list = nullptr;
        for (QWidget* top : QApplication::topLevelWidgets()) {
            auto* window = qobject_cast<MacroListWindow*>(top);
            if (window != nullptr && window->isVisible()) list = window;
        }
        QVERIFY(list != nullptr);
        list->Tree()->expandAll();
        QCoreApplication::processEvents();
        Screenshot(list, "macro_list");
        QVERIFY2(CutTexts(list).isEmpty(), qPrintable(CutTexts(list).join("\n")));
    }
};

QTEST_MAIN(LanguageTest)
#include "language_test.moc"
