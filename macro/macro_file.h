// Macro files (".mf"): one macro kept on the computer, in the user's macro library or
// wherever the user exports it.
//
// Layout, all integers little-endian, strings in the length-prefixed scheme of
// config/prefixed_string.h:
//   magic           string   "_@_MF6.2_" (written) or "_@_MF6.1_" (read as well)
//   reserved        string   only after "_@_MF6.2_"; written empty, ignored when read
//   time            int64    seconds since 1970-01-01 UTC when the file was written
//   name            string   the macro name shown in the lists
//   mode            uint32   8 execute once, 9 loop, 10 fire key
//   code length n   uint32
//   code            n bytes  macro instructions back to back, without the end byte
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "base/result.h"
#include "macro/library_entry.h"
#include "macro/macro_item.h"

namespace qvm {

inline constexpr std::u16string_view kMacroFileMagic61 = u"_@_MF6.1_";
inline constexpr std::u16string_view kMacroFileMagic62 = u"_@_MF6.2_";
inline constexpr std::string_view kMacroFileExtension = ".mf";
// Files shorter than this are not macro files at all and are passed over without a word.
inline constexpr std::size_t kMacroFileMinBytes = 10;
// No macro fits a device in more than this; a bigger file is not read into memory.
inline constexpr std::size_t kMacroFileMaxBytes = 1u << 20;

// Seconds since 1970; injected wherever a file gets a time stamp or a time-based name.
using UnixSecondsSource = std::function<int64_t()>;
int64_t UnixSecondsNow();

// Everything before the code.
struct MacroFileHeader {
    bool version61 = false;  // no reserved string
    int64_t time = 0;
    std::string name;  // UTF-8
    int32_t mode = 0;  // as stored; 8..10 in files the program writes
    uint32_t codeLength = 0;
    std::size_t codeOffset = 0;  // where the code starts in the file
};

struct MacroFile {
    std::string name;
    int32_t mode = 0;
    std::vector<MacroItem> items;
    int64_t time = 0;
};

// The bytes of a version 6.2 file. Fails only for a name too long for the string scheme.
Result<std::vector<uint8_t>> EncodeMacroFile(std::string_view name, int32_t mode,
                                             std::span<const MacroItem> items, int64_t time);

// Reads the header of a whole file's bytes and checks that the code the header announces
// is all there. A wrong magic, a cut or corrupt header or missing code bytes give an error
// starting with "invalid format !!" (the UI's message) followed by what was wrong.
Result<MacroFileHeader> DecodeMacroFileHeader(std::span<const uint8_t> file);

// The header, then the code decoded until an end byte or the end of the code.
Result<MacroFile> DecodeMacroFile(std::span<const uint8_t> file);

// What a look at a file on disk found.
enum class MacroFileVerdict {
    kRead,     // a macro file; entry is filled
    kSkipped,  // shorter than kMacroFileMinBytes: passed over silently
    kInvalid,  // not readable as a macro file; reason says why
};

struct MacroFileCheck {
    MacroFileVerdict verdict = MacroFileVerdict::kInvalid;
    MacroLibraryEntry entry;  // name, path, size, type (the mode), time when read
    std::string reason;       // for kSkipped and kInvalid
    // For kInvalid: BadInput for a file that is no macro file, Io when it could not be read.
    ErrorKind kind = ErrorKind::BadInput;
};

MacroFileCheck CheckMacroFile(const std::string& path);

// The header of the file at path as a library entry (no id, parent or depth yet). A file
// too short to be a macro file is an error too; use CheckMacroFile to tell it apart.
Result<MacroLibraryEntry> ReadMacroFileHeader(const std::string& path);

// The whole file. The name must end in ".mf" (any case).
Result<MacroFile> ReadMacroFile(const std::string& path);

// Writes a version 6.2 file stamped with now(); atomically, so a failure (a full disk,
// say) leaves whatever was at path before.
Status WriteMacroFile(const std::string& path, std::string_view name, int32_t mode,
                      std::span<const MacroItem> items,
                      const UnixSecondsSource& now = UnixSecondsNow);

// True when the file name ends in ".mf", compared without regard to case.
bool HasMacroFileExtension(std::string_view path);

}  // namespace qvm
