// qvmctl commands on the computer's side of macros: the macro library (the folder tree
// "Favorite" in the user data folder) and the function library of the program folder.
// Library folders and macros are named by their paths below the library's root, since
// several macros may share a display name.
#include <algorithm>
#include <filesystem>
#include <ostream>

#include "cli/commands.h"
#include "cli/macro_cli.h"
#include "cli/qvmctl.h"
#include "lang/ui_strings.h"
#include "macro/function_library.h"
#include "macro/macro_library.h"
#include "platform/folders.h"

namespace qvm::cli {
namespace {

namespace fs = std::filesystem;

constexpr int kIndentPerDepth = 2;
constexpr std::size_t kMaxCandidates = 20;

// The path of an entry below the library's root: "Games/1700000000.mf".
std::string Relative(const MacroLibrary& library, const MacroLibraryEntry& entry) {
    const fs::path relative = fs::path(entry.path).lexically_relative(library.Root());
    return relative.empty() ? entry.path : relative.generic_string();
}

std::string Lower(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char ch) { return static_cast<char>(std::tolower(ch)); });
    return text;
}

std::optional<MacroLibrary> OpenLibrary(CommandContext& c, int& status) {
    MacroLibrary library;
    if (Status scanned = library.Rescan(); !scanned) {
        status = Fail(c.err, ExitStatusOf(scanned.kind()),
                      "cannot read the macro library: " + scanned.message());
        return std::nullopt;
    }
    return library;
}

void PrintFolder(std::ostream& out, const MacroLibrary& library, int32_t parent, int depth) {
    const std::string indent(static_cast<std::size_t>(depth * kIndentPerDepth), ' ');
    for (const MacroLibraryEntry& e : library.Entries()) {
        if (e.parent != parent) continue;
        if (e.IsFolder()) {
            out << indent << Shown(e.name) << "/\n";
            PrintFolder(out, library, e.id, depth + 1);
        } else {
            out << indent << Shown(e.name) << "  (" << e.size << " bytes, " << MacroModeWord(e.type)
                << ", " << Shown(Relative(library, e)) << ")\n";
        }
    }
}

int RunLibraryList(CommandContext& c) {
    int status = kExitOk;
    auto library = OpenLibrary(c, status);
    if (!library) return status;
    for (const SkippedLibraryFile& skipped : library->Skipped()) {
        // The reason names the file already when the file could not be read at all.
        const bool named = skipped.reason.rfind(skipped.path, 0) == 0;
        c.err << "qvmctl: skipped " << Shown((named ? "" : skipped.path + ": ") + skipped.reason)
              << '\n';
    }
    c.out << "library: " << Shown(library->Root()) << '\n';
    if (library->Entries().empty()) {
        c.out << "  (empty)\n";
        return kExitOk;
    }
    PrintFolder(c.out, *library, 0, 1);
    return kExitOk;
}

int RunLibraryImport(CommandContext& c) {
    int status = kExitOk;
    auto library = OpenLibrary(c, status);
    if (!library) return status;
    int32_t folderId = 0;
    if (auto folder = c.Value("--folder")) {
        const std::string wanted = fs::path(*folder).lexically_normal().generic_string();
        std::string known;
        for (const MacroLibraryEntry& e : library->Entries()) {
            if (!e.IsFolder()) continue;
            const std::string relative = Relative(*library, e);
            if (relative == wanted || relative + "/" == wanted) folderId = e.id;
            known += (known.empty() ? "" : ", ") + relative;
        }
        if (folderId == 0) {
            return Fail(
                c.err, kExitUsage,
                "no library folder '" + *folder + "'" +
                    (known.empty() ? "; the library has no folders" : "; folders: " + known));
        }
    }
    auto placed = library->ImportMacroFile(c.args[0], folderId);
    if (!placed) {
        return Fail(c.err, ExitStatusOf(placed.kind()), "cannot import: " + placed.message());
    }
    const MacroLibraryEntry* entry = library->FindPath(*placed);
    c.out << "imported '" << Shown(entry ? entry->name : "") << "' as "
          << Shown(entry ? Relative(*library, *entry) : *placed) << '\n';
    return kExitOk;
}

std::string CandidateList(const MacroLibrary& library,
                          const std::vector<const MacroLibraryEntry*>& entries) {
    std::string text;
    for (std::size_t k = 0; k < entries.size() && k < kMaxCandidates; ++k) {
        text += "\n  '" + Shown(entries[k]->name) + "'  " + Shown(Relative(library, *entries[k]));
    }
    if (entries.size() > kMaxCandidates) text += "\n  ...";
    return text;
}

int RunLibraryExport(CommandContext& c) {
    int status = kExitOk;
    auto library = OpenLibrary(c, status);
    if (!library) return status;
    const std::string& wanted = c.args[0];
    std::vector<const MacroLibraryEntry*> byName, byPath, similar, all;
    for (const MacroLibraryEntry& e : library->Entries()) {
        if (e.IsFolder()) continue;
        all.push_back(&e);
        if (e.name == wanted) byName.push_back(&e);
        if (Relative(*library, e) == wanted) byPath.push_back(&e);
        if (Lower(e.name).find(Lower(wanted)) != std::string::npos) similar.push_back(&e);
    }
    const auto& found = byPath.empty() ? byName : byPath;
    if (found.size() > 1) {
        return Fail(c.err, kExitUsage,
                    std::to_string(found.size()) + " macros are called '" + wanted +
                        "'; name one by its path:" + CandidateList(*library, found));
    }
    if (found.empty()) {
        std::string message = "no macro called '" + wanted + "' in the library";
        if (all.empty()) {
            message += " (the library holds no macros)";
        } else {
            message += "; " + std::string(similar.empty() ? "its macros:" : "did you mean:") +
                       CandidateList(*library, similar.empty() ? all : similar);
        }
        return Fail(c.err, kExitUsage, message);
    }
    if (Status exported = library->ExportMacroFile(found.front()->id, c.args[1], c.Flag("--force"));
        !exported) {
        const bool refused = exported.kind() == ErrorKind::BadInput;
        return Fail(
            c.err, ExitStatusOf(exported.kind()),
            "cannot export: " + exported.message() +
                (refused && !c.Flag("--force") ? " (--force replaces an existing file)" : ""));
    }
    const std::string& dest = c.args[1];
    c.out << "exported '" << Shown(found.front()->name) << "' to "
          << Shown(HasMacroFileExtension(dest) ? dest : dest + std::string(kMacroFileExtension))
          << '\n';
    return kExitOk;
}

int RunFunctions(CommandContext& c) {
    const FunctionLibrary library = BuildFunctionLibrary(ProgramFolder(), Ui());
    for (const std::string& problem : library.problems) {
        c.err << "qvmctl: function library: " << Shown(problem) << '\n';
    }
    if (library.items.empty()) {
        c.out << "no functions found in " << Shown(ProgramFolder()) << '\n';
        return kExitOk;
    }
    for (const FunctionLibraryItem& item : library.items) {
        const MacroLibraryEntry& e = item.entry;
        if (e.IsFolder()) {
            c.out << Shown(e.name) << '\n';
            continue;
        }
        c.out << "  " << Shown(e.name) << ": " << Shown(item.text) << "  (" << e.type << ' '
              << e.op1 << ' ' << e.op2 << ' ' << e.op3 << ")\n";
        if (!e.description.empty()) c.out << "      " << Shown(e.description) << '\n';
    }
    return kExitOk;
}

}  // namespace

void AddLibraryCommands(std::vector<CommandSpec>& commands) {
    const std::vector<CommandSpec> added = {
        {"library list", "", "list the macro library",
         "Prints the macro library (the folder Favorite in the user data folder) as a tree:\n"
         "folders end in '/', macros show their size, mode and path below the library.\n"
         "Files that are not macro files are reported on standard error.\n",
         0, 0, RunLibraryList},
        {"library import",
         "FILE.mf [--folder FOLDER]",
         "copy a macro file into the library",
         "Copies the macro file FILE.mf into the library, or into its folder FOLDER (a path\n"
         "below the library as 'library list' prints it), under a new time-based name.\n",
         1,
         1,
         RunLibraryImport,
         {},
         {"--folder"}},
        {"library export",
         "NAME FILE.mf [--force]",
         "save a library macro as a macro file",
         "Writes the library macro called NAME (or at the path NAME below the library) to\n"
         "FILE.mf, '.mf' added when missing. When several macros share the name, their paths\n"
         "are listed. An existing file is replaced only with --force.\n",
         2,
         2,
         RunLibraryExport,
         {"--force"}},
        {"functions", "", "list the function library",
         "Prints the functions of the function library (bulitin.ini and the library folder\n"
         "of the program data) by group: name, function text and the four function bytes\n"
         "that 'qvmctl assign PROFILE BUTTON TYPE OP1 OP2 OP3' takes.\n",
         0, 0, RunFunctions},
    };
    commands.insert(commands.end(), added.begin(), added.end());
}

}  // namespace qvm::cli
