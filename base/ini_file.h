// IniFile: the sectioned key=value text of set.ini, language.ini and keyboard.ini.
//
// Reading accepts UTF-16LE or UTF-16BE with a byte-order mark, UTF-8 with or without one,
// and legacy 8-bit text (see DecodeTextFile); writing produces UTF-16LE with a byte-order
// mark. Section and key names compare case-insensitively (ASCII letters). Lines are kept
// as they were read, so an update changes only the line it touches and comments, unknown
// keys and order survive; a line holding UTF-16 that has no UTF-8 form (an unpaired
// surrogate) is written back unit for unit until it is changed, so a save never turns
// what a file held into U+FFFD.
//
// Values: the text after the first '=' with surrounding blanks (spaces, tabs) removed.
// When what remains is wrapped in one matching pair of double or single quotes, the
// quotes are removed, so `name = "  My App "` reads as "  My App ". Writing adds double
// quotes exactly when a value would otherwise not read back the same (surrounding blanks,
// or a value that is itself wrapped in quotes), so every value round-trips. Lines that
// start with ';' or '#' are comments.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "base/result.h"

namespace qvm {

// The default that marks a missing key; a read that returns it found nothing.
inline constexpr std::string_view kNoString = "@_NOSTR_";
// Every string read is cut to this many UTF-16 code units.
inline constexpr std::size_t kMaxIniValueUnits = 999;

class IniFile {
  public:
    IniFile() = default;

    // A missing file gives an empty IniFile without a warning. A file that cannot be read,
    // or whose content is partly broken, gives what could be recovered plus Warning().
    static IniFile Load(const std::string& path);
    // Decodes file content the same way Load does (byte-order mark, encodings).
    static IniFile Parse(std::span<const std::uint8_t> bytes);

    // Empty when the file was read cleanly; otherwise text the caller may show.
    const std::string& Warning() const { return warning_; }
    // True when the file exists but could not be read at all; overwriting it would lose
    // whatever it holds.
    bool Unreadable() const { return unreadable_; }

    // The value, or defaultValue when the section or key is absent; either is cut to
    // kMaxIniValueUnits UTF-16 units. Pass kNoString to detect absence.
    std::string GetString(std::string_view section, std::string_view key,
                          std::string_view defaultValue) const;
    // Decimal with optional sign, or hexadecimal after "0x"; reading stops at the first
    // character that does not belong to the number, and a value without digits reads as
    // 0. A missing key or an empty value gives defaultValue. Wraps at 32 bits.
    int GetInt(std::string_view section, std::string_view key, int defaultValue) const;
    // The same number without wrapping, which must lie within [min, max]; otherwise an
    // ErrorKind::BadInput error "[SECTION] KEY VALUE is out of range (MIN to MAX)".
    Result<int> GetIntInRange(std::string_view section, std::string_view key, int defaultValue,
                              int min, int max) const;

    // Updates the first matching key in place, or adds it at the end of its section (the
    // section is appended when missing). Line breaks in the value become blanks and
    // NUL characters are dropped.
    void SetString(std::string_view section, std::string_view key, std::string_view value);
    void SetInt(std::string_view section, std::string_view key, int value);

    // UTF-16LE with a byte-order mark; line endings as in the file read (CR LF for a new one).
    std::vector<std::uint8_t> Serialize() const;
    // Atomic replace: on failure the old file is left intact.
    Status Save(const std::string& path) const;

  private:
    // kOther: blank or comment; kMalformed: text that is neither a header nor key=value.
    enum class LineKind { kOther, kMalformed, kSection, kEntry };
    struct Line {
        std::string text;
        LineKind kind = LineKind::kOther;
        std::string name;   // section name or key, trimmed
        std::string value;  // entries: the value as read
        // The line as read, when its UTF-16 has no UTF-8 form; written back instead of text.
        std::u16string original;
    };

    static Line ParseLine(std::string text);
    void ParseText(std::u16string_view text);
    void AddWarning(std::string message);
    // Index of the section header, or lines_.size().
    std::size_t FindSection(std::string_view section) const;
    // One past the last line of the section whose header is at sectionIndex.
    std::size_t SectionEnd(std::size_t sectionIndex) const;
    const Line* FindEntry(std::string_view section, std::string_view key) const;

    std::vector<Line> lines_;
    std::string lineEnding_ = "\r\n";
    std::string warning_;
    std::size_t warningCount_ = 0;
    bool unreadable_ = false;
};

}  // namespace qvm
