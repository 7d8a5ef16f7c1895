// The macro list window: what it lists and what each row carries when dragged onto a
// button.
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <QTreeWidget>

#include "lang/ui_strings.h"
#include "macro/macro_file.h"
#include "ui/function_drag.h"
#include "ui/macro_list_window.h"
#include "ui/skin.h"

using qvm::MacroSlot;
using qvm::MacroSlots;
using qvm::ui::MacroListWindow;
using Kind = qvm::ui::MacroListWindow::RowKind;

namespace {

// A small function library: one group of bulitin.ini and one library file, with
// operands above 0x7F so that a byte read as signed would show.
constexpr const char* kBuiltin =
    "[Advanced0]\nname=DPI+\ntype=12\n"
    "[Mouse3]\nname=Back\ntype=4\nop1=8\n"
    "[Consumer0]\nname=Mute\ntype=6\nop1=226\nop2=0\n"
    "[Keyboard7]\nname=Ctrl+AltGr\ntype=5\nop1=65\nop2=230\nop3=129\n";
constexpr const char* kLibrary =
    "[DB]\nname=Office shortcuts\ntag=Office\n"
    "[Office0]\nname=Bold\ntype=5\nop1=1\nop2=5\n";

void WriteText(const QString& path, const char* text) {
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(text);
}

void WriteMacro(const QString& path, const std::string& name) {
    QDir().mkpath(QFileInfo(path).path());
    QVERIFY(qvm::WriteMacroFile(path.toStdString(), name, qvm::kMacroModeOnce, {}).ok());
}

MacroSlot Stored(const std::string& name, int32_t codeAddress, int32_t mode) {
    return MacroSlot{name, codeAddress - qvm::kMacroRecordHeaderBytes, codeAddress, 40, mode};
}

// The row reached by following texts from the top level down.
QTreeWidgetItem* Row(QTreeWidget* tree, const QStringList& path) {
    QTreeWidgetItem* found = nullptr;
    for (const QString& text : path) {
        const int count = found ? found->childCount() : tree->topLevelItemCount();
        QTreeWidgetItem* next = nullptr;
        for (int i = 0; i < count && !next; ++i) {
            QTreeWidgetItem* item = found ? found->child(i) : tree->topLevelItem(i);
            if (item->text(0) == text) next = item;
        }
        if (!next) return nullptr;
        found = next;
    }
    return found;
}

QStringList TopLevelTexts(QTreeWidget* tree) {
    QStringList texts;
    for (int i = 0; i < tree->topLevelItemCount(); ++i) {
        if (!tree->topLevelItem(i)->isHidden()) texts << tree->topLevelItem(i)->text(0);
    }
    return texts;
}

QByteArray Payload(const MacroListWindow& window, const QTreeWidgetItem* item) {
    const auto mime = window.DragMime(item);
    return mime ? mime->data(qvm::ui::kFunctionMimeType) : QByteArray();
}

}  // namespace

class MacroListTest : public QObject {
    Q_OBJECT

  private:
    QTemporaryDir temp_;
    QString program_;
    QString library_;

  private slots:
    void initTestCase() {
        QVERIFY(temp_.isValid());
        qputenv("QVM_USER_DIR", temp_.filePath("user").toUtf8());
        qvm::ui::skin::ApplySkin(*qApp);
        program_ = temp_.filePath("program");
        WriteText(program_ + "/bulitin.ini", kBuiltin);
        WriteText(program_ + "/library/office.ini", kLibrary);
    }

    void init() {
        library_ = temp_.filePath("user/Favorite");
        QDir(library_).removeRecursively();
        WriteMacro(library_ + "/1.mf", "Reload");
        WriteMacro(library_ + "/Shooters/2.mf", "Jump shot");
    }

    void listsTheShippedGroupsTheDeviceAndTheLibrary() {
        MacroListWindow window(QVM_SOURCE_DATA_DIR, library_.toStdString());
        const auto& msg = qvm::Ui().msg_str;
        const auto& cls = qvm::Ui().class_str;
        const QStringList groups = {QString::fromStdString(cls[2]), QString::fromStdString(cls[0]),
                                    QString::fromStdString(cls[1]), "Consumer", "Office shortcuts"};
        const QStringList withoutDevice = groups + QStringList{QString::fromStdString(msg[31])};
        QCOMPARE(TopLevelTexts(window.Tree()), withoutDevice);
        for (const QString& group : groups) {
            QVERIFY2(Row(window.Tree(), {group})->childCount() > 0, qPrintable(group));
        }

        MacroSlots stored{};
        stored[4] = Stored("Burst", 0x0300, 8);
        window.SetMacroSlots(stored);
        const QStringList withDevice =
            groups + QStringList{QString::fromStdString(msg[33]), QString::fromStdString(msg[31])};
        QCOMPARE(TopLevelTexts(window.Tree()), withDevice);

        const QString pc = QString::fromStdString(msg[31]);
        QTreeWidgetItem* folder = Row(window.Tree(), {pc, "Shooters"});
        QVERIFY(folder);
        QCOMPARE(MacroListWindow::KindOf(folder), Kind::LibraryFolder);
        QCOMPARE(MacroListWindow::KindOf(Row(window.Tree(), {pc, "Shooters", "Jump shot"})),
                 Kind::LibraryMacro);
        QCOMPARE(MacroListWindow::KindOf(Row(window.Tree(), {pc, "Reload"})), Kind::LibraryMacro);
    }

    void functionRowsCarryTheirFourBytes_data() {
        QTest::addColumn<QStringList>("path");
        QTest::addColumn<QByteArray>("payload");  // four code bytes, then the name in UTF-8
        QTest::newRow("advanced") << QStringList{"Advanced", "DPI+"}
                                  << QByteArray(
                                         "\x0C\x00\x00\x00"
                                         "DPI+",
                                         8);
        QTest::newRow("mouse") << QStringList{"Mouse", "Back"}
                               << QByteArray(
                                      "\x04\x08\x00\x00"
                                      "Back",
                                      8);
        QTest::newRow("consumer") << QStringList{"Consumer", "Mute"}
                                  << QByteArray(
                                         "\x06\xE2\x00\x00"
                                         "Mute",
                                         8);
        QTest::newRow("keyboard, high operands") << QStringList{"Keyboard", "Ctrl+AltGr"}
                                                 << QByteArray(
                                                        "\x05\x41\xE6\x81"
                                                        "Ctrl+AltGr",
                                                        14);
        QTest::newRow("library file") << QStringList{"Office shortcuts", "Bold"}
                                      << QByteArray(
                                             "\x05\x01\x05\x00"
                                             "Bold",
                                             8);
    }

    void functionRowsCarryTheirFourBytes() {
        QFETCH(QStringList, path);
        QFETCH(QByteArray, payload);
        MacroListWindow window(program_.toStdString(), library_.toStdString());
        QTreeWidgetItem* item = Row(window.Tree(), path);
        QVERIFY(item);
        QVERIFY(item->flags().testFlag(Qt::ItemIsDragEnabled));
        QCOMPARE(Payload(window, item), payload);
        // What the main window reads back on a drop.
        const auto mime = window.DragMime(item);
        const auto read = qvm::ui::ReadFunctionMime(mime.get());
        QVERIFY(read);
        QCOMPARE(read->name, path.last());
    }

    void headingsAndFoldersAreNotDragged() {
        MacroListWindow window(program_.toStdString(), library_.toStdString());
        const QString pc = QString::fromStdString(qvm::Ui().msg_str[31]);
        for (const QStringList& path :
             {QStringList{"Mouse"}, QStringList{pc}, QStringList{pc, "Shooters"}}) {
            QTreeWidgetItem* item = Row(window.Tree(), path);
            QVERIFY2(item, qPrintable(path.join('/')));
            QVERIFY(!item->flags().testFlag(Qt::ItemIsDragEnabled));
            QVERIFY(window.DragMime(item) == nullptr);
        }
    }

    void aLibraryMacroDragsAsTheSlotOfItsName_data() {
        QTest::addColumn<QList<int>>("slotIndex");
        QTest::addColumn<QStringList>("slotName");
        QTest::addColumn<QList<int>>("slotCode");
        QTest::addColumn<QList<int>>("slotMode");
        QTest::addColumn<QByteArray>("payload");  // empty: not draggable
        QTest::addColumn<QString>("slotText");

        QTest::newRow("no device") << QList<int>{} << QStringList{} << QList<int>{} << QList<int>{}
                                   << QByteArray() << QString();
        QTest::newRow("other names only")
            << QList<int>{0, 1} << QStringList{"Jump", "jump shot"} << QList<int>{0x0100, 0x0200}
            << QList<int>{8, 8} << QByteArray() << QString();
        QTest::newRow("loop mode, high address")
            << QList<int>{6} << QStringList{"Jump shot"} << QList<int>{0x1A2B} << QList<int>{9}
            << QByteArray(
                   "\x09\x2B\x1A\x00"
                   "Jump shot",
                   13)
            << "slot 7";
        QTest::newRow("two slots: the lowest")
            << QList<int>{40, 3} << QStringList{"Jump shot", "Jump shot"}
            << QList<int>{0x0F80, 0x00C1} << QList<int>{10, 8}
            << QByteArray(
                   "\x08\xC1\x00\x00"
                   "Jump shot",
                   13)
            << "slot 4";
    }

    void aLibraryMacroDragsAsTheSlotOfItsName() {
        QFETCH(QList<int>, slotIndex);
        QFETCH(QStringList, slotName);
        QFETCH(QList<int>, slotCode);
        QFETCH(QList<int>, slotMode);
        QFETCH(QByteArray, payload);
        QFETCH(QString, slotText);
        MacroListWindow window(program_.toStdString(), library_.toStdString());
        const QString pc = QString::fromStdString(qvm::Ui().msg_str[31]);
        const QStringList path{pc, "Shooters", "Jump shot"};

        MacroSlots stored{};
        for (int i = 0; i < slotIndex.size(); ++i) {
            stored[static_cast<std::size_t>(slotIndex[i])] =
                Stored(slotName[i].toStdString(), slotCode[i], slotMode[i]);
        }
        window.SetMacroSlots(stored);
        QTreeWidgetItem* item = Row(window.Tree(), path);
        QVERIFY(item);
        QCOMPARE(Payload(window, item), payload);
        QCOMPARE(item->flags().testFlag(Qt::ItemIsDragEnabled), !payload.isEmpty());
        QCOMPARE(item->text(1), slotText);
        QVERIFY(!item->toolTip(0).isEmpty());

        // The device goes away: the same row is greyed again.
        window.SetMacroSlots(MacroSlots{});
        item = Row(window.Tree(), path);
        QVERIFY(window.DragMime(item) == nullptr);
        QVERIFY(!item->flags().testFlag(Qt::ItemIsDragEnabled));
    }

    void deviceMacrosDragAsTheirSlot() {
        MacroListWindow window(program_.toStdString(), library_.toStdString());
        MacroSlots stored{};
        stored[79] = Stored("Last", 0xFFE0, 10);
        window.SetMacroSlots(stored);
        QTreeWidgetItem* item =
            Row(window.Tree(), {QString::fromStdString(qvm::Ui().msg_str[33]), "Last"});
        QVERIFY(item);
        QCOMPARE(MacroListWindow::KindOf(item), Kind::DeviceMacro);
        QCOMPARE(item->text(1), QString("slot 80"));
        QCOMPARE(Payload(window, item), QByteArray("\x0A\xE0\xFF\x00"
                                                   "Last",
                                                   8));
    }

    void aDamagedSlotIsReportedNotListed() {
        MacroListWindow window(program_.toStdString(), library_.toStdString());
        MacroSlots stored{};
        stored[0] = Stored("Kept", 0x0550, 8);
        stored[3].damaged = qvm::JudgeIndexEntry(0xFFF0, 0x40, 0x550, 0xFFFF);
        window.SetMacroSlots(stored);
        const QString memory = QString::fromStdString(qvm::Ui().msg_str[33]);
        QVERIFY(Row(window.Tree(), {memory, "Kept"}));
        QCOMPARE(Row(window.Tree(), {memory})->childCount(), 1);
        QVERIFY2(window.StatusText().contains("macro slot 4 is damaged"),
                 qPrintable(window.StatusText()));

        window.SetMacroSlots(MacroSlots{});
        QVERIFY(window.StatusText().isEmpty());
    }

    void reloadFindsNewFilesKeepsOpenBranchesAndReportsBadOnes() {
        MacroListWindow window(program_.toStdString(), library_.toStdString());
        const QString pc = QString::fromStdString(qvm::Ui().msg_str[31]);
        Row(window.Tree(), {"Mouse"})->setExpanded(true);
        Row(window.Tree(), {pc, "Shooters"})->setExpanded(false);
        QVERIFY(window.StatusText().isEmpty());

        WriteMacro(library_ + "/Shooters/3.mf", "Crouch");
        QByteArray wrongMagic("\xFF\xFE\xFF\x09", 4);
        wrongMagic += QByteArray("_\0@\0_\0M\0F\0\x39\0.\0\x39\0_\0", 18) + QByteArray(16, '\0');
        QFile bad(library_ + "/bad.mf");
        QVERIFY(bad.open(QIODevice::WriteOnly));
        bad.write(wrongMagic);
        bad.close();

        window.Reload();
        QVERIFY(Row(window.Tree(), {pc, "Shooters", "Crouch"}));
        QVERIFY(Row(window.Tree(), {"Mouse"})->isExpanded());
        QVERIFY(!Row(window.Tree(), {pc, "Shooters"})->isExpanded());
        QVERIFY(Row(window.Tree(), {pc})->isExpanded());
        QVERIFY2(window.StatusText().contains(QString::fromStdString(qvm::Ui().msg_str[20])),
                 qPrintable(window.StatusText()));
        QVERIFY(window.StatusText().contains("bad.mf"));
    }

    void screenshot() {
        MacroListWindow window(QVM_SOURCE_DATA_DIR, library_.toStdString());
        MacroSlots stored{};
        stored[0] = Stored("Reload", 0x0240, 8);
        stored[1] = Stored("Burst fire", 0x0300, 10);
        window.SetMacroSlots(stored);
        Row(window.Tree(), {"Mouse"})->setExpanded(true);
        const QString pc = QString::fromStdString(qvm::Ui().msg_str[31]);
        Row(window.Tree(), {pc, "Shooters"})->setExpanded(true);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        QVERIFY(window.width() >= 300 && window.height() >= 560);
        QDir().mkpath(QVM_SCREENSHOT_DIR);
        QVERIFY(window.grab().save(QString(QVM_SCREENSHOT_DIR) + "/macro_list.png"));
    }
};

QTEST_MAIN(MacroListTest)
#include "macro_list_test.moc"
