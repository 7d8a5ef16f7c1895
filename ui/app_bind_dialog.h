// The dialog that binds a program to the current profile ("Assign an executable file to
// current profile."): the programs that have a window open on the desktop (icon, name,
// executable), a "Browse..." button for any executable file, and the name shown for the
// binding ("Enter application name"), which follows the program chosen until the user
// edits it.
//
// OK checks the choice (an executable file, one line) and hands the slot to the caller's
// store function; when either refuses, the dialog says why and stays open, so nothing is
// stored half. Callers use one line:
//     RunAppBindDialog(this, profile, sources, [&](const AppSlot& slot) { return Save(slot); });
#pragma once

#include <QDialog>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "base/result.h"
#include "platform/window_programs.h"
#include "session/settings.h"

class QLabel;
class QLineEdit;
class QListWidget;
class QPushButton;

namespace qvm::ui {

// Where the dialog's choices come from; tests replace them.
struct AppBindSources {
    std::function<Result<std::vector<WindowProgram>>()> listPrograms;
    // A file chosen in a file dialog opened on `folder`; empty when cancelled.
    std::function<QString(QWidget* parent, const QString& folder)> chooseFile;
};
// The desktop's programs and the system's file dialog.
AppBindSources DefaultAppBindSources();

using AppSlotStore = std::function<Status(const AppSlot& slot)>;

class AppBindDialog : public QDialog {
    Q_OBJECT
  public:
    AppBindDialog(QWidget* parent, int profile, AppBindSources sources, AppSlotStore store);

    // Parts, for tests.
    QListWidget* Programs() const { return programs_; }
    QPushButton* BrowseButton() const { return browse_; }
    QLineEdit* NameField() const { return name_; }
    QPushButton* OkButton() const { return ok_; }
    QLabel* ErrorLine() const { return error_; }
    // The executable chosen so far ("" before a choice).
    const std::string& ChosenPath() const { return path_; }

    void accept() override;

  private:
    void FillPrograms();
    void Choose(const std::string& path);
    void Browse();
    void ShowProblem(const QString& text);

    AppBindSources sources_;
    AppSlotStore store_;
    std::string path_;
    QString defaultName_;  // the name the last choice proposed
    QListWidget* programs_ = nullptr;
    QLabel* chosen_ = nullptr;
    QPushButton* browse_ = nullptr;
    QLineEdit* name_ = nullptr;
    QLabel* error_ = nullptr;
    QPushButton* ok_ = nullptr;
};

// Runs the dialog for `profile` (0-based); true when a binding was stored.
bool RunAppBindDialog(QWidget* parent, int profile, AppBindSources sources, AppSlotStore store);

}  // namespace qvm::ui
