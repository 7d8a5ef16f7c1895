// Display names of bound applications. On a Linux desktop the name a user knows a program
// by is the Name of its desktop entry; an executable without one shows its file name
// without the extension.
#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <optional>
#include <set>
#include <sstream>
#include <vector>

#include "base/atomic_file.h"
#include "platform/folders.h"
#include "session/settings.h"

namespace qvm {
namespace {

namespace fs = std::filesystem;

constexpr std::string_view kDesktopEntryGroup = "[Desktop Entry]";
constexpr std::string_view kDesktopSuffix = ".desktop";
constexpr std::string_view kDefaultDataDirs = "/usr/local/share:/usr/share";
constexpr std::string_view kDefaultPath = "/usr/local/bin:/usr/bin:/bin";
// Desktop entries are a few kilobytes; anything far bigger is no desktop entry.
constexpr std::size_t kMaxDesktopEntryBytes = 1u << 20;

struct DesktopEntry {
    std::map<std::string, std::string> values;  // keys of the [Desktop Entry] group
};

std::vector<std::string> SplitColonList(std::string_view list) {
    std::vector<std::string> parts;
    std::size_t start = 0;
    while (start <= list.size()) {
        std::size_t end = list.find(':', start);
        if (end == std::string_view::npos) end = list.size();
        if (end > start) parts.emplace_back(list.substr(start, end - start));
        start = end + 1;
    }
    return parts;
}

std::string Env(const char* name) {
    const char* v = std::getenv(name);
    return v ? v : "";
}

// applications/ folders in priority order: the user's own entries first.
std::vector<fs::path> ApplicationFolders() {
    std::vector<fs::path> folders;
    std::string dataHome = Env("XDG_DATA_HOME");
    if (dataHome.empty() || dataHome.front() != '/')
        dataHome = JoinPath(HomeFolder(), ".local/share");
    folders.emplace_back(fs::path(dataHome) / "applications");
    std::string dataDirs = Env("XDG_DATA_DIRS");
    if (dataDirs.empty()) dataDirs = kDefaultDataDirs;
    for (const std::string& dir : SplitColonList(dataDirs)) {
        if (dir.front() == '/') folders.emplace_back(fs::path(dir) / "applications");
    }
    return folders;
}

// Backslash escapes of desktop-entry string values.
std::string UnescapeValue(std::string_view raw) {
    std::string out;
    for (std::size_t i = 0; i < raw.size(); ++i) {
        if (raw[i] != '\\' || i + 1 == raw.size()) {
            out += raw[i];
            continue;
        }
        switch (raw[++i]) {
            case 's':
                out += ' ';
                break;
            case 'n':
                out += '\n';
                break;
            case 't':
                out += '\t';
                break;
            case 'r':
                out += '\r';
                break;
            default:
                out += raw[i];
                break;
        }
    }
    return out;
}

std::optional<DesktopEntry> ReadDesktopEntry(const fs::path& file) {
    const auto bytes = ReadFileIfExists(file.string(), kMaxDesktopEntryBytes);
    if (!bytes || !*bytes) return std::nullopt;
    std::istringstream in(std::string((*bytes)->begin(), (*bytes)->end()));
    DesktopEntry entry;
    bool inGroup = false;
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.empty() || line.front() == '#') continue;
        if (line.front() == '[') {
            inGroup = line == kDesktopEntryGroup;
            continue;
        }
        const auto eq = line.find('=');
        if (!inGroup || eq == std::string::npos) continue;
        std::string key = line.substr(0, eq);
        while (!key.empty() && key.back() == ' ') key.pop_back();
        std::size_t valueStart = eq + 1;
        while (valueStart < line.size() && line[valueStart] == ' ') ++valueStart;
        entry.values.emplace(std::move(key), UnescapeValue(line.substr(valueStart)));
    }
    return entry;
}

// The program an Exec line starts: its first word (quotes and their escapes removed),
// skipping an "env VAR=value ..." prefix.
std::string ExecProgram(std::string_view exec) {
    std::vector<std::string> words;
    std::size_t i = 0;
    while (i < exec.size() && words.size() < 16) {
        while (i < exec.size() && exec[i] == ' ') ++i;
        if (i == exec.size()) break;
        std::string word;
        if (exec[i] == '"') {
            for (++i; i < exec.size() && exec[i] != '"'; ++i) {
                if (exec[i] == '\\' && i + 1 < exec.size()) ++i;
                word += exec[i];
            }
            ++i;
        } else {
            while (i < exec.size() && exec[i] != ' ') word += exec[i++];
        }
        words.push_back(std::move(word));
    }
    std::size_t first = 0;
    if (!words.empty() && words[0] == "env") {
        first = 1;
        while (first < words.size() && words[first].find('=') != std::string::npos) ++first;
    }
    return first < words.size() ? words[first] : std::string();
}

// The file a program name refers to: itself when it holds a slash, else the first match
// on PATH. Symbolic links are resolved so that two names of one file compare equal.
std::optional<fs::path> ResolveProgram(const std::string& program) {
    if (program.empty()) return std::nullopt;
    std::error_code ec;
    if (program.find('/') != std::string::npos) {
        fs::path p = fs::weakly_canonical(fs::path(program), ec);
        return ec ? fs::path(program).lexically_normal() : p;
    }
    std::string pathList = Env("PATH");
    if (pathList.empty()) pathList = kDefaultPath;
    for (const std::string& dir : SplitColonList(pathList)) {
        const fs::path candidate = fs::path(dir) / program;
        if (fs::is_regular_file(candidate, ec)) {
            fs::path p = fs::weakly_canonical(candidate, ec);
            return ec ? candidate : p;
        }
    }
    return std::nullopt;
}

// Language variants to look for in Name[...] keys, most specific first.
std::vector<std::string> LocaleNameKeys() {
    std::string locale;
    for (const char* var : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
        locale = Env(var);
        if (!locale.empty()) break;
    }
    locale = locale.substr(0, locale.find_first_of(".@"));
    std::vector<std::string> keys;
    if (locale.empty() || locale == "C" || locale == "POSIX") return keys;
    keys.push_back("Name[" + locale + "]");
    if (const auto us = locale.find('_'); us != std::string::npos) {
        keys.push_back("Name[" + locale.substr(0, us) + "]");
    }
    return keys;
}

std::string EntryName(const DesktopEntry& entry) {
    for (const std::string& key : LocaleNameKeys()) {
        if (auto it = entry.values.find(key); it != entry.values.end() && !it->second.empty()) {
            return it->second;
        }
    }
    auto it = entry.values.find("Name");
    return it != entry.values.end() ? it->second : std::string();
}

bool Shows(const DesktopEntry& entry) {
    auto type = entry.values.find("Type");
    auto hidden = entry.values.find("Hidden");
    return (type == entry.values.end() || type->second == "Application") &&
           (hidden == entry.values.end() || hidden->second != "true");
}

std::string DesktopEntryName(const std::string& executablePath) {
    const std::optional<fs::path> target = ResolveProgram(executablePath);
    if (!target) return {};
    std::set<std::string> seenIds;  // an entry in an earlier folder hides one of the same id
    for (const fs::path& folder : ApplicationFolders()) {
        std::error_code ec;
        std::vector<fs::path> files;
        for (fs::recursive_directory_iterator it(folder, ec), end; !ec && it != end;
             it.increment(ec)) {
            if (it->path().extension() == kDesktopSuffix) files.push_back(it->path());
        }
        std::sort(files.begin(), files.end());
        for (const fs::path& file : files) {
            std::string id = file.lexically_relative(folder).string();
            std::replace(id.begin(), id.end(), '/', '-');
            if (!seenIds.insert(id).second) continue;
            const std::optional<DesktopEntry> entry = ReadDesktopEntry(file);
            if (!entry || !Shows(*entry)) continue;
            auto exec = entry->values.find("Exec");
            if (exec == entry->values.end()) continue;
            if (ResolveProgram(ExecProgram(exec->second)) != target) continue;
            if (std::string name = EntryName(*entry); !name.empty()) return name;
        }
    }
    return {};
}

// The file name without folder and extension; a leading dot (a hidden file) is kept.
std::string BareFileName(const std::string& path) {
    const auto slash = path.rfind('/');
    std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    if (const auto dot = name.rfind('.'); dot != std::string::npos && dot > 0) name.resize(dot);
    return name;
}

}  // namespace

std::string GetAppDisplayName(const std::string& executablePath) {
    if (std::string name = DesktopEntryName(executablePath); !name.empty()) return name;
    return BareFileName(executablePath);
}

}  // namespace qvm
