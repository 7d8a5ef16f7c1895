// qvmctl commands on the device's macro slots: list, show, store, delete, read, compact.
// A macro goes in as a macro file (recognised by its first bytes) or as the macro text
// form, and comes out as either.
#include <unistd.h>

#include <array>
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <istream>

#include "base/atomic_file.h"
#include "base/text.h"
#include "cli/json.h"
#include "cli/macro_cli.h"
#include "cli/parse.h"
#include "cli/qvmctl.h"
#include "lang/ui_strings.h"
#include "macro/macro_describe.h"
#include "macro/macro_file.h"
#include "macro/macro_library.h"
#include "macro/macro_memory.h"
#include "macro/macro_text.h"

namespace qvm::cli {
namespace {

constexpr int kFreeMemoryMessage = 9;         // "free memory: %d bytes"
constexpr int kDeleteMacroQuestion = 25;      // "Delete macro '%s' ?"
constexpr uint32_t kMaxRecordBytes = 0xFFFF;  // an index entry's 16-bit length
constexpr std::string_view kStandardInput = "-";
constexpr std::string_view kStandardInputLabel = "standard input";
constexpr std::size_t kInputChunk = 64 * 1024;

struct ModeName {
    const char* word;
    int mode;
};
constexpr std::array<ModeName, 3> kModeNames = {{
    {"once", kMacroModeOnce},
    {"loop", kMacroModeLoop},
    {"fire", kMacroModeFireKey},
}};

// Every string of the length-prefixed scheme, and so every macro file, starts with these;
// text never does (0xFF is no UTF-8 byte).
constexpr std::array<uint8_t, 3> kMacroFileStart = {0xFF, 0xFE, 0xFF};

std::string SlotText(int slot) {
    return "macro slot " + std::to_string(MacroSlotNumber(slot));
}

std::string FreeMemoryText(int32_t bytes) {
    const std::string args[] = {std::to_string(bytes)};
    return FillTextTemplate(Ui().msg_str[kFreeMemoryMessage], args);
}

std::string Hex4(int32_t value) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%04x", static_cast<unsigned>(value));
    return text;
}

// The slot of a loaded device, or exit 2 when it holds no macro.
std::optional<MacroSlot> UsedSlot(CommandContext& c, const LoadedDevice& d, int slot, int& status) {
    const MacroSlot s = d.model->Snapshot()->macros[static_cast<std::size_t>(slot)];
    if (s.Empty()) {
        status = Fail(c.err, kExitUsage, SlotText(slot) + " is empty (see qvmctl macro list)");
        return std::nullopt;
    }
    return s;
}

// A macro to store: its items and what its source says of name and mode.
struct MacroSource {
    std::vector<MacroItem> items;
    std::string name;
    std::optional<int> mode;
};

// How messages name the source: the file, or standard input for "-".
std::string SourceLabel(const std::string& file) {
    return file == kStandardInput ? std::string(kStandardInputLabel) : file;
}

// Standard input, read up to the bound a file has: endless input is refused, not stored.
Result<std::vector<uint8_t>> ReadStandardInput(std::istream& in) {
    std::vector<uint8_t> bytes;
    std::array<char, kInputChunk> chunk{};
    while (in.read(chunk.data(), chunk.size()) || in.gcount() > 0) {
        const auto got = static_cast<std::size_t>(in.gcount());
        if (bytes.size() + got > kMaxMacroTextBytes) {
            return MakeError(ErrorKind::BadInput,
                             std::string(kStandardInputLabel) + " is larger than " +
                                 std::to_string(kMaxMacroTextBytes) + " bytes");
        }
        bytes.insert(bytes.end(), chunk.begin(), chunk.begin() + static_cast<long>(got));
    }
    if (in.bad()) return MakeError(ErrorKind::Io, "cannot read standard input");
    return bytes;
}

// The bytes of FILE or standard input: a macro file or a macro text, bounded alike.
Result<std::vector<uint8_t>> ReadSource(CommandContext& c, const std::string& file) {
    if (file == kStandardInput) return ReadStandardInput(c.in);
    auto bytes = ReadFileIfExists(file, kMaxMacroTextBytes);
    if (!bytes) return bytes.error();
    if (!*bytes) return MakeError(ErrorKind::BadInput, file + ": no such file");
    return std::move(**bytes);
}

Result<MacroSource> DecodeSource(const std::string& file, std::span<const uint8_t> bytes) {
    const bool magic = bytes.size() >= kMacroFileStart.size() &&
                       std::equal(kMacroFileStart.begin(), kMacroFileStart.end(), bytes.begin());
    if (magic || (file != kStandardInput && HasMacroFileExtension(file))) {
        auto decoded = DecodeMacroFile(bytes);
        if (!decoded) return MakeError(SourceLabel(file) + ": " + decoded.message());
        MacroSource source{std::move(decoded->items), decoded->name, std::nullopt};
        if (decoded->mode >= kMacroModeOnce && decoded->mode <= kMacroModeFireKey) {
            source.mode = decoded->mode;
        }
        return source;
    }
    auto items = ParseMacroTextFile(bytes);
    if (!items) return MakeError(SourceLabel(file) + ": " + items.message());
    // Nothing to store is a mistake (an empty file, input that never came), not a macro.
    if (items->empty()) return MakeError(SourceLabel(file) + " holds no macro instructions");
    const std::string name = file == kStandardInput ? std::string(kDefaultExportName)
                                                    : std::filesystem::path(file).stem().string();
    return MacroSource{std::move(items).value(), name, std::nullopt};
}

// What the device cannot take whatever its memory holds.
Status CheckStorable(std::span<const MacroItem> items, std::string_view name) {
    for (std::size_t k = 0; k < items.size(); ++k) {
        if (items[k].Opcode() == kOpEnd && items[k].length > 0) {
            return MakeError("instruction " + std::to_string(k + 1) +
                             " is 'end' (0x00): the device ends every stored macro itself, "
                             "and an end inside would cut the macro short");
        }
    }
    const std::size_t bytes = BuildMacroRecord(name, items).size();
    if (bytes > kMaxRecordBytes) {
        return MakeError("the macro takes " + std::to_string(bytes) +
                         " bytes; a macro slot holds at most 65535");
    }
    return {};
}

int RunMacroList(CommandContext& c) {
    int status = kExitOk;
    auto d = LoadDevice(c, status);
    if (!d) return status;
    auto free = FreeMacroSpace(*d->model);
    if (!free) return Fail(c.err, kExitDevice, "cannot compute the free memory: " + free.message());
    const auto image = d->model->Snapshot();
    if (c.Flag("--json")) {
        JsonWriter j(c.out);
        j.BeginObject();
        j.Key("free_bytes").Int(*free);
        j.Key("macros").BeginArray();
        for (int i = 0; i < kMacroSlotCount; ++i) {
            const MacroSlot& m = image->macros[static_cast<std::size_t>(i)];
            if (m.Empty()) continue;
            j.BeginObject();
            j.Key("slot").Int(MacroSlotNumber(i)).Key("name").String(m.name);
            j.Key("mode").String(MacroModeWord(m.mode)).Key("bytes").Int(m.length);
            j.Key("start").Int(m.start).Key("code_address").Int(m.codeAddress);
            j.EndObject();
        }
        j.EndArray();
        j.EndObject();
        return kExitOk;
    }
    bool any = false;
    for (int i = 0; i < kMacroSlotCount; ++i) {
        const MacroSlot& m = image->macros[static_cast<std::size_t>(i)];
        if (m.Empty()) continue;
        if (!any) c.out << "slot  mode  bytes  address  name\n";
        char line[64];
        std::snprintf(line, sizeof line, "%4d  %-4s  %5d  %-7s  ", MacroSlotNumber(i),
                      MacroModeWord(m.mode), m.length, Hex4(m.start).c_str());
        c.out << line << Shown(m.name) << '\n';
        any = true;
    }
    if (!any) c.out << "no macros stored\n";
    c.out << FreeMemoryText(*free) << '\n';
    return kExitOk;
}

int RunMacroShow(CommandContext& c) {
    auto slot = ParseMacroSlot(c.args[0]);
    if (!slot) return Fail(c.err, kExitUsage, slot.message());
    int status = kExitOk;
    auto d = LoadDevice(c, status);
    if (!d) return status;
    if (!UsedSlot(c, *d, *slot, status)) return status;
    auto macro = ReadMacro(*d->model, *slot);
    if (!macro)
        return Fail(c.err, kExitDevice, "cannot read " + SlotText(*slot) + ": " + macro.message());
    c.out << FormatMacroText(macro->items);
    return kExitOk;
}

int RunMacroStore(CommandContext& c) {
    auto slot = ParseMacroSlot(c.args[0]);
    if (!slot) return Fail(c.err, kExitUsage, slot.message());
    std::optional<int> mode;
    if (auto word = c.Value("--mode")) {
        auto parsed = ParseMacroMode(*word);
        if (!parsed) return Fail(c.err, kExitUsage, parsed.message());
        mode = *parsed;
    }
    const std::string& file = c.args[1];
    auto bytes = ReadSource(c, file);
    if (!bytes) return Fail(c.err, ExitStatusOf(bytes.kind()), bytes.message());
    auto source = DecodeSource(file, *bytes);
    if (!source) return Fail(c.err, kExitUsage, source.message());
    const std::string name = c.Value("--name").value_or(source->name);
    if (!mode) mode = source->mode.value_or(kMacroModeOnce);
    if (Status ok = CheckStorable(source->items, name); !ok) {
        return Fail(c.err, kExitUsage, SourceLabel(file) + ": " + ok.message());
    }
    const std::string kept = TruncateUtf16Units(name, kMacroNameUnits);
    if (kept != name) {
        c.err << "qvmctl: the device keeps 16 characters of a name: stored as '" << Shown(kept)
              << "'\n";
    }

    int status = kExitOk;
    auto d = LoadDevice(c, status);
    if (!d) return status;
    Status stored = [&] {
        TerminalProgress progress(c.err, "storing");
        return StoreMacro(*d->model, *slot, *mode, name, source->items, std::ref(progress));
    }();
    if (!stored) {
        std::string message = stored.message();
        if (stored.kind() == ErrorKind::NoSpace) {
            const std::size_t needed = BuildMacroRecord(name, source->items).size();
            if (auto free = FreeMacroSpace(*d->model, *slot)) {
                message += " (the macro needs " + std::to_string(needed) + " bytes; " +
                           std::to_string(std::max(*free, 0)) + " are free)";
            }
        }
        return Fail(c.err, kExitDevice, "cannot store the macro: " + message);
    }
    const MacroSlot& s = d->model->Snapshot()->macros[static_cast<std::size_t>(*slot)];
    c.out << "stored '" << Shown(s.name) << "' in " << SlotText(*slot) << ": "
          << MacroModeWord(s.mode) << ", " << s.length << " bytes at " << Hex4(s.start) << '\n';
    if (auto free = FreeMacroSpace(*d->model)) c.out << FreeMemoryText(*free) << '\n';
    return kExitOk;
}

int RunMacroDelete(CommandContext& c) {
    auto slot = ParseMacroSlot(c.args[0]);
    if (!slot) return Fail(c.err, kExitUsage, slot.message());
    int status = kExitOk;
    auto d = LoadDevice(c, status);
    if (!d) return status;
    // A damaged slot holds no macro, but deleting it clears its entry.
    const MacroSlot& held = d->image->macros[static_cast<std::size_t>(*slot)];
    const auto s = held.damaged ? std::optional(held) : UsedSlot(c, *d, *slot, status);
    if (!s) return status;
    const std::string args[] = {s->damaged ? SlotText(*slot) : s->name};
    if (!Confirm(c, FillTextTemplate(Ui().msg_str[kDeleteMacroQuestion], args), c.Flag("--yes"))) {
        return Fail(c.err, kExitDevice, "delete cancelled; nothing was changed");
    }
    if (Status deleted = DeleteMacro(*d->model, *slot); !deleted) {
        return Fail(c.err, kExitDevice, "cannot delete the macro: " + deleted.message());
    }
    c.out << "deleted " << SlotText(*slot) << '\n';
    return kExitOk;
}

int RunMacroRead(CommandContext& c) {
    auto slot = ParseMacroSlot(c.args[0]);
    if (!slot) return Fail(c.err, kExitUsage, slot.message());
    const std::string& dest = c.args[1];
    const std::string path =
        HasMacroFileExtension(dest) ? dest : dest + std::string(kMacroFileExtension);
    int status = kExitOk;
    auto d = LoadDevice(c, status);
    if (!d) return status;
    if (!UsedSlot(c, *d, *slot, status)) return status;
    Result<StoredMacro> macro = [&] {
        TerminalProgress progress(c.err, "reading");
        return ReadMacro(*d->model, *slot, std::ref(progress));
    }();
    if (!macro) {
        return Fail(c.err, kExitDevice, "cannot read " + SlotText(*slot) + ": " + macro.message());
    }
    if (Status written = WriteMacroFile(path, macro->name, macro->mode, macro->items); !written) {
        return Fail(c.err, ExitStatusOf(written.kind()),
                    "cannot save " + SlotText(*slot) + ": " + written.message());
    }
    c.out << "wrote '" << Shown(macro->name) << "' of " << SlotText(*slot) << " to " << Shown(path)
          << '\n';
    return kExitOk;
}

int RunMacroCompact(CommandContext& c) {
    int status = kExitOk;
    auto d = LoadDevice(c, status);
    if (!d) return status;
    Status compacted = [&] {
        TerminalProgress progress(c.err, "compacting");
        return CompactMacroMemory(*d->model, std::ref(progress));
    }();
    if (!compacted) {
        return Fail(c.err, kExitDevice, "the compaction did not finish: " + compacted.message());
    }
    auto free = FreeMacroSpace(*d->model);
    c.out << "compacted the macro memory";
    if (free) c.out << "; " << FreeMemoryText(*free);
    c.out << '\n';
    return kExitOk;
}

}  // namespace

void PrintMacroWarnings(std::ostream& err, const ConfigImage& image) {
    for (const std::string& warning : DamagedSlotWarnings(image.macros)) {
        err << "qvmctl: warning: " << warning << '\n';
    }
}

Result<int> ParseMacroSlot(const std::string& text) {
    auto n = ParseNumber(text, 1, kMacroSlotCount, "macro slot");
    if (!n) return n.error();
    return static_cast<int>(*n - 1);
}

Result<int> ParseMacroMode(const std::string& text) {
    for (const ModeName& m : kModeNames) {
        if (text == m.word) return m.mode;
    }
    return MakeError("mode '" + text + "': expected once, loop or fire");
}

const char* MacroModeWord(int mode) {
    for (const ModeName& m : kModeNames) {
        if (mode == m.mode) return m.word;
    }
    return kModeNames[0].word;
}

TerminalProgress::TerminalProgress(std::ostream& err, std::string what)
    : err_(&err == &std::cerr && ::isatty(STDERR_FILENO) ? &err : nullptr),
      what_(std::move(what)) {}

TerminalProgress::~TerminalProgress() {
    Finish();
}

void TerminalProgress::Finish() {
    if (err_ && shown_ >= 0) *err_ << '\n' << std::flush;
    shown_ = -1;
}

void TerminalProgress::operator()(int done, int total) {
    (*this)(total > 0 ? static_cast<double>(done) / total : 1.0);
}

void TerminalProgress::operator()(double fraction) {
    const int percent = static_cast<int>(fraction * 100);
    if (!err_ || percent == shown_) return;
    *err_ << '\r' << what_ << ": " << percent << '%' << std::flush;
    shown_ = percent;
}

void AddMacroCommands(std::vector<CommandSpec>& commands) {
    const std::vector<CommandSpec> added = {
        {"macro list",
         "[--json]",
         "list the macros stored in the device",
         "Prints each used macro slot: its number (1..80), run mode (once, loop or fire),\n"
         "record size in bytes, record address and name, then the free macro memory.\n"
         "--json prints the same as one JSON object.\n",
         0,
         0,
         RunMacroList,
         {"--json"}},
        {"macro show", "SLOT", "print a stored macro in the macro text form",
         "Reads the macro of slot SLOT (1..80) from the device and prints it in the macro\n"
         "text form, one instruction a line (see the README), ready for 'macro store'.\n",
         1, 1, RunMacroShow},
        {"macro store",
         "SLOT FILE [--name NAME] [--mode once|loop|fire]",
         "store a macro in the device",
         "Stores the macro of FILE in slot SLOT (1..80), replacing what the slot held; the\n"
         "buttons that ran the slot's macro run the new one. FILE is a macro file (.mf,\n"
         "recognised by its contents) or the macro text form; '-' reads the text form from\n"
         "standard input. The name defaults to the macro file's name, else the file's base\n"
         "name ('macro' for standard input); the device keeps 16 characters of it. The mode\n"
         "defaults to the macro file's mode, else once. Macro texts may be UTF-8 or, with a\n"
         "byte-order mark, UTF-16; a file or standard input is read up to 4 MiB, and a text\n"
         "without any instruction is refused. When the free memory is scattered,\n"
         "the memory is compacted first. Exit status 1 with \"Lack of space !!\" when the\n"
         "macro does not fit; the device is then unchanged.\n",
         2,
         2,
         RunMacroStore,
         {},
         {"--name", "--mode"}},
        {"macro delete",
         "SLOT [--yes]",
         "delete a stored macro",
         "Empties slot SLOT (1..80) after asking (unless --yes); the buttons that ran its\n"
         "macro get their own functions back. A slot reported damaged is cleared too.\n",
         1,
         1,
         RunMacroDelete,
         {"--yes"}},
        {"macro read", "SLOT FILE", "save a stored macro as a macro file",
         "Reads the macro of slot SLOT (1..80) and writes it, with its name and mode, as a\n"
         "macro file (version 6.2); '.mf' is added to FILE when missing.\n",
         2, 2, RunMacroRead},
        {"macro compact", "", "move the stored macros together",
         "Moves every macro record, in slot order, back to back to the start of the macro\n"
         "memory, so the free memory is one block; buttons follow their macros.\n",
         0, 0, RunMacroCompact},
    };
    commands.insert(commands.end(), added.begin(), added.end());
    AddLibraryCommands(commands);
}

}  // namespace qvm::cli
