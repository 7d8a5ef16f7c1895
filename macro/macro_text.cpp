#include "macro/macro_text.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <charconv>
#include <cstdio>
#include <optional>

#include "base/text.h"
#include "config/catalogue.h"
#include "lang/ui_strings.h"

namespace qvm {
namespace {

// How a keyword's operands are written and encoded.
enum class Shape {
    Fixed,     // no operands; the opcode then zero bytes up to the instruction length
    Byte,      // one 8-bit operand
    Word,      // one 16-bit operand
    Wait,      // milliseconds; the short or the long wait, whichever holds the value
    Buttons,   // button names, or'ed into the opcode
    Wheel,     // signed count in the low 5 bits
    Pair,      // two 16-bit operands
    System,    // number added to kSystemBase
    Key,       // HID keyboard usage by name or in hex
    Consumer,  // consumer usage by name or in hex
    Raw,       // bytes as written
};

struct Keyword {
    std::string_view word;
    uint8_t opcode;
    Shape shape;
    int count;  // numeric operands (numeric shapes only)
    long min;
    long max;
    std::string_view takes;  // what the operands must be, for the error message
};

constexpr uint8_t kSystemBase = kOpSystemFirst - 1;
constexpr long kU8Max = 0xFF;
constexpr long kU16Max = 0xFFFF;
constexpr long kS16Min = -0x8000;
constexpr long kS16Max = 0x7FFF;
constexpr long kWheelMin = -16;
constexpr long kWheelMax = 15;
constexpr std::size_t kLowByte = 0xFF;

constexpr std::array<Keyword, 24> kKeywords = {{
    {"key-down", kOpKeyDown, Shape::Key, 0, 0, kU8Max, "a key name or a usage from 0x00 to 0xFF"},
    {"key-up", kOpKeyUp, Shape::Key, 0, 0, kU8Max, "a key name or a usage from 0x00 to 0xFF"},
    {"wait", kOpWaitShort, Shape::Wait, 1, 0, kU16Max, "0 to 65535 milliseconds"},
    {"wait-long", kOpWaitLong, Shape::Word, 1, 0, kU16Max, "0 to 65535 milliseconds"},
    {"button-down", kOpButtonDown, Shape::Buttons, 0, 0, 0,
     "button names: left right middle b4 b5"},
    {"button-up", kOpButtonUp, Shape::Buttons, 0, 0, 0, "button names: left right middle b4 b5"},
    {"wheel", kOpWheel, Shape::Wheel, 1, kWheelMin, kWheelMax, "a count from -16 to 15"},
    {"move", kOpMove, Shape::Pair, 2, kS16Min, kS16Max, "two numbers from -32768 to 32767"},
    {"move-to", kOpMoveTo, Shape::Pair, 2, kS16Min, kS16Max, "two numbers from -32768 to 32767"},
    {"move-to-unsigned", kOpMoveToUnsigned, Shape::Pair, 2, 0, kU16Max,
     "two numbers from 0 to 65535"},
    {"consumer-down", kOpConsumer, Shape::Consumer, 0, 1, kU16Max,
     "a consumer key name or a usage from 0x1 to 0xFFFF"},
    {"consumer-up", kOpConsumer, Shape::Fixed, 0, 0, 0, "no operands"},
    {"end", kOpEnd, Shape::Fixed, 0, 0, 0, "no operands"},
    {"stop", kOpStop, Shape::Fixed, 0, 0, 0, "no operands"},
    {"mode-once", kOpModeOnce, Shape::Fixed, 0, 0, 0, "no operands"},
    {"mode-loop", kOpModeLoop, Shape::Fixed, 0, 0, 0, "no operands"},
    {"mode-firekey", kOpModeFireKey, Shape::Fixed, 0, 0, 0, "no operands"},
    {"jump", kOpJump, Shape::Word, 1, 0, kU16Max, "an address from 0 to 65535"},
    {"decrement-jump", kOpDecrementJump, Shape::Word, 1, 0, kU16Max, "an address from 0 to 65535"},
    {"set-acc", kOpSetAcc, Shape::Word, 1, 0, kU16Max, "a value from 0 to 65535"},
    {"system", kOpSystemFirst, Shape::System, 1, 1, kOpSystemLast - kSystemBase,
     "a number from 1 to 15"},
    {"op81", kOpUnknown81, Shape::Byte, 1, 0, kU8Max, "a value from 0 to 255"},
    {"op82", kOpUnknown82, Shape::Byte, 1, 0, kU8Max, "a value from 0 to 255"},
    {"raw", 0, Shape::Raw, 0, 0, 0, "1 to 5 hexadecimal bytes such as 02 or 0x02"},
}};

// Button names of the text form, by mask bit.
struct ButtonWord {
    std::string_view word;
    uint8_t bit;
};
constexpr std::array<ButtonWord, 5> kButtonWords = {{
    {"left", kMacroButtonLeft},
    {"right", kMacroButtonRight},
    {"middle", kMacroButtonMiddle},
    {"b4", kMacroButton4},
    {"b5", kMacroButton5},
}};

constexpr char kComment = '#';

bool IsBlank(char c) {
    return std::isspace(static_cast<unsigned char>(c)) != 0;
}
char Lower(char c) {
    return static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
}

std::string_view Trim(std::string_view s) {
    while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
    while (!s.empty() && IsBlank(s.back())) s.remove_suffix(1);
    return s;
}

// Names compare without regard to ASCII case or blanks: "page up" finds "PageUp".
std::string NameKey(std::string_view s) {
    std::string key;
    for (char c : s) {
        if (!IsBlank(c)) key += Lower(c);
    }
    return key;
}

std::vector<std::string_view> SplitWords(std::string_view s) {
    std::vector<std::string_view> words;
    std::size_t i = 0;
    while (i < s.size()) {
        while (i < s.size() && IsBlank(s[i])) ++i;
        const std::size_t start = i;
        while (i < s.size() && !IsBlank(s[i])) ++i;
        if (i > start) words.push_back(s.substr(start, i - start));
    }
    return words;
}

bool HasHexPrefix(std::string_view s) {
    return s.size() > 2 && s[0] == '0' && Lower(s[1]) == 'x';
}

std::optional<long> ParseHex(std::string_view s) {
    long value = 0;
    const auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), value, 16);
    if (ec != std::errc() || end != s.data() + s.size()) return std::nullopt;
    return value;
}

// Decimal with an optional sign, or 0x-hexadecimal.
std::optional<long> ParseNumber(std::string_view s) {
    if (HasHexPrefix(s)) return ParseHex(s.substr(2));
    if (!s.empty() && s.front() == '+') s.remove_prefix(1);
    long value = 0;
    const auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), value, 10);
    if (s.empty() || ec != std::errc() || end != s.data() + s.size()) return std::nullopt;
    return value;
}

std::string Hex(unsigned value, int digits) {
    char buffer[16];
    std::snprintf(buffer, sizeof buffer, "%0*X", digits, value);
    return buffer;
}

// The stable (English) consumer table: scripts read the same names whatever the language.
const UiStrings& TextTables() {
    static const UiStrings tables;
    return tables;
}

std::optional<int> KeyUsageNamed(std::string_view name) {
    const std::string key = NameKey(name);
    for (const KeyNameEntry& e : KeyNameTable()) {
        if (e.usage == kKeyNameEnd) break;
        if (NameKey(e.name) == key) return e.usage;
    }
    return std::nullopt;
}

std::optional<int> ConsumerUsageNamed(std::string_view name) {
    const std::string key = NameKey(name);
    for (const ConsumerKey& k : TextTables().consumer_keys) {
        if (k.usage == kConsumerKeyTerminator) break;
        if (!k.name.empty() && NameKey(k.name) == key) return k.usage;
    }
    return std::nullopt;
}

// A name is written only when the parser reads it back as the same usage: names that
// hold a comment sign or a line break, or that another usage shares, are written in hex.
std::string UsageText(std::string_view name, int usage,
                      std::optional<int> (*lookup)(std::string_view), int hexDigits) {
    const bool safe = name.find_first_of("#\r\n") == std::string_view::npos;
    if (!name.empty() && safe && lookup(name) == usage) return std::string(name);
    return "0x" + Hex(static_cast<unsigned>(usage), hexDigits);
}

long Signed16(unsigned word) {
    return static_cast<int16_t>(static_cast<uint16_t>(word));
}

std::string RawText(const MacroItem& item) {
    std::string text = "raw";
    for (uint8_t b : EncodeMacroCode(std::span<const MacroItem>(&item, 1))) text += " " + Hex(b, 2);
    return text;
}

std::string ItemText(const MacroItem& item) {
    const uint8_t op = item.Opcode();
    if (MacroInstructionLength(op) == 0 || IsRawMacroItem(item)) return RawText(item);
    const uint8_t low = op & kOperandMask;
    if (op >= kOpButtonDown && op < kOpWheel) {
        std::string text = op < kOpButtonUp ? "button-down" : "button-up";
        for (const ButtonWord& b : kButtonWords) {
            if (low & b.bit) text += " " + std::string(b.word);
        }
        return text;
    }
    if (op >= kOpWheel && op <= (kOpWheel | kOperandMask)) {
        return "wheel " + std::to_string(low > kWheelMax ? low - (kWheelMax - kWheelMin + 1) : low);
    }
    if (op >= kOpSystemFirst && op <= kOpSystemLast)
        return "system " + std::to_string(op - kSystemBase);
    const unsigned w1 = MacroItemWord(item, 1);
    const unsigned w3 = MacroItemWord(item, 3);
    switch (op) {
        case kOpKeyDown:
        case kOpKeyUp:
            return std::string(op == kOpKeyDown ? "key-down " : "key-up ") +
                   UsageText(KeyName(item.code[1]), item.code[1], KeyUsageNamed, 2);
        case kOpConsumer:
            if (w1 == 0) return "consumer-up";
            return "consumer-down " +
                   UsageText(ConsumerNameWith(TextTables(), static_cast<int>(w1)),
                             static_cast<int>(w1), ConsumerUsageNamed, 2);
        case kOpWaitShort:
            return "wait " + std::to_string(item.code[1]);
        case kOpWaitLong:
            return (w1 <= kU8Max ? "wait-long " : "wait ") + std::to_string(w1);
        case kOpMove:
        case kOpMoveTo:
            return std::string(op == kOpMove ? "move " : "move-to ") +
                   std::to_string(Signed16(w1)) + " " + std::to_string(Signed16(w3));
        case kOpMoveToUnsigned:
            return "move-to-unsigned " + std::to_string(w1) + " " + std::to_string(w3);
        default:
            break;
    }
    for (const Keyword& k : kKeywords) {
        if (k.opcode != op) continue;
        if (k.shape == Shape::Fixed) return std::string(k.word);
        if (k.shape == Shape::Byte) return std::string(k.word) + " " + std::to_string(item.code[1]);
        if (k.shape == Shape::Word) return std::string(k.word) + " " + std::to_string(w1);
    }
    return RawText(item);  // every valid opcode is handled above; kept for safety
}

// ---- parsing ----

Error LineError(std::size_t line, const std::string& what) {
    return MakeError("line " + std::to_string(line) + ": " + what);
}

std::string Takes(const Keyword& k) {
    return std::string(k.word) + " takes " + std::string(k.takes);
}

void PushWord(std::vector<uint8_t>& bytes, long value) {
    const auto v = static_cast<unsigned long>(value);
    bytes.push_back(static_cast<uint8_t>(v & kLowByte));
    bytes.push_back(static_cast<uint8_t>((v >> 8) & kLowByte));
}

Result<std::vector<uint8_t>> ParseUsage(const Keyword& k, std::string_view rest, std::size_t line) {
    if (rest.empty()) return LineError(line, Takes(k));
    std::optional<int> usage =
        k.shape == Shape::Key ? KeyUsageNamed(rest) : ConsumerUsageNamed(rest);
    if (!usage) {
        if (!HasHexPrefix(rest)) {
            return LineError(line, "unknown " +
                                       std::string(k.shape == Shape::Key ? "key" : "consumer key") +
                                       " '" + std::string(rest) + "'; " + Takes(k));
        }
        const std::optional<long> value = ParseHex(rest.substr(2));
        if (!value || *value < k.min || *value > k.max) return LineError(line, Takes(k));
        usage = static_cast<int>(*value);
    }
    std::vector<uint8_t> bytes = {k.opcode};
    if (k.shape == Shape::Key) {
        bytes.push_back(static_cast<uint8_t>(*usage));
    } else {
        PushWord(bytes, *usage);
    }
    return bytes;
}

Result<std::vector<uint8_t>> ParseButtons(const Keyword& k, std::string_view rest,
                                          std::size_t line) {
    uint8_t mask = 0;
    for (std::string_view word : SplitWords(rest)) {
        const std::string key = NameKey(word);
        const auto it = std::find_if(kButtonWords.begin(), kButtonWords.end(),
                                     [&](const ButtonWord& b) { return b.word == key; });
        if (it == kButtonWords.end()) {
            return LineError(line, "unknown button '" + std::string(word) + "'; " + Takes(k));
        }
        if (mask & it->bit)
            return LineError(line, "button " + std::string(it->word) + " named twice");
        mask |= it->bit;
    }
    return std::vector<uint8_t>{static_cast<uint8_t>(k.opcode | mask)};
}

Result<std::vector<uint8_t>> ParseRaw(const Keyword& k, std::string_view rest, std::size_t line) {
    const std::vector<std::string_view> words = SplitWords(rest);
    if (words.empty() || words.size() > kMacroItemMaxBytes) return LineError(line, Takes(k));
    std::vector<uint8_t> bytes;
    for (std::string_view word : words) {
        const std::string_view digits = HasHexPrefix(word) ? word.substr(2) : word;
        const std::optional<long> value = digits.size() <= 2 ? ParseHex(digits) : std::nullopt;
        if (!value || *value < 0) {
            return LineError(line,
                             "'" + std::string(word) + "' is not a hexadecimal byte; " + Takes(k));
        }
        bytes.push_back(static_cast<uint8_t>(*value));
    }
    return bytes;
}

Result<std::vector<uint8_t>> ParseNumbers(const Keyword& k, std::string_view rest,
                                          std::size_t line) {
    const std::vector<std::string_view> words = SplitWords(rest);
    if (words.size() != static_cast<std::size_t>(k.count)) return LineError(line, Takes(k));
    std::vector<long> values;
    for (std::string_view word : words) {
        const std::optional<long> v = ParseNumber(word);
        if (!v || *v < k.min || *v > k.max) return LineError(line, Takes(k));
        values.push_back(*v);
    }
    std::vector<uint8_t> bytes;
    switch (k.shape) {
        case Shape::Fixed:
            bytes.assign(static_cast<std::size_t>(MacroInstructionLength(k.opcode)), 0);
            bytes[0] = k.opcode;
            break;
        case Shape::Byte:
            bytes = {k.opcode, static_cast<uint8_t>(values[0])};
            break;
        case Shape::Wait:
            if (values[0] <= kU8Max) {
                bytes = {kOpWaitShort, static_cast<uint8_t>(values[0])};
                break;
            }
            bytes = {kOpWaitLong};
            PushWord(bytes, values[0]);
            break;
        case Shape::Word:
        case Shape::Pair:
            bytes = {k.opcode};
            for (long v : values) PushWord(bytes, v);
            break;
        case Shape::Wheel:
            bytes = {static_cast<uint8_t>(k.opcode |
                                          (static_cast<unsigned long>(values[0]) & kOperandMask))};
            break;
        case Shape::System:
            bytes = {static_cast<uint8_t>(kSystemBase + values[0])};
            break;
        default:
            return LineError(line, Takes(k));
    }
    return bytes;
}

Result<std::vector<uint8_t>> ParseLine(std::string_view text, std::size_t line) {
    std::size_t split = 0;
    while (split < text.size() && !IsBlank(text[split])) ++split;
    const std::string word = NameKey(text.substr(0, split));
    const std::string_view rest = Trim(text.substr(split));
    const auto k = std::find_if(kKeywords.begin(), kKeywords.end(),
                                [&](const Keyword& kw) { return kw.word == word; });
    if (k == kKeywords.end()) {
        return LineError(line, "unknown instruction '" + std::string(text.substr(0, split)) + "'");
    }
    switch (k->shape) {
        case Shape::Key:
        case Shape::Consumer:
            return ParseUsage(*k, rest, line);
        case Shape::Buttons:
            return ParseButtons(*k, rest, line);
        case Shape::Raw:
            return ParseRaw(*k, rest, line);
        default:
            return ParseNumbers(*k, rest, line);
    }
}

}  // namespace

std::string FormatMacroText(std::span<const MacroItem> items) {
    std::string text;
    for (const MacroItem& item : items) text += ItemText(item) + "\n";
    return text;
}

Result<std::vector<MacroItem>> ParseMacroText(std::string_view text) {
    std::vector<MacroItem> items;
    std::size_t lineNumber = 0;
    while (!text.empty()) {
        ++lineNumber;
        const std::size_t newline = text.find('\n');
        std::string_view line = text.substr(0, newline);
        text.remove_prefix(newline == std::string_view::npos ? text.size() : newline + 1);
        line = Trim(line.substr(0, line.find(kComment)));
        if (line.empty()) continue;
        Result<std::vector<uint8_t>> bytes = ParseLine(line, lineNumber);
        if (!bytes) return bytes.error();
        items.push_back(MakeMacroItem(*bytes));
    }
    return items;
}

Result<std::vector<MacroItem>> ParseMacroTextFile(std::span<const uint8_t> bytes) {
    return ParseMacroText(Utf16ToUtf8(DecodeTextFile(bytes).text));
}

}  // namespace qvm
