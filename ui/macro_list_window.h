// The macro list window: a small tool window beside the main window that lists what can
// be dragged onto a button ("Quick Drop Function"): the function library groups, the
// macros stored in the device's macro slots and the user's macro library (folders and
// macro files) as one tree.
//
// A function entry drags its four-byte function code. A device macro drags the function
// that runs it. A library macro is a file on the computer; a button can only run a macro
// that the device holds, so a library macro drags as "run the stored macro of the same
// name" when a device slot holds one (the lowest such slot), and is shown greyed and not
// draggable, with a tool tip saying so, while none does.
//
// The window lives on the UI thread; it reads the libraries from disk only in Reload().
#pragma once

#include <QMimeData>
#include <QString>
#include <QWidget>
#include <memory>
#include <optional>
#include <string>

#include "config/macro_slots.h"
#include "macro/function_library.h"
#include "macro/macro_library.h"
#include "ui/function_drag.h"

class QLabel;
class QTreeWidget;
class QTreeWidgetItem;

namespace qvm::ui {

class MacroListTree;

class MacroListWindow : public QWidget {
    Q_OBJECT
  public:
    // What a row of the tree stands for.
    enum class RowKind {
        Heading,        // a function group, the "Mouse memory" or "Macro list (PC)" heading
        Function,       // an entry of the function library
        DeviceMacro,    // a used device macro slot
        LibraryFolder,  // a folder of the macro library
        LibraryMacro,   // a macro file of the macro library
    };

    // programFolder: where bulitin.ini and library/ live; libraryRoot: the macro library
    // folder (created when missing). The defaults are the program's own folders.
    explicit MacroListWindow(QWidget* parent = nullptr);
    MacroListWindow(std::string programFolder, std::string libraryRoot, QWidget* parent = nullptr);
    ~MacroListWindow() override;

    // Rescans the macro library and rebuilds the function library, keeping which
    // branches are open. Problems (an unreadable folder, invalid macro files) show in
    // the window's status line.
    void Reload();

    // The device's macro slots; all empty when no device is present. Refreshes the
    // "Mouse memory" rows and which library macros can be dragged.
    void SetMacroSlots(const MacroSlots& macroSlots);
    // The unit of the DPI functions' texts (the device's DPI step); rebuilds the
    // function texts when it changes.
    void SetDpiStep(int dpiStep);

    // Shows the window and brings it to the front. The first time it is placed 20 pixels
    // right of and below the anchor's top-right corner, kept on the anchor's screen.
    void ShowBeside(const QWidget* anchor);

    // The tree, for the main window's tests and this window's own.
    QTreeWidget* Tree() const;
    QString StatusText() const;
    static RowKind KindOf(const QTreeWidgetItem* item);
    // What dragging the row carries; none for headings, folders and library macros that
    // no device slot holds.
    std::optional<DraggedFunction> DragPayload(const QTreeWidgetItem* item) const;
    // The drag data of the row (MakeFunctionMime of DragPayload); null when not draggable.
    std::unique_ptr<QMimeData> DragMime(const QTreeWidgetItem* item) const;

  private:
    void Rebuild();
    void AddFunctionGroups();
    void AddDeviceMacros();
    void AddLibrary();
    void RefreshLibraryMacroRows();
    void ShowStatus();
    // The lowest used slot whose macro carries this name.
    std::optional<int> SlotNamed(const std::string& name) const;

    std::string programFolder_;
    MacroLibrary library_;
    FunctionLibrary functions_;
    MacroSlots slots_{};
    int dpiStep_ = kDefaultDpiStep;
    QString libraryError_;
    bool placed_ = false;

    QLabel* hint_ = nullptr;                    // owned by the window (Qt parent)
    MacroListTree* tree_ = nullptr;             // owned by the window (Qt parent)
    QLabel* status_ = nullptr;                  // owned by the window (Qt parent)
    QTreeWidgetItem* deviceHeading_ = nullptr;  // owned by the tree
};

}  // namespace qvm::ui
