#include "ui/app_bind_dialog.h"

#include <QDir>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPixmap>
#include <QPushButton>
#include <QVBoxLayout>
#include <filesystem>

#include "lang/ui_strings.h"
#include "session/app_binding.h"
#include "ui/qt_text.h"

namespace qvm::ui {
namespace {

constexpr std::size_t kAssignCaption = 52;  // msg_str: "Assign an executable file to ..."
constexpr std::size_t kNameCaption = 53;    // msg_str: "Enter application name"
constexpr std::size_t kOkText = 7;          // button_str
constexpr std::size_t kCancelText = 8;      // button_str
constexpr int kIconSide = 32;
constexpr int kPathRole = Qt::UserRole;
// Wide enough for a path of a few folders beside the icon.
constexpr QSize kMinimumSize(520, 420);

QIcon ProgramIconOf(const WindowProgram& program) {
    if (!program.icon) return {};
    const ProgramIcon& icon = *program.icon;
    // Premultiplied or not, the desktop's icons are plain ARGB; the copy owns the pixels.
    const QImage image(reinterpret_cast<const uchar*>(icon.pixels.data()), icon.width, icon.height,
                       icon.width * 4, QImage::Format_ARGB32);
    return QIcon(QPixmap::fromImage(image.copy()));
}

QString DefaultChooser(QWidget* parent, const QString& folder) {
    return QFileDialog::getOpenFileName(parent, ToQ(Ui().msg_str[kAssignCaption]), folder);
}

Result<std::vector<WindowProgram>> DesktopPrograms() {
    return ListWindowPrograms();
}

}  // namespace

AppBindSources DefaultAppBindSources() {
    return {DesktopPrograms, DefaultChooser};
}

AppBindDialog::AppBindDialog(QWidget* parent, int profile, AppBindSources sources,
                             AppSlotStore store)
    : QDialog(parent), sources_(std::move(sources)), store_(std::move(store)) {
    const QString caption = ToQ(Ui().msg_str[kAssignCaption]);
    setWindowTitle(caption);
    setMinimumSize(kMinimumSize);
    auto* layout = new QVBoxLayout(this);
    // The profile the binding is for: the one whose tab offered it.
    auto* heading = new QLabel(
        QStringLiteral("%1 %2: %3").arg(ToQ(Ui().profile_str)).arg(profile + 1).arg(caption), this);
    heading->setWordWrap(true);
    layout->addWidget(heading);

    layout->addWidget(new QLabel(Word(kWordWindowPrograms), this));
    programs_ = new QListWidget(this);
    programs_->setIconSize(QSize(kIconSide, kIconSide));
    programs_->setObjectName(QStringLiteral("programs"));
    layout->addWidget(programs_, 1);

    auto* browseRow = new QHBoxLayout;
    chosen_ = new QLabel(this);
    chosen_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    chosen_->setWordWrap(true);
    browse_ = new QPushButton(Word(kWordBrowse), this);
    browseRow->addWidget(chosen_, 1);
    browseRow->addWidget(browse_);
    layout->addLayout(browseRow);

    auto* nameLabel = new QLabel(ToQ(Ui().msg_str[kNameCaption]), this);
    name_ = new QLineEdit(this);
    nameLabel->setBuddy(name_);
    layout->addWidget(nameLabel);
    layout->addWidget(name_);

    error_ = new QLabel(this);
    error_->setWordWrap(true);
    error_->setObjectName(QStringLiteral("error"));
    error_->hide();
    layout->addWidget(error_);

    auto* buttons = new QHBoxLayout;
    ok_ = new QPushButton(ToQ(Ui().button_str[kOkText]), this);
    ok_->setDefault(true);
    ok_->setEnabled(false);
    auto* cancel = new QPushButton(ToQ(Ui().button_str[kCancelText]), this);
    buttons->addStretch(1);
    buttons->addWidget(ok_);
    buttons->addWidget(cancel);
    layout->addLayout(buttons);

    // A list that takes the focus makes its first row current: the focus starts on
    // "Browse..." so that nothing is chosen until the user picks.
    FillPrograms();
    programs_->setCurrentRow(-1);
    browse_->setFocus();
    connect(ok_, &QPushButton::clicked, this, &AppBindDialog::accept);
    connect(cancel, &QPushButton::clicked, this, &AppBindDialog::reject);
    connect(browse_, &QPushButton::clicked, this, &AppBindDialog::Browse);
    connect(programs_, &QListWidget::currentItemChanged, this, [this](QListWidgetItem* item) {
        if (item != nullptr) Choose(item->data(kPathRole).toString().toStdString());
    });
    connect(programs_, &QListWidget::itemDoubleClicked, this, [this] { accept(); });
    connect(name_, &QLineEdit::textChanged, this, [this] { error_->hide(); });
}

void AppBindDialog::FillPrograms() {
    auto listed = sources_.listPrograms ? sources_.listPrograms()
                                        : MakeError(ErrorKind::Other, "no program list");
    if (!listed) {
        // The list is only a help: a file can still be chosen.
        programs_->setEnabled(false);
        ShowProblem(ToQ(listed.message()));
        return;
    }
    for (const WindowProgram& program : *listed) {
        const QString name = ToQ(GetAppDisplayName(program.executable));
        auto* item =
            new QListWidgetItem(ProgramIconOf(program),
                                name + QStringLiteral("\n") + ToQ(program.executable), programs_);
        item->setData(kPathRole, ToQ(program.executable));
        item->setToolTip(ToQ(program.title));
    }
}

void AppBindDialog::Choose(const std::string& path) {
    path_ = path;
    chosen_->setText(ToQ(path));
    // The name follows the choice unless the user typed one of their own.
    const QString proposed = ToQ(GetAppDisplayName(path));
    if (name_->text().isEmpty() || name_->text() == defaultName_) name_->setText(proposed);
    defaultName_ = proposed;
    ok_->setEnabled(true);
    error_->hide();
}

void AppBindDialog::Browse() {
    const QString folder =
        path_.empty() ? QDir::homePath() : ToQ(std::filesystem::path(path_).parent_path().string());
    const QString file = sources_.chooseFile ? sources_.chooseFile(this, folder) : QString();
    if (file.isEmpty()) return;
    programs_->setCurrentItem(nullptr);
    Choose(file.toStdString());
}

void AppBindDialog::ShowProblem(const QString& text) {
    error_->setText(text);
    error_->show();
}

void AppBindDialog::accept() {
    if (path_.empty()) return;
    auto slot = MakeAppSlot(path_, name_->text().trimmed().toStdString());
    if (!slot) {
        ShowProblem(ToQ(slot.message()));
        return;
    }
    if (Status stored = store_(*slot); !stored) {
        ShowProblem(ToQ(stored.message()));
        return;
    }
    QDialog::accept();
}

bool RunAppBindDialog(QWidget* parent, int profile, AppBindSources sources, AppSlotStore store) {
    AppBindDialog dialog(parent, profile, std::move(sources), std::move(store));
    return dialog.exec() == QDialog::Accepted;
}

}  // namespace qvm::ui
