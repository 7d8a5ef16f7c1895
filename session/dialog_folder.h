// The folder the windows' file dialogs (backup, restore) start in, and the last folder the
// user chose in one of them, which is kept across runs in set.ini, section "Folders", key
// "last".
#pragma once

#include <string>
#include <string_view>

#include "base/result.h"

namespace qvm {

inline constexpr std::string_view kFoldersSection = "Folders";
inline constexpr std::string_view kLastFolderKey = "last";

// The first of these that is an existing folder: `remembered`, the user's documents
// folder, the home folder; "/" when none is.
std::string DialogStartFolder(const std::string& remembered);

// The folder stored in the settings file; empty when none is.
std::string ReadLastFolder(const std::string& settingsPath);
// Stores the folder that holds `chosenFile`, keeping every other line of the file.
Status RememberFolderOf(const std::string& settingsPath, const std::string& chosenFile);

}  // namespace qvm
