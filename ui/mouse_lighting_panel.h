// MouseLightingPanel: the "LIGHTING" panel of the Other page, shown only while a mouse
// with lighting is loaded.
//
// - The lighting effect, 0 to 4, for protocol generations 3 and above: a choice is sent
//   at once.
// - For a mouse that keeps LED colours, its 16 LEDs as swatches, each drawn with its
//   stored record: the colour, a wave for breathing, "P" for one that follows the profile
//   colour, a cross for one that is off. A click opens the colour picker for that LED;
//   Ctrl+click (or Ctrl+Space) selects or deselects it, and "Colour" opens the picker for
//   the selection.
//   The picker previews every change on the LEDs, Cancel shows the stored colours again
//   and OK stores the edited LEDs, each through the device controller.
#pragma once

#include <QAbstractButton>
#include <QGroupBox>
#include <array>
#include <functional>
#include <optional>
#include <set>
#include <vector>

#include "lighting/led_colours.h"

class QComboBox;
class QLabel;
class QPushButton;

namespace qvm::ui {

class DeviceController;

// One LED's swatch. Reports each click with whether Ctrl was held.
class LedSwatch : public QAbstractButton {
    Q_OBJECT
  public:
    LedSwatch(int led, QWidget* parent = nullptr);
    // `shown` is the colour the LED shows (a record following the profile shows the
    // profile's colour).
    void SetRecord(const LedColour& record, Rgb shown);
    void SetSelected(bool selected);
    bool Selected() const { return selected_; }
    QSize sizeHint() const override;

  signals:
    void chosen(int led, bool toggleSelection);

  protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

  private:
    int led_;
    LedColour record_;
    Rgb shown_;
    bool selected_ = false;
    bool ctrlHeld_ = false;
};

class MouseLightingPanel : public QGroupBox {
    Q_OBJECT
  public:
    using ShowError = std::function<void(const QString&)>;
    MouseLightingPanel(DeviceController& controller, ShowError showError,
                       QWidget* parent = nullptr);

    // Re-reads the effect and the LED table of the loaded mouse; hides the panel when the
    // mouse has neither.
    void Refresh();
    // Opens the colour picker for `leds` (modal); OK stores them.
    void PickColour(std::vector<int> leds);

    // For tests; child object names: "lightingEffect", "led0" to "led15", "ledColour".
    LedSwatch* Swatch(int led) const { return swatches_.at(static_cast<std::size_t>(led)); }
    std::vector<int> Selection() const { return {selected_.begin(), selected_.end()}; }

  private:
    void OnChosen(int led, bool toggleSelection);
    void OnEffect(int effect);

    DeviceController& controller_;
    ShowError showError_;
    QComboBox* effect_ = nullptr;
    QLabel* effectLabel_ = nullptr;
    QWidget* leds_ = nullptr;  // the swatches, the hint and "Colour"
    std::array<LedSwatch*, kLedCount> swatches_{};
    QPushButton* colour_ = nullptr;
    std::set<int> selected_;
};

}  // namespace qvm::ui
