// The text-entry and question dialogs driven with real key events: the fields keep the
// typing rules while typing and pasting, OK hands back what was entered, Cancel and
// Escape hand back nothing.
#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QDir>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTimer>
#include <QtTest>
#include <functional>

#include "ui/confirm.h"
#include "ui/qt_text.h"
#include "ui/skin.h"
#include "ui/text_entry_dialog.h"

using namespace qvm;
using namespace qvm::ui;

Q_DECLARE_METATYPE(qvm::TextEntryForm)

namespace {

// Markers inside a typed run for keys that are not characters.
constexpr QChar kBackspace = u'\b';
constexpr QChar kSelectAll = u'\x02';

void TypeRun(QWidget* field, const QString& run) {
    for (QChar c : run) {
        if (c == kBackspace) {
            QTest::keyClick(field, Qt::Key_Backspace);
        } else if (c == kSelectAll) {
            QTest::keyClick(field, Qt::Key_A, Qt::ControlModifier);
        } else {
            QTest::keyClicks(field, QString(c));
        }
    }
}

TextEntryRequest Request(TextEntryForm form, const char* text = "", int maximumLength = 0,
                         int maximumValue = 0) {
    TextEntryRequest request;
    request.form = form;
    request.caption = Ui().cap_input_str[0];
    request.text = text;
    request.maximumLength = maximumLength;
    request.maximumValue = maximumValue;
    return request;
}

// Runs `act` on the modal dialog once its event loop is running.
void WhenModal(std::function<void(QWidget*)> act) {
    QTimer::singleShot(0, [act = std::move(act)] {
        QWidget* modal = QApplication::activeModalWidget();
        QVERIFY(modal != nullptr);
        act(modal);
    });
}

void SaveScreenshot(QWidget& widget, const QString& name) {
    widget.show();
    QVERIFY(QTest::qWaitForWindowExposed(&widget));
    QVERIFY(widget.grab().save(QString(QVM_SCREENSHOT_DIR) + "/" + name + ".png"));
}

}  // namespace

class DialogsTest : public QObject {
    Q_OBJECT

  private slots:
    void initTestCase() {
        skin::ApplySkin(*qApp);
        QVERIFY(QDir().mkpath(QVM_SCREENSHOT_DIR));
    }

    void TypingKeepsTheFieldRules_data() {
        QTest::addColumn<TextEntryForm>("form");
        QTest::addColumn<QString>("initial");
        QTest::addColumn<int>("maximumLength");
        QTest::addColumn<int>("maximumValue");
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("expected");
        using F = TextEntryForm;
        QTest::newRow("text stops at the macro name limit")
            << F::Text << "" << 15 << 0 << "Sixteen letters!"
            << "Sixteen letters";
        QTest::newRow("text backspace then more") << F::Text << "" << 5 << 0 << "abcdef\b\bxyz"
                                                  << "abcxy";
        QTest::newRow("number carried past the maximum sets it")
            << F::Number << "" << 5 << 65535 << "99999"
            << "65535";
        QTest::newRow("folder form text limit")
            << F::TextWithFolder << "Combo" << 15 << 0 << "A much longer name"
            << "A much longer n";
    }
    void TypingKeepsTheFieldRules() {
        QFETCH(TextEntryForm, form);
        QFETCH(QString, initial);
        QFETCH(int, maximumLength);
        QFETCH(int, maximumValue);
        QFETCH(QString, typed);
        QFETCH(QString, expected);
        TextEntryDialog dialog(Request(form, FromQ(initial).c_str(), maximumLength, maximumValue));
        dialog.show();
        QVERIFY(dialog.TextEdit() != nullptr);
        TypeRun(dialog.TextEdit(), typed);
        QCOMPARE(dialog.TextEdit()->text(), expected);
        QCOMPARE(ToQ(dialog.Entered().text), expected);
    }

    void PasteGoesThroughTheRules() {
        TextEntryDialog dialog(Request(TextEntryForm::Number, "", 5, 65535));
        dialog.show();
        QApplication::clipboard()->setText(QStringLiteral("12\nab34567"));
        QTest::keyClick(dialog.TextEdit(), Qt::Key_V, Qt::ControlModifier);
        QCOMPARE(dialog.TextEdit()->text(), QStringLiteral("12345"));
    }

    void PositionFieldsKeepTheirRange_data() {
        QTest::addColumn<bool>("absolute");
        QTest::addColumn<QString>("typed");
        QTest::addColumn<bool>("switchToAbsolute");
        QTest::addColumn<QString>("typedAfter");
        QTest::addColumn<QString>("expected");
        QTest::addColumn<int>("value");
        const QString all(kSelectAll);
        QTest::newRow("relative negative") << false << all + "-123" << false << ""
                                           << "-123" << -123;
        QTest::newRow("relative upper limit") << false << all + "40000" << false << ""
                                              << "32767" << 32767;
        QTest::newRow("absolute digit past 32767 jumps") << true << all + "330001" << false << ""
                                                         << "65535" << 65535;
        QTest::newRow("negative relative then absolute digit") << false << all + "-7" << true << "3"
                                                               << "0" << 0;
    }
    void PositionFieldsKeepTheirRange() {
        QFETCH(bool, absolute);
        QFETCH(QString, typed);
        QFETCH(bool, switchToAbsolute);
        QFETCH(QString, typedAfter);
        QFETCH(QString, expected);
        QFETCH(int, value);
        TextEntryRequest request = Request(TextEntryForm::Position);
        request.absolute = absolute;
        TextEntryDialog dialog(request);
        dialog.show();
        QVERIFY(dialog.TextEdit() == nullptr);
        TypeRun(dialog.XEdit(), typed);
        if (switchToAbsolute) QTest::mouseClick(dialog.AbsoluteChoice(), Qt::LeftButton);
        TypeRun(dialog.XEdit(), typedAfter);
        QCOMPARE(dialog.XEdit()->text(), expected);
        const TextEntryRequest entered = dialog.Entered();
        QCOMPARE(entered.x, value);
        QCOMPARE(entered.y, 0);
        QCOMPARE(entered.absolute, absolute || switchToAbsolute);
    }

    void PickingAPositionSelectsAbsolute() {
        TextEntryRequest request = Request(TextEntryForm::Position);
        request.x = -20;
        request.y = 7;
        TextEntryDialog dialog(request);
        dialog.show();
        QVERIFY(dialog.RelativeChoice()->isChecked());
        emit dialog.PickButton()->positionPicked(QPoint(1500, -30));
        QVERIFY(dialog.AbsoluteChoice()->isChecked());
        QCOMPARE(dialog.XEdit()->text(), QStringLiteral("1500"));
        const TextEntryRequest entered = dialog.Entered();
        QCOMPARE(entered.x, 1500);
        QCOMPARE(entered.y, 0);  // above the primary screen: brought into range
        QVERIFY(entered.absolute);
    }

    void FolderListPreselectsAndHandsBackTheId() {
        TextEntryRequest request = Request(TextEntryForm::TextWithFolder, "Combo", 15);
        request.folder = 9;
        const std::vector<FolderChoice> folders = {{0, "Root"}, {5, ". Games"}, {9, ".. Shooters"}};
        TextEntryDialog dialog(request, folders);
        QCOMPARE(dialog.FolderList()->count(), 3);
        QCOMPARE(dialog.FolderList()->currentIndex(), 2);
        dialog.FolderList()->setCurrentIndex(1);
        QCOMPARE(dialog.Entered().folder, 5);

        TextEntryDialog bare(request);  // no folders known: only the root
        QCOMPARE(bare.FolderList()->count(), 1);
        QCOMPARE(bare.FolderList()->itemText(0), ToQ(Ui().msg_str[28]));
        QCOMPARE(bare.Entered().folder, 0);
    }

    void RunTextEntryAnswers_data() {
        QTest::addColumn<TextEntryForm>("form");
        QTest::addColumn<bool>("threeChoices");
        QTest::addColumn<int>("button");  // -1: Escape
        QTest::addColumn<bool>("answered");
        QTest::addColumn<bool>("thirdChosen");
        using F = TextEntryForm;
        QTest::newRow("text OK") << F::Text << false << 0 << true << false;
        QTest::newRow("text Escape") << F::Text << false << -1 << false << false;
        QTest::newRow("three: second cancels") << F::Question << true << 1 << false << false;
        QTest::newRow("three: third") << F::Question << true << 2 << true << true;
    }
    void RunTextEntryAnswers() {
        QFETCH(TextEntryForm, form);
        QFETCH(bool, threeChoices);
        QFETCH(int, button);
        QFETCH(bool, answered);
        QFETCH(bool, thirdChosen);
        TextEntryRequest request = Request(form, "Old", 15);
        request.threeChoices = threeChoices;
        WhenModal([button](QWidget* modal) {
            auto* dialog = qobject_cast<TextEntryDialog*>(modal);
            QVERIFY(dialog != nullptr);
            QCOMPARE(dialog->Buttons().size(), dialog->Entered().threeChoices ? 3u : 2u);
            if (dialog->TextEdit()) QTest::keyClicks(dialog->TextEdit(), QStringLiteral("Typed"));
            if (button < 0) {
                QTest::keyClick(dialog, Qt::Key_Escape);
            } else {
                QTest::mouseClick(dialog->Buttons().at(static_cast<std::size_t>(button)),
                                  Qt::LeftButton);
            }
        });
        const std::optional<TextEntryRequest> entered = RunTextEntry(nullptr, request);
        QCOMPARE(entered.has_value(), answered);
        if (!entered) return;
        QCOMPARE(entered->thirdChosen, thirdChosen);
        if (form == TextEntryForm::Text) QCOMPARE(ToQ(entered->text), QStringLiteral("Typed"));
    }

    void ReturnKeyAcceptsTheTypedText() {
        WhenModal([](QWidget* modal) {
            auto* dialog = qobject_cast<TextEntryDialog*>(modal);
            QVERIFY(dialog != nullptr);
            QTest::keyClicks(dialog->TextEdit(), QStringLiteral("Fast"));
            QTest::keyClick(dialog->TextEdit(), Qt::Key_Return);
        });
        const auto entered = RunTextEntry(nullptr, Request(TextEntryForm::Text, "Slow", 15));
        QVERIFY(entered.has_value());
        QCOMPARE(ToQ(entered->text), QStringLiteral("Fast"));
    }

    // The confirmation is the question dialog: OK answers yes, Escape no.
    void ConfirmAnswers() {
        for (int button : {0, -1}) {
            WhenModal([button](QWidget* modal) {
                auto* dialog = qobject_cast<TextEntryDialog*>(modal);
                QVERIFY(dialog != nullptr);
                if (button < 0) {
                    QTest::keyClick(dialog, Qt::Key_Escape);
                } else {
                    QTest::mouseClick(dialog->Buttons().at(0), Qt::LeftButton);
                }
            });
            QCOMPARE(Confirm(nullptr, ToQ(Ui().button_str[3]), ToQ(Ui().msg_str[11])), button == 0);
        }
    }

    void Screenshots_data() {
        QTest::addColumn<TextEntryForm>("form");
        QTest::addColumn<QString>("name");
        QTest::newRow("0") << TextEntryForm::Text << "text_entry_form0";
        QTest::newRow("1") << TextEntryForm::Number << "text_entry_form1";
        QTest::newRow("3") << TextEntryForm::Position << "text_entry_form3";
        QTest::newRow("5") << TextEntryForm::TextWithFolder << "text_entry_form5";
        QTest::newRow("10") << TextEntryForm::Question << "text_entry_form10";
    }
    void Screenshots() {
        QFETCH(TextEntryForm, form);
        QFETCH(QString, name);
        TextEntryRequest request = Request(form, "Combo", 15, 65535);
        request.caption = Ui().cap_input_str[form == TextEntryForm::Text ? 4 : 3];
        request.prompt = form == TextEntryForm::Text ? Ui().msg_str[24] : "";
        if (form == TextEntryForm::Number) request.text = "500";
        if (form == TextEntryForm::Question) {
            request.caption = "";
            request.text = "Save changes in macro 'Combo' ? or discard it.";
            request.threeChoices = true;
        }
        request.x = -120;
        request.y = 45;
        request.folder = 5;
        TextEntryDialog dialog(request, {{0, "Root"}, {5, ". Games"}, {9, ".. Shooters"}});
        SaveScreenshot(dialog, name);
        for (QPushButton* button : dialog.Buttons())
            QVERIFY2(button->width() >= button->sizeHint().width(), qPrintable(button->text()));
    }
};

QTEST_MAIN(DialogsTest)
#include "dialogs_test.moc"
