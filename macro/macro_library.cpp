// The macro library folder tree: scan, ordering and changes on disk.
#include "macro/macro_library.h"

#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <utility>

#include "base/atomic_file.h"
#include "base/text.h"
#include "platform/folders.h"

namespace fs = std::filesystem;

namespace qvm {
namespace {

constexpr std::string_view kIllegalNameCharacters = "\\/\":<>|?*";
constexpr char kReplacementCharacter = '_';
// How many numbers past the time a fresh file name may take before giving up.
constexpr int kFreshNameAttempts = 1000;
// Imports are written complete under a name of this form (mkstemp makes it unique, so
// programs importing at the same moment never share one), which the scan ignores, and
// then renamed into place.
constexpr std::string_view kStagingPattern = ".import-XXXXXX";

Error ErrnoError(const std::string& what, int err) {
    return MakeError(ErrorKind::Io, what + ": " + std::strerror(err));
}

// Renames without ever replacing an existing target: 0, or the errno (EEXIST when the
// target is taken).
int RenameNoReplace(const std::string& from, const std::string& to) {
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return 0;
    if (errno != EINVAL && errno != ENOSYS) return errno;
    // The file system cannot refuse a replacement itself. A hard link can, for a file.
    if (::link(from.c_str(), to.c_str()) == 0) {
        ::unlink(from.c_str());
        return 0;
    }
    if (errno == EEXIST) return EEXIST;
    // A folder, or no hard links: check first instead.
    std::error_code ec;
    if (fs::exists(fs::symlink_status(to, ec))) return EEXIST;
    return ::rename(from.c_str(), to.c_str()) == 0 ? 0 : errno;
}

std::string FolderOf(const std::string& path) {
    const auto slash = path.rfind('/');
    return slash == std::string::npos ? std::string(".") : path.substr(0, slash);
}

// The folder name a user typed, made safe to create: illegal characters replaced; empty,
// "." and ".." refused.
Result<std::string> FolderNameFrom(std::string_view typed) {
    if (typed.find('\0') != std::string_view::npos) {
        return MakeError(ErrorKind::BadInput, "a folder name cannot hold a NUL character");
    }
    std::string name = ReplaceIllegalNameCharacters(typed);
    if (name.empty() || name == "." || name == "..") {
        return MakeError(ErrorKind::BadInput, "\"" + name + "\" cannot be used as a folder name");
    }
    return name;
}

std::string FreshFileName(uint32_t number) {
    return std::to_string(number) + std::string(kMacroFileExtension);
}

}  // namespace

void SortLibraryEntries(std::vector<MacroLibraryEntry>& entries) {
    std::vector<std::u16string> keys;
    keys.reserve(entries.size());
    for (const MacroLibraryEntry& e : entries) keys.push_back(Utf8ToUtf16(e.name));
    for (std::size_t i = 0; i + 1 < entries.size(); ++i) {
        for (std::size_t j = i + 1; j < entries.size(); ++j) {
            if (keys[i] > keys[j] || (keys[i] == keys[j] && entries[i].time < entries[j].time)) {
                std::swap(keys[i], keys[j]);
                std::swap(entries[i], entries[j]);
            }
        }
    }
}

std::string ReplaceIllegalNameCharacters(std::string_view name) {
    std::string out(name);
    for (char& c : out) {
        if (kIllegalNameCharacters.find(c) != std::string_view::npos) c = kReplacementCharacter;
    }
    return out;
}

std::string SuggestExportName(std::string_view name, std::string_view date) {
    const std::string base =
        name.empty() ? std::string(kDefaultExportName) : ReplaceIllegalNameCharacters(name);
    return base + "_" + std::string(date);
}

std::string FormatLocalDate(int64_t unixSeconds) {
    const std::time_t t = static_cast<std::time_t>(unixSeconds);
    std::tm local{};
    if (::localtime_r(&t, &local) == nullptr) return "0000-00-00";
    char buffer[32];
    const std::size_t n = std::strftime(buffer, sizeof buffer, "%Y-%m-%d", &local);
    return std::string(buffer, n);
}

MacroLibrary::MacroLibrary(std::string root, UnixSecondsSource now)
    : root_(std::move(root)), now_(std::move(now)) {}

std::string MacroLibrary::DefaultRoot() {
    return JoinPath(UserDataFolder(), kMacroLibraryFolderName);
}

Status MacroLibrary::Rescan() {
    entries_.clear();
    skipped_.clear();
    nextId_ = 1;
    if (Status s = EnsureFolder(root_); !s) return s;
    std::error_code ec;
    fs::directory_iterator probe(root_, ec);
    if (ec) {
        return MakeError(ErrorKind::Io,
                         "cannot read the macro library " + root_ + ": " + ec.message());
    }
    ScanFolder(root_, 0, 1);
    SortLibraryEntries(entries_);
    return {};
}

void MacroLibrary::ScanFolder(const std::string& folder, int32_t parentId, int32_t depth) {
    std::vector<std::string> folders;
    std::vector<std::string> files;
    std::error_code ec;
    fs::directory_iterator it(folder, ec);
    for (; !ec && it != fs::directory_iterator(); it.increment(ec)) {
        const fs::directory_entry& item = *it;
        const std::string name = item.path().filename().string();
        std::error_code statError;
        const bool isLink = item.is_symlink(statError);
        const bool isFolder = item.is_directory(statError);
        if (isFolder && isLink) {
            // Never followed: a link back up the tree would make the scan endless.
            skipped_.push_back({item.path().string(), "a link to a folder is not followed", false});
        } else if (isFolder) {
            folders.push_back(name);
        } else if (HasMacroFileExtension(name)) {
            files.push_back(name);
        }
    }
    if (ec) {
        skipped_.push_back({folder, "cannot read the folder: " + ec.message(), true});
    }
    // Directory order is arbitrary on Linux; scan in name order so ids repeat.
    std::sort(folders.begin(), folders.end());
    std::sort(files.begin(), files.end());

    for (const std::string& name : folders) {
        MacroLibraryEntry entry;
        entry.name = name;
        entry.path = JoinPath(folder, name);
        entry.type = kLibraryFolderType;
        entry.parent = parentId;
        entry.depth = depth;
        entry.id = nextId_++;
        entries_.push_back(entry);
        ScanFolder(entry.path, entry.id, depth + 1);
    }
    for (const std::string& name : files) {
        MacroFileCheck check = CheckMacroFile(JoinPath(folder, name));
        if (check.verdict != MacroFileVerdict::kRead) {
            skipped_.push_back({JoinPath(folder, name), std::move(check.reason),
                                check.verdict == MacroFileVerdict::kInvalid});
            continue;
        }
        check.entry.parent = parentId;
        check.entry.depth = depth;
        check.entry.id = nextId_++;
        entries_.push_back(std::move(check.entry));
    }
}

const MacroLibraryEntry* MacroLibrary::Find(int32_t id) const {
    auto it = std::find_if(entries_.begin(), entries_.end(),
                           [id](const MacroLibraryEntry& e) { return e.id == id; });
    return it == entries_.end() ? nullptr : &*it;
}

const MacroLibraryEntry* MacroLibrary::FindPath(std::string_view path) const {
    auto it = std::find_if(entries_.begin(), entries_.end(),
                           [path](const MacroLibraryEntry& e) { return e.path == path; });
    return it == entries_.end() ? nullptr : &*it;
}

Result<const MacroLibraryEntry*> MacroLibrary::FindKind(int32_t id, bool folder) const {
    const MacroLibraryEntry* entry = Find(id);
    const char* kind = folder ? "folder" : "macro";
    if (entry == nullptr) {
        return MakeError(ErrorKind::BadInput,
                         "the macro library has no entry " + std::to_string(id));
    }
    if (entry->IsFolder() != folder) {
        return MakeError(ErrorKind::BadInput, "entry " + std::to_string(id) + " (\"" + entry->name +
                                                  "\") is not a " + kind);
    }
    return entry;
}

Result<std::string> MacroLibrary::LibraryFolderPath(int32_t folderId) const {
    if (folderId == 0) return root_;
    auto folder = FindKind(folderId, true);
    if (!folder) return folder.error();
    return (*folder)->path;
}

Status MacroLibrary::RenameLibraryEntry(int32_t id, std::string_view newName) {
    const MacroLibraryEntry* entry = Find(id);
    if (entry == nullptr) {
        return MakeError(ErrorKind::BadInput,
                         "the macro library has no entry " + std::to_string(id));
    }

    if (entry->IsFolder()) {
        auto name = FolderNameFrom(newName);
        if (!name) return name.error();
        const std::string target = JoinPath(FolderOf(entry->path), *name);
        if (target == entry->path) return {};
        if (int err = RenameNoReplace(entry->path, target); err != 0) {
            return ErrnoError("cannot rename folder " + entry->path + " to " + *name, err);
        }
        return Rescan();
    }

    auto file = ReadMacroFile(entry->path);
    if (!file) return file.error();
    const int64_t time = now_();
    if (Status s =
            WriteMacroFile(entry->path, newName, file->mode, file->items, [time] { return time; });
        !s) {
        return s;
    }
    const auto size = static_cast<int32_t>(EncodeMacroCode(file->items).size());
    for (MacroLibraryEntry& e : entries_) {
        if (e.id != id) continue;
        e.name = std::string(newName);
        e.time = time;
        e.size = size + kMacroListSizeExtra;
    }
    return {};
}

Result<std::string> MacroLibrary::MovePathUnderFreshName(const std::string& folder,
                                                         const std::string& source) const {
    const auto first = static_cast<uint32_t>(now_());
    for (int attempt = 0; attempt < kFreshNameAttempts; ++attempt) {
        const std::string target =
            JoinPath(folder, FreshFileName(first + static_cast<uint32_t>(attempt)));
        if (target == source) return target;
        const int err = RenameNoReplace(source, target);
        if (err == 0) return target;
        if (err != EEXIST) return ErrnoError("cannot move " + source + " to " + target, err);
    }
    return MakeError(ErrorKind::Io, "no free file name left in " + folder + " after " +
                                        std::to_string(kFreshNameAttempts) + " tries");
}

Result<std::string> MacroLibrary::PlaceUnderFreshName(const std::string& folder,
                                                      std::span<const uint8_t> bytes) const {
    // Staged complete first, so neither a full disk nor a name taken meanwhile leaves a
    // half file or replaces a macro. A staged file whose writer died before placing it is
    // removed here; one still being placed is held and stays (see RemoveAbandonedFiles).
    const std::string pattern = JoinPath(folder, kStagingPattern);
    RemoveAbandonedFiles(pattern);
    auto staged = WriteUniqueFile(pattern, bytes);
    if (!staged) return staged.error();
    auto placed = MovePathUnderFreshName(folder, staged->path());
    if (placed) staged->Keep();
    return placed;
}

Result<std::string> MacroLibrary::MoveMacroFile(int32_t id, int32_t folderId) {
    auto macro = FindKind(id, false);
    if (!macro) return macro.error();
    auto folder = LibraryFolderPath(folderId);
    if (!folder) return folder.error();
    auto moved = MovePathUnderFreshName(*folder, (*macro)->path);
    if (!moved) return moved.error();
    if (Status s = Rescan(); !s) return s.error();
    return moved;
}

Result<std::string> MacroLibrary::CreateLibraryFolder(int32_t parentId, std::string_view name) {
    auto parent = LibraryFolderPath(parentId);
    if (!parent) return parent.error();
    auto safeName = FolderNameFrom(name);
    if (!safeName) return safeName.error();
    const std::string path = JoinPath(*parent, *safeName);
    if (::mkdir(path.c_str(), 0755) != 0) return ErrnoError("cannot create folder " + path, errno);
    if (Status s = Rescan(); !s) return s.error();
    return path;
}

Status MacroLibrary::DeleteLibraryEntry(int32_t id) {
    const MacroLibraryEntry* entry = Find(id);
    if (entry == nullptr) {
        return MakeError(ErrorKind::BadInput,
                         "the macro library has no entry " + std::to_string(id));
    }
    if (entry->IsFolder()) {
        if (::rmdir(entry->path.c_str()) != 0) {
            if (errno == ENOTEMPTY || errno == EEXIST) {
                return MakeError(
                    ErrorKind::BadInput,
                    "folder " + entry->path + " is not empty; only an empty folder can be deleted");
            }
            return ErrnoError("cannot delete folder " + entry->path, errno);
        }
        return Rescan();
    }
    if (::unlink(entry->path.c_str()) != 0) {
        return ErrnoError("cannot delete macro file " + entry->path, errno);
    }
    std::erase_if(entries_, [id](const MacroLibraryEntry& e) { return e.id == id; });
    return {};
}

Result<std::string> MacroLibrary::ImportMacroFile(const std::string& source, int32_t folderId) {
    auto folder = LibraryFolderPath(folderId);
    if (!folder) return folder.error();
    if (!HasMacroFileExtension(source)) {
        return MakeError(ErrorKind::BadInput,
                         source + ": not a macro file (the name does not end in .mf)");
    }
    auto bytes = ReadFileIfExists(source, kMacroFileMaxBytes);
    if (!bytes) return bytes.error();
    if (!*bytes) return MakeError(ErrorKind::BadInput, source + ": no such file");
    if ((*bytes)->size() < kMacroFileMinBytes) {
        return MakeError(ErrorKind::BadInput, source + ": only " +
                                                  std::to_string((*bytes)->size()) +
                                                  " bytes long, too short for a macro file");
    }
    if (auto header = DecodeMacroFileHeader(**bytes); !header) {
        return MakeError(header.kind(), source + ": " + header.message());
    }
    auto placed = PlaceUnderFreshName(*folder, **bytes);
    if (!placed) return placed.error();
    if (Status s = Rescan(); !s) return s.error();
    return placed;
}

Result<std::string> MacroLibrary::AddMacroFile(int32_t folderId, std::string_view name,
                                               int32_t mode, std::span<const MacroItem> items) {
    auto folder = LibraryFolderPath(folderId);
    if (!folder) return folder.error();
    auto bytes = EncodeMacroFile(name, mode, items, now_());
    if (!bytes) return bytes.error();
    auto placed = PlaceUnderFreshName(*folder, *bytes);
    if (!placed) return placed.error();
    if (Status s = Rescan(); !s) return s.error();
    return placed;
}

Status MacroLibrary::ExportMacroFile(int32_t id, const std::string& dest,
                                     bool replaceExisting) const {
    auto macro = FindKind(id, false);
    if (!macro) return macro.error();
    auto file = ReadMacroFile((*macro)->path);
    if (!file) return file.error();
    return ExportMacroFile(file->name, file->mode, file->items, dest, replaceExisting);
}

Status MacroLibrary::ExportMacroFile(std::string_view name, int32_t mode,
                                     std::span<const MacroItem> items, const std::string& dest,
                                     bool replaceExisting) const {
    const std::string path =
        HasMacroFileExtension(dest) ? dest : dest + std::string(kMacroFileExtension);
    std::error_code ec;
    if (!replaceExisting && fs::exists(fs::symlink_status(path, ec))) {
        return MakeError(ErrorKind::BadInput, path + " already exists");
    }
    return WriteMacroFile(path, name, mode, items, now_);
}

}  // namespace qvm
