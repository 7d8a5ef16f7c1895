#include "present/info_text.h"

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
constexpr std::size_t kNoDevice = 10;
constexpr std::size_t kInvalidFormat = 20;

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

std::string PinText(int pin) {
    return ZeroPadded(pin, kPinDigits);
}

std::string PinLine(const UiStrings& ui, int pin) {
    return Fill(kPinLineTemplate, {ui.msg_str[kPinLabel], PinText(pin)});
}

std::string InfoPanelText(const UiStrings& ui, const InfoDevice& device, int pin) {
    const std::string_view templ =
        device.extendedButtonSet ? kInfoPanelExtendedTemplate : kInfoPanelTemplate;
    return Fill(templ, {ui.msg_str[kModelLabel], device.modelName, ui.version_str,
                        std::string(kSoftwareVersion), ui.firmware_str,
                        FirmwareVersionText(device.firmwareVersion), PinLine(ui, pin),
                        ui.msg_str[kPanelFooter]});
}

std::string InfoPanelTextNoDevice(const UiStrings& ui) {
    return Fill(kInfoPanelNoDeviceTemplate,
                {ui.version_str, std::string(kSoftwareVersion), ui.msg_str[kPanelFooter]});
}

std::string InformationPageText(const InfoDevice& device) {
    return Fill(kInformationPageTemplate, {device.modelName, std::string(kSoftwareVersion),
                                           FirmwareVersionText(device.firmwareVersion)});
}

std::string ButtonToolTip(std::string_view functionText, std::span<const uint8_t> bytes) {
    std::string text(functionText);
    text += "\nBytes:";
    for (uint8_t byte : bytes) {
        char hex[4];
        std::snprintf(hex, sizeof hex, " %02X", byte);
        text += hex;
    }
    return text;
}

std::string FirmwareVersionText(uint32_t version) {
    std::string text;
    for (int shift = 24; shift >= 0; shift -= 8) {
        if (!text.empty()) text += '.';
        text += std::to_string((version >> shift) & 0xFFu);
    }
    return text;
}

std::string NoDeviceText(const UiStrings& ui) {
    // The table's line breaks are "\r\n"; the windows break lines at "\n" alone.
    std::string help = ui.word_str[kWordNoDeviceHelp];
    for (auto pos = help.find("\r\n"); pos != std::string::npos; pos = help.find("\r\n", pos)) {
        help.erase(pos, 1);
    }
    return ui.msg_str[kNoDevice] + "\n" + help;
}

std::string FileMessage(const UiStrings& ui, std::string_view fileName, std::string_view message) {
    const std::string& invalid = ui.msg_str[kInvalidFormat];
    const std::string name(fileName);
    if (invalid.empty() || !message.starts_with(invalid)) return name + ": " + std::string(message);
    std::string_view rest = message.substr(invalid.size());
    while (!rest.empty() && rest.front() == ' ') rest.remove_prefix(1);
    std::string reason(kNotThatKindOfFile);
    if (rest.size() > 2 && rest.front() == '(' && rest.back() == ')') {
        reason = std::string(rest.substr(1, rest.size() - 2));
    } else if (!rest.empty()) {
        reason = std::string(rest);
    }
    return invalid + "\n" + name + ": " + reason;
}

Result<std::string> ReportRateText(int code) {
    if (code < 0 || code >= kReportRateCodes) {
        return MakeError("report rate code " + std::to_string(code) + " is outside 0.." +
                         std::to_string(kReportRateCodes - 1));
    }
    return Fill(kReportRateTemplate, {std::to_string(ReportRateHz(code))});
}

}  // namespace qvm
