// Where the program's files live. Every path is returned without a trailing slash and is
// joined with '/'.
//
// - Program folder (read-only data: language.ini, keyboard.ini, function libraries):
//   $QVM_DATA_DIR; else <prefix>/share/qvm-gaming beside the <prefix>/bin folder the
//   program runs from; else the source tree's data/ folder when the program runs from a
//   build tree; else the share/qvm-gaming folder of the prefix the build was set up for.
// - User data folder (set.ini, Favorite/, the simulator's saved devices):
//   $QVM_USER_DIR; else $XDG_DATA_HOME/qvm-gaming; else ~/.local/share/qvm-gaming.
// - Documents folder (proposed for backups and exported macros): XDG_DOCUMENTS_DIR from
//   the user's user-dirs.dirs; else ~/Documents.
#pragma once

#include <string>
#include <string_view>

#include "base/result.h"

namespace qvm {

std::string ProgramFolder();
// The program folder of the program file EXECUTABLE (a resolved path), $QVM_DATA_DIR aside.
std::string ProgramFolderOf(const std::string& executable);
std::string UserDataFolder();
std::string DocumentsFolder();

// Creates the folder and any missing parents; an existing folder is fine, an existing
// file of that name is an error.
Status EnsureFolder(const std::string& path);

// folder + '/' + name, without doubling a slash.
std::string JoinPath(std::string_view folder, std::string_view name);

// The user's home folder: $HOME, else the password database.
std::string HomeFolder();

}  // namespace qvm
