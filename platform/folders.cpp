#include "platform/folders.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <system_error>

#include "base/atomic_file.h"

namespace qvm {
namespace {

namespace fs = std::filesystem;

constexpr std::string_view kAppFolderName = "qvm-gaming";
// A folder holding this file is the top of a CMake build tree.
constexpr std::string_view kBuildTreeMarker = "CMakeCache.txt";
// How far above the executable's folder the build tree's top may lie (tests/ etc.).
constexpr int kBuildTreeSearchDepth = 4;
// user-dirs.dirs holds a few lines; anything far bigger is not read.
constexpr std::size_t kMaxUserDirsBytes = 64 * 1024;

std::string Env(const char* name) {
    const char* value = std::getenv(name);
    return value ? std::string(value) : std::string();
}

std::string StripTrailingSlashes(std::string path) {
    while (path.size() > 1 && path.back() == '/') path.pop_back();
    return path;
}

// XDG base-directory variables count only when they hold an absolute path.
std::string AbsoluteEnv(const char* name) {
    std::string value = Env(name);
    return (!value.empty() && value.front() == '/') ? StripTrailingSlashes(value) : std::string();
}

bool InBuildTree(fs::path dir) {
    std::error_code ec;
    for (int i = 0; i <= kBuildTreeSearchDepth && !dir.empty(); ++i) {
        if (fs::exists(dir / kBuildTreeMarker, ec)) return true;
        if (dir == dir.root_path()) break;
        dir = dir.parent_path();
    }
    return false;
}

// Reads XDG_DOCUMENTS_DIR="$HOME/..." (or an absolute path) from user-dirs.dirs.
std::string DocumentsFromUserDirs(const std::string& home) {
    std::string config = AbsoluteEnv("XDG_CONFIG_HOME");
    if (config.empty()) config = JoinPath(home, ".config");
    const auto bytes = ReadFileIfExists(JoinPath(config, "user-dirs.dirs"), kMaxUserDirsBytes);
    if (!bytes || !*bytes) return {};
    std::istringstream in(std::string((*bytes)->begin(), (*bytes)->end()));
    constexpr std::string_view kKey = "XDG_DOCUMENTS_DIR=";
    constexpr std::string_view kHomePrefix = "$HOME";
    std::string line;
    while (std::getline(in, line)) {
        if (line.rfind(kKey, 0) != 0) continue;
        std::string value = line.substr(kKey.size());
        if (value.size() >= 2 && value.front() == '"' && value.back() == '"') {
            value = value.substr(1, value.size() - 2);
        }
        if (value.rfind(kHomePrefix, 0) == 0) {
            value = home + value.substr(kHomePrefix.size());
        }
        if (!value.empty() && value.front() == '/') return StripTrailingSlashes(value);
    }
    return {};
}

}  // namespace

std::string JoinPath(std::string_view folder, std::string_view name) {
    std::string out(folder);
    if (!out.empty() && out.back() != '/') out += '/';
    while (!name.empty() && name.front() == '/') name.remove_prefix(1);
    out += name;
    return out;
}

std::string HomeFolder() {
    std::string home = AbsoluteEnv("HOME");
    if (!home.empty()) return home;
    if (const passwd* pw = ::getpwuid(::getuid()); pw && pw->pw_dir) {
        return StripTrailingSlashes(pw->pw_dir);
    }
    return "/";
}

std::string ProgramFolder() {
    if (std::string dir = Env("QVM_DATA_DIR"); !dir.empty()) return StripTrailingSlashes(dir);
    std::error_code ec;
    const fs::path executable = fs::read_symlink("/proc/self/exe", ec);
    return ProgramFolderOf(ec ? std::string() : executable.string());
}

std::string ProgramFolderOf(const std::string& executable) {
    std::error_code ec;
    const fs::path bin = fs::path(executable).parent_path();
    // An installed program finds its data relative to itself, so that a package built
    // for /usr (or a tree unpacked anywhere) works whatever prefix the build was set up
    // with. This comes before the build-tree test: a tree installed inside a build folder
    // still uses its own copy.
    if (!executable.empty()) {
        const fs::path installed = bin.parent_path() / "share" / kAppFolderName;
        if (fs::is_directory(installed, ec)) return installed.lexically_normal().string();
    }
#ifdef QVM_SOURCE_DATA_DIR
    if (!executable.empty() && fs::is_directory(QVM_SOURCE_DATA_DIR, ec) && InBuildTree(bin)) {
        return StripTrailingSlashes(QVM_SOURCE_DATA_DIR);
    }
#endif
#ifdef QVM_INSTALL_DATA_DIR
    return StripTrailingSlashes(QVM_INSTALL_DATA_DIR);
#else
    return JoinPath("/usr/share", kAppFolderName);
#endif
}

std::string UserDataFolder() {
    if (std::string dir = Env("QVM_USER_DIR"); !dir.empty()) return StripTrailingSlashes(dir);
    if (std::string data = AbsoluteEnv("XDG_DATA_HOME"); !data.empty()) {
        return JoinPath(data, kAppFolderName);
    }
    return JoinPath(JoinPath(HomeFolder(), ".local/share"), kAppFolderName);
}

std::string DocumentsFolder() {
    const std::string home = HomeFolder();
    if (std::string docs = DocumentsFromUserDirs(home); !docs.empty()) return docs;
    return JoinPath(home, "Documents");
}

Status EnsureFolder(const std::string& path) {
    std::error_code ec;
    if (fs::is_directory(path, ec)) return {};
    fs::create_directories(path, ec);
    if (ec) return MakeError("cannot create folder " + path + ": " + ec.message());
    if (!fs::is_directory(path, ec)) {
        return MakeError("cannot create folder " + path + ": a file of that name exists");
    }
    return {};
}

}  // namespace qvm
