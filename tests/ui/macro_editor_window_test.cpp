// The macro editor window on a simulated mouse: macros made in the window reach the
// device slot byte for byte, transfers leave the window responsive, drags between the
// edit area and the list store and load, the editing keys, and the editor made once.
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
using Answer = std::function<std::optional<TextEntryRequest>(const TextEntryRequest&)>;

constexpr int kTransferTimeoutMs = 20000;

// Answers the window's questions in turn and keeps what was asked.
class Questions {
  public:
    explicit Questions(std::deque<Answer> answers) : answers_(std::move(answers)) {
        previous_ = SetTextEntryHook([this](const TextEntryRequest& q) {
            asked_.push_back(q);
            if (answers_.empty()) return std::optional<TextEntryRequest>();
            Answer next = std::move(answers_.front());
            answers_.pop_front();
            return next(q);
        });
    }
    ~Questions() { SetTextEntryHook(previous_); }
    Questions(const Questions&) = delete;
    Questions& operator=(const Questions&) = delete;
    const std::vector<TextEntryRequest>& Asked() const { return asked_; }
    bool AllUsed() const { return answers_.empty(); }

  private:
    std::deque<Answer> answers_;
    std::vector<TextEntryRequest> asked_;
    TextEntryHook previous_;
};

Answer Typed(std::string text) {
    return [text](const TextEntryRequest& q) {
        TextEntryRequest filled = q;
        filled.text = text;
        return std::optional<TextEntryRequest>(filled);
    };
}
Answer Ok() {
    return [](const TextEntryRequest& q) { return std::optional<TextEntryRequest>(q); };
}
Answer Third() {
    return [](const TextEntryRequest& q) {
        TextEntryRequest filled = q;
        filled.thirdChosen = true;
        return std::optional<TextEntryRequest>(filled);
    };
}
Answer Cancel() {
    return [](const TextEntryRequest&) { return std::optional<TextEntryRequest>(); };
}
Answer Moved(int x, int y, bool absolute) {
    return [=](const TextEntryRequest& q) {
        TextEntryRequest filled = q;
        filled.x = x;
        filled.y = y;
        filled.absolute = absolute;
        return std::optional<TextEntryRequest>(filled);
    };
}

// Failures the main window shows, kept instead of shown.
class Messages {
  public:
    Messages() {
        previous_ =
            SetMessageHook([this](const QString&, const QString& text) { shown_.push_back(text); });
    }
    ~Messages() { SetMessageHook(previous_); }
    Messages(const Messages&) = delete;
    Messages& operator=(const Messages&) = delete;
    const QStringList& Shown() const { return shown_; }

  private:
    QStringList shown_;
    MessageHook previous_;
};

bool WaitTransfers(MacroEditorWindow& editor) {
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < kTransferTimeoutMs) {
        if (!editor.Model().Transferring()) return true;
        QTest::qWait(10);
    }
    return false;
}

MacroEditorWindow* OpenEditor(UiRig& rig) {
    rig.Window().show();
    if (!rig.WaitLoaded()) return nullptr;
    UiRig::Click(rig.Window().Buttons().MacroEditorButton());
    MacroEditorWindow* editor = rig.Window().MacroEditor();
    // Opening reads the device's free memory.
    if (editor == nullptr || !WaitTransfers(*editor)) return nullptr;
    return editor;
}

// The slot's macro as the device holds it, read through the hub (not the editor).
StoredMacro ReadSlot(UiRig& rig, int slot, Bytes& bytes) {
    auto read = std::make_shared<StoredMacro>();
    rig.Controller().Change(HubOperation::Refresh,
                            [read, slot](ConfigModel& model, const DeviceHub::ProgressFn&) {
                                auto got = ReadMacro(model, slot);
                                if (!got) return Status(got.error());
                                *read = std::move(*got);
                                return Status();
                            });
    rig.Settle();
    bytes.clear();
    for (const MacroItem& item : read->items) {
        const auto b = item.Bytes();
        bytes.insert(bytes.end(), b.begin(), b.end());
    }
    return *read;
}

void Key(QWidget* widget, Qt::Key key, Qt::KeyboardModifiers mods = Qt::NoModifier) {
    QTest::keyClick(widget, key, mods);
}

void Drop(QWidget* viewport, QPoint at, const QMimeData& mime) {
    QDragEnterEvent enter(at, Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(viewport, &enter);
    QDragMoveEvent move(at, Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(viewport, &move);
    QDropEvent drop(QPointF(at), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(viewport, &drop);
}

QPoint SlotPoint(MacroEditorList& list, int slot) {
    QTreeWidgetItem* row = list.SlotRow(slot);
    list.scrollToItem(row);
    return list.visualItemRect(row).center();
}

// X keycodes (evdev + 8).
constexpr int kXLeftCtrl = 37;
constexpr int kXA = 38;
constexpr int kXC = 54;
constexpr int kXV = 55;

void SendKey(QWidget* to, int keycode, bool down) {
    QKeyEvent event(down ? QEvent::KeyPress : QEvent::KeyRelease, Qt::Key_unknown, Qt::NoModifier,
                    static_cast<quint32>(keycode), 0, 0, QString(), false);
    QApplication::sendEvent(to, &event);
}

// The items' bytes, one after the other.
Bytes ItemBytes(const std::vector<MacroItem>& items) {
    Bytes out;
    for (const MacroItem& item : items) {
        const auto b = item.Bytes();
        out.insert(out.end(), b.begin(), b.end());
    }
    return out;
}

}  // namespace

class MacroEditorWindowTest : public QObject {
    Q_OBJECT

  private slots:
    void initTestCase() {
        skin::CreateSharedFonts();
        skin::ApplySkin(*qApp);
    }

    // Made in the window, stored in a new slot, read back from the device.
    void storedMacroReachesTheSlot_data() {
        QTest::addColumn<QString>("edits");  // one letter per command, in order
        QTest::addColumn<Bytes>("expected");
        QTest::addColumn<int>("mode");
        // d: insert delay; w: double-click row 0 -> 300 ms; m: move to (1000, -2) absolute;
        // r: move by (-5, 300); c: cycle the mode.
        QTest::newRow("two short waits") << "dd" << Bytes{0x88, 0x01, 0x88, 0x01} << 8;
        QTest::newRow("wait edited to 300 ms becomes long") << "dw" << Bytes{0x89, 0x2C, 0x01} << 8;
        QTest::newRow("absolute and relative moves, loop mode")
            << "mrc" << Bytes{0xC0, 0xE8, 0x03, 0xFE, 0xFF, 0x80, 0xFB, 0xFF, 0x2C, 0x01} << 9;
        QTest::newRow("fire key mode, empty macro") << "cc" << Bytes{} << 10;
    }
    void storedMacroReachesTheSlot() {
        QFETCH(QString, edits);
        QFETCH(Bytes, expected);
        QFETCH(int, mode);
        UiRig rig;
        Messages messages;
        MacroEditorWindow* editor = OpenEditor(rig);
        QVERIFY(editor != nullptr);
        for (QChar c : edits) {
            if (c == 'd') UiRig::Click(editor->Command("insertDelay"));
            if (c == 'c') UiRig::Click(editor->ModeButton());
            if (c == 'w') {
                Questions q({Typed("300")});
                QWidget* view = editor->Area().viewport();
                QTest::mouseDClick(view, Qt::LeftButton, {}, QPoint(40, 5));
                QVERIFY(q.AllUsed());
            }
            if (c == 'm' || c == 'r') {
                Questions q({c == 'm' ? Moved(1000, -2, true) : Moved(-5, 300, false)});
                UiRig::Click(editor->Command("insertMove"));
                QVERIFY(q.AllUsed());
            }
        }
        Questions q({Typed("made here")});
        UiRig::Click(editor->Command("storeNew"));
        QVERIFY(WaitTransfers(*editor));
        rig.Settle();
        QCOMPARE(q.Asked().size(), std::size_t{1});

        Bytes bytes;
        const StoredMacro stored = ReadSlot(rig, 0, bytes);
        QCOMPARE(bytes, expected);
        QCOMPARE(stored.name, std::string("made here"));
        QCOMPARE(stored.mode, mode);
        QVERIFY(!editor->Model().Modified());
        QVERIFY2(messages.Shown().isEmpty(), qPrintable(messages.Shown().join('\n')));
        // The list shows the slot's new name.
        QCOMPARE(editor->List().SlotRow(0)->text(0), QStringLiteral("made here"));
        QCOMPARE(editor->SizeText(), QString::fromStdString(editor->Model().SizeLabel()));
    }

    // While the device's worker is held up the store waits, and the window keeps
    // handling events, draws its progress box and finishes when the worker is free.
    void transferLeavesTheWindowResponsive() {
        UiRig rig;
        Messages messages;
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
        Questions q({Typed("slow")});
        UiRig::Click(editor->Command("storeNew"));
        QVERIFY(editor->Model().Transferring());
        QVERIFY(editor->OverlayShown());

        bool timerRan = false;
        QTimer::singleShot(0, editor, [&] { timerRan = true; });
        QTest::qWait(50);
        QVERIFY(timerRan);
        QVERIFY(editor->Model().Transferring());
        rig.Screenshot(editor, "macro_editor_transfer.png");

        gate.set_value();
        QVERIFY(WaitTransfers(*editor));
        rig.Settle();
        QVERIFY(!editor->OverlayShown());
        Bytes bytes;
        QCOMPARE(ReadSlot(rig, 0, bytes).name, std::string("slow"));
        QCOMPARE(bytes, (Bytes{0x88, 0x01}));
    }

    // The edited macro dropped on a slot: an empty slot asks for a name, a used one
    // asks before it is overwritten; cancelling leaves the device alone.
    void dropOnSlotStores_data() {
        QTest::addColumn<bool>("used");
        QTest::addColumn<bool>("confirm");
        QTest::addColumn<QString>("name");  // the slot's name afterwards; empty: unchanged
        QTest::newRow("empty slot") << false << true << "dropped";
        QTest::newRow("used slot, overwrite") << true << true << "old";
        QTest::newRow("used slot, cancelled") << true << false << "";
    }
    void dropOnSlotStores() {
        QFETCH(bool, used);
        QFETCH(bool, confirm);
        QFETCH(QString, name);
        UiRig rig;
        Messages messages;
        MacroEditorWindow* editor = OpenEditor(rig);
        QVERIFY(editor != nullptr);
        constexpr int kSlot = 3;
        if (used) {
            Questions q({Typed("old")});
            editor->Model().InsertDelay();
            emit editor->List().droppedOnList({MacroListTarget::Kind::DeviceSlot, kSlot, 0, {}});
            QVERIFY(WaitTransfers(*editor));
            rig.Settle();
            // A fresh macro with no name: the overwrite keeps the slot's name.
            editor->Model().Clear();
            QVERIFY(editor->Model().SetName("").ok());
        }
        UiRig::Click(editor->Command("insertDelay"));
        UiRig::Click(editor->Command("insertDelay"));
        Bytes before;
        if (used) ReadSlot(rig, kSlot, before);

        Questions q({used ? (confirm ? Ok() : Cancel()) : Typed("dropped")});
        const auto mime = editor->Area().DragMime();
        Drop(editor->List().viewport(), SlotPoint(editor->List(), kSlot), *mime);
        QVERIFY(WaitTransfers(*editor));
        rig.Settle();
        QCOMPARE(q.Asked().size(), std::size_t{1});
        if (used) {
            QCOMPARE(QString::fromStdString(q.Asked()[0].text),
                     QString::fromStdString(Ui().msg_str[30]).replace("%s", "old"));
        }
        Bytes after;
        const StoredMacro stored = ReadSlot(rig, kSlot, after);
        if (name.isEmpty()) {
            QCOMPARE(after, before);
        } else {
            QCOMPARE(after, (Bytes{0x88, 0x01, 0x88, 0x01}));
            QCOMPARE(QString::fromStdString(stored.name), name);
        }
        QVERIFY2(messages.Shown().isEmpty(), qPrintable(messages.Shown().join('\n')));
    }

    // A stored macro dropped on the edit area is loaded; a modified macro asks first
    // (save, cancel or discard).
    void dropOnAreaLoads_data() {
        QTest::addColumn<bool>("modified");
        QTest::addColumn<int>("answer");  // 0 none asked, 1 cancel, 2 discard
        QTest::addColumn<bool>("loaded");
        QTest::newRow("unmodified loads at once") << false << 0 << true;
        QTest::newRow("modified, cancelled keeps the edit") << true << 1 << false;
        QTest::newRow("modified, discarded loads") << true << 2 << true;
    }
    void dropOnAreaLoads() {
        QFETCH(bool, modified);
        QFETCH(int, answer);
        QFETCH(bool, loaded);
        UiRig rig;
        Messages messages;
        MacroEditorWindow* editor = OpenEditor(rig);
        QVERIFY(editor != nullptr);
        // Slot 1 holds a 700 ms wait; the editor then holds slot 2's 1 ms wait, stored.
        {
            Questions q({Typed("stored"), Typed("other")});
            editor->Model().InsertDelay();
            QVERIFY(editor->Model().SetWait(0, 700).ok());
            UiRig::Click(editor->Command("storeNew"));
            QVERIFY(WaitTransfers(*editor));
            editor->Model().Clear();
            editor->Model().InsertDelay();
            UiRig::Click(editor->Command("storeNew"));
            QVERIFY(WaitTransfers(*editor));
            rig.Settle();
            QVERIFY(q.AllUsed());
        }
        QVERIFY(!editor->Model().Modified());
        if (modified) UiRig::Click(editor->Command("insertDelay"));
        const Bytes edited = ItemBytes(editor->Model().Items());

        std::deque<Answer> answers;
        if (answer == 1) answers.push_back(Cancel());
        if (answer == 2) answers.push_back(Third());
        Questions q(std::move(answers));
        const auto mime = editor->List().DragMime(editor->List().SlotRow(0));
        QVERIFY(mime != nullptr);
        QVERIFY(editor->List().DragMime(editor->List().SlotRow(2)) == nullptr);  // empty
        Drop(editor->Area().viewport(), QPoint(20, 20), *mime);
        QVERIFY(WaitTransfers(*editor));
        rig.Settle();
        QCOMPARE(q.Asked().size(), std::size_t{answer == 0 ? 0u : 1u});
        if (answer != 0) QVERIFY(q.Asked()[0].threeChoices);
        const Bytes shown = ItemBytes(editor->Model().Items());
        QCOMPARE(shown, loaded ? (Bytes{0x89, 0xBC, 0x02}) : edited);
        QCOMPARE(editor->Model().Modified(), !loaded);
        if (loaded) QCOMPARE(editor->NameButton()->text(), QStringLiteral("stored"));
    }

    // The editing keys on the edit area. Items start as waits of 1, 2 and 3 ms with the
    // cursor at the end.
    void keys_data() {
        QTest::addColumn<QString>("keys");
        QTest::addColumn<Bytes>("expected");
        QTest::newRow("select all, copy, paste at end") << "AC V" << Bytes{1, 2, 3, 1, 2, 3};
        QTest::newRow("up twice, delete at cursor") << "uuD" << Bytes{1, 3};
        QTest::newRow("shift-up selects two, cut, paste at start") << "UUXuV" << Bytes{2, 3, 1};
        QTest::newRow("select all, delete, undo") << "ADZ" << Bytes{1, 2, 3};
        QTest::newRow("delete, undo, redo") << "uDZR" << Bytes{1, 2};
        QTest::newRow("paste with an empty clipboard does nothing") << "V" << Bytes{1, 2, 3};
    }
    void keys() {
        QFETCH(QString, keys);
        QFETCH(Bytes, expected);
        UiRig rig("");
        rig.Window().show();
        UiRig::Click(rig.Window().Buttons().MacroEditorButton());
        MacroEditorWindow* editor = rig.Window().MacroEditor();
        QVERIFY(editor != nullptr);
        for (int ms = 1; ms <= 3; ++ms) {
            editor->Model().InsertDelay();
            QVERIFY(editor->Model().SetWait(ms - 1, ms).ok());
        }
        QWidget* area = &editor->Area();
        for (QChar k : keys) {
            switch (k.toLatin1()) {
                case 'A':
                    Key(area, Qt::Key_A, Qt::ControlModifier);
                    break;
                case 'C':
                    Key(area, Qt::Key_C, Qt::ControlModifier);
                    break;
                case 'X':
                    Key(area, Qt::Key_X, Qt::ControlModifier);
                    break;
                case 'V':
                    Key(area, Qt::Key_V, Qt::ControlModifier);
                    break;
                case 'Z':
                    Key(area, Qt::Key_Z, Qt::ControlModifier);
                    break;
                case 'R':
                    Key(area, Qt::Key_Z, Qt::ControlModifier | Qt::ShiftModifier);
                    break;
                case 'D':
                    Key(area, Qt::Key_Delete);
                    break;
                case 'u':
                    Key(area, Qt::Key_Up);
                    break;
                case 'U':
                    Key(area, Qt::Key_Up, Qt::ShiftModifier);
                    break;
                case ' ':
                    Key(area, Qt::Key_Down);
                    break;
                default:
                    QFAIL("unknown key letter");
            }
        }
        Bytes waits;
        for (const MacroItem& item : editor->Model().Items()) {
            QCOMPARE(item.Bytes()[0], uint8_t{0x88});
            waits.push_back(item.Bytes()[1]);
        }
        QCOMPARE(waits, expected);
        // What the area shows follows the model: one row per item and the closing row.
        QCOMPARE(editor->SizeText(), QString::fromStdString(editor->Model().SizeLabel()));
    }

    // "Ctrl+C, 300 ms, Ctrl+V" typed while recording becomes items (the program's own
    // window is the input here), the wait is lowered with the arrow, and the slot holds
    // exactly those bytes. Keys after Stop are not recorded.
    void recordedMacroReachesTheSlot() {
        UiRig rig;
        Messages messages;
        rig.Window().show();
        QVERIFY(rig.WaitLoaded());
        FakeClock clock;
        MacroEditorContext context;
        context.libraryRoot = rig.Folder() + "/Favorite";
        context.clock = &clock;
        MacroEditorWindow editor(rig.Controller(), context);
        editor.ShowBeside(nullptr);
        QVERIFY(WaitTransfers(editor));

        UiRig::Click(editor.Command("record"));
        QVERIFY(editor.Recording().Active());
        QVERIFY(!editor.Command("record")->isEnabled());
        QWidget* typed = editor.Area().viewport();
        const auto chord = [&](int key) {
            SendKey(typed, kXLeftCtrl, true);
            clock.SleepMs(10);
            SendKey(typed, key, true);
            clock.SleepMs(10);
            SendKey(typed, key, false);
            clock.SleepMs(10);
            SendKey(typed, kXLeftCtrl, false);
        };
        chord(kXC);
        clock.SleepMs(300);
        chord(kXV);
        UiRig::Click(editor.Command("stop"));
        QVERIFY(!editor.Recording().Active());
        QVERIFY(!editor.Model().Recording());
        SendKey(typed, kXC, true);  // after Stop: the area's, not the recorder's
        SendKey(typed, kXC, false);
        rig.Screenshot(&editor, "macro_editor_recorded.png");

        const Bytes recorded{0x83, 0xE0, 0x88, 0x0A, 0x83, 0x06, 0x88, 0x0A, 0x84, 0x06, 0x88,
                             0x0A, 0x84, 0xE0, 0x89, 0x2C, 0x01, 0x83, 0xE0, 0x88, 0x0A, 0x83,
                             0x19, 0x88, 0x0A, 0x84, 0x19, 0x88, 0x0A, 0x84, 0xE0};
        QCOMPARE(ItemBytes(editor.Model().Items()), recorded);
        // One step of undo takes the whole recording away.
        QVERIFY(editor.Model().Undo());
        QVERIFY(editor.Model().Items().empty());
        QVERIFY(editor.Model().Redo());

        // The 300 ms wait is item 7: the down arrow makes it 299 at once.
        QTest::mouseClick(editor.Area().viewport(), Qt::LeftButton, {},
                          QPoint(40, 7 * MacroEditArea::kRowHeight + 5));
        QCOMPARE(editor.Model().Cursor(), 7);
        QTest::mousePress(editor.Command("delayDown"), Qt::LeftButton);
        QTest::mouseRelease(editor.Command("delayDown"), Qt::LeftButton);
        Bytes expected = recorded;
        expected[15] = 0x2B;

        Questions q({Typed("copy paste")});
        UiRig::Click(editor.Command("storeNew"));
        QVERIFY(WaitTransfers(editor));
        rig.Settle();
        Bytes bytes;
        QCOMPARE(ReadSlot(rig, 0, bytes).name, std::string("copy paste"));
        QCOMPARE(bytes, expected);
        QVERIFY2(messages.Shown().isEmpty(), qPrintable(messages.Shown().join('\n')));
    }

    // The capture command takes one key or click and inserts it at the cursor, whether
    // the command itself was clicked or pressed with a key.
    void captureInsertsAtTheCursor_data() {
        QTest::addColumn<bool>("byMouse");
        QTest::addColumn<bool>("click");  // capture a left click, else the key A
        QTest::addColumn<Bytes>("expected");
        const Bytes click{0x88, 0x01, 0x21, 0x41, 0x88, 0x01};
        const Bytes key{0x88, 0x01, 0x83, 0x04, 0x84, 0x04, 0x88, 0x01};
        QTest::newRow("clicked, then a left click") << true << true << click;
        QTest::newRow("clicked, then a key") << true << false << key;
        QTest::newRow("space on the command, then a key") << false << false << key;
        QTest::newRow("space on the command, then a left click") << false << true << click;
    }
    void captureInsertsAtTheCursor() {
        QFETCH(bool, byMouse);
        QFETCH(bool, click);
        QFETCH(Bytes, expected);
        UiRig rig("");
        rig.Window().show();
        UiRig::Click(rig.Window().Buttons().MacroEditorButton());
        MacroEditorWindow* editor = rig.Window().MacroEditor();
        QVERIFY(editor != nullptr);
        editor->Model().InsertDelay();
        editor->Model().InsertDelay();
        editor->Model().MoveCursor(-1, false);
        QPushButton* capture = editor->Command("insertCapture");
        if (byMouse) {
            UiRig::Click(capture);
        } else {
            capture->setFocus();
            QTest::keyClick(capture, Qt::Key_Space);
        }
        QVERIFY(editor->Recording().Active());
        QWidget* view = editor->Area().viewport();
        if (click) {
            QTest::mousePress(view, Qt::LeftButton, {}, QPoint(30, 100));
            QTest::mouseRelease(view, Qt::LeftButton, {}, QPoint(30, 100));
        } else {
            SendKey(view, kXA, true);
            SendKey(view, kXA, false);
        }
        QTRY_VERIFY_WITH_TIMEOUT(!editor->Recording().Active(), kTransferTimeoutMs);
        QCOMPARE(ItemBytes(editor->Model().Items()), expected);
    }

    // Storing without a device, or loading what is not a macro, is refused with a
    // message the user sees; nothing is left half done.
    void refusalsAreShown() {
        UiRig rig("");
        Messages messages;
        rig.Window().show();
        UiRig::Click(rig.Window().Buttons().MacroEditorButton());
        MacroEditorWindow* editor = rig.Window().MacroEditor();
        QVERIFY(editor != nullptr);
        editor->Model().InsertDelay();
        UiRig::Click(editor->Command("storeNew"));
        QTRY_COMPARE_WITH_TIMEOUT(messages.Shown().size(), 1, kTransferTimeoutMs);
        QVERIFY(messages.Shown()[0].contains(QString::fromStdString(Ui().msg_str[10])));
        QVERIFY(!editor->Model().Transferring());
        QVERIFY(!editor->OverlayShown());
        QVERIFY(editor->StatusText().contains(QString::fromStdString(Ui().msg_str[10])));
        QVERIFY(editor->Model().Modified());
    }

    // The macro library from the editor: a new folder, the edited macro dropped on it
    // becomes a file there with exactly the edited items, and deleting the file removes
    // it. The main window's macro list follows each change.
    void libraryCommands() {
        UiRig rig("");
        Messages messages;
        rig.Window().show();
        UiRig::Click(rig.Window().Buttons().MacroEditorButton());
        MacroEditorWindow* editor = rig.Window().MacroEditor();
        QVERIFY(editor != nullptr);
        MacroEditorList& list = editor->List();
        const auto childNamed = [](QTreeWidgetItem* parent, const QString& name) {
            for (int i = 0; parent != nullptr && i < parent->childCount(); ++i) {
                if (parent->child(i)->text(0) == name) return parent->child(i);
            }
            return static_cast<QTreeWidgetItem*>(nullptr);
        };
        const auto mainListHas = [&](const QString& name) {
            return !rig.Window().MacroList().Tree()->findItems(name, Qt::MatchRecursive).isEmpty();
        };

        {
            Questions q({Typed("Work")});
            list.setCurrentItem(list.LibraryHeading());
            UiRig::Click(editor->Command("newFolder"));
            QVERIFY(q.AllUsed());
        }
        QTreeWidgetItem* folder = childNamed(list.LibraryHeading(), "Work");
        QVERIFY(folder != nullptr);

        editor->Model().InsertDelay();
        QVERIFY(editor->Model().SetWait(0, 1234).ok());
        {
            Questions q({Typed("in folder")});
            list.expandItem(folder);
            const auto mime = editor->Area().DragMime();
            Drop(list.viewport(), list.visualItemRect(folder).center(), *mime);
            QVERIFY(q.AllUsed());
        }
        folder = childNamed(list.LibraryHeading(), "Work");
        QTreeWidgetItem* file = childNamed(folder, "in folder");
        QVERIFY(file != nullptr);
        const std::string path = MacroEditorList::TargetOf(file).path;
        QVERIFY(QString::fromStdString(path).contains("/Work/"));
        auto read = ReadMacroFile(path);
        QVERIFY(read.ok());
        QCOMPARE(ItemBytes(read->items), (Bytes{0x89, 0xD2, 0x04}));
        QCOMPARE(read->name, std::string("in folder"));
        QVERIFY(!editor->Model().Modified());
        QVERIFY(mainListHas("in folder"));

        {
            Questions q({Ok()});
            list.setCurrentItem(file);
            UiRig::Click(editor->Command("deleteEntry"));
            QCOMPARE(q.Asked().size(), std::size_t{1});
        }
        QVERIFY(!QFile::exists(QString::fromStdString(path)));
        QCOMPARE(childNamed(childNamed(list.LibraryHeading(), "Work"), "in folder"), nullptr);
        QVERIFY(!mainListHas("in folder"));
        QVERIFY2(messages.Shown().isEmpty(), qPrintable(messages.Shown().join('\n')));
    }

    // Hiding the editor or losing the device ends a recording; nothing stays grabbed.
    void recordingEndsWithTheEditor_data() {
        QTest::addColumn<QString>("ending");
        QTest::newRow("hidden") << "hide";
        QTest::newRow("closed") << "close";
        QTest::newRow("device left") << "unplug";
    }
    void recordingEndsWithTheEditor() {
        QFETCH(QString, ending);
        UiRig rig;
        MacroEditorWindow* editor = OpenEditor(rig);
        QVERIFY(editor != nullptr);
        UiRig::Click(editor->Command("record"));
        QVERIFY(editor->Recording().Active());
        if (ending == "hide") editor->hide();
        if (ending == "close") editor->close();
        if (ending == "unplug") {
            rig.Device().Detach();
            rig.Controller().HandleDeviceEvents();
            QTRY_VERIFY_WITH_TIMEOUT(
                !rig.Controller().View().present || rig.Controller().View().away,
                kTransferTimeoutMs);
        }
        QTRY_VERIFY_WITH_TIMEOUT(!editor->Recording().Active(), kTransferTimeoutMs);
        QVERIFY(!editor->Recording().KeyboardGrabbed());
        QVERIFY(!editor->Model().Recording());
        QVERIFY(editor->Command("record")->isEnabled());
    }

    // The editor is made once: opening it again, after closing, shows the same window
    // with its macro kept.
    void editorIsMadeOnce() {
        UiRig rig("");
        rig.Window().show();
        QCOMPARE(rig.Window().MacroEditor(), nullptr);
        UiRig::Click(rig.Window().Buttons().MacroEditorButton());
        MacroEditorWindow* first = rig.Window().MacroEditor();
        QVERIFY(first != nullptr);
        QVERIFY(first->isVisible());
        rig.Screenshot(first, "macro_editor_no_device.png");
        QCOMPARE(first->List().topLevelItem(0)->childCount(), 1);  // "No device !!"
        UiRig::Click(first->Command("insertDelay"));
        first->close();
        QVERIFY(!first->isVisible());
        UiRig::Click(rig.Window().Buttons().MacroEditorButton());
        QCOMPARE(rig.Window().MacroEditor(), first);
        QVERIFY(first->isVisible());
        QCOMPARE(first->Model().Items().size(), std::size_t{1});
        QCOMPARE(rig.Window().findChildren<MacroEditorWindow*>().size(), 1);
    }

    // "Macro edit" on the settings dialog of a button that runs a stored macro opens the
    // editor; the dialog's "Record intervals" is the editor's, both ways, whether the
    // editor exists yet or not.
    void opensFromTheSettingsDialogSharingRecordIntervals() {
        UiRig rig;
        Messages messages;
        rig.Window().show();
        QVERIFY(rig.WaitLoaded());
        rig.Controller().Change(
            HubOperation::Macro, [](ConfigModel& model, const DeviceHub::ProgressFn&) {
                return StoreMacro(model, 0, kMacroModeOnce, "m", std::vector{MakeWaitItem(5)});
            });
        rig.Settle();
        const MacroSlot stored = rig.Controller().View().image->macros[0];
        QVERIFY(!stored.Empty());
        constexpr int kButton = 3;
        rig.Controller().Change(
            HubOperation::AssignButton,
            Setter(&ConfigModel::AssignSlot, 0, kButton, MacroSlotFunction(stored)));
        rig.Settle();
        ButtonPage& page = rig.Window().Buttons();
        int position = -1;
        for (int p = 0; p < 32 && position < 0; ++p) {
            if (page.ButtonAt(p) == kButton) position = p;
        }
        QVERIFY(position >= 0);

        // Before the editor exists: the option is unchecked in the dialog, then "Macro edit".
        bool shown = false;
        QTimer::singleShot(0, [&] {
            auto* dialog = qobject_cast<ButtonSettingsDialog*>(QApplication::activeModalWidget());
            if (dialog == nullptr) return;
            shown = dialog->ShownEditor() == OperandEditor::Macro &&
                    dialog->RecordIntervalsBox()->isVisibleTo(dialog) &&
                    dialog->RecordIntervalsBox()->isChecked();
            dialog->RecordIntervalsBox()->setChecked(false);
            dialog->MacroEditorButton()->click();
        });
        QCOMPARE(rig.Window().MacroEditor(), nullptr);
        page.OpenSettings(position);
        QVERIFY(shown);
        MacroEditorWindow* editor = rig.Window().MacroEditor();
        QVERIFY(editor != nullptr);
        QVERIFY(editor->isVisible());
        QVERIFY(!editor->RecordIntervals());
        QVERIFY(!editor->Model().Options().intervals);
        // Nothing was assigned: the dialog closed for the editor, not with OK.
        QCOMPARE(rig.Controller().View().image->buttons[0][kButton].slot.Bytes(),
                 MacroSlotFunction(stored).Bytes());

        // Checked in the editor, the dialog shows it checked.
        editor->SetRecordIntervals(true);
        bool checked = false;
        QTimer::singleShot(0, [&] {
            auto* dialog = qobject_cast<ButtonSettingsDialog*>(QApplication::activeModalWidget());
            if (dialog == nullptr) return;
            checked = dialog->RecordIntervalsBox()->isChecked();
            dialog->reject();
        });
        page.OpenSettings(position);
        QVERIFY(checked);
        QVERIFY2(messages.Shown().isEmpty(), qPrintable(messages.Shown().join('\n')));
    }
};

QTEST_MAIN(MacroEditorWindowTest)
#include "macro_editor_window_test.moc"
