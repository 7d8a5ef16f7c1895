#include "platform/bridge_protocol.h"

#include <array>
#include <charconv>
#include <cstdio>

namespace qvm {
namespace {

constexpr char kHexDigits[] = "0123456789abcdef";
constexpr int kInvalidDigit = -1;

int HexDigitValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return kInvalidDigit;
}

// How the value of one `dev` field is written.
enum class FieldKind {
    Hex16,    // "0c45": up to four hex digits
    Decimal,  // "64": a non-negative decimal number
    Text,     // hex of UTF-8, "-" when empty
};

// One field of a `dev` line: its key, its form and where it lives in HidDeviceInfo.
struct DeviceField {
    std::string_view key;
    FieldKind kind;
    uint16_t HidDeviceInfo::*hex16 = nullptr;
    int HidDeviceInfo::*decimal = nullptr;
    uint16_t HidCaps::*capsHex16 = nullptr;
    int HidCaps::*capsDecimal = nullptr;
    std::string HidDeviceInfo::*text = nullptr;
};

// Largest decimal field (interface number, report lengths).
constexpr int kMaxDecimalField = 1 << 20;
constexpr std::size_t kHex16Digits = 4;

// The fields of a `dev` line in the order they are written.
const std::array<DeviceField, 11> kDeviceFields = {{
    {"vid", FieldKind::Hex16, &HidDeviceInfo::vendorId},
    {"pid", FieldKind::Hex16, &HidDeviceInfo::productId},
    {"if", FieldKind::Decimal, nullptr, &HidDeviceInfo::interfaceNumber},
    {"page", FieldKind::Hex16, nullptr, nullptr, &HidCaps::usagePage},
    {"usage", FieldKind::Hex16, nullptr, nullptr, &HidCaps::usage},
    {"feature", FieldKind::Decimal, nullptr, nullptr, nullptr, &HidCaps::featureLength},
    {"input", FieldKind::Decimal, nullptr, nullptr, nullptr, &HidCaps::inputLength},
    {"output", FieldKind::Decimal, nullptr, nullptr, nullptr, &HidCaps::outputLength},
    {"serial", FieldKind::Text, nullptr, nullptr, nullptr, nullptr, &HidDeviceInfo::serial},
    {"product", FieldKind::Text, nullptr, nullptr, nullptr, nullptr, &HidDeviceInfo::product},
    {"container", FieldKind::Text, nullptr, nullptr, nullptr, nullptr, &HidDeviceInfo::container},
}};

uint16_t& Hex16Of(const DeviceField& f, HidDeviceInfo& info) {
    return f.hex16 ? info.*f.hex16 : info.caps.*f.capsHex16;
}
int& DecimalOf(const DeviceField& f, HidDeviceInfo& info) {
    return f.decimal ? info.*f.decimal : info.caps.*f.capsDecimal;
}

std::string FormatHex16(uint16_t value) {
    char text[8];
    std::snprintf(text, sizeof text, "%04x", static_cast<unsigned>(value));
    return text;
}

std::optional<uint16_t> ParseHex16(std::string_view text) {
    if (text.empty() || text.size() > kHex16Digits) return std::nullopt;
    unsigned value = 0;
    for (char c : text) {
        int digit = HexDigitValue(c);
        if (digit == kInvalidDigit) return std::nullopt;
        value = value * 16 + static_cast<unsigned>(digit);
    }
    return static_cast<uint16_t>(value);
}

}  // namespace

std::string EncodeBridgeHex(std::span<const uint8_t> bytes) {
    if (bytes.empty()) return std::string(bridge::kEmptyHex);
    std::string out;
    out.reserve(bytes.size() * 2);
    for (uint8_t b : bytes) {
        out.push_back(kHexDigits[b >> 4]);
        out.push_back(kHexDigits[b & 0x0F]);
    }
    return out;
}

std::optional<std::vector<uint8_t>> DecodeBridgeHex(std::string_view hex) {
    if (hex == bridge::kEmptyHex) return std::vector<uint8_t>{};
    if (hex.empty() || hex.size() % 2 != 0) return std::nullopt;
    std::vector<uint8_t> out(hex.size() / 2);
    for (std::size_t i = 0; i < out.size(); ++i) {
        int high = HexDigitValue(hex[2 * i]);
        int low = HexDigitValue(hex[2 * i + 1]);
        if (high == kInvalidDigit || low == kInvalidDigit) return std::nullopt;
        out[i] = static_cast<uint8_t>(high << 4 | low);
    }
    return out;
}

std::optional<std::string> DecodeBridgeHexText(std::string_view hex) {
    auto bytes = DecodeBridgeHex(hex);
    if (!bytes) return std::nullopt;
    return std::string(bytes->begin(), bytes->end());
}

std::optional<int> ParseBridgeDecimal(std::string_view text, int minValue, int maxValue) {
    if (text.empty() || text.front() == '+' || text.front() == '-') return std::nullopt;
    int value = 0;
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc() || end != text.data() + text.size()) return std::nullopt;
    if (value < minValue || value > maxValue) return std::nullopt;
    return value;
}

std::optional<std::vector<std::string_view>> SplitBridgeFields(std::string_view line) {
    std::vector<std::string_view> fields;
    std::size_t start = 0;
    while (true) {
        std::size_t blank = line.find(' ', start);
        std::string_view field = line.substr(start, blank - start);
        if (field.empty()) return std::nullopt;
        fields.push_back(field);
        if (blank == std::string_view::npos) break;
        start = blank + 1;
    }
    return fields;
}

std::string FormatBridgeDevice(const std::string& id, const HidDeviceInfo& info) {
    std::string line = id;
    HidDeviceInfo copy = info;
    for (const DeviceField& f : kDeviceFields) {
        line += ' ';
        line += f.key;
        line += '=';
        switch (f.kind) {
            case FieldKind::Hex16:
                line += FormatHex16(Hex16Of(f, copy));
                break;
            case FieldKind::Decimal:
                line += std::to_string(DecimalOf(f, copy));
                break;
            case FieldKind::Text:
                line += EncodeBridgeHex(copy.*f.text);
                break;
        }
    }
    return line;
}

Result<BridgeDevice> ParseBridgeDevice(std::span<const std::string_view> fields) {
    if (fields.empty()) return MakeError("the device line has no ID");
    BridgeDevice device;
    device.id = std::string(fields[0]);
    if (!IsValidBridgeId(device.id)) return MakeError("bad device ID '" + device.id + "'");
    std::array<bool, kDeviceFields.size()> seen{};
    for (std::string_view field : fields.subspan(1)) {
        std::size_t eq = field.find('=');
        std::string_view key = field.substr(0, eq);
        std::size_t index = 0;
        while (index < kDeviceFields.size() && kDeviceFields[index].key != key) ++index;
        if (eq == std::string_view::npos || index == kDeviceFields.size())
            return MakeError("unknown device field '" + std::string(field) + "'");
        if (seen[index]) return MakeError("device field '" + std::string(key) + "' repeated");
        seen[index] = true;
        const DeviceField& f = kDeviceFields[index];
        std::string_view value = field.substr(eq + 1);
        bool valid = false;
        switch (f.kind) {
            case FieldKind::Hex16:
                if (auto v = ParseHex16(value)) Hex16Of(f, device.info) = *v, valid = true;
                break;
            case FieldKind::Decimal:
                if (auto v = ParseBridgeDecimal(value, 0, kMaxDecimalField))
                    DecimalOf(f, device.info) = *v, valid = true;
                break;
            case FieldKind::Text:
                if (auto v = DecodeBridgeHexText(value)) device.info.*f.text = *v, valid = true;
                break;
        }
        if (!valid) return MakeError("bad value in device field '" + std::string(field) + "'");
    }
    for (std::size_t i = 0; i < kDeviceFields.size(); ++i) {
        if (!seen[i])
            return MakeError("device field '" + std::string(kDeviceFields[i].key) + "' missing");
    }
    device.info.path = MakeBridgePath(device.id, device.info);
    return device;
}

bool IsValidBridgeId(std::string_view id) {
    if (id.empty()) return false;
    for (char c : id) {
        if (c == '#' || c == ' ' || c == '\n' || c == '\r' || c == '\t') return false;
    }
    return true;
}

std::string MakeBridgePath(const std::string& id, const HidDeviceInfo& info) {
    char ids[40];
    std::snprintf(ids, sizeof ids, "vid_%04x&pid_%04x&mi_%02x#",
                  static_cast<unsigned>(info.vendorId), static_cast<unsigned>(info.productId),
                  static_cast<unsigned>(info.interfaceNumber));
    return BridgeToLower(std::string(kBridgePathPrefix) + ids + id);
}

std::optional<std::string> BridgeIdFromPath(std::string_view path) {
    if (BridgeToLower(path.substr(0, kBridgePathPrefix.size())) != kBridgePathPrefix)
        return std::nullopt;
    std::size_t hash = path.rfind('#');
    std::string id(path.substr(hash + 1));
    if (hash < kBridgePathPrefix.size() || !IsValidBridgeId(id)) return std::nullopt;
    return id;
}

std::string BridgeToLower(std::string_view text) {
    std::string out(text);
    for (char& c : out) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return out;
}

bool IsBridgeGoneText(std::string_view text) {
    if (text.substr(0, bridge::kGone.size()) != bridge::kGone) return false;
    return text.size() == bridge::kGone.size() || text[bridge::kGone.size()] == ' ' ||
           text[bridge::kGone.size()] == ':';
}

}  // namespace qvm
