#include "ui/button_page.h"

#include <QAction>
#include <QFileInfo>
#include <QPainter>
#include <QPushButton>
#include <array>

#include "config/button_text.h"
#include "lang/ui_strings.h"
#include "platform/folders.h"
#include "present/button_settings.h"
#include "present/info_text.h"
#include "ui/button_map_view.h"
#include "ui/button_row.h"
#include "ui/button_settings_dialog.h"
#include "ui/qt_text.h"
#include "ui/quick_bind_input.h"
#include "ui/skin.h"

namespace qvm::ui {

namespace {

constexpr int kSettingsText = 0;      // button_str: "Button settings"
constexpr int kDefaultText = 9;       // button_str: "Default"
constexpr int kMacroListText = 1;     // msg_str: "Macro list"
constexpr int kMacroEditorText = 33;  // button_str: "Macro edit"
constexpr const char* kHelpImage = "main_help.png";

// The control row in window pixels, and where this page sits in the window.
constexpr QRect kControlRow(272, 556, 480, 36);  // centred below the mouse
constexpr int kPageTop = 108;
constexpr int kControlGap = 12;

// The help picture drawn over the page; clicks pass through to the page below.
class HelpOverlay : public QWidget {
  public:
    HelpOverlay(QPixmap picture, QWidget* parent) : QWidget(parent), picture_(std::move(picture)) {
        setAttribute(Qt::WA_TransparentForMouseEvents);
        setAttribute(Qt::WA_NoSystemBackground);
    }
    bool HasPicture() const { return !picture_.isNull(); }

  protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        painter.drawPixmap(rect(), picture_);
    }

  private:
    QPixmap picture_;
};

QPixmap HelpPicture(const std::string& programFolder) {
    const QString file = ToQ(JoinPath(programFolder, kHelpImage));
    if (QFileInfo::exists(file)) {
        QPixmap picture(file);
        if (!picture.isNull()) return picture;
    }
    return skin::LoadSkinImage(skin::kImageHelpOverlay);
}

}  // namespace

ButtonPage::ButtonPage(DeviceController& controller, ButtonPageContext context, QWidget* parent)
    : QWidget(parent), controller_(controller), context_(std::move(context)) {
    map_ = new ButtonMapView(this);
    map_->SetNoDeviceText(ToQ(NoDeviceText(Ui())));
    helpOverlay_ = new HelpOverlay(HelpPicture(context_.programFolder), this);
    helpOverlay_->hide();
    quickBind_ = new QuickBindInput(*context_.input, this, this);

    default_ = new QPushButton(ToQ(Ui().button_str[kDefaultText]), this);
    default_->setObjectName("defaultButton");
    help_ = new QPushButton(ToQ(Ui().word_str[kWordHelp]), this);
    help_->setObjectName("helpButton");
    help_->setCheckable(true);
    help_->setEnabled(static_cast<HelpOverlay*>(helpOverlay_)->HasPicture());
    macroList_ = new QPushButton(ToQ(Ui().msg_str[kMacroListText]), this);
    macroList_->setObjectName("macroListButton");
    macroEditor_ = new QPushButton(ToQ(Ui().button_str[kMacroEditorText]), this);
    macroEditor_->setObjectName("macroEditorButton");
    macroEditor_->setToolTip(ToQ(Ui().macro_editor_cap_str));

    connect(map_, &ButtonMapView::buttonClicked, this, &ButtonPage::OpenSettings);
    connect(map_, &ButtonMapView::quickBindClicked, this, &ButtonPage::OnQuickBind);
    connect(map_, &ButtonMapView::functionDropped, this,
            [this](int position, ButtonSlot slot, const QString&) { OnDropped(position, slot); });
    connect(default_, &QPushButton::clicked, this, &ButtonPage::ResetSelected);
    connect(help_, &QPushButton::toggled, this, [this] { Refresh(); });
    connect(macroList_, &QPushButton::clicked, this, [this] {
        if (context_.showMacroList) context_.showMacroList();
    });
    connect(macroEditor_, &QPushButton::clicked, this, [this] {
        if (context_.showMacroEditor) context_.showMacroEditor();
    });
    connect(map_, &ButtonMapView::menuRequested, this, &ButtonPage::ShowLabelMenu);
    quickBind_->SetStopTest([this](const QPoint& globalPos) {
        return map_->StopsBinding(map_->mapFromGlobal(globalPos));
    });
    connect(quickBind_, &QuickBindInput::prompted, this, [this](const QString& prompt) {
        map_->SetBinding(quickBind_->Position(), prompt, quickBind_->Note());
    });
    connect(quickBind_, &QuickBindInput::ended, this,
            [this] { map_->SetBinding(std::nullopt, QString()); });
    connect(quickBind_, &QuickBindInput::bound, this, [this](int, int button, ButtonSlot slot) {
        controller_.Change(HubOperation::AssignButton,
                           Setter(&ConfigModel::AssignSlot, Profile(), button, slot));
    });
    PlaceControls();
}

ButtonPage::~ButtonPage() = default;

bool ButtonPage::HelpShown() const {
    return helpOverlay_->isVisible();
}

int ButtonPage::Profile() const {
    return controller_.View().image->currentProfile;
}

std::optional<int> ButtonPage::ButtonAt(int position) const {
    const DeviceView view = controller_.View();
    if (!view.present || position < 0 || position >= view.layout.ButtonCount ||
        position >= kLayoutPositions) {
        return std::nullopt;
    }
    const int button = view.layout.ButtonOrder[static_cast<std::size_t>(position)];
    if (button < 0 || button >= view.image->ButtonCount()) return std::nullopt;
    return button;
}

void ButtonPage::Refresh() {
    const DeviceView view = controller_.View();
    // A keyboard has no buttons to set here: the page says where its settings are.
    map_->SetNoDeviceText(
        ToQ(view.keyboard ? Ui().word_str[kWordKeyboardPage] : NoDeviceText(Ui())));
    if (!view.present) {
        quickBind_->Cancel();
        selected_.reset();
        map_->SetLayout(std::nullopt);
        map_->SetLabels({});
        map_->SetSelected(std::nullopt);
        helpOverlay_->hide();
        default_->setEnabled(false);
        return;
    }
    const ConfigImage& image = *view.image;
    const auto& profile = image.buttons[static_cast<std::size_t>(image.currentProfile)];
    std::vector<ButtonLabel> labels;
    for (int position = 0; position < view.layout.ButtonCount && position < kLayoutPositions;
         ++position) {
        const int button = view.layout.ButtonOrder[static_cast<std::size_t>(position)];
        if (button < 0 || button >= image.ButtonCount()) continue;
        const ShownSlot& shown = profile[static_cast<std::size_t>(button)];
        const std::string text = ShownButtonText(image, shown);
        labels.push_back(ButtonLabel{position, ToQ(text), image.soleLeftClickButton == button,
                                     ToQ(ButtonToolTip(text, shown.slot.Bytes()))});
    }
    if (selected_ && !ButtonAt(*selected_)) selected_.reset();
    map_->SetLayout(view.layout);
    map_->SetLabels(std::move(labels));
    map_->SetSelected(selected_);
    default_->setEnabled(selected_.has_value());
    helpOverlay_->setVisible(help_->isChecked());
    if (help_->isChecked()) helpOverlay_->raise();
    for (QWidget* control :
         {static_cast<QWidget*>(default_), static_cast<QWidget*>(help_),
          static_cast<QWidget*>(macroList_), static_cast<QWidget*>(macroEditor_)}) {
        control->raise();
    }
}

void ButtonPage::OpenSettings(int position) {
    const auto button = ButtonAt(position);
    if (!button || context_.library == nullptr || context_.keyboard == nullptr) return;
    quickBind_->Cancel();
    selected_ = position;
    map_->SetSelected(selected_);
    default_->setEnabled(true);

    const DeviceView view = controller_.View();
    const int profile = view.image->currentProfile;
    auto model =
        ButtonSettingsModel::Create(*view.image, view.layout, *context_.library, profile, position);
    if (!model) {
        if (context_.showError) context_.showError(ErrorMessage(model.error()));
        return;
    }
    if (context_.hideMacroList) context_.hideMacroList();
    const auto& profileInfo = view.image->profiles[static_cast<std::size_t>(profile)];
    const auto& shown =
        view.image->buttons[static_cast<std::size_t>(profile)][static_cast<std::size_t>(*button)];
    ButtonSettingsDialog dialog(std::move(model).value(), *view.image, *context_.keyboard, this);
    dialog.setWindowTitle(ButtonSettingsTitle(position, ToQ(ShownButtonText(*view.image, shown)),
                                              ToQ(profileInfo.name)));
    if (context_.recordIntervals && context_.setRecordIntervals) {
        dialog.ShareRecordIntervals(context_.recordIntervals(), context_.setRecordIntervals);
    }
    const int answer = dialog.exec();
    if (dialog.MacroEditorWanted()) {
        if (context_.showMacroEditor) context_.showMacroEditor();
        return;
    }
    if (answer != QDialog::Accepted) return;
    Assign(profile, *button, dialog.Result());
    if (auto cycle = dialog.KeyCycleResult()) {
        controller_.Change(HubOperation::KeyCycleList,
                           Setter(&ConfigModel::SetKeyCycleList, profile, *cycle));
    }
    selected_.reset();
    Refresh();
}

void ButtonPage::OnDropped(int position, ButtonSlot slot) {
    const auto button = ButtonAt(position);
    if (!button) return;
    // The one button that gives a left click keeps it, or the mouse could not click.
    if (controller_.View().image->soleLeftClickButton == *button) return;
    Assign(Profile(), *button, slot);
}

void ButtonPage::Assign(int profile, int button, ButtonSlot slot) {
    // Type 0 ("Default"): the model writes the button's own function, never the 0.
    controller_.Change(HubOperation::AssignButton,
                       Setter(&ConfigModel::AssignSlot, profile, button, slot));
}

void ButtonPage::OnQuickBind(int position) {
    const auto button = ButtonAt(position);
    if (!button) return;
    if (Status started = quickBind_->Start(position, *button); !started) {
        if (context_.showError) context_.showError(ErrorMessage(started.error()));
    }
}

void ButtonPage::ResetSelected() {
    if (selected_) ResetPosition(*selected_);
}

void ButtonPage::ResetPosition(int position) {
    if (const auto button = ButtonAt(position)) {
        Assign(Profile(), *button, ButtonSlot{});
    }
}

void ButtonPage::ShowLabelMenu(int position, const QPoint& globalPos) {
    if (!ButtonAt(position)) return;
    quickBind_->Cancel();
    selected_ = position;
    map_->SetSelected(selected_);
    default_->setEnabled(true);
    if (labelMenu_) labelMenu_->close();
    auto* menu = new QMenu(this);
    menu->setAttribute(Qt::WA_DeleteOnClose);
    menu->setObjectName("labelMenu");
    // Queued: the dialog runs its own event loop, which must not start inside the menu's.
    connect(menu->addAction(ToQ(Ui().button_str[kSettingsText])), &QAction::triggered, this,
            [this, position] {
                QMetaObject::invokeMethod(
                    this, [this, position] { OpenSettings(position); }, Qt::QueuedConnection);
            });
    connect(menu->addAction(ToQ(Ui().button_str[kDefaultText])), &QAction::triggered, this,
            [this, position] { ResetPosition(position); });
    labelMenu_ = menu;
    menu->popup(globalPos);
}

void ButtonPage::resizeEvent(QResizeEvent*) {
    PlaceControls();
}

void ButtonPage::PlaceControls() {
    map_->setGeometry(rect());
    helpOverlay_->setGeometry(rect());
    const std::array<QPushButton*, 4> controls{default_, help_, macroList_, macroEditor_};
    PlaceButtonRow(controls, kControlRow.translated(0, -kPageTop), kControlGap);
}

}  // namespace qvm::ui
