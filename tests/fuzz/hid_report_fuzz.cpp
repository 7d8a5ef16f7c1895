// Fuzz target for what the mice's interfaces send before any command is spoken: HID
// report descriptors (read from each interface when it is found) and the vendor input
// reports a mouse sends to ask the host for something. Any bytes must decode without
// reading past them, and what decodes must lie inside the ranges the callers rely on.
#include <cstddef>
#include <cstdint>
#include <span>
#include <variant>

#include "fuzz/fuzz_support.h"
#include "host/vendor_report.h"
#if QVM_HAVE_LINUX_HID
#include "platform/linux/report_descriptor.h"
#endif

namespace {

using qvm::fuzz::Require;

void CheckVendorReport(std::span<const uint8_t> bytes) {
    const qvm::VendorReport report = qvm::DecodeVendorReport(bytes);
    if (bytes.size() < qvm::vendor_report::kMinSize || bytes.size() > qvm::vendor_report::kMaxSize)
        Require(std::holds_alternative<qvm::IgnoredReport>(report));
    if (const auto* p = std::get_if<qvm::PointerReport>(&report)) {
        Require(p->dx >= -32768 && p->dx <= 32767 && p->dy >= -32768 && p->dy <= 32767);
        Require(p->tilt >= -128 && p->tilt <= 127);
    }
    if (const auto* s = std::get_if<qvm::StatusReport>(&report)) {
        Require(s->stage >= 0 && s->stage <= qvm::vendor_report::kMaxStage);
        for (int byte : {s->xValue, s->yValue, s->profile}) Require(byte >= 0 && byte <= 255);
        Require(s->value16 >= 0 && s->value16 <= 0xFFFF);
    }
    if (const auto* w = std::get_if<qvm::WindowCommandReport>(&report)) {
        Require(w->command == qvm::WindowCommand::RestoreMainWindow ||
                w->command == qvm::WindowCommand::MinimiseActiveWindow);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::span<const uint8_t> bytes(data, size);
    CheckVendorReport(bytes);
#if QVM_HAVE_LINUX_HID
    if (const auto info = qvm::ParseReportDescriptor(bytes)) {
        for (int length :
             {info->caps.featureLength, info->caps.inputLength, info->caps.outputLength}) {
            Require(length >= 0 && length <= 1 + 16384);  // the kernel's report buffer
        }
    }
#endif
    return 0;
}
