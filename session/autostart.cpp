#include "session/autostart.h"

#include <stdlib.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <optional>
#include <vector>

#include "base/atomic_file.h"
#include "platform/folders.h"
#include "session/startup.h"

namespace qvm {
namespace {

constexpr std::string_view kAutostartFolderName = "autostart";
constexpr std::string_view kDefaultConfigFolder = ".config";
constexpr std::string_view kEntryGroup = "[Desktop Entry]";
constexpr std::string_view kHiddenKey = "Hidden";
constexpr std::string_view kTrue = "true";

// Characters that make an Exec argument need quotes, and those that must be escaped with
// a backslash inside the quotes.
constexpr std::string_view kReservedCharacters = " \t\n\"'\\><~|&;$*?#()`";
constexpr std::string_view kEscapedInQuotes = "\"`$\\";

std::string_view Trim(std::string_view text) {
    const auto first = text.find_first_not_of(" \t\r");
    if (first == std::string_view::npos) return {};
    const auto last = text.find_last_not_of(" \t\r");
    return text.substr(first, last - first + 1);
}

// The escapes of a desktop entry string value, applied after the quoting.
void AppendStringValue(std::string& out, char c) {
    switch (c) {
        case '\\':
            out += "\\\\";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\t':
            out += "\\t";
            break;
        case '\r':
            out += "\\r";
            break;
        case '%':
            out += "%%";
            break;  // a literal % of an Exec line (field codes use %)
        default:
            out += c;
            break;
    }
}

std::string EntryText(const std::string& executable) {
    std::string text;
    text += kEntryGroup;
    text +=
        "\nType=Application\n"
        "Name=QVM Gaming\n"
        "Comment=Gaming mouse settings, waiting in the tray\n"
        "Exec=";
    text += QuoteExecArgument(executable);
    text += ' ';
    text += QuoteExecArgument(kHideSwitch);
    text +=
        "\nIcon=qvm-gaming\n"
        "Terminal=false\n"
        "X-GNOME-Autostart-enabled=true\n";
    return text;
}

// Hidden=true in the entry's main group switches the entry off.
bool HiddenEntry(std::string_view text) {
    bool inEntry = false;
    while (!text.empty()) {
        const auto end = text.find('\n');
        const std::string_view line = Trim(text.substr(0, end));
        text = end == std::string_view::npos ? std::string_view{} : text.substr(end + 1);
        if (line.empty() || line.front() == '#') continue;
        if (line.front() == '[') {
            inEntry = line == kEntryGroup;
            continue;
        }
        const auto eq = line.find('=');
        if (!inEntry || eq == std::string_view::npos) continue;
        if (Trim(line.substr(0, eq)) == kHiddenKey && Trim(line.substr(eq + 1)) == kTrue) {
            return true;
        }
    }
    return false;
}

}  // namespace

std::string QuoteExecArgument(std::string_view argument) {
    std::string out;
    const bool quote =
        argument.empty() || argument.find_first_of(kReservedCharacters) != std::string_view::npos;
    if (quote) out += '"';
    for (const char c : argument) {
        if (quote && kEscapedInQuotes.find(c) != std::string_view::npos)
            AppendStringValue(out, '\\');
        AppendStringValue(out, c);
    }
    if (quote) out += '"';
    return out;
}

std::string AutostartFilePath() {
    std::string config;
    if (const char* xdg = ::getenv("XDG_CONFIG_HOME"); xdg != nullptr && xdg[0] == '/') {
        config = xdg;
    } else {
        config = JoinPath(HomeFolder(), kDefaultConfigFolder);
    }
    return JoinPath(JoinPath(config, kAutostartFolderName), kAutostartFileName);
}

bool AutostartEnabled() {
    const auto bytes = ReadFileIfExists(AutostartFilePath());
    if (!bytes || !bytes->has_value()) return false;
    const std::vector<uint8_t>& data = **bytes;
    return !HiddenEntry(std::string_view(reinterpret_cast<const char*>(data.data()), data.size()));
}

Status SetAutostart(bool on, const std::string& executable) {
    const std::string path = AutostartFilePath();
    if (!on) {
        if (std::remove(path.c_str()) != 0 && errno != ENOENT) {
            return MakeError("cannot remove the autostart entry " + path + ": " +
                             std::strerror(errno));
        }
        return {};
    }
    if (executable.empty() || executable.front() != '/') {
        return MakeError("the autostart entry needs the program's absolute path, not '" +
                         executable + "'");
    }
    const std::string folder = path.substr(0, path.rfind('/'));
    if (Status made = EnsureFolder(folder); !made) {
        return MakeError("cannot write the autostart entry: " + made.message());
    }
    const std::string text = EntryText(executable);
    const std::vector<uint8_t> bytes(text.begin(), text.end());
    if (Status written = WriteFileAtomically(path, bytes); !written) {
        return MakeError("cannot write the autostart entry: " + written.message());
    }
    return {};
}

}  // namespace qvm
