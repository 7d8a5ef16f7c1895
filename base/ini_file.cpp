#include "base/ini_file.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <optional>

#include "base/atomic_file.h"
#include "base/text.h"

namespace qvm {
namespace {

constexpr std::array<std::uint8_t, 2> kBomUtf16Le = {0xFF, 0xFE};
constexpr std::size_t kMaxWarnings = 5;
// No settings or language file comes near this; a bigger one is not read into memory.
constexpr std::size_t kMaxIniFileBytes = 16u << 20;
// Numbers grow no further than this while read without wrapping: far beyond any range
// asked for, far below overflow.
constexpr long long kSaturatedMagnitude = 1LL << 40;

bool IsBlank(char c) {
    return c == ' ' || c == '\t';
}

std::string_view Trim(std::string_view s) {
    while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
    while (!s.empty() && IsBlank(s.back())) s.remove_suffix(1);
    return s;
}

bool IsQuote(char c) {
    return c == '"' || c == '\'';
}

bool IsQuoted(std::string_view s) {
    return s.size() >= 2 && IsQuote(s.front()) && s.back() == s.front();
}

char LowerAscii(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

bool SameName(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (LowerAscii(a[i]) != LowerAscii(b[i])) return false;
    }
    return true;
}

std::string DecodeValue(std::string_view raw) {
    std::string_view v = Trim(raw);
    if (IsQuoted(v)) v = v.substr(1, v.size() - 2);
    return std::string(v);
}

// A value must stay on its line and must not hold NUL, which ends a line's text for
// readers of these files: line breaks become blanks, NULs are dropped.
std::string OneLine(std::string_view value) {
    std::string out;
    out.reserve(value.size());
    for (char c : value) {
        if (c == '\0') continue;
        out += (c == '\r' || c == '\n') ? ' ' : c;
    }
    return out;
}

// value is one line (see OneLine).
std::string EncodeValue(const std::string& v) {
    const bool needsQuotes = !v.empty() && (IsBlank(v.front()) || IsBlank(v.back()) || IsQuoted(v));
    return needsQuotes ? '"' + v + '"' : v;
}

// A number as the profile operations read it: as they give it (wrapped at 32 bits) and
// as written (saturated far beyond 32 bits, so it can be range-checked).
struct ProfileNumber {
    int wrapped;
    long long written;
};

// std::nullopt for an empty value.
std::optional<ProfileNumber> ParseProfileNumber(std::string_view text) {
    std::string_view s = Trim(text);
    if (s.empty()) return std::nullopt;
    bool negative = false;
    if (s.front() == '+' || s.front() == '-') {
        negative = s.front() == '-';
        s.remove_prefix(1);
    }
    std::uint32_t base = 10;
    if (s.size() >= 2 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X')) {
        base = 16;
        s.remove_prefix(2);
    }
    std::uint32_t value = 0;
    long long written = 0;
    for (char c : s) {
        std::uint32_t digit;
        if (c >= '0' && c <= '9') {
            digit = static_cast<std::uint32_t>(c - '0');
        } else if (base == 16 && LowerAscii(c) >= 'a' && LowerAscii(c) <= 'f') {
            digit = static_cast<std::uint32_t>(LowerAscii(c) - 'a' + 10);
        } else {
            break;
        }
        value = value * base + digit;  // unsigned: wraps at 32 bits on purpose
        written = std::min(written * base + digit, kSaturatedMagnitude);
    }
    if (negative) value = 0u - value;
    return ProfileNumber{static_cast<int>(value), negative ? -written : written};
}

}  // namespace

IniFile IniFile::Load(const std::string& path) {
    auto read = ReadFileIfExists(path, kMaxIniFileBytes);
    if (!read) {
        IniFile empty;
        empty.unreadable_ = true;
        empty.AddWarning(read.message());
        return empty;
    }
    if (!read->has_value()) return IniFile();
    IniFile file = Parse(**read);
    if (!file.warning_.empty()) file.warning_ = path + ": " + file.warning_;
    return file;
}

IniFile IniFile::Parse(std::span<const std::uint8_t> bytes) {
    IniFile file;
    const DecodedText decoded = DecodeTextFile(bytes);
    if (!decoded.problem.empty()) file.AddWarning(decoded.problem);
    file.ParseText(decoded.text);
    return file;
}

void IniFile::ParseText(std::u16string_view text) {
    bool endingChosen = false;
    bool inSection = false;
    std::size_t lineNumber = 0;
    std::size_t pos = 0;
    while (pos < text.size()) {
        std::size_t end = text.find_first_of(u"\r\n", pos);
        std::size_t next = end;
        if (end == std::u16string_view::npos) {
            end = next = text.size();
        } else {
            const bool crlf = text[end] == u'\r' && end + 1 < text.size() && text[end + 1] == u'\n';
            next = end + (crlf ? 2 : 1);
            if (!endingChosen) lineEnding_ = text[end] == u'\n' ? "\n" : "\r\n";
            endingChosen = true;
        }
        ++lineNumber;
        const std::u16string_view wide = text.substr(pos, end - pos);
        Line line = ParseLine(Utf16ToUtf8(wide));
        if (Utf8ToUtf16(line.text) != wide) {
            line.original = std::u16string(wide);
            AddWarning("line " + std::to_string(lineNumber) +
                       " holds unpaired UTF-16 surrogates; read as U+FFFD");
        }
        if (line.text.find('\0') != std::string::npos) {
            line.kind = LineKind::kOther;
            AddWarning("line " + std::to_string(lineNumber) + " holds binary data; ignored");
        } else if (line.kind == LineKind::kSection) {
            inSection = true;
        } else if (line.kind == LineKind::kEntry && !inSection) {
            AddWarning("line " + std::to_string(lineNumber) + " is outside any section; ignored");
        } else if (line.kind == LineKind::kMalformed) {
            AddWarning("line " + std::to_string(lineNumber) + " is not key=value; ignored");
        }
        lines_.push_back(std::move(line));
        pos = next;
    }
}

IniFile::Line IniFile::ParseLine(std::string text) {
    Line line;
    line.text = std::move(text);
    const std::string_view t = Trim(line.text);
    if (t.empty() || t.front() == ';' || t.front() == '#') return line;
    if (t.front() == '[') {
        const auto close = t.find(']');
        if (close != std::string_view::npos) {
            line.kind = LineKind::kSection;
            line.name = std::string(Trim(t.substr(1, close - 1)));
            return line;
        }
    }
    const auto eq = t.find('=');
    if (eq == std::string_view::npos || Trim(t.substr(0, eq)).empty()) {
        line.kind = LineKind::kMalformed;
        return line;
    }
    line.kind = LineKind::kEntry;
    line.name = std::string(Trim(t.substr(0, eq)));
    line.value = DecodeValue(t.substr(eq + 1));
    return line;
}

void IniFile::AddWarning(std::string message) {
    ++warningCount_;
    if (warningCount_ <= kMaxWarnings) {
        if (!warning_.empty()) warning_ += "; ";
        warning_ += message;
    } else if (warningCount_ == kMaxWarnings + 1) {
        warning_ += "; further problems not listed";
    }
}

std::size_t IniFile::FindSection(std::string_view section) const {
    for (std::size_t i = 0; i < lines_.size(); ++i) {
        if (lines_[i].kind == LineKind::kSection && SameName(lines_[i].name, section)) return i;
    }
    return lines_.size();
}

std::size_t IniFile::SectionEnd(std::size_t sectionIndex) const {
    std::size_t i = sectionIndex + 1;
    while (i < lines_.size() && lines_[i].kind != LineKind::kSection) ++i;
    return i;
}

const IniFile::Line* IniFile::FindEntry(std::string_view section, std::string_view key) const {
    const std::size_t header = FindSection(section);
    if (header == lines_.size()) return nullptr;
    const std::size_t end = SectionEnd(header);
    for (std::size_t i = header + 1; i < end; ++i) {
        if (lines_[i].kind == LineKind::kEntry && SameName(lines_[i].name, key)) return &lines_[i];
    }
    return nullptr;
}

std::string IniFile::GetString(std::string_view section, std::string_view key,
                               std::string_view defaultValue) const {
    const Line* entry = FindEntry(section, key);
    return TruncateUtf16Units(entry ? std::string_view(entry->value) : defaultValue,
                              kMaxIniValueUnits);
}

int IniFile::GetInt(std::string_view section, std::string_view key, int defaultValue) const {
    const Line* entry = FindEntry(section, key);
    const auto number = entry ? ParseProfileNumber(entry->value) : std::nullopt;
    return number ? number->wrapped : defaultValue;
}

Result<int> IniFile::GetIntInRange(std::string_view section, std::string_view key, int defaultValue,
                                   int min, int max) const {
    const Line* entry = FindEntry(section, key);
    const auto number = entry ? ParseProfileNumber(entry->value) : std::nullopt;
    if (!number) return defaultValue;
    if (number->written < min || number->written > max) {
        return MakeError(ErrorKind::BadInput, "[" + std::string(section) + "] " + std::string(key) +
                                                  " " + std::string(Trim(entry->value)) +
                                                  " is out of range (" + std::to_string(min) +
                                                  " to " + std::to_string(max) + ")");
    }
    return static_cast<int>(number->written);
}

void IniFile::SetString(std::string_view section, std::string_view key, std::string_view value) {
    Line entry;
    entry.kind = LineKind::kEntry;
    entry.name = std::string(key);
    entry.value = OneLine(value);
    const std::string encoded = EncodeValue(entry.value);

    std::size_t header = FindSection(section);
    if (header == lines_.size()) {
        if (!lines_.empty() && !Trim(lines_.back().text).empty()) lines_.push_back(Line{});
        lines_.push_back(ParseLine("[" + std::string(section) + "]"));
        entry.text = entry.name + "=" + encoded;
        lines_.push_back(std::move(entry));
        return;
    }
    const std::size_t end = SectionEnd(header);
    std::size_t insertAt = header + 1;
    for (std::size_t i = header + 1; i < end; ++i) {
        Line& line = lines_[i];
        if (line.kind != LineKind::kEntry) continue;
        if (SameName(line.name, key)) {
            line.value = entry.value;
            line.text = line.name + "=" + encoded;  // keeps the key's spelling in the file
            line.original.clear();
            return;
        }
        insertAt = i + 1;
    }
    entry.text = entry.name + "=" + encoded;
    lines_.insert(lines_.begin() + static_cast<std::ptrdiff_t>(insertAt), std::move(entry));
}

void IniFile::SetInt(std::string_view section, std::string_view key, int value) {
    SetString(section, key, std::to_string(value));
}

std::vector<std::uint8_t> IniFile::Serialize() const {
    const std::u16string ending = Utf8ToUtf16(lineEnding_);
    std::u16string text;
    for (const Line& line : lines_) {
        text += line.original.empty() ? Utf8ToUtf16(line.text) : line.original;
        text += ending;
    }
    std::vector<std::uint8_t> bytes(kBomUtf16Le.begin(), kBomUtf16Le.end());
    const std::vector<std::uint8_t> body = EncodeUtf16Le(text);
    bytes.insert(bytes.end(), body.begin(), body.end());
    return bytes;
}

Status IniFile::Save(const std::string& path) const {
    return WriteFileAtomically(path, Serialize());
}

}  // namespace qvm
