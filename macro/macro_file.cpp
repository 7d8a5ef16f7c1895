// Encoding, decoding, reading and writing of macro files.
#include "macro/macro_file.h"

#include <algorithm>
#include <cctype>
#include <chrono>
#include <optional>

#include "base/atomic_file.h"
#include "base/text.h"
#include "config/prefixed_string.h"
#include "lang/ui_strings.h"

namespace qvm {
namespace {

constexpr int kMsgInvalidFormat = 20;
constexpr std::size_t kShownMagicUnits = 24;

Error Invalid(const std::string& what) {
    return MakeError(ErrorKind::BadInput, Ui().msg_str[kMsgInvalidFormat] + " (" + what + ")");
}

// The error, its kind kept, with the path in front of its message.
Error AtPath(const std::string& path, const Error& error) {
    return MakeError(error.kind, path + ": " + error.message);
}

// Fixed-size little-endian values at a moving offset, never past the end.
class FieldReader {
  public:
    explicit FieldReader(std::span<const uint8_t> bytes) : bytes_(bytes) {}

    std::optional<uint64_t> Unsigned(std::size_t size) {
        if (bytes_.size() - offset_ < size) return std::nullopt;
        uint64_t value = 0;
        for (std::size_t i = 0; i < size; ++i) {
            value |= uint64_t{bytes_[offset_ + i]} << (8 * i);
        }
        offset_ += size;
        return value;
    }

    Result<std::u16string> String(const char* field) {
        auto s = ReadPrefixedString(bytes_, offset_);
        if (!s) return Invalid(std::string(field) + ": " + s.message());
        return std::move(s->text);
    }

    std::size_t Offset() const { return offset_; }
    std::size_t Left() const { return bytes_.size() - offset_; }

  private:
    std::span<const uint8_t> bytes_;
    std::size_t offset_ = 0;
};

void PutUnsigned(std::vector<uint8_t>& out, uint64_t value, std::size_t size) {
    for (std::size_t i = 0; i < size; ++i) out.push_back(static_cast<uint8_t>(value >> (8 * i)));
}

Status PutString(std::vector<uint8_t>& out, std::u16string_view text) {
    auto bytes = EncodePrefixedString(text);
    if (!bytes) return bytes.error();
    out.insert(out.end(), bytes->begin(), bytes->end());
    return {};
}

// The file's bytes, refusing missing and oversized files with a message naming the path.
Result<std::vector<uint8_t>> LoadFile(const std::string& path) {
    auto bytes = ReadFileIfExists(path, kMacroFileMaxBytes);
    if (!bytes) return bytes.error();
    if (!*bytes) return MakeError(ErrorKind::BadInput, path + ": no such file");
    return std::move(**bytes);
}

constexpr std::size_t kTimeBytes = 8;
constexpr std::size_t kModeBytes = 4;
constexpr std::size_t kCodeLengthBytes = 4;

}  // namespace

int64_t UnixSecondsNow() {
    return std::chrono::duration_cast<std::chrono::seconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

bool HasMacroFileExtension(std::string_view path) {
    if (path.size() < kMacroFileExtension.size()) return false;
    const std::string_view tail = path.substr(path.size() - kMacroFileExtension.size());
    return std::equal(tail.begin(), tail.end(), kMacroFileExtension.begin(), [](char a, char b) {
        return std::tolower(static_cast<unsigned char>(a)) == b;
    });
}

Result<std::vector<uint8_t>> EncodeMacroFile(std::string_view name, int32_t mode,
                                             std::span<const MacroItem> items, int64_t time) {
    std::vector<uint8_t> out;
    if (Status s = PutString(out, kMacroFileMagic62); !s) return s.error();
    if (Status s = PutString(out, u""); !s) return s.error();
    PutUnsigned(out, static_cast<uint64_t>(time), kTimeBytes);
    if (Status s = PutString(out, Utf8ToUtf16(name)); !s) {
        return MakeError(ErrorKind::BadInput, "macro name: " + s.message());
    }
    const std::vector<uint8_t> code = EncodeMacroCode(items);
    PutUnsigned(out, static_cast<uint32_t>(mode), kModeBytes);
    PutUnsigned(out, code.size(), kCodeLengthBytes);
    out.insert(out.end(), code.begin(), code.end());
    return out;
}

Result<MacroFileHeader> DecodeMacroFileHeader(std::span<const uint8_t> file) {
    FieldReader in(file);
    MacroFileHeader header;
    auto magic = in.String("magic");
    if (!magic) return magic.error();
    if (*magic == kMacroFileMagic61) {
        header.version61 = true;
    } else if (*magic != kMacroFileMagic62) {
        const std::u16string shown = magic->substr(0, kShownMagicUnits);
        return Invalid("unknown magic \"" + Utf16ToUtf8(shown) + "\"");
    }
    if (!header.version61) {
        if (auto reserved = in.String("reserved string"); !reserved) return reserved.error();
    }
    const auto time = in.Unsigned(kTimeBytes);
    if (!time) return Invalid("the file ends inside the time");
    header.time = static_cast<int64_t>(*time);
    auto name = in.String("name");
    if (!name) return name.error();
    header.name = Utf16ToUtf8(*name);
    const auto mode = in.Unsigned(kModeBytes);
    if (!mode) return Invalid("the file ends inside the mode");
    header.mode = static_cast<int32_t>(static_cast<uint32_t>(*mode));
    const auto codeLength = in.Unsigned(kCodeLengthBytes);
    if (!codeLength) return Invalid("the file ends inside the code length");
    header.codeLength = static_cast<uint32_t>(*codeLength);
    header.codeOffset = in.Offset();
    if (in.Left() < header.codeLength) {
        return Invalid("the code is cut short: " + std::to_string(header.codeLength) +
                       " bytes announced, " + std::to_string(in.Left()) + " present");
    }
    return header;
}

Result<MacroFile> DecodeMacroFile(std::span<const uint8_t> file) {
    auto header = DecodeMacroFileHeader(file);
    if (!header) return header.error();
    MacroFile out;
    out.name = std::move(header->name);
    out.mode = header->mode;
    out.time = header->time;
    out.items = DecodeMacroCode(file.subspan(header->codeOffset, header->codeLength));
    return out;
}

MacroFileCheck CheckMacroFile(const std::string& path) {
    MacroFileCheck check;
    auto bytes = LoadFile(path);
    if (!bytes) {
        check.reason = bytes.message();
        check.kind = bytes.kind();
        return check;
    }
    if (bytes->size() < kMacroFileMinBytes) {
        check.verdict = MacroFileVerdict::kSkipped;
        check.reason = path + ": only " + std::to_string(bytes->size()) + " bytes long";
        return check;
    }
    auto header = DecodeMacroFileHeader(*bytes);
    if (!header) {
        check.reason = path + ": " + header.message();
        return check;
    }
    check.verdict = MacroFileVerdict::kRead;
    check.entry.name = std::move(header->name);
    check.entry.path = path;
    check.entry.size = static_cast<int32_t>(header->codeLength) + kMacroListSizeExtra;
    check.entry.type = header->mode;
    check.entry.time = header->time;
    return check;
}

Result<MacroLibraryEntry> ReadMacroFileHeader(const std::string& path) {
    MacroFileCheck check = CheckMacroFile(path);
    if (check.verdict == MacroFileVerdict::kRead) return std::move(check.entry);
    if (check.verdict == MacroFileVerdict::kSkipped) {
        return MakeError(ErrorKind::BadInput, check.reason + ", too short for a macro file");
    }
    return MakeError(check.kind, check.reason);
}

Result<MacroFile> ReadMacroFile(const std::string& path) {
    if (!HasMacroFileExtension(path)) {
        return MakeError(ErrorKind::BadInput,
                         path + ": not a macro file (the name does not end in .mf)");
    }
    auto bytes = LoadFile(path);
    if (!bytes) return bytes.error();
    auto file = DecodeMacroFile(*bytes);
    if (!file) return AtPath(path, file.error());
    return file;
}

Status WriteMacroFile(const std::string& path, std::string_view name, int32_t mode,
                      std::span<const MacroItem> items, const UnixSecondsSource& now) {
    auto bytes = EncodeMacroFile(name, mode, items, now());
    if (!bytes) return AtPath(path, bytes.error());
    return WriteFileAtomically(path, *bytes);
}

}  // namespace qvm
