#include "ui/mouse_lighting_panel.h"

#include <QComboBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QPushButton>
#include <QSignalBlocker>
#include <QVBoxLayout>
#include <memory>
#include <string>
#include <utility>

#include "lang/ui_strings.h"
#include "lighting/mouse_lighting.h"
#include "present/led_picker.h"
#include "ui/colour_picker_dialog.h"
#include "ui/device_controller.h"
#include "ui/qt_text.h"
#include "ui/skin.h"

namespace qvm::ui {

namespace {

constexpr int kBodyFont = 4;
constexpr std::size_t kColourWord = 7;  // "Colour" of the lighting words
constexpr int kSwatchSide = 26;
constexpr int kNumberHeight = 14;
constexpr int kSwatchColumns = 8;

QColor ToColour(Rgb colour) {
    return {colour.red, colour.green, colour.blue};
}

}  // namespace

LedSwatch::LedSwatch(int led, QWidget* parent) : QAbstractButton(parent), led_(led) {
    setObjectName(QStringLiteral("led%1").arg(led));
    setCursor(Qt::PointingHandCursor);
    setFocusPolicy(Qt::StrongFocus);
    connect(this, &QAbstractButton::clicked, this,
            [this] { emit chosen(led_, std::exchange(ctrlHeld_, false)); });
}

void LedSwatch::SetRecord(const LedColour& record, Rgb shown) {
    record_ = record;
    shown_ = shown;
    const PickerMode mode = LedPickerMode(record);
    QString state = QString::fromStdString(FormatHexColour(shown));
    // The picker's own words for the modes ("Breathing", "OFF", "Profile colour").
    if (mode == PickerMode::Breathing) state += " · " + ToQ(Ui().button_str[47]);
    if (mode == PickerMode::Off) state = ToQ(Ui().button_str[49]);
    if (mode == PickerMode::ProfileColour) state += " · " + Word(kWordOpProfileColour);
    const QString name = Word(kWordLed, {std::to_string(led_ + 1)});
    setToolTip(name + ": " + state);
    setAccessibleName(name + ": " + state);
    update();
}

void LedSwatch::SetSelected(bool selected) {
    selected_ = selected;
    update();
}

QSize LedSwatch::sizeHint() const {
    return {kSwatchSide + 6, kSwatchSide + kNumberHeight + 4};
}

void LedSwatch::mousePressEvent(QMouseEvent* event) {
    ctrlHeld_ = (event->modifiers() & Qt::ControlModifier) != 0;
    QAbstractButton::mousePressEvent(event);
}

void LedSwatch::keyPressEvent(QKeyEvent* event) {
    // Ctrl+Space selects from the keyboard as Ctrl+click does with the pointer.
    ctrlHeld_ = (event->modifiers() & Qt::ControlModifier) != 0;
    QAbstractButton::keyPressEvent(event);
}

void LedSwatch::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF box((width() - kSwatchSide) / 2.0, 2, kSwatchSide, kSwatchSide);
    const PickerMode mode = LedPickerMode(record_);
    const QColor colour = ToColour(shown_);
    if (mode == PickerMode::Off) {
        painter.setBrush(skin::kPanel);
    } else if (mode == PickerMode::Breathing) {
        // Breathing: bright in the middle, fading to the edge.
        QRadialGradient glow(box.center(), kSwatchSide * 0.7);
        glow.setColorAt(0, colour);
        glow.setColorAt(1, colour.darker(300));
        painter.setBrush(glow);
    } else {
        painter.setBrush(colour);
    }
    const bool marked = selected_ || hasFocus();
    painter.setPen(QPen(selected_ ? skin::kAccent : (hasFocus() ? skin::kText : skin::kPanelEdge),
                        marked ? 2.5 : 1));
    painter.drawRoundedRect(box, 4, 4);

    const QColor ink = colour.lightness() > 140 ? skin::kLabelDark : skin::kLabelLight;
    painter.setPen(QPen(mode == PickerMode::Off ? skin::kTextDim : ink, 1.6));
    const QRectF inner = box.adjusted(7, 7, -7, -7);
    if (mode == PickerMode::Off) {
        painter.drawLine(inner.topLeft(), inner.bottomRight());
        painter.drawLine(inner.topRight(), inner.bottomLeft());
    } else if (mode == PickerMode::ProfileColour) {
        QFont font = skin::SharedFont(kBodyFont);
        font.setBold(true);
        painter.setFont(font);
        painter.drawText(box, Qt::AlignCenter, QStringLiteral("P"));
    } else if (mode == PickerMode::Breathing) {
        QPainterPath wave(QPointF(inner.left(), inner.center().y()));
        const qreal quarter = inner.width() / 4;
        wave.quadTo(inner.left() + quarter, inner.top(), inner.center().x(), inner.center().y());
        wave.quadTo(inner.right() - quarter, inner.bottom(), inner.right(), inner.center().y());
        painter.setBrush(Qt::NoBrush);
        painter.drawPath(wave);
    }
    painter.setPen(selected_ ? skin::kAccent : skin::kTextDim);
    painter.setFont(skin::SharedFont(kBodyFont));
    painter.drawText(QRectF(0, box.bottom() + 2, width(), kNumberHeight), Qt::AlignCenter,
                     QString::number(led_ + 1));
}

MouseLightingPanel::MouseLightingPanel(DeviceController& controller, ShowError showError,
                                       QWidget* parent)
    : QGroupBox(Word(kWordLightingPanel), parent),
      controller_(controller),
      showError_(std::move(showError)) {
    setObjectName("lightingPanel");
    auto* box = new QHBoxLayout(this);
    box->setSpacing(24);

    auto* effectColumn = new QVBoxLayout;
    effectLabel_ = new QLabel(Word(kWordLightingEffect), this);
    effect_ = new QComboBox(this);
    effect_->setObjectName("lightingEffect");
    effect_->setAccessibleName(Word(kWordLightingEffect));
    for (int e = 0; e <= kMaxMouseLightingEffect; ++e) effect_->addItem(QString::number(e));
    connect(effect_, &QComboBox::activated, this, &MouseLightingPanel::OnEffect);
    effectColumn->addWidget(effectLabel_);
    effectColumn->addWidget(effect_);
    effectColumn->addStretch();
    box->addLayout(effectColumn);

    leds_ = new QWidget(this);
    auto* ledColumn = new QVBoxLayout(leds_);
    ledColumn->setContentsMargins(0, 0, 0, 0);
    auto* grid = new QGridLayout;
    grid->setSpacing(2);
    for (int led = 0; led < kLedCount; ++led) {
        auto* swatch = new LedSwatch(led, leds_);
        swatches_[static_cast<std::size_t>(led)] = swatch;
        connect(swatch, &LedSwatch::chosen, this, &MouseLightingPanel::OnChosen);
        grid->addWidget(swatch, led / kSwatchColumns, led % kSwatchColumns);
    }
    auto* row = new QHBoxLayout;
    row->addLayout(grid);
    colour_ = new QPushButton(ToQ(kLightingPanelWords[kColourWord]), leds_);
    colour_->setObjectName("ledColour");
    colour_->setEnabled(false);
    connect(colour_, &QPushButton::clicked, this, [this] { PickColour(Selection()); });
    row->addWidget(colour_, 0, Qt::AlignVCenter);
    row->addStretch();
    ledColumn->addLayout(row);
    auto* hint = new QLabel(Word(kWordLedHint), leds_);
    hint->setStyleSheet(QStringLiteral("color: %1;").arg(skin::kTextDim.name()));
    hint->setWordWrap(true);
    ledColumn->addWidget(hint);
    box->addWidget(leds_, 1);
    setVisible(false);
}

void MouseLightingPanel::Refresh() {
    const DeviceView view = controller_.View();
    const bool usable = view.present && !view.away && !view.keyboard && !view.uninitialised;
    const auto effect = usable ? MouseLightingEffect(*view.image) : Result<int>(MakeError(""));
    // The table comes from the view's snapshot of the image: no device traffic, and no wait
    // for the model while a device task runs.
    std::optional<LedTable> table;
    if (auto shown = usable ? LedTableOf(*view.image) : Result<LedTable>(MakeError(""))) {
        table = *shown;
    }
    const bool effectShown = effect.ok() && *effect <= kMaxMouseLightingEffect;
    effectLabel_->setVisible(effectShown);
    effect_->setVisible(effectShown);
    if (effectShown) {
        const QSignalBlocker quiet(effect_);
        effect_->setCurrentIndex(*effect);
    }
    leds_->setVisible(table.has_value());
    if (table) {
        const Rgb profile = LedProfileColour(*view.image);
        for (int led = 0; led < kLedCount; ++led) {
            const LedColour& record = (*table)[static_cast<std::size_t>(led)];
            const bool follows = LedPickerMode(record) == PickerMode::ProfileColour;
            Swatch(led)->SetRecord(record,
                                   follows ? profile : Rgb{record.red, record.green, record.blue});
        }
    } else {
        selected_.clear();
    }
    for (int led = 0; led < kLedCount; ++led) Swatch(led)->SetSelected(selected_.count(led) != 0);
    colour_->setEnabled(!selected_.empty());
    setVisible(effectShown || table.has_value());
}

void MouseLightingPanel::OnEffect(int effect) {
    controller_.Change(HubOperation::Lighting, [effect](ConfigModel& model, const auto&) {
        return SetMouseLightingEffect(model, effect);
    });
}

void MouseLightingPanel::OnChosen(int led, bool toggleSelection) {
    if (!toggleSelection) {
        PickColour({led});
        return;
    }
    if (!selected_.erase(led)) selected_.insert(led);
    Swatch(led)->SetSelected(selected_.count(led) != 0);
    colour_->setEnabled(!selected_.empty());
}

void MouseLightingPanel::PickColour(std::vector<int> leds) {
    const std::shared_ptr<ConfigModel> model = controller_.Hub().Model();
    if (!model) return;
    auto opened = LedPicker::Open(*model, leds);
    if (!opened) {
        showError_(ErrorMessage(opened.error()));
        return;
    }
    const auto picker = std::make_shared<const LedPicker>(std::move(*opened));
    ColourPickerRequest request;
    request.caption = leds.size() == 1
                          ? Word(kWordLed, {std::to_string(leds.front() + 1)}).toStdString()
                          : std::string(kLightingPanelWords[kColourWord]);
    request.setup = picker->Setup();
    request.ledModes = true;
    DeviceController* controller = &controller_;
    request.preview = [picker, controller](const PickerChoice& choice, std::function<void()> done) {
        // The hub lets the preview go on its worker; the picker hears of it on this
        // thread. The controller outlives the hub, so the call never lands on nothing.
        controller->Change(HubOperation::Lighting,
                           picker->PreviewTask(choice, [controller, done = std::move(done)] {
                               QMetaObject::invokeMethod(controller, done, Qt::QueuedConnection);
                           }));
    };
    request.restore = [picker, controller] {
        controller->Change(HubOperation::Lighting, picker->RestoreTask());
    };
    if (const auto chosen = RunColourPicker(this, std::move(request))) {
        controller_.Change(HubOperation::Lighting, picker->StoreTask(*chosen));
    }
}

}  // namespace qvm::ui
