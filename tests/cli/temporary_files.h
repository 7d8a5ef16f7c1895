// Finds the temporary files that writers leave behind when they die between making one
// and renaming it into place.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace qvm::cli {

// The temporary files below folder: those a writer makes beside its target (".NAME.tmp-"
// and six letters or digits) and those the macro library stages a new macro in
// (".import-" and six letters or digits).
inline bool IsTemporaryFileName(std::string_view name) {
    constexpr std::size_t kUnique = 6;
    if (name.size() < kUnique || name.front() != '.') return false;
    for (const char c : name.substr(name.size() - kUnique)) {
        const bool alnum =
            (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
        if (!alnum) return false;
    }
    const std::string_view head = name.substr(0, name.size() - kUnique);
    return head == ".import-" ||
           (head.size() > std::string_view("..tmp-").size() && head.ends_with(".tmp-"));
}

inline std::vector<std::string> TemporaryFiles(const std::string& folder) {
    std::vector<std::string> found;
    std::error_code ec;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(folder, ec)) {
        if (IsTemporaryFileName(entry.path().filename().string())) {
            found.push_back(entry.path().string());
        }
    }
    return found;
}

}  // namespace qvm::cli
