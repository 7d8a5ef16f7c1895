// The drag payload of a function or macro dragged from the macro list window onto a
// button of the main window: the four bytes of the button assignment and the name shown
// while dragging, under the program's own MIME type.
#pragma once

#include <QMimeData>
#include <QString>
#include <memory>
#include <optional>

#include "config/button_slot.h"

namespace qvm::ui {

inline constexpr const char* kFunctionMimeType = "application/x-qvm-gaming-function";

struct DraggedFunction {
    ButtonSlot slot;
    QString name;
    bool operator==(const DraggedFunction&) const = default;
};

std::unique_ptr<QMimeData> MakeFunctionMime(const DraggedFunction& function);
// None when the data carries no function of this program or is malformed.
std::optional<DraggedFunction> ReadFunctionMime(const QMimeData* data);

}  // namespace qvm::ui
