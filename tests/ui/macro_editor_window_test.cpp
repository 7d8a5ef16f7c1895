// The macro editor window: what it adds to its model (commands, keys and drags wired to it,
// transfers on the device's worker that leave it responsive, its questions), screenshots.
#include <QApplication>
#include <QCheckBox>
#include <QDragEnterEvent>
#include <QMimeData>
#include <QTreeWidgetItem>
#include <QtTest>
#include <deque>
#include <functional>
#include <future>

#include "config/config_image.h"
#include "lang/ui_strings.h"
#include "macro/macro_edit.h"
#include "macro/macro_file.h"
#include "macro/macro_memory.h"
#include "support/fake_clock.h"
#include "ui/button_page.h"
#include "ui/button_settings_dialog.h"
#include "ui/confirm.h"
#include "ui/macro_edit_area.h"
#include "ui/macro_editor_list.h"
#include "ui/macro_editor_window.h"
#include "ui/macro_list_window.h"
#include "ui/macro_recording.h"
#include "ui/skin.h"
#include "ui/text_entry_dialog.h"
#include "ui_rig.h"

using namespace qvm;
using namespace qvm::ui;
using qvm::test::FakeClock;
using qvm::test::UiRig;

namespace {

using Bytes = std::vector<uint8_t>;
// An answer fills in the question it is given; an empty one cancels.
using Fill = std::function<void(TextEntryRequest&)>;

constexpr int kTransferTimeoutMs = 20000;

// Answers the window's questions in turn (cancelling once they run out), keeping them.
struct Questions {
    std::deque<Fill> answers;
    std::vector<TextEntryRequest> asked;
    TextEntryHook previous = SetTextEntryHook([this](const TextEntryRequest& q) {
        asked.push_back(q);
        std::optional<TextEntryRequest> answer;
        if (answers.empty()) return answer;
        if (answers.front()) answers.front()(answer.emplace(q));
        answers.pop_front();
        return answer;
    });
    ~Questions() { SetTextEntryHook(previous); }
};

Fill Typed(std::string text) {
    return [text](TextEntryRequest& q) { q.text = text; };
}
Fill Moved(int x, int y, bool absolute) {
    return
        [=](TextEntryRequest& q) { std::tie(q.x, q.y, q.absolute) = std::tuple(x, y, absolute); };
}
const Fill kOk = [](TextEntryRequest&) {};
const Fill kCancel;
const Fill kThird = [](TextEntryRequest& q) { q.thirdChosen = true; };

// Failures the main window shows, kept instead of shown.
struct Messages {
    QStringList shown;
    ScopedDialogHooks hooks{nullptr,
                            [this](const QString&, const QString& text) { shown.push_back(text); }};
};

bool WaitTransfers(MacroEditorWindow& editor) {
    return QTest::qWaitFor([&] { return !editor.Model().Transferring(); }, kTransferTimeoutMs);
}

// Opens the editor from the main window; with a device, once it has read the free memory.
MacroEditorWindow* OpenEditor(UiRig& rig, bool device = true) {
    rig.Window().show();
    if (device && !rig.WaitLoaded()) return nullptr;
    UiRig::Click(rig.Window().Buttons().MacroEditorButton());
    MacroEditorWindow* editor = rig.Window().MacroEditor();
    return editor != nullptr && WaitTransfers(*editor) ? editor : nullptr;
}

// The slot's macro as the device holds it, read through the hub (not the editor).
StoredMacro ReadSlot(UiRig& rig, int slot) {
    auto read = std::make_shared<StoredMacro>();
    rig.Controller().Change(HubOperation::Refresh,
                            [read, slot](ConfigModel& model, const DeviceHub::ProgressFn&) {
                                auto got = ReadMacro(model, slot);
                                if (got) *read = std::move(*got);
                                return got ? Status() : Status(got.error());
                            });
    rig.Settle();
    return *read;
}

void Drop(QWidget* viewport, QPoint at, const QMimeData& mime) {
    QDragEnterEvent enter(at, Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(viewport, &enter);
    QDragMoveEvent move(at, Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(viewport, &move);
    QDropEvent drop(QPointF(at), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(viewport, &drop);
}

constexpr int kXLeftCtrl = 37, kXA = 38, kXC = 54, kXV = 55;  // X keycodes: evdev + 8

void SendKey(QWidget* to, int keycode, bool down) {
    QKeyEvent event(down ? QEvent::KeyPress : QEvent::KeyRelease, Qt::Key_unknown, Qt::NoModifier,
                    quint32(keycode), 0, 0, {}, false);
    QApplication::sendEvent(to, &event);
}

}  // namespace

class MacroEditorWindowTest : public QObject {
    Q_OBJECT

  private slots:
    void initTestCase() {
        skin::CreateSharedFonts();
        skin::ApplySkin(*qApp);
    }

    // Made with the window's commands, stored in a new slot, read back from the device:
    // d insert delay, m move to (1000, -2) absolute, r move by (-5, 300), w double-click
    // row 0 and type 300, c cycle the mode (to loop).
    void storedMacroReachesTheSlot() {
        const Bytes expected{0x89, 0x2C, 0x01, 0xC0, 0xE8, 0x03, 0xFE,
                             0xFF, 0x80, 0xFB, 0xFF, 0x2C, 0x01};
        UiRig rig;
        Messages messages;
        MacroEditorWindow* editor = OpenEditor(rig);
        QVERIFY(editor != nullptr);
        Questions q{{Moved(1000, -2, true), Moved(-5, 300, false), Typed("300"), Typed("made")}};
        for (const QChar c : QStringLiteral("dmrwc")) {
            if (c == 'd') UiRig::Click(editor->Command("insertDelay"));
            if (c == 'c') UiRig::Click(editor->ModeButton());
            if (c == 'w')
                QTest::mouseDClick(editor->Area().viewport(), Qt::LeftButton, {}, {40, 5});
            if (c == 'm' || c == 'r') UiRig::Click(editor->Command("insertMove"));
        }
        UiRig::Click(editor->Command("storeNew"));
        QVERIFY(WaitTransfers(*editor));
        QVERIFY(q.answers.empty());
        const StoredMacro stored = ReadSlot(rig, 0);
        QCOMPARE(EncodeMacroCode(stored.items), expected);
        QCOMPARE(stored.name, std::string("made"));
        QCOMPARE(stored.mode, kMacroModeLoop);
        QCOMPARE(editor->List().SlotRow(0)->text(0), QStringLiteral("made"));
        QCOMPARE(messages.shown, QStringList());
    }

    // While the device's worker is held up the store waits, and the window keeps handling
    // events, draws its progress box and finishes when the worker is free.
    void transferLeavesTheWindowResponsive() {
        UiRig rig;
        MacroEditorWindow* editor = OpenEditor(rig);
        QVERIFY(editor != nullptr);
        rig.Screenshot(editor, "macro_editor_empty.png");
        QCOMPARE(editor->List().topLevelItem(0)->childCount(), kMacroSlotCount);
        UiRig::Click(editor->Command("insertDelay"));

        std::promise<void> gate;
        std::shared_future<void> open = gate.get_future().share();
        rig.Controller().Change(HubOperation::KeyCycleList,
                                [open](ConfigModel&, const DeviceHub::ProgressFn&) {
                                    open.wait();
                                    return Status();
                                });
        Questions q{{Typed("slow")}};
        UiRig::Click(editor->Command("storeNew"));
        QVERIFY(editor->Model().Transferring() && editor->OverlayShown());
        bool timerRan = false;
        QTimer::singleShot(0, editor, [&] { timerRan = true; });
        QTest::qWait(50);
        QVERIFY(timerRan && editor->Model().Transferring());
        rig.Screenshot(editor, "macro_editor_transfer.png");

        gate.set_value();
        QVERIFY(WaitTransfers(*editor));
        rig.Settle();
        QVERIFY(!editor->OverlayShown());
        const StoredMacro stored = ReadSlot(rig, 0);
        QCOMPARE(stored.name, std::string("slow"));
        QCOMPARE(EncodeMacroCode(stored.items), (Bytes{0x88, 0x01}));

        // Losing the device ends a recording; nothing stays grabbed.
        UiRig::Click(editor->Command("record"));
        QVERIFY(editor->Recording().Active());
        rig.Device().Detach();
        rig.Controller().HandleDeviceEvents();
        QTRY_VERIFY_WITH_TIMEOUT(!editor->Recording().Active(), kTransferTimeoutMs);
        QVERIFY(!editor->Recording().KeyboardGrabbed() && !editor->Model().Recording());
    }

    // Drags between the edit area and the list: the edited macro dropped on an empty slot
    // asks for a name; on a used one it asks before overwriting (cancelled, the device is
    // left alone; confirmed, the slot keeps its name); a slot dropped on a modified macro
    // asks whether to save (cancelled, the edit stays; discarded, the slot is loaded).
    void dragsStoreAndLoad() {
        UiRig rig;
        Messages messages;
        MacroEditorWindow* editor = OpenEditor(rig);
        QVERIFY(editor != nullptr);
        MacroEditorList& list = editor->List();
        constexpr int kSlot = 3;
        const auto dropOnSlot = [&] {
            list.scrollToItem(list.SlotRow(kSlot));
            Drop(list.viewport(), list.visualItemRect(list.SlotRow(kSlot)).center(),
                 *editor->Area().DragMime());
            return WaitTransfers(*editor);
        };
        const auto dropOnArea = [&] {
            Drop(editor->Area().viewport(), QPoint(20, 20), *list.DragMime(list.SlotRow(kSlot)));
            return WaitTransfers(*editor);
        };
        const auto slotBytes = [&] { return EncodeMacroCode(ReadSlot(rig, kSlot).items); };
        Questions q{{Typed("dropped"), kCancel, kOk, kCancel, kThird}};

        UiRig::Click(editor->Command("insertDelay"));
        UiRig::Click(editor->Command("insertDelay"));
        QVERIFY(dropOnSlot());
        QCOMPARE(slotBytes(), (Bytes{0x88, 0x01, 0x88, 0x01}));
        QVERIFY(editor->Model().SetWait(0, 700).ok());
        QVERIFY(editor->Model().SetName("").ok());
        QVERIFY(dropOnSlot());
        QCOMPARE(q.asked.size(), std::size_t{2});
        QCOMPARE(QString::fromStdString(q.asked[1].text),
                 QString::fromStdString(Ui().msg_str[30]).replace("%s", "dropped"));
        QCOMPARE(slotBytes(), (Bytes{0x88, 0x01, 0x88, 0x01}));
        QVERIFY(dropOnSlot());
        const Bytes stored{0x89, 0xBC, 0x02, 0x88, 0x01};
        QCOMPARE(slotBytes(), stored);
        QCOMPARE(ReadSlot(rig, kSlot).name, std::string("dropped"));

        QVERIFY(list.DragMime(list.SlotRow(kSlot - 1)) == nullptr);  // empty: no drag
        UiRig::Click(editor->Command("insertDelay"));
        const Bytes edited = EncodeMacroCode(editor->Model().Items());
        QVERIFY(dropOnArea());
        QVERIFY(q.asked[3].threeChoices);
        QCOMPARE(EncodeMacroCode(editor->Model().Items()), edited);
        QVERIFY(editor->Model().Modified());
        QVERIFY(dropOnArea());
        QCOMPARE(EncodeMacroCode(editor->Model().Items()), stored);
        QVERIFY(!editor->Model().Modified());
        QCOMPARE(messages.shown, QStringList());
    }

    // Each editing key of the edit area at least once, on waits of 1, 2, 3 ms, cursor at end.
    void keys_data() {
        QTest::addColumn<QStringList>("keys");
        QTest::addColumn<Bytes>("expected");
        QTest::newRow("select all, copy, paste at end")
            << QStringList{"Ctrl+A", "Ctrl+C", "Down", "Ctrl+V"} << Bytes{1, 2, 3, 1, 2, 3};
        QTest::newRow("shift-up selects two, cut, paste at start")
            << QStringList{"Shift+Up", "Shift+Up", "Ctrl+X", "Up", "Ctrl+V"} << Bytes{2, 3, 1};
        QTest::newRow("delete, undo, redo")
            << QStringList{"Up", "Del", "Ctrl+Z", "Ctrl+Shift+Z"} << Bytes{1, 2};
    }
    void keys() {
        QFETCH(QStringList, keys);
        QFETCH(Bytes, expected);
        UiRig rig("");
        MacroEditorWindow* editor = OpenEditor(rig, false);
        QVERIFY(editor != nullptr);
        editor->Model().InsertCaptured(
            std::vector{MakeWaitItem(1), MakeWaitItem(2), MakeWaitItem(3)});
        for (const QString& key : keys) QTest::keySequence(&editor->Area(), QKeySequence(key));
        Bytes waits;
        for (uint8_t ms : expected) waits.insert(waits.end(), {0x88, ms});
        QCOMPARE(EncodeMacroCode(editor->Model().Items()), waits);
    }

    // "Ctrl+C, 300 ms, Ctrl+V" typed while recording (the program's own window is the
    // input here) becomes items, the wait is lowered with the arrow, and the slot holds
    // exactly those bytes. Keys after Stop are not recorded.
    void recordedMacroReachesTheSlot() {
        UiRig rig;
        Messages messages;
        rig.Window().show();
        QVERIFY(rig.WaitLoaded());
        FakeClock clock;
        MacroEditorWindow editor(rig.Controller(), {rig.Folder() + "/Favorite", &clock});
        editor.ShowBeside(nullptr);
        QVERIFY(WaitTransfers(editor));

        UiRig::Click(editor.Command("record"));
        QVERIFY(editor.Recording().Active());
        QWidget* typed = editor.Area().viewport();
        for (const int key : {kXC, kXV}) {  // Ctrl+key, 10 ms between edges, 300 ms after
            for (const auto& [code, down] :
                 {std::pair(kXLeftCtrl, true), {key, true}, {key, false}, {kXLeftCtrl, false}}) {
                SendKey(typed, code, down);
                clock.SleepMs(code == kXLeftCtrl && !down ? 300 : 10);
            }
        }
        UiRig::Click(editor.Command("stop"));  // the mouse stays free while recording
        QVERIFY(!editor.Recording().Active());
        SendKey(typed, kXC, true);  // after Stop: the area's, not the recorder's
        SendKey(typed, kXC, false);
        rig.Screenshot(&editor, "macro_editor_recorded.png");
        Bytes expected{0x83, 0xE0, 0x88, 0x0A, 0x83, 0x06, 0x88, 0x0A, 0x84, 0x06, 0x88,
                       0x0A, 0x84, 0xE0, 0x89, 0x2C, 0x01, 0x83, 0xE0, 0x88, 0x0A, 0x83,
                       0x19, 0x88, 0x0A, 0x84, 0x19, 0x88, 0x0A, 0x84, 0xE0};
        QCOMPARE(EncodeMacroCode(editor.Model().Items()), expected);

        // The 300 ms wait is item 7: the down arrow makes it 299 at once.
        QTest::mouseClick(editor.Area().viewport(), Qt::LeftButton, {},
                          QPoint(40, 7 * MacroEditArea::kRowHeight + 5));
        QCOMPARE(editor.Model().Cursor(), 7);
        QTest::mouseClick(editor.Command("delayDown"), Qt::LeftButton);
        expected[15] = 0x2B;

        Questions q{{Typed("copy paste")}};
        UiRig::Click(editor.Command("storeNew"));
        QVERIFY(WaitTransfers(editor));
        rig.Settle();
        const StoredMacro stored = ReadSlot(rig, 0);
        QCOMPARE(stored.name, std::string("copy paste"));
        QCOMPARE(EncodeMacroCode(stored.items), expected);
        QCOMPARE(messages.shown, QStringList());

        // Hiding the editor ends a new recording; nothing stays grabbed.
        UiRig::Click(editor.Command("record"));
        editor.hide();
        QTRY_VERIFY_WITH_TIMEOUT(!editor.Recording().Active(), kTransferTimeoutMs);
        QVERIFY(!editor.Recording().KeyboardGrabbed() && editor.Command("record")->isEnabled());
    }

    // The capture command takes one click or key and inserts it at the cursor; neither the
    // release of a click on the command nor the Space that pressed it is taken.
    void captureInsertsAtTheCursor() {
        UiRig rig("");
        MacroEditorWindow* editor = OpenEditor(rig, false);
        QVERIFY(editor != nullptr);
        editor->Model().InsertCaptured(std::vector{MakeWaitItem(1), MakeWaitItem(1)});
        editor->Model().MoveCursor(-1, false);
        QPushButton* capture = editor->Command("insertCapture");
        QWidget* view = editor->Area().viewport();
        capture->setFocus();
        QTest::keyClick(capture, Qt::Key_Space);
        QVERIFY(editor->Recording().Active());
        SendKey(view, kXA, true);
        SendKey(view, kXA, false);
        QTRY_VERIFY_WITH_TIMEOUT(!editor->Recording().Active(), kTransferTimeoutMs);
        UiRig::Click(capture);
        QVERIFY(editor->Recording().Active());
        QTest::mouseClick(view, Qt::LeftButton, {}, QPoint(30, 100));
        QTRY_VERIFY_WITH_TIMEOUT(!editor->Recording().Active(), kTransferTimeoutMs);
        QCOMPARE(EncodeMacroCode(editor->Model().Items()),
                 (Bytes{0x88, 0x01, 0x83, 0x04, 0x84, 0x04, 0x21, 0x41, 0x88, 0x01}));
    }

    // Without a device a store is refused with a message the user sees and nothing half
    // done, while the macro library works: a new folder, the edited macro dropped on it
    // becomes a file there with exactly its items (the main window's macro list shows it),
    // and deleting the file removes it. Opened again after closing, the editor is the same
    // window with its macro kept.
    void withoutADevice() {
        UiRig rig("");
        Messages messages;
        MacroEditorWindow* editor = OpenEditor(rig, false);
        QVERIFY(editor != nullptr);
        rig.Screenshot(editor, "macro_editor_no_device.png");
        QCOMPARE(editor->List().topLevelItem(0)->childCount(), 1);  // "No device !!"
        editor->Model().InsertDelay();
        QVERIFY(editor->Model().SetWait(0, 1234).ok());
        UiRig::Click(editor->Command("storeNew"));
        QTRY_COMPARE_WITH_TIMEOUT(messages.shown.size(), 1, kTransferTimeoutMs);
        const QString noDevice = QString::fromStdString(Ui().msg_str[10]);
        QVERIFY(messages.shown[0].contains(noDevice));
        QVERIFY(editor->StatusText().contains(noDevice));
        QVERIFY(!editor->Model().Transferring() && !editor->OverlayShown());
        QVERIFY(editor->Model().Modified());

        MacroEditorList& list = editor->List();
        const auto row = [&](const QString& name) {
            const auto found = list.findItems(name, Qt::MatchExactly | Qt::MatchRecursive);
            return found.isEmpty() ? nullptr : found.first();
        };
        Questions q{{Typed("Work"), Typed("in folder"), kOk}};
        list.setCurrentItem(list.LibraryHeading());
        UiRig::Click(editor->Command("newFolder"));
        QTreeWidgetItem* folder = row("Work");
        QVERIFY(folder != nullptr);
        list.expandItem(folder);
        Drop(list.viewport(), list.visualItemRect(folder).center(), *editor->Area().DragMime());
        QVERIFY(row("in folder") != nullptr);
        const std::string path = MacroEditorList::TargetOf(row("in folder")).path;
        QVERIFY(QString::fromStdString(path).contains("/Work/"));
        const MacroFile file = ReadMacroFile(path).value();  // throws: fails the test
        QCOMPARE(EncodeMacroCode(file.items), (Bytes{0x89, 0xD2, 0x04}));
        QCOMPARE(file.name, std::string("in folder"));
        QVERIFY(!editor->Model().Modified());
        QVERIFY(
            !rig.Window().MacroList().Tree()->findItems("in folder", Qt::MatchRecursive).isEmpty());
        list.setCurrentItem(row("in folder"));
        UiRig::Click(editor->Command("deleteEntry"));
        QCOMPARE(q.asked.size(), std::size_t{3});
        QVERIFY(!QFile::exists(QString::fromStdString(path)));
        QCOMPARE(row("in folder"), nullptr);

        editor->close();
        UiRig::Click(rig.Window().Buttons().MacroEditorButton());
        QCOMPARE(rig.Window().MacroEditor(), editor);
        QVERIFY(editor->isVisible());
        QCOMPARE(EncodeMacroCode(editor->Model().Items()), (Bytes{0x89, 0xD2, 0x04}));
        QCOMPARE(rig.Window().findChildren<MacroEditorWindow*>().size(), 1);
        QCOMPARE(messages.shown.size(), 1);
    }

    // "Macro edit" on the settings dialog of a button that runs a stored macro opens the
    // editor; the dialog's "Record intervals" is the editor's, both ways, whether the
    // editor exists yet or not.
    void opensFromTheSettingsDialogSharingRecordIntervals() {
        UiRig rig;
        rig.Window().show();
        QVERIFY(rig.WaitLoaded());
        rig.Controller().Change(
            HubOperation::Macro, [](ConfigModel& model, const DeviceHub::ProgressFn&) {
                return StoreMacro(model, 0, kMacroModeOnce, "m", std::vector{MakeWaitItem(5)});
            });
        rig.Settle();
        const MacroSlot stored = rig.Controller().View().image->macros[0];
        constexpr int kButton = 3;
        rig.Controller().Change(
            HubOperation::AssignButton,
            Setter(&ConfigModel::AssignSlot, 0, kButton, MacroSlotFunction(stored)));
        rig.Settle();
        ButtonPage& page = rig.Window().Buttons();
        int position = 0;
        while (position < 32 && page.ButtonAt(position) != kButton) ++position;
        QVERIFY(position < 32);
        const auto onDialog = [](std::function<void(ButtonSettingsDialog&)> act) {
            QTimer::singleShot(0, [act] {
                auto* dialog =
                    qobject_cast<ButtonSettingsDialog*>(QApplication::activeModalWidget());
                if (dialog != nullptr) act(*dialog);
            });
        };

        // Before the editor exists: the option is checked in the dialog; unchecked, then
        // "Macro edit".
        bool shown = false;
        onDialog([&](ButtonSettingsDialog& dialog) {
            shown = dialog.ShownEditor() == OperandEditor::Macro &&
                    dialog.RecordIntervalsBox()->isVisibleTo(&dialog) &&
                    dialog.RecordIntervalsBox()->isChecked();
            dialog.RecordIntervalsBox()->setChecked(false);
            dialog.MacroEditorButton()->click();
        });
        page.OpenSettings(position);
        QVERIFY(shown);
        MacroEditorWindow* editor = rig.Window().MacroEditor();
        QVERIFY(editor != nullptr && editor->isVisible() && !editor->Model().Options().intervals);
        // Nothing was assigned: the dialog closed for the editor, not with OK.
        QCOMPARE(rig.Controller().View().image->buttons[0][kButton].slot.Bytes(),
                 MacroSlotFunction(stored).Bytes());

        // Checked in the editor, the dialog shows it checked.
        editor->SetRecordIntervals(true);
        bool checked = false;
        onDialog([&](ButtonSettingsDialog& dialog) {
            checked = dialog.RecordIntervalsBox()->isChecked();
            dialog.reject();
        });
        page.OpenSettings(position);
        QVERIFY(checked);
    }
};

QTEST_MAIN(MacroEditorWindowTest)
#include "macro_editor_window_test.moc"
