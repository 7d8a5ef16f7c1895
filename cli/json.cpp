#include "cli/json.h"

#include <cstdio>

#include "base/text.h"

namespace qvm::cli {

namespace {

constexpr char16_t kFirstHighSurrogate = 0xD800;
constexpr char16_t kLastHighSurrogate = 0xDBFF;

// JSON may well be printed on a terminal: every control character (C0, DEL, C1) and the
// line and paragraph separators are written as \uXXXX.
bool NeedsUnicodeEscape(char16_t unit) {
    return unit < 0x20 || (unit >= 0x7F && unit <= 0x9F) || unit == 0x2028 || unit == 0x2029;
}

}  // namespace

std::string JsonQuote(std::string_view text) {
    // JSON is UTF-8: bytes that are not (a file name may hold any) become U+FFFD. What
    // the conversion gives holds surrogates only in pairs.
    const std::u16string units = Utf8ToUtf16(text);
    std::string out = "\"";
    for (std::size_t i = 0; i < units.size(); ++i) {
        const char16_t unit = units[i];
        switch (unit) {
            case u'"':
                out += "\\\"";
                break;
            case u'\\':
                out += "\\\\";
                break;
            case u'\n':
                out += "\\n";
                break;
            case u'\r':
                out += "\\r";
                break;
            case u'\t':
                out += "\\t";
                break;
            default:
                if (NeedsUnicodeEscape(unit)) {
                    char esc[8];
                    std::snprintf(esc, sizeof esc, "\\u%04x", static_cast<unsigned>(unit));
                    out += esc;
                } else {
                    const bool pair = unit >= kFirstHighSurrogate && unit <= kLastHighSurrogate;
                    out += Utf16ToUtf8(std::u16string_view(units).substr(i, pair ? 2 : 1));
                    if (pair) ++i;
                }
        }
    }
    return out + "\"";
}

JsonWriter::~JsonWriter() {
    if (wroteSomething_) out_ << '\n';
}

void JsonWriter::NewLine() {
    out_ << '\n' << std::string(2 * isObject_.size(), ' ');
}

void JsonWriter::BeforeValue() {
    wroteSomething_ = true;
    if (afterKey_) {
        afterKey_ = false;
        return;
    }
    if (!first_.empty()) {
        if (!first_.back()) out_ << ',';
        first_.back() = false;
        NewLine();
    }
}

JsonWriter& JsonWriter::BeginObject() {
    BeforeValue();
    out_ << '{';
    isObject_.push_back(true);
    first_.push_back(true);
    return *this;
}

JsonWriter& JsonWriter::BeginArray() {
    BeforeValue();
    out_ << '[';
    isObject_.push_back(false);
    first_.push_back(true);
    return *this;
}

JsonWriter& JsonWriter::EndObject() {
    return EndArray();
}

JsonWriter& JsonWriter::EndArray() {
    const bool object = isObject_.back();
    const bool empty = first_.back();
    isObject_.pop_back();
    first_.pop_back();
    if (!empty) NewLine();
    out_ << (object ? '}' : ']');
    return *this;
}

JsonWriter& JsonWriter::Key(std::string_view key) {
    BeforeValue();
    out_ << JsonQuote(key) << ": ";
    afterKey_ = true;
    return *this;
}

JsonWriter& JsonWriter::String(std::string_view value) {
    BeforeValue();
    out_ << JsonQuote(value);
    return *this;
}

JsonWriter& JsonWriter::Int(long long value) {
    BeforeValue();
    out_ << value;
    return *this;
}

JsonWriter& JsonWriter::Bool(bool value) {
    BeforeValue();
    out_ << (value ? "true" : "false");
    return *this;
}

JsonWriter& JsonWriter::Null() {
    BeforeValue();
    out_ << "null";
    return *this;
}

}  // namespace qvm::cli
