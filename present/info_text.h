// The texts of the main window's information panel and INFORMATION page, built from the
// UI string tables in force so that a language file translates their labels.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "base/result.h"
#include "lang/ui_strings.h"

namespace qvm {

// The version this program shows as its software and driver version.
inline constexpr std::string_view kSoftwareVersion = "1.37";

// Texts that no language file changes.
inline constexpr std::string_view kInfoPanelTemplate = "%s: %s\n%s: %s\n%s: %s\n%s\n%s";
inline constexpr std::string_view kInfoPanelExtendedTemplate =
    "%s: %s\n%s: %s\n%s: %s (Gen2)\n%s\n%s";
inline constexpr std::string_view kPinLineTemplate = "%s: %04d";
inline constexpr std::string_view kInfoPanelNoDeviceTemplate = "\n%s: %s\n\n%s";
inline constexpr std::string_view kInformationPageTitle = "Information:";
inline constexpr std::string_view kInformationPageTemplate =
    "Model:%s\r\nDriver Version: %s\r\nFirmware version: %s";
inline constexpr std::string_view kReportRateTemplate = "%dHz";
// Said instead of a file's table text when the reason is not known more closely.
inline constexpr std::string_view kNotThatKindOfFile = "not a file of the expected kind";

// What the panel shows of the attached device.
struct InfoDevice {
    std::string modelName;
    uint32_t firmwareVersion = 0;
    bool extendedButtonSet = false;  // models with the extended button set show "(Gen2)"
};

// "0007": the PIN of the network remote service, at least four digits.
std::string PinText(int pin);
// "PIN number: 0007": the same with its label.
std::string PinLine(const UiStrings& ui, int pin);

// The information panel with a device attached, and without one.
std::string InfoPanelText(const UiStrings& ui, const InfoDevice& device, int pin);
std::string InfoPanelTextNoDevice(const UiStrings& ui);

// The INFORMATION page body; the firmware version shows its four bytes, most
// significant first.
std::string InformationPageText(const InfoDevice& device);

// The firmware version as its four bytes, most significant first: "0.0.0.48". Every
// window shows it in this one form, mouse or keyboard.
std::string FirmwareVersionText(uint32_t version);

// "No device !!" with the help line beneath it.
std::string NoDeviceText(const UiStrings& ui);

// A message about a file, for a message box: a message that opens with the table text
// "invalid format !!" keeps it as its first line, and the file's name and the reason (what
// the message held in parentheses, or kNotThatKindOfFile) go on the line beneath:
// "invalid format !!\nsaved.bf: the file ends inside its header". Any other message gets
// the file's name in front: "saved.bf: <message>".
std::string FileMessage(const UiStrings& ui, std::string_view fileName, std::string_view message);

// A button label's tool tip: the whole function text (the label may be cut short) and the
// four bytes the button holds: "Ctrl + C\nBytes: 05 01 06 00".
std::string ButtonToolTip(std::string_view functionText, std::span<const uint8_t> bytes);

// "1000Hz" .. "125Hz" for report-rate codes 0..7; an error for any other code.
Result<std::string> ReportRateText(int code);

}  // namespace qvm
