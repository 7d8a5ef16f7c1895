// The button settings dialog driven by clicks: keys of the on-screen keyboard clicked at
// their drawn places, operand editors, the key-cycle list limit, and the four bytes
// (and key-cycle list) handed back after OK.
#include <QApplication>
#include <QDir>
#include <QKeyEvent>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QSpinBox>
#include <QTimer>
#include <QtTest>
#include <array>
#include <memory>

#include "config/catalogue.h"
#include "config/macro_slots.h"
#include "macro/function_library.h"
#include "ui/button_settings_dialog.h"
#include "ui/onscreen_keyboard.h"
#include "ui/qt_text.h"
#include "ui/skin.h"

using namespace qvm;
using namespace qvm::ui;

namespace {

constexpr int kProfile = 2;
constexpr int kPosition = 1;        // configuration slot 1: "Right click"
constexpr int kMacroSlot = 3;       // holds "Combo", stored to repeat
constexpr int kMacroCode = 0x1234;  // its code address
// Usages of the keys the tests click.
constexpr int kLeftCtrl = 0xE0;
constexpr int kLeftShift = 0xE1;
constexpr int kLeftAlt = 0xE2;
constexpr int kRightCtrl = 0xE4;

ConfigImage Image(int dpiStep) {
    ConfigImage image;
    image.loaded = true;
    image.layoutClass = LayoutClass::C;
    image.dpiStep = dpiStep;
    image.dpiStepCount = 160;
    image.macros[kMacroSlot] = {"Combo", 0x1200, kMacroCode, 60, kMacroModeLoop};
    image.buttons[kProfile][1].slot = {4, 0x02, 0, 0};
    // Two keys in the list already: Ctrl + C and F2.
    image.keyCycles[kProfile].bytes = {2, 0x01, 0x06, 0x00, 0x3B};
    return image;
}

ModelLayout Layout(int specialButton) {
    ModelLayout layout;
    layout.SpecialButtonIndex = specialButton;
    layout.ButtonCount = 12;
    for (int i = 0; i < kLayoutPositions; ++i) layout.ButtonOrder[static_cast<std::size_t>(i)] = i;
    return layout;
}

// The shipped function library, with a DPI hotkey a library file could add.
FunctionLibrary Library(int dpiStep) {
    FunctionLibrary library = BuildFunctionLibrary(QVM_SOURCE_DATA_DIR, Ui(), dpiStep);
    FunctionLibraryItem hotkey;
    hotkey.entry.name = "DPI hotkey";
    hotkey.entry.parent = kGroupAdvanced;
    hotkey.entry.type = 16;
    hotkey.entry.op1 = 8;
    hotkey.entry.op2 = 8;
    library.items.push_back(hotkey);
    return library;
}

KeyboardLayout Keyboard() {
    const KeyNaming naming{[](int usage) { return std::string(KeyName(usage)); },
                           [](int usage) { return ConsumerName(usage); }};
    return LoadKeyboardLayout(std::string(QVM_SOURCE_DATA_DIR) + "/keyboard.ini", naming);
}

std::unique_ptr<ButtonSettingsDialog> MakeDialog(int dpiStep = 50, int specialButton = -1) {
    const ConfigImage image = Image(dpiStep);
    auto model = ButtonSettingsModel::Create(image, Layout(specialButton), Library(dpiStep),
                                             kProfile, kPosition);
    if (!model) qFatal("model: %s", model.message().c_str());
    auto dialog =
        std::make_unique<ButtonSettingsDialog>(std::move(model).value(), image, Keyboard());
    dialog->show();
    if (!QTest::qWaitForWindowExposed(dialog.get())) qFatal("dialog not shown");
    return dialog;
}

void ShowClass(ButtonSettingsDialog& dialog, FunctionClass cls) {
    const auto& classes = dialog.Model().Classes();
    const auto at = std::find(classes.begin(), classes.end(), cls);
    QVERIFY(at != classes.end());
    dialog.ClassList()->setCurrentRow(static_cast<int>(at - classes.begin()));
}

void ChooseEntry(ButtonSettingsDialog& dialog, const QString& text) {
    const auto found = dialog.EntryList()->findItems(text, Qt::MatchExactly);
    QVERIFY2(!found.isEmpty(), qPrintable(text));
    dialog.EntryList()->setCurrentItem(found.front());
}

// A mouse click at the middle of the key as drawn.
void ClickKey(ButtonSettingsDialog& dialog, int usage) {
    OnscreenKeyboard* keyboard = dialog.Keyboard();
    const auto index = keyboard->FindUsage(usage);
    QVERIFY2(index.has_value(), qPrintable(QString::number(usage, 16)));
    const QRect rect = keyboard->KeyRectOnWidget(*index);
    QVERIFY(rect.width() > 4 && rect.height() > 4);
    QCOMPARE(keyboard->KeyAt(rect.center()), index);
    QTest::mouseClick(keyboard, Qt::LeftButton, {}, rect.center());
}

// A key of the computer's keyboard as xcb reports it: the X keycode (evdev + 8), Qt's
// key and its text.
struct PhysicalKey {
    quint32 xKeycode;
    Qt::Key key;
    const char* text;
};
constexpr PhysicalKey kXLeftCtrl{37, Qt::Key_Control, ""};
constexpr PhysicalKey kXC{54, Qt::Key_C, "c"};
constexpr PhysicalKey kXA{38, Qt::Key_A, "a"};
constexpr PhysicalKey kXF5{71, Qt::Key_F5, ""};
constexpr PhysicalKey kXOne{10, Qt::Key_1, "1"};
constexpr PhysicalKey kXTab{23, Qt::Key_Tab, "\t"};
constexpr PhysicalKey kXDown{116, Qt::Key_Down, ""};

// Presses the keys in order on the focused widget, then lets them go in reverse.
void PressTogether(QWidget* target, const QList<PhysicalKey>& keys) {
    Qt::KeyboardModifiers held;
    for (const PhysicalKey& k : keys) {
        if (k.key == Qt::Key_Control) held |= Qt::ControlModifier;
        QKeyEvent press(QEvent::KeyPress, k.key, held, k.xKeycode, 0, 0, QString::fromUtf8(k.text));
        QApplication::sendEvent(target, &press);
    }
    for (auto k = keys.rbegin(); k != keys.rend(); ++k) {
        QKeyEvent release(QEvent::KeyRelease, k->key, held, k->xKeycode, 0, 0,
                          QString::fromUtf8(k->text));
        QApplication::sendEvent(target, &release);
    }
}

void Save(QWidget& widget, const char* name) {
    QVERIFY(widget.grab().save(QString(QVM_SCREENSHOT_DIR) + "/" + name + ".png"));
}

void Accept(ButtonSettingsDialog& dialog) {
    QVERIFY(dialog.OkButton()->isEnabled());
    QTest::mouseClick(dialog.OkButton(), Qt::LeftButton);
    QCOMPARE(dialog.result(), int(QDialog::Accepted));
}

}  // namespace

Q_DECLARE_METATYPE(qvm::ButtonSlot)
Q_DECLARE_METATYPE(PhysicalKey)

class ButtonSettingsDialogTest : public QObject {
    Q_OBJECT

  private slots:
    void initTestCase() {
        skin::ApplySkin(*qApp);
        QVERIFY(QDir().mkpath(QVM_SCREENSHOT_DIR));
    }

    void KeysClickedOnTheKeyboard_data() {
        QTest::addColumn<bool>("fromKeyboardEntry");
        QTest::addColumn<QList<int>>("keys");
        QTest::addColumn<ButtonSlot>("expected");
        QTest::newRow("Ctrl then C")
            << true << QList<int>{kLeftCtrl, 0x06} << ButtonSlot{5, 1, 6, 0};
        QTest::newRow("Shift, right Ctrl, X")
            << true << QList<int>{kLeftShift, kRightCtrl, 0x1B} << ButtonSlot{5, 0x12, 0x1B, 0};
        QTest::newRow("Ctrl latched off again")
            << true << QList<int>{kLeftCtrl, kLeftCtrl, 0x06} << ButtonSlot{5, 0, 6, 0};
        QTest::newRow("modifiers alone")
            << true << QList<int>{kLeftCtrl, kLeftAlt} << ButtonSlot{5, 0x05, 0, 0};
        QTest::newRow("F5 alone") << true << QList<int>{0x3E} << ButtonSlot{5, 0, 0x3E, 0};
        QTest::newRow("latches end with the key")
            << true << QList<int>{kLeftCtrl, 0x06, 0x19} << ButtonSlot{5, 0, 0x19, 0};
        QTest::newRow("key while a mouse function is shown")
            << false << QList<int>{kLeftAlt, 0x2B} << ButtonSlot{5, 0x04, 0x2B, 0};
    }
    void KeysClickedOnTheKeyboard() {
        QFETCH(bool, fromKeyboardEntry);
        QFETCH(QList<int>, keys);
        QFETCH(ButtonSlot, expected);
        auto dialog = MakeDialog();
        QCOMPARE(dialog->Model().Current(), (ButtonSlot{4, 0x02, 0, 0}));
        if (fromKeyboardEntry) {
            ShowClass(*dialog, FunctionClass::Keyboard);
            ChooseEntry(*dialog, QStringLiteral("Paste"));
            QCOMPARE(dialog->ShownEditor(), OperandEditor::KeyCombination);
        }
        for (int usage : keys) ClickKey(*dialog, usage);
        QCOMPARE(dialog->Model().Current(), expected);
        QCOMPARE(dialog->Preview()->text(), ToQ(KeyCombinationText(expected.op1, expected.op2)));
        if (QTest::currentDataTag() == QByteArray("Ctrl then C"))
            Save(*dialog, "button_settings_keyboard");
        Accept(*dialog);
        QCOMPARE(dialog->Result(), expected);
        QVERIFY(!dialog->KeyCycleResult().has_value());
    }

    // Keys pressed on the computer's keyboard pick keys as the on-screen keyboard does,
    // but never the keys typed into a field or the keys that move the focus.
    void KeysPressedOnTheKeyboard_data() {
        QTest::addColumn<QString>("start");  // "mouse" function shown, "paste", "cycle", "fire"
        QTest::addColumn<QList<PhysicalKey>>("keys");
        QTest::addColumn<ButtonSlot>("expected");
        QTest::addColumn<int>("cycleKeys");
        const ButtonSlot unchanged{4, 0x02, 0, 0};
        QTest::newRow("Ctrl + C over a mouse function")
            << "mouse" << QList<PhysicalKey>{kXLeftCtrl, kXC} << ButtonSlot{5, 0x01, 0x06, 0} << 2;
        QTest::newRow("F5 alone") << "paste" << QList<PhysicalKey>{kXF5}
                                  << ButtonSlot{5, 0, 0x3E, 0} << 2;
        QTest::newRow("Ctrl alone")
            << "paste" << QList<PhysicalKey>{kXLeftCtrl} << ButtonSlot{5, 0x01, 0, 0} << 2;
        QTest::newRow("arrow in the key editor")
            << "paste" << QList<PhysicalKey>{kXDown} << ButtonSlot{5, 0, 0x51, 0} << 2;
        QTest::newRow("A joins the key cycle")
            << "cycle" << QList<PhysicalKey>{kXA} << ButtonSlot{29, 0, 0, 0} << 3;
        QTest::newRow("Tab moves the focus")
            << "mouse" << QList<PhysicalKey>{kXTab} << unchanged << 2;
        QTest::newRow("arrow moves the list")
            << "mouse" << QList<PhysicalKey>{kXDown} << ButtonSlot{4, 0x04, 0, 0} << 2;
        QTest::newRow("digit typed into a field")
            << "fire" << QList<PhysicalKey>{kXOne} << ButtonSlot{27, 0x01, 5, 0} << 2;
    }
    void KeysPressedOnTheKeyboard() {
        QFETCH(QString, start);
        QFETCH(QList<PhysicalKey>, keys);
        QFETCH(ButtonSlot, expected);
        QFETCH(int, cycleKeys);
        auto dialog = MakeDialog();
        QWidget* focus = dialog->EntryList();
        if (start == "paste") {
            ShowClass(*dialog, FunctionClass::Keyboard);
            ChooseEntry(*dialog, QStringLiteral("Paste"));
        } else if (start == "cycle") {
            ShowClass(*dialog, FunctionClass::KeyCycle);
            ChooseEntry(*dialog, ToQ(Ui().type_str[29]));
        } else if (start == "fire") {
            ShowClass(*dialog, FunctionClass::Advanced);
            ChooseEntry(*dialog, QStringLiteral("Fire button (50 ms)"));
            focus = dialog->FireInterval();
        }
        focus->setFocus();
        PressTogether(focus, keys);
        QCOMPARE(dialog->Model().Current(), expected);
        QCOMPARE(dialog->KeyCycleList()->count(), cycleKeys);
    }

    void DpiHotkeyCountsInTheDeviceStep_data() {
        QTest::addColumn<int>("dpiStep");
        QTest::addColumn<int>("x");
        QTest::addColumn<int>("y");
        QTest::addColumn<ButtonSlot>("expected");
        QTest::addColumn<QString>("preview");
        QTest::newRow("step 50") << 50 << 1200 << 400 << ButtonSlot{16, 24, 8, 0}
                                 << "DPI hotkey [X:1200 , Y:400]";
        QTest::newRow("step 100") << 100 << 1200 << 400 << ButtonSlot{16, 12, 4, 0}
                                  << "DPI hotkey [X:1200 , Y:400]";
        QTest::newRow("range ends")
            << 50 << 50 << 8000 << ButtonSlot{16, 1, 160, 0} << "DPI hotkey [X:50 , Y:8000]";
        QTest::newRow("beyond the step count")
            << 100 << 100 << 99999 << ButtonSlot{16, 1, 160, 0} << "DPI hotkey [X:100 , Y:16000]";
    }
    void DpiHotkeyCountsInTheDeviceStep() {
        QFETCH(int, dpiStep);
        QFETCH(int, x);
        QFETCH(int, y);
        QFETCH(ButtonSlot, expected);
        QFETCH(QString, preview);
        auto dialog = MakeDialog(dpiStep);
        ShowClass(*dialog, FunctionClass::Advanced);
        ChooseEntry(*dialog, QStringLiteral("DPI hotkey"));
        QCOMPARE(dialog->ShownEditor(), OperandEditor::DpiValues);
        QCOMPARE(dialog->DpiX()->value(), 8 * dpiStep);
        QCOMPARE(dialog->DpiX()->singleStep(), dpiStep);
        dialog->DpiX()->setValue(x);
        dialog->DpiY()->setValue(y);
        QCOMPARE(dialog->Preview()->text(), preview);
        Accept(*dialog);
        QCOMPARE(dialog->Result(), expected);
    }

    void MacroRunsInTheChosenMode_data() {
        QTest::addColumn<int>("mode");
        QTest::newRow("once") << kMacroModeOnce;
        QTest::newRow("repeat") << kMacroModeLoop;
        QTest::newRow("while held") << kMacroModeFireKey;
    }
    void MacroRunsInTheChosenMode() {
        QFETCH(int, mode);
        auto dialog = MakeDialog();
        ShowClass(*dialog, FunctionClass::Macro);
        ChooseEntry(*dialog, QStringLiteral("Combo"));
        QCOMPARE(dialog->ShownEditor(), OperandEditor::Macro);
        // The macro comes in the mode it is stored with.
        QVERIFY(dialog->MacroModeButton(kMacroModeLoop)->isChecked());
        QTest::mouseClick(dialog->MacroModeButton(mode), Qt::LeftButton);
        QVERIFY(dialog->MacroModeButton(mode)->isChecked());
        QCOMPARE(dialog->EntryList()->currentItem()->text(), QStringLiteral("Combo"));
        QVERIFY(dialog->Preview()->text().endsWith(QStringLiteral("Combo")));
        if (mode == kMacroModeFireKey) Save(*dialog, "button_settings_macro");
        Accept(*dialog);
        QCOMPARE(dialog->Result(), (ButtonSlot{static_cast<uint8_t>(mode), 0x34, 0x12, 0}));
    }

    void OperandEditorsSetTheBytes() {
        auto dialog = MakeDialog();
        ShowClass(*dialog, FunctionClass::Advanced);
        ChooseEntry(*dialog, QStringLiteral("Fire button (50 ms)"));
        QCOMPARE(dialog->ShownEditor(), OperandEditor::FireButton);
        QCOMPARE(dialog->FireInterval()->value(), 50);
        dialog->FireInterval()->setValue(120);
        dialog->FireCount()->setValue(3);
        QCOMPARE(dialog->Model().Current(), (ButtonSlot{27, 0x01, 12, 3}));

        ChooseEntry(*dialog, QStringLiteral("Rapid fire (25 ms)"));
        QCOMPARE(dialog->ShownEditor(), OperandEditor::RapidFire);
        dialog->RapidInterval()->setValue(40);
        QCOMPARE(dialog->Model().Current(), (ButtonSlot{33, 0, 40, 0}));

        ShowClass(*dialog, FunctionClass::Keyboard);
        ChooseEntry(*dialog, QStringLiteral("Mute"));
        QCOMPARE(dialog->ShownEditor(), OperandEditor::ConsumerKey);
        const auto volumeUp = dialog->ConsumerList()->findItems("Volume +", Qt::MatchExactly);
        QCOMPARE(volumeUp.size(), 1);
        dialog->ConsumerList()->setCurrentItem(volumeUp.front());
        Accept(*dialog);
        QCOMPARE(dialog->Result(), (ButtonSlot{6, 0xE9, 0x00, 0}));
    }

    // A typed number reaches the function once, when editing ends, as typed.
    void TypedValuesTakeEffectWhenEditingEnds_data() {
        QTest::addColumn<QString>("entry");
        QTest::addColumn<int>("field");  // 0 fire delay, 1 fire count, 2 rapid fire, 3 DPI X
        QTest::addColumn<QString>("typed");
        QTest::addColumn<ButtonSlot>("expected");
        QTest::newRow("fire delay 120")
            << "Fire button (50 ms)" << 0 << "120" << ButtonSlot{27, 0x01, 12, 0};
        QTest::newRow("fire count 3")
            << "Fire button (50 ms)" << 1 << "3" << ButtonSlot{27, 0x01, 5, 3};
        QTest::newRow("rapid fire 140")
            << "Rapid fire (25 ms)" << 2 << "140" << ButtonSlot{33, 0, 140, 0};
        QTest::newRow("DPI X 1200") << "DPI hotkey" << 3 << "1200" << ButtonSlot{16, 24, 8, 0};
    }
    void TypedValuesTakeEffectWhenEditingEnds() {
        QFETCH(QString, entry);
        QFETCH(int, field);
        QFETCH(QString, typed);
        QFETCH(ButtonSlot, expected);
        auto dialog = MakeDialog();
        ShowClass(*dialog, FunctionClass::Advanced);
        ChooseEntry(*dialog, entry);
        QSpinBox* spin = std::array{dialog->FireInterval(), dialog->FireCount(),
                                    dialog->RapidInterval(), dialog->DpiX()}[field];
        const ButtonSlot before = dialog->Model().Current();
        QSignalSpy changes(spin, &QSpinBox::valueChanged);
        spin->setFocus();
        spin->selectAll();
        QTest::keyClicks(spin, typed);
        QCOMPARE(dialog->Model().Current(), before);
        QCOMPARE(changes.count(), 0);
        QTest::keyClick(spin, Qt::Key_Return);
        QCOMPARE(changes.count(), 1);
        QCOMPARE(dialog->Model().Current(), expected);
        QCOMPARE(spin->text().remove(QRegularExpression("[^0-9]")), typed);
    }

    void KeyCycleTakesAFifthKeyButNotASixth() {
        auto dialog = MakeDialog();
        ShowClass(*dialog, FunctionClass::KeyCycle);
        QCOMPARE(dialog->ShownEditor(), OperandEditor::KeyCycle);
        QCOMPARE(dialog->KeyCycleList()->count(), 2);
        ClickKey(*dialog, 0x04);        // A
        ClickKey(*dialog, kLeftShift);  // Shift latched ...
        ClickKey(*dialog, 0x05);        // ... + B
        ClickKey(*dialog, 0x06);        // C: the fifth
        QCOMPARE(dialog->KeyCycleList()->count(), 5);
        QVERIFY(dialog->Problem()->text().isEmpty());
        Save(*dialog, "button_settings_cycle");
        ClickKey(*dialog, 0x07);  // D: a sixth is refused
        QCOMPARE(dialog->KeyCycleList()->count(), 5);
        QVERIFY(!dialog->Problem()->text().isEmpty());
        QCOMPARE(dialog->KeyCycleList()->item(3)->text(), QStringLiteral("4. Shift + B"));

        ChooseEntry(*dialog, ToQ(Ui().type_str[30]));  // Keyboard cycle (Reverse)
        Accept(*dialog);
        QCOMPARE(dialog->Result(), (ButtonSlot{30, 0, 0, 0}));
        const auto cycle = dialog->KeyCycleResult();
        QVERIFY(cycle.has_value());
        const std::vector<KeyCycleEntry> expected = {
            {0x01, 0x06}, {0x00, 0x3B}, {0x00, 0x04}, {0x02, 0x05}, {0x00, 0x06}};
        QVERIFY(*cycle == expected);
    }

    void KeyCycleRemoveLastAndClear() {
        auto dialog = MakeDialog();
        ShowClass(*dialog, FunctionClass::KeyCycle);
        QTest::mouseClick(dialog->RemoveLastKeyButton(), Qt::LeftButton);
        QCOMPARE(dialog->KeyCycleList()->count(), 1);
        QVERIFY(*dialog->KeyCycleResult() == (std::vector<KeyCycleEntry>{{0x01, 0x06}}));
        QTest::mouseClick(dialog->ClearKeysButton(), Qt::LeftButton);
        QCOMPARE(dialog->KeyCycleList()->count(), 0);
        QVERIFY(!dialog->RemoveLastKeyButton()->isEnabled());
        // An emptied list is a change too: it must reach the device.
        QVERIFY(dialog->KeyCycleResult().has_value());
        QVERIFY(dialog->KeyCycleResult()->empty());
    }

    void ExtraFunctionOnlyAtTheSpecialButton_data() {
        QTest::addColumn<int>("specialButton");
        QTest::addColumn<bool>("offered");
        QTest::newRow("this button") << kPosition << true;
        QTest::newRow("another button") << kPosition + 1 << false;
        QTest::newRow("none") << -1 << false;
    }
    void ExtraFunctionOnlyAtTheSpecialButton() {
        QFETCH(int, specialButton);
        QFETCH(bool, offered);
        auto dialog = MakeDialog(50, specialButton);
        ShowClass(*dialog, FunctionClass::Advanced);
        const QString name = ToQ(Ui().extra_function_str[0]);
        QCOMPARE(dialog->EntryList()->findItems(name, Qt::MatchExactly).size(), offered ? 1 : 0);
        if (!offered) return;
        ChooseEntry(*dialog, name);
        Accept(*dialog);
        QCOMPARE(dialog->Result(), (ButtonSlot{25, 0xE9, 0xEA, 0x00}));
    }

    void CancelGivesNothing() {
        auto dialog = MakeDialog();
        ShowClass(*dialog, FunctionClass::Keyboard);
        ChooseEntry(*dialog, QStringLiteral("Copy"));
        QTimer::singleShot(0, dialog.get(),
                           [&] { QTest::mouseClick(dialog->CancelButton(), Qt::LeftButton); });
        QCOMPARE(dialog->exec(), int(QDialog::Rejected));
    }

    void DialogFitsItsContent() {
        auto dialog = MakeDialog();
        QCOMPARE(dialog->size(), QSize(940, 560));
        // The keyboard gets at least most of its layout size, so labels stay readable.
        QVERIFY(dialog->Keyboard()->width() >= 860);
        QVERIFY2(dialog->Keyboard()->height() >= 230,
                 qPrintable(QString::number(dialog->Keyboard()->height())));
        for (QPushButton* button : {dialog->OkButton(), dialog->CancelButton()})
            QVERIFY(button->width() >= button->sizeHint().width());
    }
};

QTEST_MAIN(ButtonSettingsDialogTest)
#include "button_settings_dialog_test.moc"
