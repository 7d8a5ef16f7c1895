#include "session/dialog_folder.h"

#include <filesystem>
#include <system_error>

#include "base/ini_file.h"
#include "platform/folders.h"

namespace qvm {

namespace fs = std::filesystem;

namespace {

bool IsFolder(const std::string& path) {
    std::error_code ec;
    return !path.empty() && fs::is_directory(path, ec);
}

}  // namespace

std::string DialogStartFolder(const std::string& remembered) {
    for (const std::string& candidate : {remembered, DocumentsFolder(), HomeFolder()}) {
        if (IsFolder(candidate)) return candidate;
    }
    return "/";
}

std::string ReadLastFolder(const std::string& settingsPath) {
    const IniFile ini = IniFile::Load(settingsPath);
    const std::string folder = ini.GetString(kFoldersSection, kLastFolderKey, kNoString);
    return folder == kNoString ? std::string() : folder;
}

Status RememberFolderOf(const std::string& settingsPath, const std::string& chosenFile) {
    const std::string folder = fs::path(chosenFile).parent_path().string();
    if (folder.empty()) return {};
    IniFile ini = IniFile::Load(settingsPath);
    // A file that exists but cannot be read is left as it is: its options matter more.
    if (ini.Unreadable()) return MakeError(ErrorKind::Io, "cannot read " + settingsPath);
    if (ini.GetString(kFoldersSection, kLastFolderKey, kNoString) == folder) return {};
    ini.SetString(kFoldersSection, kLastFolderKey, folder);
    return ini.Save(settingsPath);
}

}  // namespace qvm
