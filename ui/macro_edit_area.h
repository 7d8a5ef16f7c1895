// The macro editor's edit area: one painted row per item of the edited macro ("%04d" and
// the item's description) and the closing "-- End --" row, with the selection filled and
// the cursor drawn as a line above its row. Only the rows in view are painted, so a long
// macro costs no more than a short one.
//
// Clicks and keys go straight to the model (Delete, Up/Down with Shift, Ctrl+A/C/X/V,
// Ctrl+Z and Ctrl+Shift+Z); `edited` tells the window to show the model again. A drag
// that starts on an item carries the edited macro to the list; a list entry dropped here
// asks for it to be loaded.
#pragma once

#include <QAbstractScrollArea>
#include <QMimeData>
#include <QPoint>
#include <memory>
#include <optional>

#include "present/macro_editor_model.h"

namespace qvm::ui {

// The drag data of the edit area (the macro being edited) and of a list entry.
inline constexpr const char* kEditedMacroMime = "application/x-qvm-gaming-edited-macro";
inline constexpr const char* kMacroEntryMime = "application/x-qvm-gaming-macro-entry";

// A list entry as drag data, and back; nothing for data that is not a macro entry.
QByteArray EncodeMacroEntry(const MacroListTarget& target);
std::optional<MacroListTarget> DecodeMacroEntry(const QByteArray& data);

class MacroEditArea : public QAbstractScrollArea {
    Q_OBJECT
  public:
    explicit MacroEditArea(MacroEditorModel& model, QWidget* parent = nullptr);

    static constexpr int kRowHeight = 20;
    // The row under a point of the viewport (the closing row below the last).
    int RowAt(QPoint viewportPos) const;
    // Brings the cursor's row into view and repaints (after the model changed).
    void ShowModel();
    // What a drag from the area carries: the edited macro, named for the pointer's label.
    std::unique_ptr<QMimeData> DragMime() const;

  signals:
    void edited();
    void editRequested(int row);  // a double-click on an item
    void loadRequested(const qvm::MacroListTarget& target);

  protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dropEvent(QDropEvent* event) override;

  private:
    bool HandleKey(const QKeyEvent& key);
    void UpdateScrollRange();
    void StartDrag();

    MacroEditorModel& model_;
    std::optional<QPoint> pressedAt_;  // a press on an item that may become a drag
};

}  // namespace qvm::ui
