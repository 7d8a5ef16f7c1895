#include "ui/dpi_page.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QRadioButton>
#include <QSignalBlocker>
#include <QSlider>
#include <QVBoxLayout>
#include <algorithm>

#include "lang/ui_strings.h"
#include "present/info_text.h"
#include "ui/device_controller.h"
#include "ui/qt_text.h"

namespace qvm::ui {

namespace {

// button_str entries of the page.
constexpr int kTitleText = 1;  // "DPI settings"
constexpr int kIndependentText = 22;
constexpr int kSnappingText = 23;
constexpr int kRateText = 24;

// Narrow enough that the options row holds its longest translated texts.
constexpr int kRateSliderMinWidth = 120;
// The report-rate slider runs from the slowest rate at the left to the fastest at the
// right: position 7 - code.
constexpr int kRatePositions = kMaxRateCode + 1;
int RateCodeAt(int position) {
    return kMaxRateCode - position;
}
int RatePositionOf(int code) {
    return kMaxRateCode - std::clamp(code, 0, kMaxRateCode);
}

QString RateText(int code) {
    auto text = ReportRateText(code);
    return text ? ToQ(*text) : QString();
}

QString DpiText(int steps, int dpiStep) {
    return QString::number(steps * dpiStep);
}

constexpr int kValueWidth = 64;  // room for "16000" in the value column

QSlider* MakeSlider(QWidget* parent, const QString& name) {
    auto* slider = new QSlider(Qt::Horizontal, parent);
    slider->setObjectName(name);
    slider->setMinimumWidth(160);
    return slider;
}

QLabel* MakeValueLabel(QWidget* parent, const QString& name) {
    auto* label = new QLabel(parent);
    label->setObjectName(name);
    label->setMinimumWidth(kValueWidth);
    label->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    return label;
}

}  // namespace

StagePair CoupleStageValues(StagePair before, DpiAxis moved, int value, bool stageFlag,
                            bool independent) {
    StagePair after = before;
    (moved == DpiAxis::X ? after.x : after.y) = value;
    if (stageFlag) {
        // The flag keeps Y at or below X: the moved axis drags the other one along.
        if (after.y > after.x) {
            if (moved == DpiAxis::X) {
                after.y = after.x;
            } else {
                after.x = after.y;
            }
        }
    } else if (!independent) {
        after.x = value;
        after.y = value;
    }
    return after;
}

bool AnyStageSplit(const ConfigImage& image, int shownStages) {
    const int count = std::clamp(shownStages, 0, kDpiStageCount);
    return std::any_of(image.dpiStages.begin(), image.dpiStages.begin() + count,
                       [](const DpiStage& stage) { return stage.x != stage.y; });
}

DpiPage::DpiPage(DeviceController& controller, QWidget* parent)
    : QWidget(parent), controller_(controller) {
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(80, 12, 80, 12);
    layout->setSpacing(12);
    layout->addWidget(BuildStagePanel());
    layout->addWidget(BuildOptionsPanel());
    message_ = new QLabel(this);
    message_->setObjectName("dpiMessage");
    message_->setAlignment(Qt::AlignCenter);
    message_->setWordWrap(true);
    layout->addWidget(message_);
    layout->addStretch(1);

    connect(&controller_, &DeviceController::viewChanged, this, &DpiPage::Refresh);
    Refresh();
}

QWidget* DpiPage::BuildStagePanel() {
    const UiStrings& ui = Ui();
    auto* panel = new QGroupBox(ToQ(ui.button_str[kTitleText]), this);
    panel->setObjectName("dpiStages");
    auto* grid = new QGridLayout(panel);
    grid->setContentsMargins(16, 18, 16, 14);
    grid->setHorizontalSpacing(12);
    grid->setVerticalSpacing(26);
    currentGroup_ = new QButtonGroup(this);
    currentGroup_->setExclusive(true);

    for (int k = 0; k < kDpiStageCount; ++k) {
        StageRow& row = rows_[static_cast<std::size_t>(k)];
        const QString n = QString::number(k);
        // The stage number and the axis letters are figures, not words: no table entry.
        row.current = new QRadioButton(QString::number(k + 1), panel);
        row.current->setObjectName("stageCurrent" + n);
        currentGroup_->addButton(row.current, k);
        row.flag = new QCheckBox(panel);
        row.flag->setObjectName("stageFlag" + n);
        row.flag->setToolTip(Word(kWordStageFlagTip, {std::to_string(k + 1)}));
        row.x = MakeSlider(panel, "stageX" + n);
        row.y = MakeSlider(panel, "stageY" + n);
        row.x->setAccessibleName(Word(kWordStageAxis, {std::to_string(k + 1), "X"}));
        row.y->setAccessibleName(Word(kWordStageAxis, {std::to_string(k + 1), "Y"}));
        row.xValue = MakeValueLabel(panel, "stageXValue" + n);
        row.yValue = MakeValueLabel(panel, "stageYValue" + n);
        auto* xName = new QLabel("X", panel);
        auto* yName = new QLabel("Y", panel);

        // One grid for all rows keeps the columns of the stages aligned.
        row.widgets = {row.current, row.flag, xName, row.x, row.xValue, yName, row.y, row.yValue};
        for (std::size_t column = 0; column < row.widgets.size(); ++column) {
            grid->addWidget(row.widgets[column], k, static_cast<int>(column));
        }

        connect(row.x, &QSlider::valueChanged, this,
                [this, k](int v) { OnStageSlider(k, DpiAxis::X, v); });
        connect(row.y, &QSlider::valueChanged, this,
                [this, k](int v) { OnStageSlider(k, DpiAxis::Y, v); });
        connect(row.flag, &QCheckBox::clicked, this, [this, k](bool on) { OnStageFlag(k, on); });
    }
    grid->setColumnStretch(3, 1);
    grid->setColumnStretch(6, 1);
    connect(currentGroup_, &QButtonGroup::idClicked, this, &DpiPage::OnCurrentStage);
    return panel;
}

QWidget* DpiPage::BuildOptionsPanel() {
    const UiStrings& ui = Ui();
    auto* panel = new QGroupBox(this);
    panel->setObjectName("dpiOptions");
    auto* box = new QHBoxLayout(panel);
    box->setContentsMargins(16, 14, 16, 14);
    box->setSpacing(16);

    independent_ = new QCheckBox(ToQ(ui.button_str[kIndependentText]), panel);
    independent_->setObjectName("xyIndependent");
    snapping_ = new QCheckBox(ToQ(ui.button_str[kSnappingText]), panel);
    snapping_->setObjectName("angleSnapping");
    auto* rateName = new QLabel(ToQ(ui.button_str[kRateText]), panel);
    auto* slowest = new QLabel(RateText(kMaxRateCode), panel);
    auto* fastest = new QLabel(RateText(0), panel);
    rate_ = new QSlider(Qt::Horizontal, panel);
    rate_->setObjectName("reportRate");
    rate_->setRange(0, kRatePositions - 1);
    rate_->setPageStep(1);
    rate_->setTickPosition(QSlider::TicksBelow);
    rate_->setTickInterval(1);
    rate_->setMinimumWidth(kRateSliderMinWidth);
    rateValue_ = MakeValueLabel(panel, "reportRateValue");

    box->addWidget(independent_);
    box->addWidget(snapping_);
    box->addStretch(1);
    // "Report rate 500Hz   125Hz ──── 1000Hz": the value beside its name, the scale after.
    rate_->setAccessibleName(rateName->text());
    box->addWidget(rateName);
    box->addWidget(rateValue_);
    box->addWidget(slowest);
    box->addWidget(rate_, 1);
    box->addWidget(fastest);

    connect(independent_, &QCheckBox::clicked, this, &DpiPage::OnIndependent);
    connect(snapping_, &QCheckBox::clicked, this, &DpiPage::OnAngleSnapping);
    connect(rate_, &QSlider::valueChanged, this, &DpiPage::OnReportRate);
    return panel;
}

void DpiPage::Refresh() {
    const DeviceView view = controller_.View();
    const ConfigImage& image = *view.image;
    const bool present = view.present && image.loaded;
    devicePath_ = view.path;
    dpiStep_ = image.dpiStep > 0 ? image.dpiStep : kDefaultDpiStep;
    const int stepCount = std::max(1, image.dpiStepCount);
    const int shownStages = present ? std::clamp(image.dpiStageCount, 0, kDpiStageCount) : 0;

    if (present) {
        const bool split = AnyStageSplit(image, shownStages);
        const auto [known, added] = independentByDevice_.try_emplace(devicePath_);
        Independence& state = known->second;
        if (added || (split && !state.split)) state.on = state.on || split;
        state.split = split;
    }
    {
        const QSignalBlocker blockIndependent(independent_);
        const auto known = independentByDevice_.find(devicePath_);
        independent_->setChecked(known != independentByDevice_.end() && known->second.on);
    }
    for (int k = 0; k < kDpiStageCount; ++k) {
        StageRow& row = rows_[static_cast<std::size_t>(k)];
        const auto index = static_cast<std::size_t>(k);
        SetRowVisible(k, k < shownStages);
        const QSignalBlocker blockX(row.x);
        const QSignalBlocker blockY(row.y);
        const QSignalBlocker blockFlag(row.flag);
        row.x->setRange(1, stepCount);
        row.y->setRange(1, stepCount);
        const DpiStage stage = image.dpiStages[index];
        ShowValues(k, {present ? stage.x : 1, present ? stage.y : 1});
        row.flag->setChecked(present && image.stageFlags[index]);
        row.current->setChecked(present && image.currentDpiStage == k);
    }
    {
        const QSignalBlocker blockRate(rate_);
        const QSignalBlocker blockSnapping(snapping_);
        const int code = present ? image.reportRateCode : kMaxRateCode;
        rate_->setValue(RatePositionOf(code));
        rateValue_->setText(present ? RateText(code) : QString());
        snapping_->setChecked(present && image.angleSnapping);
    }
    SetControlsEnabled(present);
    ShowStatus(present ? QString() : ToQ(NoDeviceText(Ui())));
}

void DpiPage::SetRowVisible(int stage, bool shown) {
    for (QWidget* w : rows_[static_cast<std::size_t>(stage)].widgets) w->setVisible(shown);
}

void DpiPage::ShowValues(int stage, StagePair values) {
    StageRow& row = rows_[static_cast<std::size_t>(stage)];
    const QSignalBlocker blockX(row.x);
    const QSignalBlocker blockY(row.y);
    row.x->setValue(values.x);
    row.y->setValue(values.y);
    row.xValue->setText(DpiText(row.x->value(), dpiStep_));
    row.yValue->setText(DpiText(row.y->value(), dpiStep_));
}

void DpiPage::OnStageSlider(int stage, DpiAxis axis, int value) {
    const StageRow& row = rows_[static_cast<std::size_t>(stage)];
    // The other axis starts from what the device holds, not from the slider, which may
    // show a value clamped to its range.
    const DeviceView view = controller_.View();
    const DpiStage stored = view.image->dpiStages[static_cast<std::size_t>(stage)];
    const StagePair before = view.present && view.image->loaded
                                 ? StagePair{stored.x, stored.y}
                                 : StagePair{row.x->value(), row.y->value()};
    const StagePair after =
        CoupleStageValues(before, axis, value, row.flag->isChecked(), independent_->isChecked());
    ShowValues(stage, after);
    const Status changed = controller_.ChangeDeferred(
        DeferredSetter(&DeferredWrites::ChangeDpiStage, stage, after.x, after.y));
    ShowStatus(changed ? QString() : ErrorMessage(changed.error()));
}

void DpiPage::OnStageFlag(int stage, bool on) {
    // The shown rows' boxes are the truth: a write queued by the previous click may not
    // have reached the image yet. Stages the page does not show keep their stored flags.
    std::array<bool, kDpiStageCount> flags = controller_.View().image->stageFlags;
    for (std::size_t k = 0; k < rows_.size(); ++k) {
        if (rows_[k].flag->isVisibleTo(this)) flags[k] = rows_[k].flag->isChecked();
    }
    flags[static_cast<std::size_t>(stage)] = on;
    controller_.Change(HubOperation::StageFlags, Setter(&ConfigModel::SetStageFlags, flags));
}

void DpiPage::OnCurrentStage(int stage) {
    controller_.Change(HubOperation::CurrentStage, Setter(&ConfigModel::SetCurrentDpiStage, stage));
}

void DpiPage::OnIndependent(bool on) {
    independentByDevice_[devicePath_].on = on;
}

void DpiPage::OnReportRate(int position) {
    const int code = RateCodeAt(position);
    rateValue_->setText(RateText(code));
    const Status changed =
        controller_.ChangeDeferred(DeferredSetter(&DeferredWrites::ChangeReportRate, code));
    ShowStatus(changed ? QString() : ErrorMessage(changed.error()));
}

void DpiPage::OnAngleSnapping(bool on) {
    const Status changed =
        controller_.ChangeDeferred(DeferredSetter(&DeferredWrites::ChangeAngleSnapping, on));
    ShowStatus(changed ? QString() : ErrorMessage(changed.error()));
}

void DpiPage::ShowStatus(const QString& error) {
    message_->setText(error);
    message_->setVisible(!error.isEmpty());
}

void DpiPage::SetControlsEnabled(bool on) {
    for (StageRow& row : rows_) {
        for (QWidget* w : std::initializer_list<QWidget*>{row.current, row.flag, row.x, row.y}) {
            w->setEnabled(on);
        }
    }
    for (QWidget* w : std::initializer_list<QWidget*>{independent_, snapping_, rate_}) {
        w->setEnabled(on);
    }
}

}  // namespace qvm::ui
