#include "ui/colour_picker_dialog.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPainter>
#include <QPointer>
#include <QPushButton>
#include <QSlider>
#include <QVBoxLayout>
#include <QtMath>
#include <cmath>
#include <utility>

#include "ui/qt_text.h"
#include "ui/skin.h"

namespace qvm::ui {
namespace {

// UI string entries the window shows (button_str).
constexpr std::size_t kOkText = 7;
constexpr std::size_t kCancelText = 8;
constexpr std::array<std::size_t, 3> kModeTexts = {47, 48, 49};  // Breathing, ON, OFF
constexpr std::array<PickerMode, 3> kModeButtons = {PickerMode::Breathing, PickerMode::On,
                                                    PickerMode::Off};
constexpr std::array<std::size_t, 3> kChannelTexts = {kWordColourRed, kWordColourGreen,
                                                      kWordColourBlue};
constexpr int kCaptionFont = 8;  // Tahoma bold 14
constexpr int kBodyFont = 3;     // Tahoma 12
constexpr int kWheelSize = 180;
constexpr int kSwatchSize = 22;
constexpr int kMarkerRadius = 5;

// True when a model edit went through and changed the choice; a refused value changes
// nothing, so there is nothing to show anew either.
bool Changed(const Result<bool>& edit) {
    return edit && *edit;
}

QColor ToColour(Rgb c) {
    return QColor(c.red, c.green, c.blue);
}

QString FilledStyle(Rgb c, const QColor& edge) {
    return QStringLiteral(
               "QPushButton, QWidget { background: %1; border: 1px solid %2; "
               "border-radius: 3px; }")
        .arg(ToColour(c).name(), edge.name());
}

QPushButton* SwatchButton(Rgb colour, QWidget* parent) {
    auto* button = new QPushButton(parent);
    button->setFixedSize(kSwatchSize, kSwatchSize);
    button->setStyleSheet(FilledStyle(colour, skin::kPanelEdge));
    button->setToolTip(QString::fromStdString(FormatHexColour(colour)));
    button->setAutoDefault(false);
    return button;
}

}  // namespace

// ---- HueSaturationWheel ----

HueSaturationWheel::HueSaturationWheel(QWidget* parent) : QWidget(parent) {
    setMinimumSize(kWheelSize, kWheelSize);
    setCursor(Qt::CrossCursor);
}

QSize HueSaturationWheel::sizeHint() const {
    return {kWheelSize, kWheelSize};
}

void HueSaturationWheel::SetHsv(Hsv hsv) {
    if (hsv == hsv_) return;
    hsv_ = hsv;
    update();
}

QRectF HueSaturationWheel::Disc() const {
    const qreal side = std::min(width(), height()) - 2.0 * kMarkerRadius;
    return {(width() - side) / 2, (height() - side) / 2, side, side};
}

QPointF HueSaturationWheel::MarkerPosition(int hue, int saturation) const {
    const QRectF disc = Disc();
    const qreal radius = disc.width() / 2 * saturation / kChannelMax;
    const qreal angle = qDegreesToRadians(qreal(hue));
    // Hue 0 (red) points right and hues grow anticlockwise, as on a colour circle.
    return disc.center() + QPointF(radius * std::cos(angle), -radius * std::sin(angle));
}

void HueSaturationWheel::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    disc_ = QImage();
}

void HueSaturationWheel::paintEvent(QPaintEvent*) {
    const QRectF disc = Disc();
    if (disc_.isNull()) {
        const int side = int(disc.width());
        disc_ = QImage(side, side, QImage::Format_ARGB32_Premultiplied);
        disc_.fill(Qt::transparent);
        const qreal half = side / 2.0;
        for (int y = 0; y < side; ++y) {
            for (int x = 0; x < side; ++x) {
                const qreal dx = x + 0.5 - half, dy = half - (y + 0.5);
                const qreal distance = std::hypot(dx, dy) / half;
                if (distance > 1.0) continue;
                int hue = int(std::lround(qRadiansToDegrees(std::atan2(dy, dx))));
                hue = (hue % kHueSteps + kHueSteps) % kHueSteps;
                const auto rgb = HsvToRgb({hue, int(std::lround(distance * kChannelMax)), 255});
                if (rgb) disc_.setPixelColor(x, y, ToColour(*rgb));
            }
        }
    }
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.drawImage(disc.topLeft(), disc_);
    // The value darkens the whole disc, as it darkens every colour on it.
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(0, 0, 0, kChannelMax - hsv_.value));
    painter.drawEllipse(disc);
    painter.setBrush(Qt::NoBrush);
    painter.setPen(QPen(skin::kPanelEdge, 1));
    painter.drawEllipse(disc);
    const QPointF marker = MarkerPosition(hsv_.hue, hsv_.saturation);
    painter.setPen(QPen(Qt::black, 3));
    painter.drawEllipse(marker, kMarkerRadius, kMarkerRadius);
    painter.setPen(QPen(Qt::white, 1.5));
    painter.drawEllipse(marker, kMarkerRadius, kMarkerRadius);
}

void HueSaturationWheel::PickAt(QPointF point) {
    const QRectF disc = Disc();
    const QPointF d = point - disc.center();
    const qreal distance = std::min(1.0, std::hypot(d.x(), d.y()) / (disc.width() / 2));
    int hue = int(std::lround(qRadiansToDegrees(std::atan2(-d.y(), d.x()))));
    hue = (hue % kHueSteps + kHueSteps) % kHueSteps;
    emit picked(hue, int(std::lround(distance * kChannelMax)));
}

void HueSaturationWheel::mousePressEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton) PickAt(event->position());
}

void HueSaturationWheel::mouseMoveEvent(QMouseEvent* event) {
    if (event->buttons() & Qt::LeftButton) PickAt(event->position());
}

// ---- ColourPickerDialog ----

ColourPickerDialog::ColourPickerDialog(ColourPickerRequest request, QWidget* parent,
                                       const UiStrings& strings)
    : QDialog(parent, Qt::Dialog | Qt::FramelessWindowHint),
      request_(std::move(request)),
      strings_(strings),
      model_(request_.setup) {
    setWindowTitle(ToQ(request_.caption));
    setModal(true);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(18, 14, 18, 14);
    layout->setSpacing(10);
    auto* caption = new QLabel(ToQ(request_.caption), this);
    caption->setFont(skin::SharedFont(kCaptionFont));
    caption->setVisible(!request_.caption.empty());
    layout->addWidget(caption);
    layout->addWidget(BuildColourControls());
    auto* swatchRow = new QHBoxLayout;
    swatchRow->setSpacing(6);
    for (std::size_t i = 0; i < kSwatchCount; ++i) {
        QPushButton* swatch = SwatchButton(PickerSwatches()[i], this);
        connect(swatch, &QPushButton::clicked, this,
                [this, i] { Show(Changed(model_.ChooseSwatch(i))); });
        swatches_.push_back(swatch);
        swatchRow->addWidget(swatch);
    }
    swatchRow->addStretch();
    layout->addLayout(swatchRow);
    if (request_.ledModes) layout->addWidget(BuildModeRow());
    layout->addWidget(BuildButtons());
    Show(false);
}

ColourPickerDialog::~ColourPickerDialog() = default;

QWidget* ColourPickerDialog::BuildColourControls() {
    auto* box = new QWidget(this);
    auto* row = new QHBoxLayout(box);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(12);
    wheel_ = new HueSaturationWheel(box);
    connect(wheel_, &HueSaturationWheel::picked, this, [this](int hue, int saturation) {
        Hsv hsv = model_.PickedHsv();
        hsv.hue = hue;
        hsv.saturation = saturation;
        // A pick on a black disc would change nothing the eye sees: it brings the light up.
        if (hsv.value == 0) hsv.value = kChannelMax;
        Show(Changed(model_.SetHsv(hsv)));
    });
    row->addWidget(wheel_);
    value_ = new QSlider(Qt::Vertical, box);
    value_->setRange(0, kChannelMax);
    connect(value_, &QSlider::valueChanged, this, [this](int value) {
        if (showing_) return;
        Hsv hsv = model_.PickedHsv();
        hsv.value = value;
        Show(Changed(model_.SetHsv(hsv)), value_);
    });
    row->addWidget(value_);

    auto* grid = new QGridLayout;
    grid->setVerticalSpacing(8);
    for (int c = 0; c < 3; ++c) {
        const auto i = std::size_t(c);
        auto* name = new QLabel(ToQ(strings_.word_str[kChannelTexts[i]]), box);
        name->setFont(skin::SharedFont(kBodyFont));
        channels_[i] = new QSlider(Qt::Horizontal, box);
        channels_[i]->setRange(0, kChannelMax);
        channels_[i]->setMinimumWidth(150);
        channelValues_[i] = new QLabel(box);
        channelValues_[i]->setFont(skin::SharedFont(kBodyFont));
        channelValues_[i]->setMinimumWidth(28);
        connect(channels_[i], &QSlider::valueChanged, this, [this, c](int value) {
            if (showing_) return;
            Show(Changed(model_.SetChannel(c, value)), channels_[std::size_t(c)]);
        });
        grid->addWidget(name, c, 0);
        grid->addWidget(channels_[i], c, 1);
        grid->addWidget(channelValues_[i], c, 2);
    }
    hex_ = new QLineEdit(box);
    hex_->setMaxLength(7);
    hex_->setFont(skin::SharedFont(7));  // Courier New 11
    hex_->setFixedWidth(96);
    connect(hex_, &QLineEdit::textEdited, this, &ColourPickerDialog::TypedHex);
    grid->addWidget(hex_, 3, 1, Qt::AlignLeft);
    sample_ = new QWidget(box);
    sample_->setAttribute(Qt::WA_StyledBackground);
    sample_->setFixedSize(56, 32);
    grid->addWidget(sample_, 3, 2, 1, 1, Qt::AlignRight);
    hint_ = new QLabel(ToQ(strings_.word_str[kWordHexColourHint]), box);
    hint_->setFont(skin::SharedFont(kBodyFont));
    hint_->setWordWrap(true);
    hint_->setStyleSheet(QStringLiteral("color: %1;").arg(skin::kDanger.name()));
    hint_->setVisible(false);
    grid->addWidget(hint_, 4, 0, 1, 3);
    grid->setRowStretch(5, 1);
    row->addLayout(grid);
    return box;
}

QWidget* ColourPickerDialog::BuildModeRow() {
    auto* box = new QWidget(this);
    auto* row = new QHBoxLayout(box);
    row->setContentsMargins(0, 0, 0, 0);
    for (std::size_t i = 0; i < modes_.size(); ++i) {
        modes_[i] = new QPushButton(ToQ(strings_.button_str[kModeTexts[i]]), box);
        modes_[i]->setCheckable(true);
        modes_[i]->setAutoDefault(false);
        const PickerMode mode = kModeButtons[i];
        connect(modes_[i], &QPushButton::clicked, this,
                [this, mode] { Show(model_.SetMode(mode)); });
        row->addWidget(modes_[i]);
    }
    row->addSpacing(16);
    auto* label = new QLabel(ToQ(strings_.word_str[kWordOpProfileColour]), box);
    label->setFont(skin::SharedFont(kBodyFont));
    row->addWidget(label);
    profileSwatch_ = SwatchButton(request_.setup.profileColour, box);
    profileSwatch_->setCheckable(true);
    connect(profileSwatch_, &QPushButton::clicked, this,
            [this] { Show(model_.SetMode(PickerMode::ProfileColour)); });
    row->addWidget(profileSwatch_);
    row->addStretch();
    return box;
}

QWidget* ColourPickerDialog::BuildButtons() {
    auto* box = new QWidget(this);
    auto* row = new QHBoxLayout(box);
    row->setContentsMargins(0, 4, 0, 0);
    row->addStretch();
    ok_ = new QPushButton(ToQ(strings_.button_str[kOkText]), box);
    cancel_ = new QPushButton(ToQ(strings_.button_str[kCancelText]), box);
    ok_->setDefault(true);
    cancel_->setAutoDefault(false);
    connect(ok_, &QPushButton::clicked, this, &QDialog::accept);
    connect(cancel_, &QPushButton::clicked, this, &QDialog::reject);
    row->addWidget(ok_);
    row->addWidget(cancel_);
    return box;
}

QPushButton* ColourPickerDialog::ModeButton(PickerMode mode) const {
    if (mode == PickerMode::ProfileColour) return profileSwatch_;
    for (std::size_t i = 0; i < kModeButtons.size(); ++i) {
        if (kModeButtons[i] == mode) return modes_[i];
    }
    return nullptr;
}

void ColourPickerDialog::Show(bool choiceChanged, const QWidget* from) {
    showing_ = true;
    const Rgb picked = model_.Picked();
    const Hsv hsv = model_.PickedHsv();
    wheel_->SetHsv(hsv);
    if (from != value_) value_->setValue(hsv.value);
    const std::array<int, 3> values{picked.red, picked.green, picked.blue};
    for (std::size_t i = 0; i < channels_.size(); ++i) {
        if (from != channels_[i]) channels_[i]->setValue(values[i]);
        channelValues_[i]->setText(QString::number(values[i]));
    }
    // The field and the sample show the colour as the device will show it.
    if (from != hex_) {
        hex_->setText(QString::fromStdString(FormatHexColour(model_.Shown())));
        hint_->setVisible(false);
    }
    sample_->setStyleSheet(FilledStyle(model_.Shown(), skin::kPanelEdge));
    for (std::size_t i = 0; i < modes_.size(); ++i) {
        if (modes_[i]) modes_[i]->setChecked(model_.Mode() == kModeButtons[i]);
    }
    if (profileSwatch_) profileSwatch_->setChecked(model_.Mode() == PickerMode::ProfileColour);
    showing_ = false;
    if (choiceChanged && request_.preview) {
        if (auto start = previews_.Want(model_.Choice())) StartPreview(*start);
    }
}

void ColourPickerDialog::TypedHex(const QString& text) {
    // A colour takes effect as soon as the text is one; a half-typed one waits quietly.
    auto changed = model_.SetHex(FromQ(text));
    if (changed) {
        hint_->setVisible(false);
        Show(*changed, hex_);
    }
}

void ColourPickerDialog::StartPreview(const PickerChoice& choice) {
    request_.preview(choice, [guard = QPointer<ColourPickerDialog>(this)] {
        if (guard) guard->PreviewFinished();
    });
}

void ColourPickerDialog::PreviewFinished() {
    if (auto next = previews_.Finished()) StartPreview(*next);
}

void ColourPickerDialog::accept() {
    // OK with text in the field that is no colour: say so and stay, rather than store a
    // colour the user no longer sees written there.
    if (!ParseHexColour(FromQ(hex_->text()))) {
        hint_->setVisible(true);
        hex_->setFocus();
        hex_->selectAll();
        return;
    }
    previews_.DropWaiting();
    QDialog::accept();
}

void ColourPickerDialog::reject() {
    previews_.DropWaiting();
    if (request_.restore) request_.restore();
    QDialog::reject();
}

void ColourPickerDialog::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    // Typing a colour is the quickest way to one: the field starts with the keyboard.
    hex_->setFocus();
    hex_->selectAll();
}

void ColourPickerDialog::paintEvent(QPaintEvent* event) {
    QDialog::paintEvent(event);
    // Without a window frame, a thin edge sets the window off from the one beneath.
    QPainter painter(this);
    painter.setPen(skin::kPanelEdge);
    painter.drawRect(rect().adjusted(0, 0, -1, -1));
}

std::optional<PickerChoice> RunColourPicker(QWidget* parent, ColourPickerRequest request) {
    ColourPickerDialog dialog(std::move(request), parent);
    if (dialog.exec() != QDialog::Accepted) return std::nullopt;
    return dialog.Choice();
}

}  // namespace qvm::ui
