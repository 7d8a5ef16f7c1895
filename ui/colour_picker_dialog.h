// The colour picker window: a hue and saturation wheel with a value slider, red, green and
// blue sliders, a "#RRGGBB" field, a row of swatches and, for LEDs, the "Breathing", "ON"
// and "OFF" buttons with the profile swatch. The rules are ColourPickerModel's; the window
// shows them and knows no device.
//
// Callers wire the device work in: `preview` runs for every change of the choice while
// the window is open, at most one at a time: the caller calls the `done` it is handed,
// on the window's thread, when the device has shown it, and the newest change waiting
// then runs (a `done` after the window closed does nothing). `restore` runs on Cancel.
//     ColourPickerRequest request{...};
//     if (auto chosen = ui::RunColourPicker(this, request)) Store(*chosen);
#pragma once

#include <QDialog>
#include <array>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "lang/ui_strings.h"
#include "present/colour_picker_model.h"

class QLabel;
class QLineEdit;
class QPushButton;
class QSlider;

namespace qvm::ui {

struct ColourPickerRequest {
    std::string caption;
    ColourPickerSetup setup;
    bool ledModes = false;  // show "Breathing", "ON", "OFF" and the profile swatch
    // Shows a choice on the device without storing it, then calls done; empty: nothing
    // is previewed.
    std::function<void(const PickerChoice&, std::function<void()> done)> preview;
    // Shows the stored colours again after Cancel. The caller runs it after any preview
    // still in flight; the waiting one is dropped.
    std::function<void()> restore;
};

// The disc of hues (around) and saturations (outwards), darkened to the current value.
class HueSaturationWheel : public QWidget {
    Q_OBJECT
  public:
    explicit HueSaturationWheel(QWidget* parent = nullptr);
    void SetHsv(Hsv hsv);
    // Where the marker of hue and saturation sits, in the widget's coordinates.
    QPointF MarkerPosition(int hue, int saturation) const;
    QSize sizeHint() const override;

  signals:
    void picked(int hue, int saturation);

  protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

  private:
    void PickAt(QPointF point);
    QRectF Disc() const;

    QImage disc_;  // at full value, redrawn when the size changes
    Hsv hsv_;
};

class ColourPickerDialog : public QDialog {
    Q_OBJECT
  public:
    explicit ColourPickerDialog(ColourPickerRequest request, QWidget* parent = nullptr,
                                const UiStrings& strings = Ui());
    ~ColourPickerDialog() override;

    // What OK hands back.
    PickerChoice Choice() const { return model_.Choice(); }
    const ColourPickerModel& Model() const { return model_; }
    void accept() override;
    void reject() override;

    // The widgets, for tests.
    HueSaturationWheel* Wheel() const { return wheel_; }
    QSlider* ValueSlider() const { return value_; }
    QSlider* ChannelSlider(int channel) const { return channels_.at(std::size_t(channel)); }
    QLineEdit* HexEdit() const { return hex_; }
    QLabel* HexHint() const { return hint_; }
    QPushButton* Swatch(std::size_t index) const { return swatches_.at(index); }
    QPushButton* ModeButton(PickerMode mode) const;  // null without LED modes or for Colour
    QPushButton* OkButton() const { return ok_; }
    QPushButton* CancelButton() const { return cancel_; }

  protected:
    void paintEvent(QPaintEvent* event) override;
    void showEvent(QShowEvent* event) override;

  private:
    QWidget* BuildColourControls();
    QWidget* BuildModeRow();
    QWidget* BuildButtons();
    // The model changed (or may have): show it everywhere but in `from`, preview it if the
    // choice changed.
    void Show(bool choiceChanged, const QWidget* from = nullptr);
    void TypedHex(const QString& text);
    void StartPreview(const PickerChoice& choice);
    // The preview last started is done; starts the newest waiting change, if any.
    void PreviewFinished();

    ColourPickerRequest request_;
    const UiStrings& strings_;
    ColourPickerModel model_;
    PreviewCoalescer previews_;
    bool showing_ = false;  // widgets being set from the model, not by the user

    HueSaturationWheel* wheel_ = nullptr;
    QSlider* value_ = nullptr;
    std::array<QSlider*, 3> channels_{};
    std::array<QLabel*, 3> channelValues_{};
    QLineEdit* hex_ = nullptr;
    QLabel* hint_ = nullptr;
    QWidget* sample_ = nullptr;
    std::vector<QPushButton*> swatches_;
    std::array<QPushButton*, 3> modes_{};  // Breathing, ON, OFF
    QPushButton* profileSwatch_ = nullptr;
    QPushButton* ok_ = nullptr;
    QPushButton* cancel_ = nullptr;
};

// Shows the picker modally: the choice after OK, nothing after Cancel or closing.
std::optional<PickerChoice> RunColourPicker(QWidget* parent, ColourPickerRequest request);

}  // namespace qvm::ui
