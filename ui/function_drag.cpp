#include "ui/function_drag.h"

#include <QByteArray>

namespace qvm::ui {
namespace {

// Payload: the four slot bytes, then the name in UTF-8.
constexpr qsizetype kSlotBytes = 4;

}  // namespace

std::unique_ptr<QMimeData> MakeFunctionMime(const DraggedFunction& function) {
    QByteArray payload;
    for (const uint8_t b : function.slot.Bytes()) payload.append(static_cast<char>(b));
    payload.append(function.name.toUtf8());
    auto data = std::make_unique<QMimeData>();
    data->setData(kFunctionMimeType, payload);
    data->setText(function.name);
    return data;
}

std::optional<DraggedFunction> ReadFunctionMime(const QMimeData* data) {
    if (data == nullptr || !data->hasFormat(kFunctionMimeType)) return std::nullopt;
    const QByteArray payload = data->data(kFunctionMimeType);
    if (payload.size() < kSlotBytes) return std::nullopt;
    const auto byte = [&](qsizetype i) { return static_cast<uint8_t>(payload.at(i)); };
    DraggedFunction out;
    out.slot = {byte(0), byte(1), byte(2), byte(3)};
    out.name = QString::fromUtf8(payload.mid(kSlotBytes));
    return out;
}

}  // namespace qvm::ui
