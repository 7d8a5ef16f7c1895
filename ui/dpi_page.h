// DpiPage: the "DPI settings" page of the main window. One row per DPI stage the device
// shows (its DPI stage count): the current-stage radio, the stage flag, the X and Y
// sliders (steps 1 .. step count, shown in DPI = steps x step) with their values; below
// them "X-Y independent", "Angle snapping" and the report-rate slider ("%dHz").
//
// Slider moves go through the controller's deferred writes: the value shows at once and
// reaches the device when its delay has passed, however far the slider travels. The
// current stage and the stage flags are written at once (queued to the device worker).
//
// "X-Y independent" is not stored on the device: the page keeps it in memory per device
// path, so switching between two mice keeps each one's choice for the life of the
// program. It starts from the device: on when any shown stage holds X != Y, since a tied
// move would otherwise overwrite the axis the user did not touch. A split that appears
// later from outside (another program, a restore) turns it on again; a user who turns it
// off while stages are split keeps it off.
//
// The page redraws itself on the controller's viewChanged(); Refresh() re-reads View()
// and never writes anything.
#pragma once

#include <QWidget>
#include <array>
#include <map>
#include <string>

#include "config/button_slot.h"
#include "config/config_image.h"
#include "config/image_layout.h"

class QButtonGroup;
class QCheckBox;
class QLabel;
class QRadioButton;
class QSlider;

namespace qvm::ui {

class DeviceController;

// One stage's X and Y values in steps.
struct StagePair {
    int x = 0;
    int y = 0;
    bool operator==(const StagePair&) const = default;
};

enum class DpiAxis { X, Y };

// The stage's values after the user moved one axis to `value`:
// - stage flag set: Y stays at or below X (raising Y above X raises X, lowering X below Y
//   lowers Y);
// - flag clear, "X-Y independent" off: both axes take the value;
// - flag clear, "X-Y independent" on: only the moved axis changes.
StagePair CoupleStageValues(StagePair before, DpiAxis moved, int value, bool stageFlag,
                            bool independent);

// True when one of the first `shownStages` stages has different X and Y values.
bool AnyStageSplit(const ConfigImage& image, int shownStages);

class DpiPage : public QWidget {
    Q_OBJECT
  public:
    explicit DpiPage(DeviceController& controller, QWidget* parent = nullptr);

    // Re-reads the controller's view into the controls without emitting any write.
    void Refresh();

    // Child object names, for the window's tests and style sheet: "stageCurrent<k>",
    // "stageFlag<k>", "stageX<k>", "stageY<k>", "stageXValue<k>", "stageYValue<k>",
    // "xyIndependent", "angleSnapping", "reportRate", "reportRateValue", "dpiMessage".

  private:
    struct StageRow {
        std::array<QWidget*, 8> widgets{};  // the row's cells, left to right
        QRadioButton* current = nullptr;
        QCheckBox* flag = nullptr;
        QSlider* x = nullptr;
        QSlider* y = nullptr;
        QLabel* xValue = nullptr;
        QLabel* yValue = nullptr;
    };

    QWidget* BuildStagePanel();
    QWidget* BuildOptionsPanel();
    void OnStageSlider(int stage, DpiAxis axis, int value);
    void OnStageFlag(int stage, bool on);
    void OnCurrentStage(int stage);
    void OnIndependent(bool on);
    void OnReportRate(int position);
    void OnAngleSnapping(bool on);
    void SetRowVisible(int stage, bool shown);
    void ShowValues(int stage, StagePair values);
    void ShowStatus(const QString& error);
    void SetControlsEnabled(bool on);

    DeviceController& controller_;
    std::array<StageRow, kDpiStageCount> rows_;
    QButtonGroup* currentGroup_ = nullptr;
    QCheckBox* independent_ = nullptr;
    QCheckBox* snapping_ = nullptr;
    QSlider* rate_ = nullptr;
    QLabel* rateValue_ = nullptr;
    QLabel* message_ = nullptr;

    int dpiStep_ = kDefaultDpiStep;
    std::string devicePath_;
    struct Independence {
        bool on = false;
        bool split = false;  // some shown stage had X != Y at the last refresh
    };
    std::map<std::string, Independence> independentByDevice_;
};

}  // namespace qvm::ui
