#include "present/error_text.h"

#include <utility>

namespace qvm {
namespace {

constexpr std::size_t kLackOfSpaceMessage = 19;  // msg_str: "Lack of space !!"

struct KindText {
    ErrorKind kind;
    WordText word;
};

// Every kind but NoSpace, whose text is the message table's own.
constexpr KindText kKindTexts[] = {
    {ErrorKind::Other, kWordErrorOther},
    {ErrorKind::DeviceGone, kWordErrorDeviceGone},
    {ErrorKind::DeviceBusy, kWordErrorDeviceBusy},
    {ErrorKind::DeviceSilent, kWordErrorDeviceSilent},
    {ErrorKind::DeviceGarbled, kWordErrorDeviceGarbled},
    {ErrorKind::DeviceRefused, kWordErrorDeviceRefused},
    {ErrorKind::Uninitialised, kWordErrorUninitialised},
    {ErrorKind::BadInput, kWordErrorBadInput},
    {ErrorKind::Io, kWordErrorIo},
    {ErrorKind::Unsaved, kWordErrorUnsaved},
};

}  // namespace

const std::string& ErrorKindText(const UiStrings& ui, ErrorKind kind) {
    if (kind == ErrorKind::NoSpace) return ui.msg_str[kLackOfSpaceMessage];
    for (const KindText& entry : kKindTexts) {
        if (entry.kind == kind) return ui.word_str[entry.word];
    }
    return ui.word_str[kWordErrorOther];
}

std::string ErrorText(const UiStrings& ui, const Error& error) {
    std::string text = ErrorKindText(ui, error.kind);
    if (!error.message.empty()) text += "\n" + error.message;
    return text;
}

}  // namespace qvm
