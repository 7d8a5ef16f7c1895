// The device bridge's line format (protocol version 1), shared by the host side
// (exec backend) and the server side (qvm-sim): hex byte strings, the fields of a
// `dev` / `add` line, and device paths built from them.
//
// One request line, one answer line (or a block of lines ended by `end`), `\n`
// ended, fields separated by one blank. Byte strings are hex without separators,
// either case on input, lower case on output, `-` for an empty string.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/hid.h"

namespace qvm {

inline constexpr int kBridgeProtocolVersion = 1;
inline constexpr std::string_view kBridgePathPrefix = "bridge#";
// Longest line either side accepts; a 4096-byte report in hex fits with room to spare.
inline constexpr std::size_t kBridgeMaxLineLength = 64 * 1024;
// Largest report length a `read` request may ask for.
inline constexpr int kBridgeMaxReportLength = 4096;

// Request and answer words.
namespace bridge {
inline constexpr std::string_view kHello = "hello";
inline constexpr std::string_view kList = "list";
inline constexpr std::string_view kGetFeature = "getf";
inline constexpr std::string_view kSetFeature = "setf";
inline constexpr std::string_view kWrite = "write";
inline constexpr std::string_view kRead = "read";
inline constexpr std::string_view kString = "str";
inline constexpr std::string_view kEvents = "events";
inline constexpr std::string_view kBye = "bye";
inline constexpr std::string_view kOk = "ok";
inline constexpr std::string_view kErr = "err";
inline constexpr std::string_view kNone = "none";
inline constexpr std::string_view kDev = "dev";
inline constexpr std::string_view kAdd = "add";
inline constexpr std::string_view kRemove = "remove";
inline constexpr std::string_view kEnd = "end";
inline constexpr std::string_view kEmptyHex = "-";
// First word of the TEXT of `err TEXT` for a device that has left.
inline constexpr std::string_view kGone = "gone";
}  // namespace bridge

// True when the TEXT of an `err TEXT` answer says the device left: it is `gone` or
// starts with `gone` followed by a blank or a colon.
bool IsBridgeGoneText(std::string_view text);

// Lower-case hex of `bytes`, or "-" when empty.
std::string EncodeBridgeHex(std::span<const uint8_t> bytes);
inline std::string EncodeBridgeHex(std::string_view text) {
    return EncodeBridgeHex(std::span(reinterpret_cast<const uint8_t*>(text.data()), text.size()));
}
// Parses hex of either case, or "-". nullopt on an odd length or a non-hex digit.
std::optional<std::vector<uint8_t>> DecodeBridgeHex(std::string_view hex);
// Decodes hex into text (serial, product and container are hex of UTF-8).
std::optional<std::string> DecodeBridgeHexText(std::string_view hex);

// Parses a whole decimal number in [minValue, maxValue]; nullopt otherwise.
std::optional<int> ParseBridgeDecimal(std::string_view text, int minValue, int maxValue);

// Splits a line at single blanks. nullopt when the line is empty or has an empty field
// (two blanks in a row, a leading or trailing blank).
std::optional<std::vector<std::string_view>> SplitBridgeFields(std::string_view line);

// One device as `dev` and `add` lines describe it: the server's ID plus everything
// HidDeviceInfo carries except the path and the open error.
struct BridgeDevice {
    std::string id;
    HidDeviceInfo info;  // info.path is not part of the line
};

// "ID vid=VVVV pid=PPPP if=N page=UUUU usage=UUUU feature=N input=N output=N
//  serial=HEX product=HEX container=HEX" (without the leading `dev` / `add`).
std::string FormatBridgeDevice(const std::string& id, const HidDeviceInfo& info);
// Parses the fields after `dev` / `add`; every key must appear exactly once, in any
// order. The error names the first fault. The device's path is built with
// MakeBridgePath.
Result<BridgeDevice> ParseBridgeDevice(std::span<const std::string_view> fields);

// An ID is usable when it is non-empty and holds neither blanks nor '#'.
bool IsValidBridgeId(std::string_view id);

// "bridge#vid_vvvv&pid_pppp&mi_nn#id", lower case.
std::string MakeBridgePath(const std::string& id, const HidDeviceInfo& info);
// The ID part of a bridge path (what follows the last '#'); nullopt when `path` is not
// a bridge path.
std::optional<std::string> BridgeIdFromPath(std::string_view path);

// ASCII letters to lower case; device paths and IDs are compared in lower case.
std::string BridgeToLower(std::string_view text);

}  // namespace qvm
