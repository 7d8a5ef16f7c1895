#include "ui/other_page.h"

#include <QCheckBox>
#include <QCoreApplication>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QStringList>
#include <QVBoxLayout>
#include <utility>

#include "base/atomic_file.h"
#include "config/backup.h"
#include "lang/ui_strings.h"
#include "present/info_text.h"
#include "session/autostart.h"
#include "session/dialog_folder.h"
#include "ui/confirm.h"
#include "ui/device_controller.h"
#include "ui/mouse_lighting_panel.h"
#include "ui/qt_text.h"
#include "ui/remote_companion.h"

namespace qvm::ui {

namespace {

// button_str entries.
constexpr int kResetText = 3;
constexpr int kBackupText = 4;
constexpr int kRestoreText = 5;
constexpr int kOsdText = 26;
constexpr int kAccelerationText = 34;
// msg_str entries.
constexpr int kResetQuestion = 11;
constexpr int kRestoreQuestion = 12;
constexpr int kGeneralTitle = 54;
constexpr int kInformationTitle = 55;
constexpr int kDriverTitle = 56;
constexpr int kModelMismatch = 65;

QString ButtonText(int index) {
    return ToQ(Ui().button_str[static_cast<std::size_t>(index)]);
}
QString MessageText(int index) {
    return ToQ(Ui().msg_str[static_cast<std::size_t>(index)]);
}

// A name typed without the extension gets ".bf".
QString WithBackupExtension(QString file) {
    const QString suffix = "." + ToQ(kBackupExtension);
    if (!file.endsWith(suffix, Qt::CaseInsensitive)) file += suffix;
    return file;
}

QString DefaultSaveChooser(QWidget* parent, const QString& proposed) {
    return QFileDialog::getSaveFileName(parent, ButtonText(kBackupText), proposed,
                                        ToQ(Ui().word_str[kWordBackupFilter]));
}

QString DefaultOpenChooser(QWidget* parent, const QString& folder) {
    return QFileDialog::getOpenFileName(parent, ButtonText(kRestoreText), folder,
                                        ToQ(Ui().word_str[kWordBackupFilter]));
}

QGroupBox* MakePanel(QWidget* parent, const QString& title, const QString& name) {
    auto* panel = new QGroupBox(title, parent);
    panel->setObjectName(name);
    return panel;
}

}  // namespace

OtherPage::OtherPage(DeviceController& controller, OtherPageContext context, QWidget* parent)
    : QWidget(parent),
      controller_(controller),
      context_(std::move(context)),
      chooseSave_(DefaultSaveChooser),
      chooseOpen_(DefaultOpenChooser) {
    // Three panels of one height side by side, at the top of the page.
    auto* page = new QVBoxLayout(this);
    page->setContentsMargins(80, 12, 80, 12);
    auto* row = new QHBoxLayout;
    row->setSpacing(18);
    row->addWidget(BuildGeneralPanel(), 1);
    row->addWidget(BuildInformationPanel(), 1);
    row->addWidget(BuildDriverPanel(), 1);
    page->addLayout(row);
    lighting_ = new MouseLightingPanel(
        controller_, [this](const QString& text) { ShowError(text); }, this);
    page->addSpacing(12);
    page->addWidget(lighting_);
    page->addStretch(1);

    connect(&controller_, &DeviceController::viewChanged, this, &OtherPage::Refresh);
    connect(&controller_, &DeviceController::progress, this, &OtherPage::OnProgress);
    connect(&controller_, &DeviceController::operationFinished, this, &OtherPage::OnFinished);
    Refresh();
}

void OtherPage::SetFileChoosers(FileChooser save, FileChooser open) {
    chooseSave_ = std::move(save);
    chooseOpen_ = std::move(open);
}

QString OtherPage::ProposedBackupName(const QDate& date) {
    return WithBackupExtension("mouse_" + date.toString("yyyy-MM-dd"));
}

QWidget* OtherPage::BuildGeneralPanel() {
    const UiStrings& ui = Ui();
    QGroupBox* panel = MakePanel(this, MessageText(kGeneralTitle), "generalPanel");
    auto* box = new QVBoxLayout(panel);
    box->setSpacing(12);
    osd_ = new QCheckBox(ToQ(ui.button_str[kOsdText]), panel);
    osd_->setObjectName("osdOption");
    acceleration_ = new QCheckBox(ToQ(ui.button_str[kAccelerationText]), panel);
    acceleration_->setObjectName("accelerationOption");
    autostart_ = new QCheckBox(ToQ(ui.word_str[kWordAutostart]), panel);
    autostart_->setObjectName("autostartOption");
    remote_ = new QCheckBox(Word(kWordRemoteOption), panel);
    remote_->setObjectName("remoteOption");
    remoteState_ = new QLabel(panel);
    remoteState_->setObjectName("remoteState");
    remoteState_->setWordWrap(true);
    remoteState_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    for (QCheckBox* option : {osd_, acceleration_, autostart_, remote_}) box->addWidget(option);
    box->addWidget(remoteState_);
    box->setAlignment(Qt::AlignTop);

    connect(osd_, &QCheckBox::clicked, this, &OtherPage::OnOsd);
    connect(acceleration_, &QCheckBox::clicked, this, &OtherPage::OnAcceleration);
    connect(autostart_, &QCheckBox::clicked, this, &OtherPage::OnAutostart);
    connect(remote_, &QCheckBox::clicked, this, &OtherPage::OnRemote);
    return panel;
}

QWidget* OtherPage::BuildInformationPanel() {
    QGroupBox* panel = MakePanel(this, MessageText(kInformationTitle), "informationPanel");
    auto* box = new QVBoxLayout(panel);
    box->setSpacing(8);
    auto* title = new QLabel(ToQ(kInformationPageTitle), panel);
    QFont bold = title->font();
    bold.setBold(true);
    title->setFont(bold);
    information_ = new QLabel(panel);
    information_->setObjectName("informationText");
    information_->setWordWrap(true);
    information_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    box->addWidget(title);
    box->addWidget(information_);
    box->setAlignment(Qt::AlignTop);
    return panel;
}

QWidget* OtherPage::BuildDriverPanel() {
    const UiStrings& ui = Ui();
    QGroupBox* panel = MakePanel(this, MessageText(kDriverTitle), "driverPanel");
    auto* box = new QVBoxLayout(panel);
    box->setSpacing(12);
    struct DriverButton {
        QPushButton*& button;
        int text;
        const char* name;
        void (OtherPage::*action)();
    };
    for (const DriverButton& row :
         {DriverButton{reset_, kResetText, "resetButton", &OtherPage::OnReset},
          DriverButton{backup_, kBackupText, "backupButton", &OtherPage::OnBackup},
          DriverButton{restore_, kRestoreText, "restoreButton", &OtherPage::OnRestore}}) {
        row.button = new QPushButton(ToQ(ui.button_str[static_cast<std::size_t>(row.text)]), panel);
        row.button->setObjectName(row.name);
        // Tool tip N belongs to label N.
        row.button->setToolTip(ToQ(ui.button_tip_str[static_cast<std::size_t>(row.text)]));
        row.button->setMinimumHeight(30);
        box->addWidget(row.button);
        connect(row.button, &QPushButton::clicked, this, row.action);
    }
    progress_ = new QProgressBar(panel);
    progress_->setObjectName("driverProgress");
    progress_->setRange(0, 100);
    progress_->setValue(0);
    progress_->setTextVisible(false);
    result_ = new QLabel(panel);
    result_->setObjectName("driverResult");
    result_->setWordWrap(true);
    result_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    box->addSpacing(8);
    box->addWidget(progress_);
    box->addWidget(result_);
    box->setAlignment(Qt::AlignTop);
    return panel;
}

void OtherPage::Refresh() {
    const DeviceView view = controller_.View();
    if (context_.settings != nullptr) {
        osd_->setChecked(context_.settings->osd != 0);
        acceleration_->setChecked(context_.settings->disableAcc == 1);
    }
    osd_->setEnabled(context_.settings != nullptr);
    acceleration_->setEnabled(context_.settings != nullptr);
    autostart_->setChecked(AutostartEnabled());
    RefreshRemote();

    QString text;
    if (view.uninitialised) {
        text = ToQ(view.modelName) + "\n" + Word(kWordUninitialised);
    } else if (view.present) {
        const InfoDevice device{view.modelName, static_cast<uint32_t>(view.firmwareVersion),
                                view.extendedButtons};
        text = ToQ(InformationPageText(device));
        text.replace("\r\n", "\n");
    } else {
        text = ToQ(NoDeviceText(Ui()));
    }
    text += "\n\n" + ToQ(PinLine(Ui(), context_.pin));
    information_->setText(text);
    UpdateDriverButtons();
    lighting_->Refresh();
}

// ---- General options ----

bool OtherPage::SaveOrUndo(const UserSettings& undo) {
    const Status saved = SaveSettings(context_.settingsPath, *context_.settings);
    if (saved) return true;
    *context_.settings = undo;
    Refresh();
    ShowError(ErrorMessage(saved.error()));
    return false;
}

void OtherPage::OnOsd(bool on) {
    if (context_.settings == nullptr) return;
    const UserSettings undo = *context_.settings;
    context_.settings->osd = on ? 1 : 0;
    SaveOrUndo(undo);
    emit osdChanged(context_.settings->osd != 0);
}

void OtherPage::OnAcceleration(bool on) {
    if (context_.settings == nullptr) return;
    PointerAcceleration* pointer = context_.pointer;
    if (on && pointer != nullptr && !pointer->Available()) {
        // Nothing could change on this desktop: the option stays off and is not stored.
        acceleration_->setChecked(false);
        ShowError(ToQ(pointer->UnavailableReason()));
        return;
    }
    const UserSettings undo = *context_.settings;
    context_.settings->disableAcc = on ? 1 : 0;
    if (!SaveOrUndo(undo)) return;
    if (pointer == nullptr || !pointer->Available()) return;
    if (const Status applied = ApplyPointerAcceleration(on, *pointer); !applied) {
        ShowError(ErrorMessage(applied.error()));
    }
}

void OtherPage::SetRemote(RemoteCompanion* companion) {
    companion_ = companion;
    if (companion_ != nullptr) {
        connect(companion_, &RemoteCompanion::runningChanged, this, &OtherPage::RefreshRemote);
    }
    RefreshRemote();
}

void OtherPage::RefreshRemote() {
    remote_->setVisible(companion_ != nullptr);
    remoteState_->setVisible(companion_ != nullptr);
    if (companion_ == nullptr) return;
    // Checked while it runs ("--remote" included) or while set.ini wants it, even when it
    // could not start: the line beneath then says why.
    remote_->setChecked(companion_->Running() ||
                        (context_.settings != nullptr && context_.settings->remote == 1));
    remote_->setEnabled(context_.settings != nullptr);
    remoteState_->setText(companion_->StateText());
}

void OtherPage::OnRemote(bool on) {
    if (context_.settings == nullptr || companion_ == nullptr) return;
    const UserSettings undo = *context_.settings;
    context_.settings->remote = on ? 1 : 0;
    if (!SaveOrUndo(undo)) return;
    const Status changed = companion_->SetRunning(on);
    RefreshRemote();
    if (!changed) ShowError(Word(kWordRemoteFailed, {changed.message()}));
}

void OtherPage::OnAutostart(bool on) {
    const std::string program = FromQ(QCoreApplication::applicationFilePath());
    if (const Status set = SetAutostart(on, program); !set) {
        autostart_->setChecked(AutostartEnabled());
        ShowError(ErrorMessage(set.error()));
    }
}

// ---- Driver settings ----

void OtherPage::OnReset() {
    if (!Confirm(this, ButtonText(kResetText), MessageText(kResetQuestion))) return;
    StartReset();
}

void OtherPage::StartReset() {
    Started(ButtonText(kResetText));
    controller_.ResetDevice();
}

QString OtherPage::StartFolder() const {
    return ToQ(DialogStartFolder(ReadLastFolder(context_.settingsPath)));
}

void OtherPage::RememberFolder(const QString& file) {
    // Only a convenience for the next dialog: a settings file that cannot take it is said
    // when the options are saved, not here in the middle of a backup.
    static_cast<void>(RememberFolderOf(context_.settingsPath, FromQ(file)));
}

void OtherPage::OnBackup() {
    const QString proposed = QDir(StartFolder()).filePath(ProposedBackupName(QDate::currentDate()));
    QString file = chooseSave_(this, proposed);
    if (file.isEmpty()) return;
    file = WithBackupExtension(file);
    RememberFolder(file);
    Started(ButtonText(kBackupText), file);
    controller_.SaveBackupTo(FromQ(file));
}

void OtherPage::OnRestore() {
    const QString file = chooseOpen_(this, StartFolder());
    if (file.isEmpty()) return;
    RememberFolder(file);
    const QString caption = ButtonText(kRestoreText);
    const std::string fileName = FromQ(QFileInfo(file).fileName());

    // The file is judged before the question, so a wrong file never asks to overwrite.
    auto bytes = ReadFileIfExists(FromQ(file));
    if (!bytes || !*bytes) {
        // The open dialog only offers existing files; this one went away since.
        ShowError(bytes ? Word(kWordFileGone, {FromQ(QDir::toNativeSeparators(file))})
                        : ErrorMessage(bytes.error()));
        return;
    }
    auto contents = DecodeBackupFile(**bytes);
    if (!contents) {
        ShowError(ToQ(FileMessage(Ui(), fileName, contents.message())));
        return;
    }
    if (!Confirm(this, caption, MessageText(kRestoreQuestion))) return;

    // What speaks against the file is said before it is written anyway.
    const auto image = controller_.View().image;
    const auto findings = JudgeRestore(*contents, image->memoryTop);
    if (!findings.empty()) {
        QStringList lines;
        for (const RestoreFinding& f : findings) {
            if (f.concern == RestoreConcern::OtherSize) {
                lines << MessageText(kModelMismatch)
                      << ToQ(kEepromSizeText) + ": " + QString::number(contents->declaredBytes) +
                             " / " + QString::number(qulonglong{*image->memoryTop} + 1);
            } else {
                lines << ToQ(f.text);
            }
        }
        lines << MessageText(kRestoreQuestion);
        if (!Confirm(this, caption, lines.join("\n"))) return;
    }
    const bool force = !findings.empty();
    Started(caption, file);
    controller_.RestoreBackupFrom(FromQ(file), force);
}

void OtherPage::Started(const QString& operation, const QString& file) {
    running_.insert(operation);
    file_ = file;
    progress_->setValue(0);
    result_->clear();
    UpdateDriverButtons();
}

QString OtherPage::ResultLine(const QString& operation, const QString& error) const {
    if (!error.isEmpty()) {
        return Word(kWordOperationFailed, {FromQ(operation), FromQ(error.section('\n', 0, 0))});
    }
    const std::string file = FromQ(QDir::toNativeSeparators(file_));
    if (operation == ButtonText(kBackupText)) return Word(kWordBackupDone, {file});
    if (operation == ButtonText(kRestoreText)) return Word(kWordRestoreDone, {file});
    return Word(kWordResetDone, {});
}

void OtherPage::OnProgress(const QString& operation, int percent) {
    if (running_.count(operation) == 0) return;
    progress_->setValue(std::clamp(percent, 0, 100));
}

void OtherPage::OnFinished(const QString& operation, const QString& error) {
    if (auto it = running_.find(operation); it != running_.end()) {
        running_.erase(it);
        // The bar is ready for the next operation; the line says how this one ended.
        progress_->setValue(0);
        result_->setText(ResultLine(operation, error));
        if (!error.isEmpty()) ShowError(error);
    }
    UpdateDriverButtons();
}

void OtherPage::UpdateDriverButtons() {
    const DeviceView view = controller_.View();
    const bool ready = (view.present || view.uninitialised) && !view.keyboard &&
                       !controller_.Busy() && running_.empty();
    for (QPushButton* button : {reset_, backup_, restore_}) button->setEnabled(ready);
}

void OtherPage::ShowError(const QString& text) {
    if (context_.showError) {
        context_.showError(text);
    } else {
        ShowMessage(this, QString(), text);
    }
}

}  // namespace qvm::ui
