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
};

QTEST_MAIN(ButtonSettingsDialogTest)
#include "button_settings_dialog_test.moc"
