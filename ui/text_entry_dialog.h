// The small modal dialog that asks for a name, a number, a pointer position or a decision
// (forms 0, 1, 3, 5 and 10 of TextEntryForm). Every key typed into its fields goes through
// the field models of app/text_entry.h, so a refused character never appears, a full field
// takes no more and numbers stay within their range while the user types.
//
// Callers use one line:
//     if (auto entered = ui::RunTextEntry(this, request)) Rename(entered->text);
// RunTextEntry returns the request with the user's input filled in (text, x, y, absolute,
// folder, thirdChosen) after OK, or nothing after Cancel. Form 5 lists the target folders
// the caller passes (FolderChoices of the macro library); without them only "Root" shows.
#pragma once

#include <QDialog>
#include <QLineEdit>
#include <QPoint>
#include <QPushButton>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "lang/ui_strings.h"
#include "present/text_entry.h"

class QComboBox;
class QLabel;
class QRadioButton;

namespace qvm::ui {

// A line edit whose typing, deleting and pasting go through a LineEditModel; the model
// (owned by the caller, outliving the widget's use) is what decides the text.
class ModelLineEdit : public QLineEdit {
    Q_OBJECT
  public:
    explicit ModelLineEdit(LineEditModel& model, QWidget* parent = nullptr);
    // Shows the model's text and cursor (after the program changed the model).
    void ShowModel();

  protected:
    void keyPressEvent(QKeyEvent* event) override;
    void inputMethodEvent(QInputMethodEvent* event) override;

  private:
    void SyncModelSelection();
    void TypeAndShow(const QString& typed);

    LineEditModel& model_;
};

// "Press && hold to get position": while the button is held, every pointer move reports
// the pointer's screen position.
class PositionPickButton : public QPushButton {
    Q_OBJECT
  public:
    using QPushButton::QPushButton;

  signals:
    void positionPicked(QPoint screenPosition);

  protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
};

class TextEntryDialog : public QDialog {
    Q_OBJECT
  public:
    TextEntryDialog(const TextEntryRequest& request, std::vector<FolderChoice> folders = {},
                    QWidget* parent = nullptr, const UiStrings& strings = Ui());
    ~TextEntryDialog() override;

    // The request with the fields as they stand (what OK hands back).
    TextEntryRequest Entered() const;

    // The widgets, for tests and for the caller's focus handling; null where the form
    // has no such widget.
    QLineEdit* TextEdit() const { return textEdit_; }
    QLineEdit* XEdit() const { return xEdit_; }
    QLineEdit* YEdit() const { return yEdit_; }
    QRadioButton* RelativeChoice() const { return relative_; }
    QRadioButton* AbsoluteChoice() const { return absolute_; }
    QComboBox* FolderList() const { return folderList_; }
    PositionPickButton* PickButton() const { return pick_; }
    // The bottom buttons from left to right (OK, Cancel or the three choices).
    const std::vector<QPushButton*>& Buttons() const { return buttons_; }

  protected:
    void mousePressEvent(QMouseEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

  private:
    void BuildTextField(QWidget* body);
    void BuildPositionFields(QWidget* body);
    void BuildButtons(QWidget* body);
    void SetPositionMode(bool absolute);
    void PickPosition(QPoint screenPosition);

    TextEntryRequest request_;
    const UiStrings& strings_;
    std::vector<FolderChoice> folders_;
    std::unique_ptr<LineEditModel> textModel_;  // forms 0, 1 and 5
    std::unique_ptr<PositionFields> position_;  // form 3
    bool thirdChosen_ = false;

    QLabel* caption_ = nullptr;
    ModelLineEdit* textEdit_ = nullptr;
    ModelLineEdit* xEdit_ = nullptr;
    ModelLineEdit* yEdit_ = nullptr;
    QRadioButton* relative_ = nullptr;
    QRadioButton* absolute_ = nullptr;
    QComboBox* folderList_ = nullptr;
    PositionPickButton* pick_ = nullptr;
    std::vector<QPushButton*> buttons_;
};

// Answers RunTextEntry instead of showing the dialog while set (tests, scripted runs).
using TextEntryHook = std::function<std::optional<TextEntryRequest>(const TextEntryRequest&)>;
// Sets the hook (an empty function removes it) and returns the previous one.
TextEntryHook SetTextEntryHook(TextEntryHook hook);

// Shows the dialog modally; the filled-in request after OK (or after the third choice,
// with thirdChosen set), nothing after Cancel or closing.
std::optional<TextEntryRequest> RunTextEntry(QWidget* parent, const TextEntryRequest& request,
                                             std::vector<FolderChoice> folders = {});

}  // namespace qvm::ui
