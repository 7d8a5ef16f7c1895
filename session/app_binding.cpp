#include "session/app_binding.h"

#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

namespace qvm {
namespace {

namespace fs = std::filesystem;

bool HasLineBreak(std::string_view text) {
    return text.find_first_of("\r\n") != text.npos;
}

Result<std::string> CanonicalExecutable(const std::string& given) {
    if (given.empty()) return MakeError(ErrorKind::BadInput, "no program given");
    std::error_code error;
    const fs::path resolved = fs::canonical(given, error);
    if (error) return MakeError(ErrorKind::BadInput, given + ": " + error.message());
    struct stat info {};
    if (::stat(resolved.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) {
        return MakeError(ErrorKind::BadInput, given + " is not a file");
    }
    if (::access(resolved.c_str(), X_OK) != 0) {
        return MakeError(ErrorKind::BadInput, given + " is not executable");
    }
    if (HasLineBreak(resolved.string())) {
        return MakeError(ErrorKind::BadInput, given + ": a path with a line break cannot be kept");
    }
    return resolved.string();
}

}  // namespace

Result<AppSlot> MakeAppSlot(const std::string& givenPath, const std::optional<std::string>& name) {
    auto path = CanonicalExecutable(givenPath);
    if (!path) return path.error();
    std::string shown;
    if (name) {
        shown = *name;
    } else {
        std::error_code error;
        const fs::path absolute = fs::absolute(givenPath, error);
        shown = GetAppDisplayName(error ? *path : absolute.string());
    }
    if (shown.empty()) return MakeError(ErrorKind::BadInput, "the name is empty");
    if (HasLineBreak(shown)) return MakeError(ErrorKind::BadInput, "the name holds a line break");
    return AppSlot{std::move(path).value(), std::move(shown)};
}

}  // namespace qvm
