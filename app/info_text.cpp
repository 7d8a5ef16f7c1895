#include "app/info_text.h"

#include <cstdio>
#include <vector>

#include "config/image_layout.h"
#include "macro/macro_describe.h"

namespace qvm {
namespace {

// Entries of the msg_str table.
constexpr std::size_t kModelLabel = 58;
constexpr std::size_t kPinLabel = 59;
constexpr std::size_t kPanelFooter = 57;  // empty unless a language file sets it

constexpr int kReportRateCodes = 8;
constexpr int kPinDigits = 4;

std::string Fill(std::string_view templ, const std::vector<std::string>& args) {
    return FillTextTemplate(templ, args);
}

std::string ZeroPadded(int value, int digits) {
    char buffer[16];
    std::snprintf(buffer, sizeof buffer, "%0*d", digits, value);
    return buffer;
}

}  // namespace

std::string PinLine(const UiStrings& ui, int pin) {
    return Fill(kPinLineTemplate, {ui.msg_str[kPinLabel], ZeroPadded(pin, kPinDigits)});
}

std::string InfoPanelText(const UiStrings& ui, const InfoDevice& device, int pin) {
    const std::string_view templ =
        device.extendedButtonSet ? kInfoPanelExtendedTemplate : kInfoPanelTemplate;
    return Fill(templ, {ui.msg_str[kModelLabel], device.modelName, ui.version_str,
                        std::string(kSoftwareVersion), ui.firmware_str,
                        std::to_string(device.firmwareVersion), PinLine(ui, pin),
                        ui.msg_str[kPanelFooter]});
}

std::string InfoPanelTextNoDevice(const UiStrings& ui) {
    return Fill(kInfoPanelNoDeviceTemplate,
                {ui.version_str, std::string(kSoftwareVersion), ui.msg_str[kPanelFooter]});
}

std::string InformationPageText(const InfoDevice& device) {
    std::vector<std::string> args = {device.modelName, std::string(kSoftwareVersion)};
    for (int shift = 24; shift >= 0; shift -= 8) {
        args.push_back(std::to_string((device.firmwareVersion >> shift) & 0xFFu));
    }
    return Fill(kInformationPageTemplate, args);
}

Result<std::string> ReportRateText(int code) {
    if (code < 0 || code >= kReportRateCodes) {
        return MakeError("report rate code " + std::to_string(code) + " is outside 0.." +
                         std::to_string(kReportRateCodes - 1));
    }
    return Fill(kReportRateTemplate, {std::to_string(ReportRateHz(code))});
}

}  // namespace qvm
