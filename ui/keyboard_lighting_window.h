// The keyboards' lighting window: the effect list, "Speed" and "Brightness" with minus
// and plus, "Direction", "Colour", "Side LED", "RESET" and the key picture, on which the
// preview of the lights is animated. The rules are the Qt-free KeyPicture and
// keyboard_actions; every action goes to the keyboard at once through the hub's worker,
// and the window redraws from the hub's view of the keyboard's lighting.
//
// The preview is a 90 ms timer on the UI thread, running only while the window is shown
// and not minimised: the frame is computed and drawn on the one thread, so no colours are
// shared and nothing is locked.
//
// KeyboardLightingLauncher puts the "Lighting" button on the main window while a keyboard
// is the active device, opens the window from it, and opens it once by itself each time a
// keyboard becomes the active device.
#pragma once

#include <QElapsedTimer>
#include <QPixmap>
#include <QTimer>
#include <QWidget>
#include <array>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "present/keyboard_lighting_view.h"
#include "ui/colour_picker_dialog.h"

class QLabel;
class QListWidget;
class QPushButton;

namespace qvm::ui {

class DeviceController;

// The key picture with the preview drawn on it; clicks change the selection.
class LightingKeyPicture : public QWidget {
    Q_OBJECT
  public:
    explicit LightingKeyPicture(KeyPicture& picture, QWidget* parent = nullptr);
    void SetColours(std::vector<Rgb> colours);
    // Where key `index` is drawn, in the widget's coordinates.
    QRect KeyRect(std::size_t index) const;
    QSize sizeHint() const override;

  protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;

  private:
    // The key names, drawn once in light (false) or dark (true) ink for the widget's size.
    const QPixmap& Names(bool dark);

    KeyPicture& picture_;
    std::vector<Rgb> colours_;
    std::array<QPixmap, 2> names_;
};

// Picks a colour modally; RunColourPicker unless a test puts another in.
using ColourPickerRunner =
    std::function<std::optional<PickerChoice>(QWidget* parent, ColourPickerRequest request)>;

class KeyboardLightingWindow : public QWidget {
    Q_OBJECT
  public:
    KeyboardLightingWindow(DeviceController& controller, const KeyboardLayout& layout,
                           QWidget* parent = nullptr);
    ~KeyboardLightingWindow() override;

    // Shows the window (or brings it to the front) and reads the keyboard's lighting.
    void Open();
    void SetColourPicker(ColourPickerRunner runner) { pickColour_ = std::move(runner); }

    // Parts of the window and the preview's counters, for tests and the benchmark.
    QListWidget* Effects() const { return effects_; }
    QPushButton* Minus(KeyboardLevel level) const { return minus_[Index(level)]; }
    QPushButton* Plus(KeyboardLevel level) const { return plus_[Index(level)]; }
    QLabel* LevelValue(KeyboardLevel level) const { return values_[Index(level)]; }
    QPushButton* Direction(int direction) const {
        return directions_.at(static_cast<std::size_t>(direction));
    }
    QPushButton* ColourButton() const { return colour_; }
    QPushButton* SideLedButton() const { return side_; }
    QPushButton* ResetButton() const { return reset_; }
    LightingKeyPicture* Picture() const { return pictureView_; }
    const KeyPicture& Keys() const { return picture_; }
    const QTimer& PreviewTimer() const { return preview_; }
    long TimerWakeups() const { return wakeups_; }
    long FramesComputed() const { return frames_; }
    // The controls take clicks: a keyboard is the active device.
    bool Live() const { return live_; }

  protected:
    void paintEvent(QPaintEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void changeEvent(QEvent* event) override;

  private:
    static std::size_t Index(KeyboardLevel level) { return static_cast<std::size_t>(level); }
    void Build();
    QWidget* BuildLevelRow(KeyboardLevel level, const char* name);
    void Send(DeviceHub::KeyboardTask task);
    // Reads the lighting state and the key colours, unless a read is on its way.
    void RequestRead();
    void Refresh();
    void ShowState();
    void ShowLive(bool live);
    void StepLevel(KeyboardLevel level, int delta);
    void ChooseColour();
    void ConfirmReset();
    void FollowPreview();  // runs the timer exactly while the window is seen
    void NextFrame();

    DeviceController& controller_;
    KeyPicture picture_;
    ColourPickerRunner pickColour_;
    std::string path_;  // the keyboard shown
    bool live_ = false;
    bool reading_ = false;  // a read of the lights is queued and its answer not yet shown
    bool showing_ = false;  // widgets being set from the state, not by the user
    KeyboardLightingState state_;

    QWidget* body_ = nullptr;
    QLabel* model_ = nullptr;
    QListWidget* effects_ = nullptr;
    std::array<QPushButton*, 2> minus_{};
    std::array<QPushButton*, 2> plus_{};
    std::array<QLabel*, 2> values_{};
    std::array<QPushButton*, 4> directions_{};
    QPushButton* colour_ = nullptr;
    QPushButton* side_ = nullptr;
    QPushButton* reset_ = nullptr;
    LightingKeyPicture* pictureView_ = nullptr;

    QTimer preview_;
    QElapsedTimer since_;  // the preview's time
    long wakeups_ = 0;
    long frames_ = 0;
};

class KeyboardLightingLauncher : public QObject {
    Q_OBJECT
  public:
    // The "Lighting" button goes on `host` at `place`.
    KeyboardLightingLauncher(DeviceController& controller, const KeyboardLayout& layout,
                             QWidget* host, QRect place);

    QPushButton* Button() const { return button_; }
    // The window, made at its first opening and kept (hidden) from then on; null until then.
    KeyboardLightingWindow* Window() const { return window_; }
    void Open();

  private:
    void Follow();

    DeviceController& controller_;
    const KeyboardLayout& layout_;
    QWidget* host_;
    QPushButton* button_ = nullptr;
    KeyboardLightingWindow* window_ = nullptr;  // owned by the host (Qt parent)
    std::string opened_;                        // the keyboard the window last opened for
};

}  // namespace qvm::ui
