#include "ui/confirm.h"

#include <QPushButton>
#include <utility>

#include "ui/qt_text.h"
#include "ui/text_entry_dialog.h"

namespace qvm::ui {
namespace {

ConfirmHook& ConfirmHookSlot() {
    static ConfirmHook hook;
    return hook;
}

MessageHook& MessageHookSlot() {
    static MessageHook hook;
    return hook;
}

MessageHook& NoticeHookSlot() {
    static MessageHook hook;
    return hook;
}

std::unique_ptr<TextEntryDialog> MakeQuestion(QWidget* parent, const QString& caption,
                                              const QString& text) {
    TextEntryRequest request;
    request.form = TextEntryForm::Question;
    request.caption = FromQ(caption);
    request.text = FromQ(text);
    return std::make_unique<TextEntryDialog>(request, std::vector<FolderChoice>{}, parent);
}

}  // namespace

std::unique_ptr<QDialog> MakeConfirmDialog(QWidget* parent, const QString& caption,
                                           const QString& text) {
    return MakeQuestion(parent, caption, text);
}

std::unique_ptr<QDialog> MakeMessageDialog(QWidget* parent, const QString& caption,
                                           const QString& text) {
    auto dialog = MakeQuestion(parent, caption, text);
    // A message is only acknowledged: OK alone, and closing the box means the same.
    dialog->Buttons().at(1)->hide();
    return dialog;
}

bool Confirm(QWidget* parent, const QString& caption, const QString& text) {
    if (ConfirmHookSlot()) return ConfirmHookSlot()(caption, text);
    const auto dialog = MakeConfirmDialog(parent, caption, text);
    return dialog->exec() == QDialog::Accepted;
}

void ShowMessage(QWidget* parent, const QString& caption, const QString& text) {
    if (MessageHookSlot()) {
        MessageHookSlot()(caption, text);
        return;
    }
    MakeMessageDialog(parent, caption, text)->exec();
}

void ShowNotice(QWidget* parent, const QString& caption, const QString& text) {
    if (NoticeHookSlot()) {
        NoticeHookSlot()(caption, text);
        return;
    }
    // Qt's parent owns the box from here; it deletes itself when closed.
    std::unique_ptr<QDialog> box = MakeMessageDialog(parent, caption, text);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setModal(false);
    box->show();
    box.release();
}

ConfirmHook SetConfirmHook(ConfirmHook hook) {
    return std::exchange(ConfirmHookSlot(), std::move(hook));
}

MessageHook SetMessageHook(MessageHook hook) {
    return std::exchange(MessageHookSlot(), std::move(hook));
}

MessageHook SetNoticeHook(MessageHook hook) {
    return std::exchange(NoticeHookSlot(), std::move(hook));
}

}  // namespace qvm::ui
