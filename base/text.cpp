#include "base/text.h"

#include <algorithm>
#include <array>
#include <cstdio>

namespace qvm {
namespace {

constexpr char32_t kMaxCodePoint = 0x10FFFF;
constexpr char32_t kReplacement32 = 0xFFFD;

bool IsHighSurrogate(char32_t u) {
    return u >= 0xD800 && u <= 0xDBFF;
}
bool IsLowSurrogate(char32_t u) {
    return u >= 0xDC00 && u <= 0xDFFF;
}
bool IsSurrogate(char32_t u) {
    return u >= 0xD800 && u <= 0xDFFF;
}

// One UTF-8 lead byte: how many continuation bytes follow and the smallest code point
// that may use this length (anything below is an overlong form).
struct Utf8Lead {
    int continuation;
    char32_t minimum;
    std::uint8_t payloadMask;
};

bool ClassifyLead(std::uint8_t b, Utf8Lead& lead) {
    if (b < 0x80) {
        lead = {0, 0, 0x7F};
    } else if ((b & 0xE0) == 0xC0) {
        lead = {1, 0x80, 0x1F};
    } else if ((b & 0xF0) == 0xE0) {
        lead = {2, 0x800, 0x0F};
    } else if ((b & 0xF8) == 0xF0) {
        lead = {3, 0x10000, 0x07};
    } else {
        return false;
    }
    return true;
}

// Decodes one code point at text[pos], advancing pos past what it consumed. An invalid
// sequence consumes its lead byte and the continuation bytes that were valid.
char32_t NextCodePoint(std::string_view text, std::size_t& pos) {
    const auto lead = static_cast<std::uint8_t>(text[pos++]);
    Utf8Lead info{};
    if (!ClassifyLead(lead, info)) return kReplacement32;
    char32_t cp = lead & info.payloadMask;
    for (int i = 0; i < info.continuation; ++i) {
        if (pos >= text.size()) return kReplacement32;
        const auto b = static_cast<std::uint8_t>(text[pos]);
        if ((b & 0xC0) != 0x80) return kReplacement32;
        cp = (cp << 6) | (b & 0x3F);
        ++pos;
    }
    if (cp < info.minimum || cp > kMaxCodePoint || IsSurrogate(cp)) return kReplacement32;
    return cp;
}

void AppendUtf16(std::u16string& out, char32_t cp) {
    if (cp < 0x10000) {
        out.push_back(static_cast<char16_t>(cp));
        return;
    }
    cp -= 0x10000;
    out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
    out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
}

void AppendUtf8(std::string& out, char32_t cp) {
    if (cp < 0x80) {
        out.push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
}

// Number of UTF-16 units from the start of text that hold whole characters and fit in
// maxUnits.
std::size_t WholeUnitsWithin(std::u16string_view text, std::size_t maxUnits) {
    if (text.size() <= maxUnits) return text.size();
    std::size_t cut = maxUnits;
    if (cut > 0 && IsHighSurrogate(text[cut - 1]) && IsLowSurrogate(text[cut])) --cut;
    return cut;
}

template <bool kLittleEndian>
std::u16string DecodeUtf16(std::span<const std::uint8_t> bytes) {
    std::u16string out;
    out.reserve(bytes.size() / 2);
    for (std::size_t i = 0; i + 1 < bytes.size(); i += 2) {
        const unsigned lo = kLittleEndian ? bytes[i] : bytes[i + 1];
        const unsigned hi = kLittleEndian ? bytes[i + 1] : bytes[i];
        out.push_back(static_cast<char16_t>(lo | (hi << 8)));
    }
    return out;
}

// One valid UTF-8 sequence at text[pos]: its code point, pos moved past it. False, pos
// unchanged, when the bytes at pos are no valid sequence.
bool TakeUtf8(std::string_view text, std::size_t& pos, char32_t& cp) {
    constexpr std::string_view kEncodedReplacement = "\xEF\xBF\xBD";
    std::size_t next = pos;
    cp = NextCodePoint(text, next);
    if (cp == kReplacement32 &&
        text.substr(pos, kEncodedReplacement.size()) != kEncodedReplacement) {
        return false;
    }
    pos = next;
    return true;
}

bool IsValidUtf8(std::string_view text) {
    char32_t cp = 0;
    for (std::size_t pos = 0; pos < text.size();) {
        if (!TakeUtf8(text, pos, cp)) return false;
    }
    return true;
}

// Windows-1252 at 0x80..0x9F; the five bytes it leaves undefined keep their own code.
constexpr std::array<char16_t, 32> kWindows1252High = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};
constexpr std::uint8_t kWindows1252HighFirst = 0x80;

char16_t FromWindows1252(std::uint8_t byte) {
    const std::size_t high = static_cast<std::size_t>(byte - kWindows1252HighFirst);
    return high < kWindows1252High.size() ? kWindows1252High[high] : char16_t{byte};
}

constexpr std::array<std::uint8_t, 2> kBomUtf16Le = {0xFF, 0xFE};
constexpr std::array<std::uint8_t, 2> kBomUtf16Be = {0xFE, 0xFF};
constexpr std::array<std::uint8_t, 3> kBomUtf8 = {0xEF, 0xBB, 0xBF};

bool StartsWith(std::span<const std::uint8_t> bytes, std::span<const std::uint8_t> prefix) {
    return bytes.size() >= prefix.size() && std::equal(prefix.begin(), prefix.end(), bytes.begin());
}

// Characters a terminal shows as nothing, or acts on: the C1 controls and the invisible
// format characters (inclusive ranges).
struct CodeRange {
    char32_t first;
    char32_t last;
};
constexpr std::array<CodeRange, 7> kInvisible = {{
    {0x0080, 0x009F},  // C1 controls
    {0x200B, 0x200F},  // zero-width characters, direction marks
    {0x2028, 0x202E},  // line and paragraph separators, embeddings and overrides
    {0x2060, 0x2064},  // word joiner, invisible operators
    {0x2066, 0x2069},  // isolates
    {0xFEFF, 0xFEFF},  // byte-order mark
    {0xFFF9, 0xFFFB},  // interlinear annotation
}};

bool IsInvisible(char32_t cp) {
    return std::any_of(kInvisible.begin(), kInvisible.end(),
                       [cp](const CodeRange& r) { return cp >= r.first && cp <= r.last; });
}

// The short escapes of the controls people know by name.
struct NamedEscape {
    char32_t code;
    std::string_view text;
};
constexpr std::array<NamedEscape, 4> kNamedEscapes = {{
    {0x1B, "\\e"},
    {'\n', "\\n"},
    {'\r', "\\r"},
    {'\t', "\\t"},
}};
constexpr char32_t kFirstPrintable = 0x20;
constexpr char32_t kDelete = 0x7F;

std::string HexEscape(const char* format, unsigned value) {
    char text[12];
    std::snprintf(text, sizeof text, format, value);
    return text;
}

}  // namespace

std::u16string Utf8ToUtf16(std::string_view utf8) {
    std::u16string out;
    out.reserve(utf8.size());
    std::size_t pos = 0;
    while (pos < utf8.size()) AppendUtf16(out, NextCodePoint(utf8, pos));
    return out;
}

std::string Utf16ToUtf8(std::u16string_view utf16) {
    std::string out;
    out.reserve(utf16.size());
    for (std::size_t i = 0; i < utf16.size(); ++i) {
        char32_t unit = utf16[i];
        if (IsHighSurrogate(unit) && i + 1 < utf16.size() && IsLowSurrogate(utf16[i + 1])) {
            const char32_t low = utf16[++i];
            AppendUtf8(out, 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00));
        } else {
            AppendUtf8(out, IsSurrogate(unit) ? kReplacement32 : unit);
        }
    }
    return out;
}

std::size_t CountUtf16Units(std::string_view utf8) {
    return Utf8ToUtf16(utf8).size();
}

std::string TruncateUtf16Units(std::string_view utf8, std::size_t maxUnits) {
    const std::u16string wide = Utf8ToUtf16(utf8);
    if (wide.size() <= maxUnits) return std::string(utf8);
    return Utf16ToUtf8(std::u16string_view(wide).substr(0, WholeUnitsWithin(wide, maxUnits)));
}

std::vector<std::uint8_t> EncodeUtf16Le(std::u16string_view text) {
    std::vector<std::uint8_t> out;
    out.reserve(text.size() * 2);
    for (char16_t unit : text) {
        out.push_back(static_cast<std::uint8_t>(unit & 0xFF));
        out.push_back(static_cast<std::uint8_t>(unit >> 8));
    }
    return out;
}

std::u16string DecodeUtf16Le(std::span<const std::uint8_t> bytes) {
    return DecodeUtf16<true>(bytes);
}

std::u16string DecodeUtf16Be(std::span<const std::uint8_t> bytes) {
    return DecodeUtf16<false>(bytes);
}

std::vector<std::uint8_t> EncodeUtf16LeField(std::string_view utf8, std::size_t fieldBytes) {
    const std::u16string wide = Utf8ToUtf16(utf8);
    const std::size_t units = WholeUnitsWithin(wide, fieldBytes / 2);
    std::vector<std::uint8_t> out = EncodeUtf16Le(std::u16string_view(wide).substr(0, units));
    out.resize(fieldBytes, 0);
    return out;
}

std::string DecodeUtf16LeField(std::span<const std::uint8_t> bytes) {
    std::u16string wide = DecodeUtf16Le(bytes);
    if (const auto nul = wide.find(u'\0'); nul != std::u16string::npos) wide.resize(nul);
    return Utf16ToUtf8(wide);
}

DecodedText DecodeTextFile(std::span<const std::uint8_t> bytes) {
    DecodedText out;
    if (StartsWith(bytes, kBomUtf16Le) || StartsWith(bytes, kBomUtf16Be)) {
        const auto body = bytes.subspan(kBomUtf16Le.size());
        if (body.size() % 2 != 0)
            out.problem = "odd number of bytes in UTF-16 text; last byte ignored";
        out.text = StartsWith(bytes, kBomUtf16Le) ? DecodeUtf16Le(body) : DecodeUtf16Be(body);
        return out;
    }
    const bool marked = StartsWith(bytes, kBomUtf8);
    const auto body = marked ? bytes.subspan(kBomUtf8.size()) : bytes;
    const std::string_view raw(reinterpret_cast<const char*>(body.data()), body.size());
    out.text.reserve(raw.size());
    if (!marked && !IsValidUtf8(raw)) {
        for (std::uint8_t b : body) out.text.push_back(FromWindows1252(b));
        return out;
    }
    bool stray = false;
    char32_t cp = 0;
    for (std::size_t pos = 0; pos < raw.size();) {
        if (TakeUtf8(raw, pos, cp)) {
            AppendUtf16(out.text, cp);
        } else {
            out.text.push_back(FromWindows1252(body[pos++]));
            stray = true;
        }
    }
    if (stray) {
        out.problem =
            "bytes that are not UTF-8 after the UTF-8 byte-order mark read as Windows-1252";
    }
    return out;
}

std::string EscapeForTerminal(std::string_view text, KeepLineBreaks keep) {
    std::string out;
    out.reserve(text.size());
    char32_t cp = 0;
    for (std::size_t pos = 0; pos < text.size();) {
        const std::size_t start = pos;
        if (!TakeUtf8(text, pos, cp)) {
            out += HexEscape("\\x%02x", static_cast<std::uint8_t>(text[pos++]));
            continue;
        }
        if (cp == '\n' && keep == KeepLineBreaks::kYes) {
            out += '\n';
            continue;
        }
        const auto named = std::find_if(kNamedEscapes.begin(), kNamedEscapes.end(),
                                        [cp](const NamedEscape& e) { return e.code == cp; });
        if (named != kNamedEscapes.end()) {
            out += named->text;
        } else if (cp < kFirstPrintable || cp == kDelete) {
            out += HexEscape("\\x%02x", static_cast<unsigned>(cp));
        } else if (IsInvisible(cp)) {
            out += HexEscape("\\u%04x", static_cast<unsigned>(cp));
        } else {
            out += text.substr(start, pos - start);
        }
    }
    return out;
}

}  // namespace qvm
