// The user's macro library: a folder tree (by default "Favorite" in the user data folder)
// whose subfolders at any depth are library folders and whose ".mf" files are macros.
// The list is rebuilt from disk by Rescan and after every change to folders; it lives in
// memory only and its ids are valid until the next rescan.
//
// A MacroLibrary has one owner (the UI thread, or the command line); it is not locked.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "base/result.h"
#include "macro/library_entry.h"
#include "macro/macro_file.h"
#include "macro/macro_item.h"

namespace qvm {

inline constexpr std::string_view kMacroLibraryFolderName = "Favorite";
inline constexpr std::string_view kDefaultExportName = "macro";

// A file or folder the last rescan passed over, and why.
struct SkippedLibraryFile {
    std::string path;
    std::string reason;
    bool invalid = false;  // false: too short to be a macro file, passed over silently
};

// The library's ordering: names by UTF-16 code unit, case-sensitive; equal names newest
// first; folders and macros together. Sorts by exchanging entries pairwise, so entries
// equal in name and time keep the order the exchanges give them.
void SortLibraryEntries(std::vector<MacroLibraryEntry>& entries);

// Replaces each of \ / " : < > | ? * by "_".
std::string ReplaceIllegalNameCharacters(std::string_view name);

// "<name>_<date>" with illegal characters replaced; "macro" stands for an empty name.
// The caller adds the ".mf" extension.
std::string SuggestExportName(std::string_view name, std::string_view date);

// The local date of a time as yyyy-MM-dd.
std::string FormatLocalDate(int64_t unixSeconds);

class MacroLibrary {
  public:
    // root: the library's folder, created by Rescan when missing.
    explicit MacroLibrary(std::string root = DefaultRoot(), UnixSecondsSource now = UnixSecondsNow);

    static std::string DefaultRoot();

    // Empties the list, restarts ids at 1 and scans the tree depth first: each folder's
    // subfolders (each followed at once by its own contents), then its ".mf" files; then
    // sorts. Fails only when the root folder cannot be created or read.
    Status Rescan();

    const std::string& Root() const { return root_; }
    const std::vector<MacroLibraryEntry>& Entries() const { return entries_; }
    const std::vector<SkippedLibraryFile>& Skipped() const { return skipped_; }
    const MacroLibraryEntry* Find(int32_t id) const;
    const MacroLibraryEntry* FindPath(std::string_view path) const;

    // The root for id 0, else the path of the folder entry with that id.
    Result<std::string> LibraryFolderPath(int32_t folderId) const;

    // A folder is renamed on disk (illegal characters replaced, never over an existing
    // name) and the library rescanned. A macro file is rewritten as version 6.2 with the
    // new name and the current time; its entry takes the new name without a rescan.
    Status RenameLibraryEntry(int32_t id, std::string_view newName);

    // Moves a macro file into a folder as "<low 32 bits of now>.mf", counting up past
    // names already taken, then rescans. Returns the new path.
    Result<std::string> MoveMacroFile(int32_t id, int32_t folderId);

    // Creates a subfolder (illegal characters replaced) and rescans. Returns its path.
    Result<std::string> CreateLibraryFolder(int32_t parentId, std::string_view name);

    // A folder is removed only when empty, then the library rescanned; a macro file is
    // removed and its entry dropped from the list.
    Status DeleteLibraryEntry(int32_t id);

    // Copies a valid macro file into a folder under a fresh time-based name and rescans.
    // Returns the new path.
    Result<std::string> ImportMacroFile(const std::string& source, int32_t folderId);

    // Writes a new macro file into a folder under a fresh time-based name and rescans.
    // Returns the new path.
    Result<std::string> AddMacroFile(int32_t folderId, std::string_view name, int32_t mode,
                                     std::span<const MacroItem> items);

    // Writes a version 6.2 copy of a library macro, or of the given macro, to dest
    // (".mf" added when missing). An existing file is replaced only when asked.
    Status ExportMacroFile(int32_t id, const std::string& dest, bool replaceExisting) const;
    Status ExportMacroFile(std::string_view name, int32_t mode, std::span<const MacroItem> items,
                           const std::string& dest, bool replaceExisting) const;

  private:
    void ScanFolder(const std::string& folder, int32_t parentId, int32_t depth);
    Result<const MacroLibraryEntry*> FindKind(int32_t id, bool folder) const;
    // Places bytes in folder under the first free "<n>.mf" from the time on.
    Result<std::string> PlaceUnderFreshName(const std::string& folder,
                                            std::span<const uint8_t> bytes) const;
    Result<std::string> MovePathUnderFreshName(const std::string& folder,
                                               const std::string& source) const;

    std::string root_;
    UnixSecondsSource now_;
    std::vector<MacroLibraryEntry> entries_;
    std::vector<SkippedLibraryFile> skipped_;
    int32_t nextId_ = 1;
};

}  // namespace qvm
