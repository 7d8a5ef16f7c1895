// One node of the library lists the macro windows show: a folder or macro file of the
// user's macro library, a device macro slot, or an entry of the function library.
#pragma once

#include <cstdint>
#include <string>

namespace qvm {

// The type of a folder entry (and of a function library group).
inline constexpr int32_t kLibraryFolderType = -1;
// The stored size of a macro shown in the lists is its code length plus this: the device
// record (name field and mode marker) without its end byte.
inline constexpr int32_t kMacroListSizeExtra = 33;
// op3 of the device's built-in macros; user macros have op3 0.
inline constexpr int32_t kBuiltInMacroOp3 = 0xFF;

struct MacroLibraryEntry {
    std::string name;        // UTF-8: folder name, macro name from the file, or function name
    std::string path;        // full path of the folder or file; "@_INTERNAL_<group>" for groups
    int32_t size = 0;        // code length + kMacroListSizeExtra for a macro; 0 for a folder
    int32_t type = 0;        // macro mode 8..10, kLibraryFolderType, or a function type
    int32_t parent = 0;      // id of the containing folder entry; 0 for the root
    int64_t time = 0;        // seconds since 1970 from a macro file's header
    int32_t depth = 0;       // 1 directly in the root folder, one more per folder level
    int32_t id = 0;          // unique until the next rescan; counting restarts at 1
    int32_t fromDevice = 0;  // 1 when the entry stands for a device slot
    int32_t slot = 0;        // the device slot index when fromDevice
    int32_t op1 = 0;
    int32_t op2 = 0;
    int32_t op3 = 0;          // 0 for macro files, kBuiltInMacroOp3 for built-in device macros
    std::string description;  // function library entries only

    bool IsFolder() const { return type == kLibraryFolderType; }
    bool operator==(const MacroLibraryEntry&) const = default;
};

}  // namespace qvm
