// Fuzz target for the ini reader behind set.ini, language.ini, keyboard.ini and the
// function library files: any bytes (UTF-16 with or without a byte-order mark, UTF-8,
// 8-bit text) must parse, and what was read must survive being written and read again:
// every key keeps its value, a second write gives the same bytes, and a value set and
// written reads back as it was set.
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "base/ini_file.h"
#include "base/text.h"
#include "fuzz/fuzz_support.h"

namespace {

using qvm::IniFile;
using qvm::fuzz::Require;

std::string_view Trim(std::string_view s) {
    const auto first = s.find_first_not_of(" \t");
    if (first == std::string_view::npos) return {};
    return s.substr(first, s.find_last_not_of(" \t") - first + 1);
}

struct Probe {
    std::string section;
    std::string key;
};

// The section and key names the text itself holds, read the simple way a person would:
// "[NAME]" opens a section, "KEY=..." names a key in it.
std::vector<Probe> ProbesOf(std::span<const uint8_t> bytes) {
    const std::string text = qvm::Utf16ToUtf8(qvm::DecodeTextFile(bytes).text);
    std::vector<Probe> probes = {{"QZW", "osd"}, {"1033", "type_str1"}, {"DB", "tag"}};
    std::string section;
    std::size_t start = 0;
    while (start < text.size() && probes.size() < 64) {
        std::size_t end = text.find_first_of("\r\n", start);
        if (end == std::string::npos) end = text.size();
        const std::string_view line = std::string_view(text).substr(start, end - start);
        start = end + 1;
        const std::string_view t = Trim(line);
        if (t.empty() || t.front() == ';' || t.front() == '#') continue;
        const auto close = t.find(']');
        if (t.front() == '[' && close != std::string_view::npos) {
            section = Trim(t.substr(1, close - 1));
            continue;
        }
        const std::string_view key = Trim(t.substr(0, t.find('=')));
        if (t.find('=') != std::string_view::npos && !key.empty())
            probes.push_back({section, std::string(key)});
    }
    return probes;
}

void RequireSameValues(const IniFile& a, const IniFile& b, const std::vector<Probe>& probes) {
    for (const Probe& p : probes) {
        Require(a.GetString(p.section, p.key, qvm::kNoString) ==
                b.GetString(p.section, p.key, qvm::kNoString));
        Require(a.GetInt(p.section, p.key, -7) == b.GetInt(p.section, p.key, -7));
    }
}

IniFile Reread(const IniFile& file) {
    const std::vector<uint8_t> bytes = file.Serialize();
    return IniFile::Parse(bytes);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::span<const uint8_t> bytes(data, size);
    const std::vector<Probe> probes = ProbesOf(bytes);

    IniFile file = IniFile::Parse(bytes);
    const std::vector<uint8_t> written = file.Serialize();
    const IniFile reread = IniFile::Parse(written);
    Require(reread.Warning().empty() || !file.Warning().empty());
    RequireSameValues(file, reread, probes);
    Require(reread.Serialize() == written);

    // A value set (the program sets only UTF-8 text) reads back the same after a write,
    // and no other key changes.
    const std::string value = qvm::Utf16ToUtf8(qvm::Utf8ToUtf16(
        std::string_view(reinterpret_cast<const char*>(data), std::min<size_t>(size, 1200))));
    // The program's own names never hold NUL (which marks a line as binary data) and no
    // key of its starts with '[' (a header when the value holds ']'); the file's names
    // that do are not set.
    for (const Probe& target : {probes.back(), Probe{"QZW", "app1"}}) {
        if ((target.section + target.key).find('\0') != std::string::npos) continue;
        if (target.key.front() == '[') continue;
        IniFile changed = file;
        changed.SetString(target.section, target.key, value);
        const std::string stored = changed.GetString(target.section, target.key, qvm::kNoString);
        Require(stored != qvm::kNoString);
        if (value.find_first_of(std::string_view("\r\n\0", 3)) == std::string::npos &&
            qvm::CountUtf16Units(value) <= qvm::kMaxIniValueUnits) {
            Require(stored == value);
        }
        const IniFile changedReread = Reread(changed);
        Require(changedReread.GetString(target.section, target.key, qvm::kNoString) == stored);
        RequireSameValues(changed, changedReread, probes);
    }
    return 0;
}
