// Reader and writer of the length-prefixed string scheme.
#include "config/prefixed_string.h"

#include <optional>

namespace qvm {
namespace {

class Cursor {
  public:
    Cursor(std::span<const uint8_t> bytes, std::size_t offset) : bytes_(bytes), at_(offset) {}

    std::optional<uint8_t> Byte() {
        if (at_ >= bytes_.size()) return std::nullopt;
        return bytes_[at_++];
    }
    std::optional<uint16_t> Word() {
        if (bytes_.size() < 2 || at_ > bytes_.size() - 2) return std::nullopt;
        const uint16_t v = static_cast<uint16_t>(bytes_[at_] | (bytes_[at_ + 1] << 8));
        at_ += 2;
        return v;
    }
    std::size_t Left() const { return bytes_.size() - at_; }
    std::size_t At() const { return at_; }

  private:
    std::span<const uint8_t> bytes_;
    std::size_t at_;
};

Error CutShort(const char* what) {
    return MakeError(std::string("the file ends inside a string's ") + what);
}

void PutLength(std::vector<uint8_t>& out, std::size_t length) {
    if (length < kLongLengthByte) {
        out.push_back(static_cast<uint8_t>(length));
        return;
    }
    out.push_back(kLongLengthByte);
    out.push_back(static_cast<uint8_t>(length & 0xFF));
    out.push_back(static_cast<uint8_t>(length >> 8));
}

}  // namespace

Result<PrefixedString> ReadPrefixedString(std::span<const uint8_t> bytes, std::size_t& offset) {
    Cursor in(bytes, offset);
    PrefixedString out;
    auto first = in.Byte();
    if (!first) return CutShort("length");
    std::size_t length = *first;
    if (*first == kLongLengthByte) {
        auto word = in.Word();
        if (!word) return CutShort("length");
        length = *word;
        if (*word == kWideCharMarker) {
            out.wide = true;
            auto inner = in.Byte();
            if (!inner) return CutShort("length");
            length = *inner;
            if (*inner == kLongLengthByte) {
                auto longLength = in.Word();
                if (!longLength) return CutShort("length");
                length = *longLength;
            }
        }
    }
    const std::size_t unit = out.wide ? 2 : 1;
    if (in.Left() / unit < length) return CutShort("text");
    out.text.reserve(length);
    for (std::size_t i = 0; i < length; ++i) {
        out.text.push_back(out.wide ? static_cast<char16_t>(*in.Word())
                                    : static_cast<char16_t>(*in.Byte()));
    }
    offset = in.At();
    return out;
}

Result<std::vector<uint8_t>> EncodePrefixedString(std::u16string_view text) {
    if (text.size() > kMaxPrefixedLength) {
        return MakeError("a string of " + std::to_string(text.size()) +
                         " characters is too long for the file");
    }
    std::vector<uint8_t> out = {kLongLengthByte, kWideCharMarker & 0xFF, kWideCharMarker >> 8};
    PutLength(out, text.size());
    for (char16_t c : text) {
        out.push_back(static_cast<uint8_t>(c & 0xFF));
        out.push_back(static_cast<uint8_t>(c >> 8));
    }
    return out;
}

}  // namespace qvm
