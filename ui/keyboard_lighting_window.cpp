#include "ui/keyboard_lighting_window.h"

#include <QCloseEvent>
#include <QGraphicsOpacityEffect>
#include <QLabel>
#include <QListWidget>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>

#include "ui/confirm.h"
#include "ui/device_controller.h"
#include "ui/qt_text.h"
#include "ui/skin.h"

namespace qvm::ui {

namespace {

// The lighting words are the keyboard's own and stay English.
constexpr const char* kTitle = "Lighting";
constexpr const char* kHint = "Left click: select / deselect    Right click: deselect all";
constexpr const char* kResetQuestion =
    "Set the keyboard's lighting back to Rainbow at full brightness, with the side LED on "
    "and the game keys red?";
constexpr const char* kNoKeySelected = "Select the keys to colour first (left click on a key).";
constexpr const char* kProgramName = "QVM Gaming";

constexpr int kWidth = 940;
constexpr int kHeight = 712;
constexpr QRect kHeader(0, 0, kWidth, 56);
constexpr QRect kBody(0, 56, kWidth, kHeight - 56);
// Inside the body.
constexpr QRect kEffectList(20, 16, 210, 326);
constexpr int kControlsLeft = 260;
constexpr int kRowHeight = 32;
constexpr int kRowGap = 14;
constexpr int kLabelWidth = 110;
constexpr int kSmallButton = 36;
constexpr int kDirectionWidth = 78;
constexpr int kActionWidth = 130;
constexpr QRect kHintRect(20, 352, 900, 20);
constexpr QRect kPictureRect(20, 376, 900, 268);
constexpr qreal kAwayOpacity = 0.4;
constexpr int kKeyNameFont = 2;  // Tahoma 10
constexpr int kCaptionFont = 3;  // Tahoma 12

QColor ToColour(Rgb c) {
    return QColor(c.red, c.green, c.blue);
}

QLabel* Caption(const char* text, QWidget* parent) {
    auto* label = new QLabel(QString::fromLatin1(text), parent);
    label->setFont(skin::SharedFont(kCaptionFont));
    return label;
}

// The colour the picker starts from: the first selected key's for the custom effect, else
// the colour the effect shows.
Rgb ColourNow(const KeyboardLightingState& state, const std::vector<uint8_t>& selected) {
    if (state.effect == kCustomKeyboardEffect) {
        if (!selected.empty()) {
            const auto found = state.keys.find(selected.front());
            if (found != state.keys.end()) {
                return {found->second.red, found->second.green, found->second.blue};
            }
        }
        return {0xFF, 0xFF, 0xFF};
    }
    return state.effect == kStaticKeyboardEffect ? state.colour1 : state.colour2;
}

}  // namespace

// ---- Key picture ----

LightingKeyPicture::LightingKeyPicture(KeyPicture& picture, QWidget* parent)
    : QWidget(parent), picture_(picture) {
    setAttribute(Qt::WA_OpaquePaintEvent);
    colours_.assign(picture_.Keys().size(), Rgb{});
}

void LightingKeyPicture::SetColours(std::vector<Rgb> colours) {
    if (colours == colours_) return;  // a still picture costs no repaint
    colours_ = std::move(colours);
    update();
}

QRect LightingKeyPicture::KeyRect(std::size_t index) const {
    const qvm::KeyRect& r = picture_.Keys()[index].rect;
    // The picture is centred in the widget.
    const QPoint offset((width() - picture_.Width()) / 2, (height() - picture_.Height()) / 2);
    return QRect(QPoint(r.left, r.top) + offset, QPoint(r.right - 1, r.bottom - 1) + offset);
}

QSize LightingKeyPicture::sizeHint() const {
    return {picture_.Width() + 8, picture_.Height() + 8};
}

const QPixmap& LightingKeyPicture::Names(bool dark) {
    // The names are drawn once in each ink and copied onto the keys at every frame: laying
    // out a hundred texts ten times a second would cost more than the rest of the frame.
    QPixmap& names = names_[dark ? 1 : 0];
    const qreal ratio = devicePixelRatioF();
    if (names.size() != size() * ratio || names.devicePixelRatio() != ratio) {
        names = QPixmap(size() * ratio);
        names.setDevicePixelRatio(ratio);
        names.fill(Qt::transparent);
        QPainter painter(&names);
        painter.setFont(skin::SharedFont(kKeyNameFont));
        painter.setPen(dark ? skin::kLabelDark : skin::kLabelLight);
        const auto keys = picture_.Keys();
        for (std::size_t i = 0; i < keys.size(); ++i) {
            painter.drawText(KeyRect(i).adjusted(2, 2, -2, -2), Qt::AlignCenter | Qt::TextWordWrap,
                             ToQ(keys[i].name));
        }
    }
    return names;
}

void LightingKeyPicture::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.fillRect(rect(), skin::kPanel);
    const auto keys = picture_.Keys();
    for (std::size_t i = 0; i < keys.size(); ++i) {
        const QRect key = KeyRect(i);
        const QColor light = i < colours_.size() ? ToColour(colours_[i]) : QColor(Qt::black);
        painter.fillRect(key, light);
        const bool selected = picture_.Selected(i);
        painter.setPen(QPen(selected ? skin::kAccentBright : skin::kPanelEdge, selected ? 2 : 1));
        painter.drawRect(key.adjusted(0, 0, -1, -1));
        // The name in whichever of dark or light reads on the key's light.
        const QPixmap& names = Names(light.lightness() > 140);
        const qreal ratio = names.devicePixelRatio();
        painter.drawPixmap(
            key, names,
            QRectF(key.x() * ratio, key.y() * ratio, key.width() * ratio, key.height() * ratio));
    }
}

void LightingKeyPicture::mousePressEvent(QMouseEvent* event) {
    const QPoint offset((width() - picture_.Width()) / 2, (height() - picture_.Height()) / 2);
    const QPoint at = event->position().toPoint() - offset;
    const auto button =
        event->button() == Qt::RightButton ? PictureButton::Right : PictureButton::Left;
    if (event->button() != Qt::LeftButton && event->button() != Qt::RightButton) return;
    if (picture_.Click(at.x(), at.y(), button)) update();
}

// ---- Window ----

KeyboardLightingWindow::KeyboardLightingWindow(DeviceController& controller,
                                               const KeyboardLayout& layout, QWidget* parent)
    : QWidget(parent, Qt::Window),
      controller_(controller),
      picture_(layout),
      pickColour_(&RunColourPicker) {
    setWindowTitle(QString::fromLatin1(kTitle));
    setFixedSize(kWidth, kHeight);
    setAttribute(Qt::WA_OpaquePaintEvent);
    preview_.setInterval(kPreviewFrameMs);
    connect(&preview_, &QTimer::timeout, this, [this] {
        ++wakeups_;
        NextFrame();
    });
    Build();
    connect(&controller_, &DeviceController::viewChanged, this, &KeyboardLightingWindow::Refresh);
    Refresh();
}

KeyboardLightingWindow::~KeyboardLightingWindow() = default;

QWidget* KeyboardLightingWindow::BuildLevelRow(KeyboardLevel level, const char* name) {
    auto* row = new QWidget(body_);
    Caption(name, row)->setGeometry(0, 0, kLabelWidth, kRowHeight);
    auto* minus = new QPushButton(QString::fromUtf8("\u2212"), row);
    auto* value = new QLabel(row);
    auto* plus = new QPushButton(QStringLiteral("+"), row);
    minus->setGeometry(kLabelWidth, 0, kSmallButton, kRowHeight);
    value->setGeometry(kLabelWidth + kSmallButton, 0, kSmallButton, kRowHeight);
    value->setAlignment(Qt::AlignCenter);
    value->setFont(skin::SharedFont(kCaptionFont));
    plus->setGeometry(kLabelWidth + 2 * kSmallButton, 0, kSmallButton, kRowHeight);
    connect(minus, &QPushButton::clicked, this, [this, level] { StepLevel(level, -1); });
    connect(plus, &QPushButton::clicked, this, [this, level] { StepLevel(level, +1); });
    minus_[Index(level)] = minus;
    plus_[Index(level)] = plus;
    values_[Index(level)] = value;
    return row;
}

void KeyboardLightingWindow::Build() {
    model_ = new QLabel(this);
    model_->setGeometry(200, 14, kWidth - 220, 28);
    model_->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    model_->setStyleSheet(
        QStringLiteral("color: %1; background: transparent;").arg(skin::kTextDim.name()));

    body_ = new QWidget(this);
    body_->setGeometry(kBody);

    effects_ = new QListWidget(body_);
    effects_->setGeometry(kEffectList);
    const auto table = KeyboardEffects();
    for (std::size_t code = 0; code < table.size(); ++code) {
        auto* item = new QListWidgetItem(ToQ(table[code].name), effects_);
        if (static_cast<int>(code) == kCustomKeyboardEffect) {
            item->setToolTip(QStringLiteral("Colours per key: pick keys, then \"Colour\""));
        }
    }
    connect(effects_, &QListWidget::currentRowChanged, this, [this](int row) {
        if (!showing_ && row >= 0) Send(keyboard_actions::ChooseEffect(row));
    });

    int y = kEffectList.top();
    BuildLevelRow(KeyboardLevel::Speed, "Speed")->setGeometry(kControlsLeft, y, 300, kRowHeight);
    y += kRowHeight + kRowGap;
    BuildLevelRow(KeyboardLevel::Brightness, "Brightness")
        ->setGeometry(kControlsLeft, y, 300, kRowHeight);
    y += kRowHeight + kRowGap;

    Caption("Direction", body_)->setGeometry(kControlsLeft, y, kLabelWidth, kRowHeight);
    const auto names = KeyboardDirections();
    for (std::size_t d = 0; d < directions_.size(); ++d) {
        auto* button = new QPushButton(ToQ(names[d]), body_);
        button->setCheckable(true);
        button->setAutoExclusive(true);
        button->setGeometry(
            kControlsLeft + kLabelWidth + static_cast<int>(d) * (kDirectionWidth + 6), y,
            kDirectionWidth, kRowHeight);
        connect(button, &QPushButton::clicked, this, [this, d] {
            ShowState();  // the device's answer checks the button
            Send(keyboard_actions::ChooseDirection(static_cast<int>(d)));
        });
        directions_[d] = button;
    }
    y += kRowHeight + 2 * kRowGap;

    colour_ = new QPushButton(QStringLiteral("Colour"), body_);
    side_ = new QPushButton(QStringLiteral("Side LED"), body_);
    reset_ = new QPushButton(QStringLiteral("RESET"), body_);
    reset_->setProperty("danger", true);
    side_->setCheckable(true);
    int x = kControlsLeft;
    for (QPushButton* b : {colour_, side_, reset_}) {
        b->setGeometry(x, y, kActionWidth, kRowHeight + 4);
        x += kActionWidth + 16;
    }
    connect(colour_, &QPushButton::clicked, this, &KeyboardLightingWindow::ChooseColour);
    connect(side_, &QPushButton::clicked, this, [this] {
        side_->setChecked(state_.sideLed);  // the device's answer turns it
        Send(keyboard_actions::ToggleSideLed());
    });
    connect(reset_, &QPushButton::clicked, this, &KeyboardLightingWindow::ConfirmReset);

    auto* hint = new QLabel(QString::fromLatin1(kHint), body_);
    hint->setGeometry(kHintRect);
    hint->setStyleSheet(
        QStringLiteral("color: %1; background: transparent;").arg(skin::kTextDim.name()));
    pictureView_ = new LightingKeyPicture(picture_, body_);
    pictureView_->setGeometry(kPictureRect);
}

void KeyboardLightingWindow::Open() {
    const bool wasHidden = isHidden();
    show();
    setWindowState(windowState() & ~Qt::WindowMinimized);
    raise();
    activateWindow();
    // Another program may have changed the lights since: read them at every opening.
    if (wasHidden) {
        reading_ = false;
        RequestRead();
    }
}

void KeyboardLightingWindow::RequestRead() {
    if (reading_ || !live_) return;
    reading_ = true;
    Send(keyboard_actions::Open(picture_.KeyIndices()));
}

void KeyboardLightingWindow::Send(DeviceHub::KeyboardTask task) {
    if (!live_) return;  // no keyboard to send to: the controls are greyed
    controller_.Hub().ChangeKeyboard(HubOperation::Lighting, std::move(task));
}

void KeyboardLightingWindow::Refresh() {
    const DeviceView view = controller_.View();
    const bool live = view.keyboard && !view.path.empty();
    const bool back = live && (!live_ || view.path != path_);
    if (live) {
        path_ = view.path;
        model_->setText(ToQ(view.modelName));
    }
    ShowLive(live);
    if (!live) reading_ = false;
    if (live && view.keyboardLighting) {
        state_ = *view.keyboardLighting;
        reading_ = false;
    }
    // A keyboard (back) to work on, or one whose lights a refresh forgot, while the window
    // is open: its lights are read anew (until then the last ones known stay on show).
    if (live && isVisible() && (back || !view.keyboardLighting)) RequestRead();
    ShowState();
}

void KeyboardLightingWindow::ShowLive(bool live) {
    live_ = live;
    body_->setEnabled(live);
    if (live == (body_->graphicsEffect() == nullptr)) return;
    if (live) {
        body_->setGraphicsEffect(nullptr);
    } else {
        auto* fade = new QGraphicsOpacityEffect(body_);  // owned by the widget it fades
        fade->setOpacity(kAwayOpacity);
        body_->setGraphicsEffect(fade);
    }
}

void KeyboardLightingWindow::ShowState() {
    showing_ = true;
    effects_->setCurrentRow(state_.effect);
    for (KeyboardLevel level : {KeyboardLevel::Speed, KeyboardLevel::Brightness}) {
        const int value = level == KeyboardLevel::Speed ? state_.speed : state_.brightness;
        values_[Index(level)]->setText(QString::number(value));
        minus_[Index(level)]->setEnabled(value > 0);
        plus_[Index(level)]->setEnabled(value < kMaxKeyboardLevel);
    }
    for (std::size_t d = 0; d < directions_.size(); ++d) {
        directions_[d]->setChecked(static_cast<int>(d) == state_.direction);
    }
    side_->setChecked(state_.sideLed);
    showing_ = false;
    NextFrame();
}

void KeyboardLightingWindow::StepLevel(KeyboardLevel level, int delta) {
    const int value = level == KeyboardLevel::Speed ? state_.speed : state_.brightness;
    // At the end of the range there is nothing to change and nothing to send.
    if (value + delta < 0 || value + delta > kMaxKeyboardLevel) return;
    Send(keyboard_actions::Step(level, delta));
}

void KeyboardLightingWindow::ChooseColour() {
    if (!live_) return;
    const std::vector<uint8_t> selected = picture_.SelectedKeys();
    if (state_.effect == kCustomKeyboardEffect && selected.empty()) {
        ShowMessage(this, QString::fromLatin1(kProgramName), QString::fromLatin1(kNoKeySelected));
        return;
    }
    ColourPickerRequest request;
    request.caption = "Colour";
    const Rgb now = ColourNow(state_, selected);
    request.setup = {.initial = now, .profileColour = now};
    const auto chosen = pickColour_(this, std::move(request));
    if (!chosen) return;
    Send(keyboard_actions::ApplyColour(chosen->colour, selected));
}

void KeyboardLightingWindow::ConfirmReset() {
    if (!live_) return;
    if (!Confirm(this, QStringLiteral("RESET"), QString::fromLatin1(kResetQuestion))) return;
    Send(keyboard_actions::Reset(picture_.KeyKinds()));
}

void KeyboardLightingWindow::FollowPreview() {
    const bool seen = isVisible() && !(windowState() & Qt::WindowMinimized);
    if (seen == preview_.isActive()) return;
    if (seen) {
        since_.start();
        preview_.start();
        NextFrame();
    } else {
        preview_.stop();
    }
}

void KeyboardLightingWindow::NextFrame() {
    if (!preview_.isActive()) return;
    ++frames_;
    pictureView_->SetColours(PreviewFrame(state_, picture_.Keys(), since_.elapsed()));
}

void KeyboardLightingWindow::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    FollowPreview();
}

void KeyboardLightingWindow::hideEvent(QHideEvent* event) {
    QWidget::hideEvent(event);
    FollowPreview();
}

void KeyboardLightingWindow::closeEvent(QCloseEvent* event) {
    // One window for the program's life: closing hides it.
    event->ignore();
    hide();
    FollowPreview();
}

void KeyboardLightingWindow::changeEvent(QEvent* event) {
    QWidget::changeEvent(event);
    if (event->type() == QEvent::WindowStateChange) FollowPreview();
}

void KeyboardLightingWindow::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    skin::DrawBackground(painter, rect());
    skin::DrawHeaderBand(painter, kHeader);
    painter.setFont(skin::SharedFont(1));
    painter.setPen(skin::kText);
    painter.drawText(kHeader.adjusted(20, 0, 0, -4), Qt::AlignLeft | Qt::AlignVCenter,
                     QString::fromLatin1(kTitle));
}

// ---- Launcher ----

KeyboardLightingLauncher::KeyboardLightingLauncher(DeviceController& controller,
                                                   const KeyboardLayout& layout, QWidget* host,
                                                   QRect place)
    : QObject(host), controller_(controller), layout_(layout), host_(host) {
    button_ = new QPushButton(QString::fromLatin1(kTitle), host);
    button_->setObjectName("keyboardLightingButton");
    button_->setGeometry(place);
    button_->hide();
    connect(button_, &QPushButton::clicked, this, &KeyboardLightingLauncher::Open);
    connect(&controller_, &DeviceController::viewChanged, this, &KeyboardLightingLauncher::Follow);
    Follow();
}

void KeyboardLightingLauncher::Open() {
    if (window_ == nullptr) window_ = new KeyboardLightingWindow(controller_, layout_, host_);
    window_->Open();
}

void KeyboardLightingLauncher::Follow() {
    const DeviceView view = controller_.View();
    button_->setVisible(view.keyboard);
    if (!view.keyboard) {
        // Another device, or none: the next keyboard to become active opens the window.
        if (!view.path.empty() || view.devices.empty()) opened_.clear();
        // A mouse became the device worked on: the keyboard's window goes out of the way
        // (and its preview stops). A keyboard that only left keeps its window, greyed.
        if (!view.path.empty() && window_ != nullptr) window_->hide();
        return;
    }
    if (view.path == opened_) return;
    opened_ = view.path;
    Open();
}

}  // namespace qvm::ui
