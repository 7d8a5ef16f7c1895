// Questions and messages: Confirm asks OK / Cancel, ShowMessage reports an error or a
// notice with OK alone. Both are the program's skinned question dialog.
//
// Tests (and scripted runs) answer them without a nested event loop through the hooks:
// while a hook is set it is called instead of showing anything.
#pragma once

#include <QString>
#include <functional>
#include <memory>

class QDialog;
class QWidget;

namespace qvm::ui {

// Returns true for OK; anything else (Cancel, closing the box) is false.
bool Confirm(QWidget* parent, const QString& caption, const QString& text);
void ShowMessage(QWidget* parent, const QString& caption, const QString& text);
// The message box without waiting for it: the window goes on working while it is open.
// For notices that report no failure and ask nothing (a file saved); the notice hook,
// not the message hook, takes them.
void ShowNotice(QWidget* parent, const QString& caption, const QString& text);

// The dialogs Confirm and ShowMessage show, built but not shown (for screenshots).
std::unique_ptr<QDialog> MakeConfirmDialog(QWidget* parent, const QString& caption,
                                           const QString& text);
std::unique_ptr<QDialog> MakeMessageDialog(QWidget* parent, const QString& caption,
                                           const QString& text);

using ConfirmHook = std::function<bool(const QString& caption, const QString& text)>;
using MessageHook = std::function<void(const QString& caption, const QString& text)>;
// Set a hook (an empty function removes it); each returns the previous hook.
ConfirmHook SetConfirmHook(ConfirmHook hook);
MessageHook SetMessageHook(MessageHook hook);
MessageHook SetNoticeHook(MessageHook hook);

// Sets both hooks for a scope and puts the previous ones back at its end.
class ScopedDialogHooks {
  public:
    ScopedDialogHooks(ConfirmHook confirm, MessageHook message)
        : confirm_(SetConfirmHook(std::move(confirm))),
          message_(SetMessageHook(std::move(message))) {}
    ScopedDialogHooks(const ScopedDialogHooks&) = delete;
    ScopedDialogHooks& operator=(const ScopedDialogHooks&) = delete;
    ~ScopedDialogHooks() {
        SetConfirmHook(std::move(confirm_));
        SetMessageHook(std::move(message_));
    }

  private:
    ConfirmHook confirm_;
    MessageHook message_;
};

}  // namespace qvm::ui
