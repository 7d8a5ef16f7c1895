// ButtonMapView: the "Button settings" page's picture of the active model: the drawn
// mouse of the layout and, at each button position's hotspot, a label with the text of
// the function the button runs. A click on a label selects the button and asks for its
// settings dialog; the small key symbol at the label's right end starts quick binding;
// a function dragged from the macro list window can be dropped on a label (never on the
// sole left-click button, which is drawn apart and takes no drop). A click on a button's
// dot on the drawn mouse does what a click on its label does; a right click on a label
// asks for its menu.
//
// Hotspots are in window pixels of the 1024 x 600 main window; the view maps them
// through its own position in the window, so it may sit anywhere as long as it covers
// the hotspots it shows.
#pragma once

#include <QString>
#include <QWidget>
#include <optional>
#include <vector>

#include "config/button_slot.h"
#include "device/model_table.h"

namespace qvm::ui {

struct ButtonLabel {
    int position = 0;  // index into the layout's ButtonOrder and ButtonHotspots
    QString text;      // the function text (the window adds a macro's name)
    bool soleLeftClick = false;
    QString toolTip;  // empty: the text
};

class ButtonMapView : public QWidget {
    Q_OBJECT
  public:
    explicit ButtonMapView(QWidget* parent = nullptr);

    // The layout whose mouse and hotspots are drawn; no layout: "No device !!" is shown.
    void SetLayout(std::optional<ModelLayout> layout);
    void SetLabels(std::vector<ButtonLabel> labels);
    void SetSelected(std::optional<int> position);
    // The position being quick-bound and the prompt shown over the page while it lasts.
    // The banner under the prompt says how to stop and carries a cancel control.
    // `note`, when given, stands in the banner in place of how to stop.
    void SetBinding(std::optional<int> position, const QString& prompt,
                    const QString& note = QString());
    void SetNoDeviceText(const QString& text);
    const std::vector<ButtonLabel>& Labels() const { return labels_; }

    // The label rectangle of a position in this widget's coordinates (tests click it).
    QRect LabelRect(int position) const;
    QRect QuickBindRect(int position) const;
    // The banner's cancel control while a binding lasts; empty otherwise.
    QRect BindingCancelRect() const;
    // True when a click at `point` stops the binding: the banner's cancel control or the
    // key symbol of the label being bound.
    bool StopsBinding(const QPoint& point) const;
    // The button anchor (the dot on the drawn mouse) of a position, and the one under
    // `point`.
    QPoint AnchorPoint(int position) const;
    std::optional<int> AnchorAt(const QPoint& point) const;

  signals:
    void buttonClicked(int position);
    void quickBindClicked(int position);
    // A right click (or the menu key) on a label, at `globalPos`.
    void menuRequested(int position, const QPoint& globalPos);
    void functionDropped(int position, qvm::ButtonSlot slot, const QString& name);

  protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dropEvent(QDropEvent* event) override;

  private:
    std::optional<int> PositionAt(const QPoint& point) const;
    QRectF HotspotInView(int position) const;
    QRectF MouseAreaInView() const;
    void DrawBanner(QPainter& painter) const;

    std::optional<ModelLayout> layout_;
    std::vector<ButtonLabel> labels_;
    std::optional<int> selected_;
    std::optional<int> binding_;
    QString bindingPrompt_;
    QString bindingNote_;
    QString noDeviceText_;
};

}  // namespace qvm::ui
