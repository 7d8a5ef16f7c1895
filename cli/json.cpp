#include "cli/json.h"

#include <cstdio>

namespace qvm::cli {

std::string JsonQuote(std::string_view text) {
    std::string out = "\"";
    for (unsigned char c : text) {
        switch (c) {
            case '"':
                out += "\\\"";
                break;
            case '\\':
                out += "\\\\";
                break;
            case '\n':
                out += "\\n";
                break;
            case '\r':
                out += "\\r";
                break;
            case '\t':
                out += "\\t";
                break;
            default:
                if (c < 0x20) {
                    char esc[8];
                    std::snprintf(esc, sizeof esc, "\\u%04x", c);
                    out += esc;
                } else {
                    out += static_cast<char>(c);  // UTF-8 passes through unchanged
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
