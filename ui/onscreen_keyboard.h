// The on-screen keyboard of the button settings dialog: the keys of keyboard.ini drawn at
// their rectangles, scaled to the widget. Modifier keys (Ctrl, Shift, Alt, Win, left and
// right) latch on a click and off on the next; a click on any other key reports the
// latched modifiers with the key's usage and releases the latches. The keys of the
// current combination (SetHighlight) are drawn highlighted.
#pragma once

#include <QWidget>
#include <cstdint>
#include <optional>

#include "lang/keyboard_layout.h"

namespace qvm::ui {

// The HID modifier bit of a modifier key's usage (0xE0 left Ctrl 1 ... 0xE7 right Win
// 128); 0 for every other usage.
uint8_t ModifierBitOfUsage(int usage);

class OnscreenKeyboard : public QWidget {
    Q_OBJECT
  public:
    explicit OnscreenKeyboard(KeyboardLayout layout, QWidget* parent = nullptr);

    const KeyboardLayout& Layout() const { return layout_; }
    uint8_t LatchedModifiers() const { return latched_; }
    void ClearLatches();
    // Highlights the keys of a combination (modifier bits and a key usage, 0 for none).
    void SetHighlight(uint8_t modifiers, int usage);

    // Where a key is drawn in widget coordinates; the key under a widget point.
    QRect KeyRectOnWidget(std::size_t index) const;
    std::optional<std::size_t> KeyAt(QPoint point) const;
    // The first key with that keyboard usage (or consumer usage), for callers and tests.
    std::optional<std::size_t> FindUsage(int usage) const;
    std::optional<std::size_t> FindConsumerUsage(int usage) const;
    // Same as a click on the key.
    void ClickKey(std::size_t index);

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

  signals:
    void keyCombination(uint8_t modifiers, int usage);
    void consumerKey(int usage);
    void modifiersLatched(uint8_t modifiers);

  protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;

  private:
    double Scale() const;
    bool Highlighted(const KeyboardKey& key) const;

    KeyboardLayout layout_;
    QSize extent_;  // the panel the layout's coordinates describe
    uint8_t latched_ = 0;
    uint8_t highlightModifiers_ = 0;
    int highlightUsage_ = 0;
};

}  // namespace qvm::ui
