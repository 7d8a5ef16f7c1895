#include "sim/sim_grammar.h"

#include <algorithm>
#include <cctype>
#include <set>
#include <string>

#include "platform/bridge_protocol.h"
#include "sim/sim_device.h"
#include "sim/sim_wire.h"

namespace qvm {

namespace {

constexpr int kMaxGeneration = 255;
constexpr int kMaxBusyPolls = 100000;
constexpr int kMaxRemoveAfter = 1000000000;
constexpr int kMaxCostMs = 1000;
constexpr size_t kMaxProductLength = 63;
constexpr int kMaxReportWaitMs = 3600000;  // an hour
constexpr std::string_view kMilliseconds = "ms";

std::string Lower(std::string_view text) {
    std::string out(text);
    std::transform(out.begin(), out.end(), out.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return out;
}

std::string_view Trim(std::string_view text) {
    while (!text.empty() && std::isspace(static_cast<unsigned char>(text.front())))
        text.remove_prefix(1);
    while (!text.empty() && std::isspace(static_cast<unsigned char>(text.back())))
        text.remove_suffix(1);
    return text;
}

std::vector<std::string_view> Split(std::string_view text, char separator) {
    std::vector<std::string_view> parts;
    size_t start = 0;
    while (true) {
        size_t end = text.find(separator, start);
        parts.push_back(text.substr(start, end == std::string_view::npos ? end : end - start));
        if (end == std::string_view::npos) return parts;
        start = end + 1;
    }
}

// Digits in base 10, or base 16 after "0x" (or always base 16 when hexOnly).
Result<uint64_t> ParseNumber(std::string_view text, std::string_view what, uint64_t max,
                             bool hexOnly = false) {
    std::string digits = Lower(text);
    int base = hexOnly ? 16 : 10;
    if (digits.rfind("0x", 0) == 0) {
        digits.erase(0, 2);
        base = 16;
    }
    if (digits.empty() || digits.size() > 16) {
        return MakeError(std::string(what) + " needs a number, got '" + std::string(text) + "'");
    }
    uint64_t value = 0;
    for (char c : digits) {
        int digit = -1;
        if (c >= '0' && c <= '9') digit = c - '0';
        if (base == 16 && c >= 'a' && c <= 'f') digit = c - 'a' + 10;
        if (digit < 0) {
            return MakeError(std::string(what) + " needs a " + (base == 16 ? "hexadecimal " : "") +
                             "number, got '" + std::string(text) + "'");
        }
        value = value * base + digit;
    }
    if (value > max) {
        return MakeError(std::string(what) + " is out of range: " + std::string(text) +
                         " (at most " + std::to_string(max) + ")");
    }
    return value;
}

enum Applies : unsigned { kMice = 1, kKeyboards = 2, kAll = 3 };

using Apply = Status (*)(std::string_view value, SimDeviceConfig& config);

struct OptionRule {
    std::string_view name;
    unsigned applies;
    bool takesValue;
    Apply apply;
};

template <auto Member>
Status SetByte(std::string_view value, SimDeviceConfig& config, std::string_view name) {
    auto number = ParseNumber(value, name, 0xFF);
    if (!number) return number.error();
    config.*Member = static_cast<uint8_t>(*number);
    return {};
}

Status ApplyModel(std::string_view value, SimDeviceConfig& config) {
    auto number = ParseNumber(value, "model", 0xFF);
    if (!number) return number.error();
    config.modelCode = static_cast<int>(*number);
    return {};
}

Status ApplyFirmware(std::string_view value, SimDeviceConfig& config) {
    auto number = ParseNumber(value, "fw", config.IsKeyboard() ? 0xFFFFFFFFu : 0xFFu);
    if (!number) return number.error();
    config.firmware = static_cast<uint32_t>(*number);
    return {};
}

Status ApplyMemory(std::string_view value, SimDeviceConfig& config) {
    static constexpr std::pair<std::string_view, uint32_t> kSizes[] = {
        {"8k", 0x2000}, {"16k", 0x4000}, {"32k", 0x8000}, {"64k", 0x10000}};
    std::string lower = Lower(value);
    for (const auto& [text, size] : kSizes) {
        if (lower == text) {
            config.memorySize = size;
            return {};
        }
    }
    return MakeError("mem must be 8k, 16k, 32k or 64k, got '" + std::string(value) + "'");
}

Status ApplyIdent4(std::string_view value, SimDeviceConfig& config) {
    if (config.generation != 0) return MakeError("id4 is reported by generation 0 only");
    return SetByte<&SimDeviceConfig::identByte4>(value, config, "id4");
}

Status ApplyProductId(std::string_view value, SimDeviceConfig& config) {
    auto number = ParseNumber(value, "pid", 0xFFFF, true);
    if (!number) return number.error();
    config.productId = static_cast<uint16_t>(*number);
    return {};
}

Status ApplyProduct(std::string_view value, SimDeviceConfig& config) {
    if (value.empty() || value.size() > kMaxProductLength) {
        return MakeError("product must have 1 to " + std::to_string(kMaxProductLength) +
                         " characters");
    }
    for (char c : value) {
        if (static_cast<unsigned char>(c) < 0x20) {
            return MakeError("product must not contain control characters");
        }
    }
    config.product = std::string(value);
    return {};
}

Status ApplyBusy(std::string_view value, SimDeviceConfig& config) {
    if (Lower(value) == "forever") {
        config.faults.busyForever = true;
        return {};
    }
    auto number = ParseNumber(value, "busy", kMaxBusyPolls);
    if (!number) return MakeError(number.message() + "; or busy=forever");
    config.faults.busyPolls = static_cast<int>(*number);
    return {};
}

Status ApplyRemoveAfter(std::string_view value, SimDeviceConfig& config) {
    auto number = ParseNumber(value, "removeafter", kMaxRemoveAfter);
    if (!number) return number.error();
    if (*number == 0) return MakeError("removeafter needs at least 1 transfer");
    config.faults.removeAfter = static_cast<int>(*number);
    return {};
}

Status ApplyCost(std::string_view value, SimDeviceConfig& config) {
    auto number = ParseNumber(value, "cost", kMaxCostMs);
    if (!number) return number.error();
    config.faults.costMs = static_cast<int>(*number);
    return {};
}

// "HEX+HEX+...": vendor input reports the mouse holds in its queue when it starts. An item
// "NNNms" makes the reports after it wait that long after the one before it.
Status ApplyReports(std::string_view value, SimDeviceConfig& config) {
    const std::vector<std::string_view> items = Split(value, '+');
    int waitMs = 0;
    std::size_t count = 0;
    for (std::string_view item : items) {
        item = Trim(item);
        if (item.ends_with(kMilliseconds) && item.size() > kMilliseconds.size()) {
            auto number = ParseNumber(item.substr(0, item.size() - kMilliseconds.size()),
                                      "report wait", kMaxReportWaitMs);
            if (!number) return number.error();
            waitMs += static_cast<int>(*number);
            continue;
        }
        if (++count > SimDevice::kMaxQueuedReports) {
            return MakeError("report takes at most " +
                             std::to_string(SimDevice::kMaxQueuedReports) + " reports");
        }
        auto bytes = DecodeBridgeHex(item);
        if (!bytes || bytes->empty() || bytes->size() > kSimVendorReportLength) {
            return MakeError("report needs 1 to " + std::to_string(kSimVendorReportLength) +
                             " bytes in hexadecimal, got '" + std::string(item) + "'");
        }
        config.reports.push_back({waitMs, std::move(*bytes)});
        waitMs = 0;
    }
    return {};
}

const OptionRule kOptions[] = {
    {"model", kMice, true, ApplyModel},
    {"fw", kAll, true, ApplyFirmware},
    {"mem", kMice, true, ApplyMemory},
    {"id1", kMice, true,
     [](std::string_view v, SimDeviceConfig& c) {
         return SetByte<&SimDeviceConfig::identByte1>(v, c, "id1");
     }},
    {"id2", kMice, true,
     [](std::string_view v, SimDeviceConfig& c) {
         return SetByte<&SimDeviceConfig::identByte2>(v, c, "id2");
     }},
    {"id3", kMice, true,
     [](std::string_view v, SimDeviceConfig& c) {
         return SetByte<&SimDeviceConfig::identByte3>(v, c, "id3");
     }},
    {"id4", kMice, true, ApplyIdent4},
    {"class", kMice, true,
     [](std::string_view v, SimDeviceConfig& c) {
         return SetByte<&SimDeviceConfig::deviceClass>(v, c, "class");
     }},
    {"flags", kMice, true,
     [](std::string_view v, SimDeviceConfig& c) {
         return SetByte<&SimDeviceConfig::featureFlags>(v, c, "flags");
     }},
    {"pid", kAll, true, ApplyProductId},
    {"product", kAll, true, ApplyProduct},
    {"blank", kMice, false,
     [](std::string_view, SimDeviceConfig& c) {
         c.blank = true;
         return Status{};
     }},
    {"busy", kMice, true, ApplyBusy},
    {"noreply", kAll, false,
     [](std::string_view, SimDeviceConfig& c) {
         c.faults.noReply = true;
         return Status{};
     }},
    {"removeafter", kAll, true, ApplyRemoveAfter},
    {"corrupt", kAll, false,
     [](std::string_view, SimDeviceConfig& c) {
         c.faults.corrupt = true;
         return Status{};
     }},
    {"cost", kAll, true, ApplyCost},
    {"report", kMice, true, ApplyReports},
};

Result<SimDeviceConfig> ParseKind(std::string_view kindText) {
    std::string kind = Lower(kindText);
    if (kind == "mx28") return DefaultKeyboard(SimKind::KeyboardMx28);
    if (kind == "mx29") return DefaultKeyboard(SimKind::KeyboardMx29);
    const std::string usage = "unknown device kind '" + std::string(kindText) +
                              "'; use gN (N 0..255), gNx (N 3..10), mx28 or mx29";
    if (kind.size() < 2 || kind[0] != 'g') return MakeError(usage);
    bool extended = kind.back() == 'x';
    std::string digits = kind.substr(1, kind.size() - 1 - (extended ? 1 : 0));
    if (digits.empty() ||
        !std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; }) ||
        digits.size() > 3) {
        return MakeError(usage);
    }
    int generation = std::stoi(digits);
    if (generation > kMaxGeneration) {
        return MakeError("protocol generation " + digits + " is out of range (0..255)");
    }
    if (extended && (generation < 3 || generation > 10)) {
        return MakeError("the extended-layout flag 'x' applies to generations 3 to 10 only");
    }
    return DefaultMouse(generation, extended);
}

}  // namespace

Result<SimDeviceConfig> ParseSimDevice(std::string_view itemText) {
    std::string_view item = Trim(itemText);
    auto fail = [&](const std::string& message) -> Result<SimDeviceConfig> {
        return MakeError("simulated device '" + std::string(item) + "': " + message);
    };
    if (item.empty()) return fail("empty item");
    std::vector<std::string_view> parts = Split(item, '/');
    auto config = ParseKind(Trim(parts[0]));
    if (!config) return fail(config.message());

    std::set<std::string> seen;
    for (size_t i = 1; i < parts.size(); ++i) {
        std::string_view option = Trim(parts[i]);
        if (option.empty()) return fail("empty option after '/'");
        size_t equals = option.find('=');
        std::string name = Lower(Trim(option.substr(0, equals)));
        std::string_view value =
            equals == std::string_view::npos ? std::string_view{} : Trim(option.substr(equals + 1));
        const OptionRule* rule = nullptr;
        for (const OptionRule& candidate : kOptions) {
            if (candidate.name == name) rule = &candidate;
        }
        if (rule == nullptr) return fail("unknown option '" + name + "'");
        if (!seen.insert(name).second) return fail("option '" + name + "' is given twice");
        const unsigned kindBit = config->IsKeyboard() ? kKeyboards : kMice;
        if ((rule->applies & kindBit) == 0) {
            return fail("option '" + name + "' does not apply to " +
                        (config->IsKeyboard() ? "keyboards" : "mice"));
        }
        if (rule->takesValue && equals == std::string_view::npos) {
            return fail("option '" + name + "' needs a value (" + name + "=...)");
        }
        if (!rule->takesValue && equals != std::string_view::npos) {
            return fail("option '" + name + "' takes no value");
        }
        Status applied = rule->apply(value, *config);
        if (!applied) return fail(applied.message());
    }
    return config;
}

Result<std::vector<SimDeviceConfig>> ParseSimDevices(std::string_view text) {
    std::vector<SimDeviceConfig> devices;
    if (Trim(text).empty()) {
        devices.push_back(DefaultMouse(12, false));
        return devices;
    }
    for (std::string_view item : Split(text, ',')) {
        auto device = ParseSimDevice(item);
        if (!device) return device.error();
        devices.push_back(std::move(*device));
    }
    return devices;
}

}  // namespace qvm
