#include "macro/macro_library.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "lang/ui_strings.h"
#include "macro/function_library.h"
#include "support/fifo_guard.h"
#include "support/temp_folder.h"

namespace qvm {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;

constexpr int64_t kNow = 0x1'0000'0005;  // low 32 bits: 5

// A version 6.1 file: name "Old", mode 8, time 1000, code "key A down".
const Bytes kOldFile = {0xFF, 0xFE, 0xFF, 0x09, 0x5F, 0x00, 0x40, 0x00, 0x5F, 0x00,
                        0x4D, 0x00, 0x46, 0x00, 0x36, 0x00, 0x2E, 0x00, 0x31, 0x00,
                        0x5F, 0x00, 0xE8, 0x03, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
                        0xFF, 0xFE, 0xFF, 0x03, 0x4F, 0x00, 0x6C, 0x00, 0x64, 0x00,
                        0x08, 0x00, 0x00, 0x00, 0x02, 0x00, 0x00, 0x00, 0x83, 0x04};

MacroLibraryEntry Named(std::string name, int64_t time, int32_t type = 8) {
    MacroLibraryEntry e;
    e.name = std::move(name);
    e.time = time;
    e.type = type;
    return e;
}

// Names, with "@time" where the time is set.
std::vector<std::string> Names(const std::vector<MacroLibraryEntry>& entries) {
    std::vector<std::string> out;
    for (const MacroLibraryEntry& e : entries) {
        out.push_back(e.time == 0 ? e.name : e.name + "@" + std::to_string(e.time));
    }
    return out;
}

TEST(MacroLibrarySort, OrderIsByUtf16UnitsCaseSensitiveNewestFirst) {
    struct Case {
        const char* what;
        std::vector<MacroLibraryEntry> in;
        std::vector<std::string> want;
    };
    const Case cases[] = {
        {"upper case before lower case",
         {Named("b", 0), Named("a", 0), Named("B", 0), Named("A", 0)},
         {"A", "B", "a", "b"}},
        {"prefix first", {Named("ab", 0), Named("a", 0), Named("", 0)}, {"", "a", "ab"}},
        // U+1F600 is a surrogate pair 0xD83D..., below U+FF21 in UTF-16 though above it
        // as a code point.
        {"surrogates below the top of the basic plane",
         {Named("\xEF\xBC\xA1", 0), Named("\xF0\x9F\x98\x80", 0)},
         {"\xF0\x9F\x98\x80", "\xEF\xBC\xA1"}},
        {"folders among macros",
         {Named("z", 0), Named("m", 0, kLibraryFolderType), Named("a", 0)},
         {"a", "m", "z"}},
        {"equal names newest first",
         {Named("x", 10), Named("w", 0), Named("x", 30), Named("x", 20)},
         {"w", "x@30", "x@20", "x@10"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<MacroLibraryEntry> entries = c.in;
        SortLibraryEntries(entries);
        EXPECT_EQ(Names(entries), c.want);
    }
}

TEST(MacroLibraryNames, IllegalCharactersAndExportNames) {
    const struct {
        const char* name;
        const char* want;
    } cases[] = {
        {"", "macro_2024-03-07"},
        {"a/b:c", "a_b_c_2024-03-07"},
        {"\\/\":<>|?*", "__________2024-03-07"},
        {"Fire 1", "Fire 1_2024-03-07"},
    };
    for (const auto& c : cases) EXPECT_EQ(SuggestExportName(c.name, "2024-03-07"), c.want);
}

class MacroLibraryTest : public ::testing::Test {
  protected:
    std::string Root() const { return folder_.File("Favorite"); }
    void Put(const std::string& relative, const Bytes& bytes) {
        folder_.Write("Favorite/" + relative, bytes);
    }
    MacroLibrary Library() {
        return MacroLibrary(Root(), [this] { return now_; });
    }
    void WriteMacro(const std::string& relative, const std::string& name, int64_t time) {
        fs::create_directories(fs::path(Root() + "/" + relative).parent_path());
        ASSERT_TRUE(WriteMacroFile(Root() + "/" + relative, name, 8,
                                   std::vector<MacroItem>{MakeMacroItem(Bytes{0x20})},
                                   [time] { return time; }));
    }
    const MacroLibraryEntry& Only(const MacroLibrary& lib, const std::string& name) {
        const MacroLibraryEntry* found = nullptr;
        for (const MacroLibraryEntry& e : lib.Entries()) {
            if (e.name == name) found = &e;
        }
        EXPECT_NE(found, nullptr) << name;
        return *found;
    }

    test::TempFolder folder_;
    int64_t now_ = kNow;
};

TEST_F(MacroLibraryTest, ScanBuildsTheTreeAndReportsSkippedFiles) {
    WriteMacro("top.mf", "Top", 100);
    WriteMacro("Sub/Deep/inner.MF", "Inner", 50);
    WriteMacro("Sub/same1.mf", "Same", 1);
    WriteMacro("Sub/same2.mf", "Same", 2);
    Put("short.mf", Bytes{1, 2, 3});
    Put("bad.mf", Bytes(20, 0x41));
    Put("notes.txt", Bytes(40, 0x41));
    MacroLibrary lib = Library();
    ASSERT_TRUE(lib.Rescan());

    EXPECT_EQ(Names(lib.Entries()),
              (std::vector<std::string>{"Deep", "Inner@50", "Same@2", "Same@1", "Sub", "Top@100"}));
    const MacroLibraryEntry& sub = Only(lib, "Sub");
    const MacroLibraryEntry& deep = Only(lib, "Deep");
    const MacroLibraryEntry& inner = Only(lib, "Inner");
    EXPECT_EQ(sub.id, 1);  // depth first: Sub, Deep, Inner, then Sub's files
    EXPECT_EQ(deep.id, 2);
    EXPECT_EQ(inner.id, 3);
    EXPECT_EQ(sub.depth, 1);
    EXPECT_EQ(sub.parent, 0);
    EXPECT_EQ(deep.parent, sub.id);
    EXPECT_EQ(inner.parent, deep.id);
    EXPECT_EQ(inner.depth, 3);
    EXPECT_EQ(sub.type, kLibraryFolderType);
    EXPECT_EQ(inner.size, 1 + 33);

    ASSERT_EQ(lib.Skipped().size(), 2u);
    for (const SkippedLibraryFile& s : lib.Skipped()) {
        const bool isShort = s.path.ends_with("short.mf");
        EXPECT_EQ(s.invalid, !isShort) << s.path;
        if (!isShort) {
            EXPECT_NE(s.reason.find("invalid format !!"), std::string::npos);
        }
    }

    ASSERT_TRUE(lib.Rescan());
    EXPECT_EQ(Only(lib, "Sub").id, 1);  // ids restart
    EXPECT_EQ(lib.Entries().size(), 6u);
}

TEST_F(MacroLibraryTest, NewFolderGetsUnderscoresAndDeleteKeepsNonEmptyFolders) {
    MacroLibrary lib = Library();
    ASSERT_TRUE(lib.Rescan());
    auto made = lib.CreateLibraryFolder(0, "a/b:c");
    ASSERT_TRUE(made) << made.message();
    EXPECT_EQ(*made, Root() + "/a_b_c");
    const int32_t id = Only(lib, "a_b_c").id;
    EXPECT_EQ(*lib.LibraryFolderPath(id), *made);

    EXPECT_FALSE(lib.CreateLibraryFolder(0, ".."));
    EXPECT_FALSE(lib.CreateLibraryFolder(0, "a|b:c"));  // same name after replacement

    WriteMacro("a_b_c/m.mf", "M", 1);
    ASSERT_TRUE(lib.Rescan());
    EXPECT_FALSE(lib.DeleteLibraryEntry(Only(lib, "a_b_c").id));
    EXPECT_TRUE(fs::exists(Root() + "/a_b_c/m.mf"));

    ASSERT_TRUE(lib.DeleteLibraryEntry(Only(lib, "M").id));
    EXPECT_FALSE(fs::exists(Root() + "/a_b_c/m.mf"));
    ASSERT_TRUE(lib.DeleteLibraryEntry(Only(lib, "a_b_c").id));
    EXPECT_FALSE(fs::exists(*made));
    EXPECT_TRUE(lib.Entries().empty());
}

TEST_F(MacroLibraryTest, RenamingAMacroRewritesItAsVersion62) {
    Put("old.mf", kOldFile);
    MacroLibrary lib = Library();
    ASSERT_TRUE(lib.Rescan());
    now_ = 0x65A1B2C3;
    ASSERT_TRUE(lib.RenameLibraryEntry(Only(lib, "Old").id, "New"));

    const Bytes want = {0xFF, 0xFE, 0xFF, 0x09, 0x5F, 0x00, 0x40, 0x00, 0x5F, 0x00, 0x4D,
                        0x00, 0x46, 0x00, 0x36, 0x00, 0x2E, 0x00, 0x32, 0x00, 0x5F, 0x00,
                        0xFF, 0xFE, 0xFF, 0x00, 0xC3, 0xB2, 0xA1, 0x65, 0x00, 0x00, 0x00,
                        0x00, 0xFF, 0xFE, 0xFF, 0x03, 0x4E, 0x00, 0x65, 0x00, 0x77, 0x00,
                        0x08, 0x00, 0x00, 0x00, 0x02, 0x00, 0x00, 0x00, 0x83, 0x04};
    EXPECT_EQ(folder_.Read("Favorite/old.mf"), want);
    EXPECT_EQ(Only(lib, "New").time, 0x65A1B2C3);
}

TEST_F(MacroLibraryTest, RenamingAFolderNeverReplacesAnother) {
    fs::create_directories(Root() + "/One");
    fs::create_directories(Root() + "/Two");
    MacroLibrary lib = Library();
    ASSERT_TRUE(lib.Rescan());
    EXPECT_FALSE(lib.RenameLibraryEntry(Only(lib, "One").id, "Two"));
    EXPECT_TRUE(fs::is_directory(Root() + "/One"));
    ASSERT_TRUE(lib.RenameLibraryEntry(Only(lib, "One").id, "Th:ree"));
    EXPECT_TRUE(fs::is_directory(Root() + "/Th_ree"));
    EXPECT_EQ(Names(lib.Entries()), (std::vector<std::string>{"Th_ree", "Two"}));
}

TEST_F(MacroLibraryTest, MoveAndImportTakeTheNextFreeTimeName) {
    WriteMacro("m.mf", "M", 1);
    fs::create_directories(Root() + "/Dest");
    Put("Dest/5.mf", kOldFile);  // the name the clock gives is taken
    MacroLibrary lib = Library();
    ASSERT_TRUE(lib.Rescan());
    const Bytes moved = folder_.Read("Favorite/m.mf");

    auto target = lib.MoveMacroFile(Only(lib, "M").id, Only(lib, "Dest").id);
    ASSERT_TRUE(target) << target.message();
    EXPECT_EQ(*target, Root() + "/Dest/6.mf");
    EXPECT_EQ(folder_.Read("Favorite/Dest/6.mf"), moved);
    EXPECT_EQ(folder_.Read("Favorite/Dest/5.mf"), kOldFile);
    EXPECT_FALSE(fs::exists(Root() + "/m.mf"));
    ASSERT_NE(lib.FindPath(*target), nullptr);

    const std::string outside = folder_.Write("outside.mf", kOldFile);
    auto imported = lib.ImportMacroFile(outside, Only(lib, "Dest").id);
    ASSERT_TRUE(imported) << imported.message();
    EXPECT_EQ(*imported, Root() + "/Dest/7.mf");
    EXPECT_EQ(folder_.Read("Favorite/Dest/7.mf"), kOldFile);
    EXPECT_EQ(lib.Entries().size(), 4u);
}

TEST_F(MacroLibraryTest, ImportRefusesFilesThatAreNotMacros) {
    MacroLibrary lib = Library();
    ASSERT_TRUE(lib.Rescan());
    Bytes badMagic = kOldFile;
    badMagic[18] = '9';
    const struct {
        const char* name;
        Bytes bytes;
    } cases[] = {{"bad.mf", badMagic},
                 {"short.mf", Bytes{1, 2}},
                 {"good.txt", kOldFile},
                 {"cut.mf", Bytes(kOldFile.begin(), kOldFile.end() - 1)}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_FALSE(lib.ImportMacroFile(folder_.Write(c.name, c.bytes), 0));
    }
    EXPECT_TRUE(fs::is_empty(Root()));
}

TEST_F(MacroLibraryTest, ExportAddsTheSuffixAndReplacesOnlyWhenAsked) {
    Put("old.mf", kOldFile);
    MacroLibrary lib = Library();
    ASSERT_TRUE(lib.Rescan());
    const int32_t id = Only(lib, "Old").id;
    ASSERT_TRUE(lib.ExportMacroFile(id, folder_.File("out"), false));
    auto exported = ReadMacroFile(folder_.File("out.mf"));
    ASSERT_TRUE(exported) << exported.message();
    EXPECT_EQ(exported->name, "Old");
    EXPECT_EQ(exported->time, kNow);

    const Bytes before = folder_.Read("out.mf");
    EXPECT_FALSE(lib.ExportMacroFile("Other", 9, {}, folder_.File("out.mf"), false));
    EXPECT_EQ(folder_.Read("out.mf"), before);
    ASSERT_TRUE(lib.ExportMacroFile("Other", 9, {}, folder_.File("out.mf"), true));
    EXPECT_EQ(ReadMacroFile(folder_.File("out.mf"))->name, "Other");
}

Bytes ReadWhole(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), {});
}

// Two programs importing at the same second: each import ends up under its own name
// holding its own file, and no staging file is left behind.
TEST_F(MacroLibraryTest, ParallelImportsKeepTheirOwnBytes) {
    constexpr int kImports = 20;
    const std::string sources[2] = {folder_.File("first.mf"), folder_.File("second.mf")};
    ASSERT_TRUE(WriteMacroFile(sources[0], "First", 8, std::vector{MakeMacroItem(Bytes{0x20})},
                               [] { return 1; }));
    ASSERT_TRUE(WriteMacroFile(sources[1], "Second", 9, std::vector{MakeMacroItem(Bytes{0x40})},
                               [] { return 2; }));
    fs::create_directories(Root());
    std::vector<std::string> placed[2];
    std::vector<std::string> failed[2];
    {
        std::jthread importers[2];
        for (int t = 0; t < 2; ++t) {
            importers[t] = std::jthread([&, t] {
                MacroLibrary lib = Library();  // its own, as another process has
                for (int k = 0; k < kImports; ++k) {
                    auto path = lib.ImportMacroFile(sources[t], 0);
                    if (path) {
                        placed[t].push_back(*path);
                    } else {
                        failed[t].push_back(path.message());
                    }
                }
            });
        }
    }
    std::set<std::string> names;
    for (int t = 0; t < 2; ++t) {
        SCOPED_TRACE(t);
        EXPECT_TRUE(failed[t].empty()) << failed[t].front();
        const Bytes wanted = ReadWhole(sources[t]);
        for (const std::string& path : placed[t]) {
            EXPECT_EQ(ReadWhole(path), wanted) << path;
            names.insert(path);
        }
    }
    EXPECT_EQ(names.size(), 2u * kImports);
    EXPECT_EQ(std::distance(fs::directory_iterator(Root()), {}), 2 * kImports);
}

// A FIFO among the macros or in place of the function library is refused at once.
TEST_F(MacroLibraryTest, FifoInPlaceOfAFileIsRefusedWithoutWaiting) {
    fs::create_directories(Root());
    const test::FifoGuard macro(Root() + "/pipe.mf");
    const std::string refused = macro.path() + " is not a regular file";

    MacroLibrary lib = Library();
    ASSERT_TRUE(lib.Rescan());
    ASSERT_EQ(lib.Skipped().size(), 1u);
    EXPECT_TRUE(lib.Skipped()[0].invalid);
    EXPECT_NE(lib.Skipped()[0].reason.find(refused), std::string::npos) << lib.Skipped()[0].reason;

    auto imported = lib.ImportMacroFile(macro.path(), 0);
    ASSERT_FALSE(imported);
    EXPECT_EQ(imported.kind(), ErrorKind::BadInput);
    EXPECT_NE(imported.message().find(refused), std::string::npos) << imported.message();
    auto read = ReadMacroFile(macro.path());
    ASSERT_FALSE(read);
    EXPECT_NE(read.message().find(refused), std::string::npos) << read.message();

    fs::create_directories(folder_.File("data/library"));
    const test::FifoGuard builtin(folder_.File("data/bulitin.ini"));
    const FunctionLibrary functions = BuildFunctionLibrary(folder_.File("data"), UiStrings{});
    ASSERT_EQ(functions.problems.size(), 1u);
    EXPECT_NE(functions.problems[0].find(builtin.path() + " is not a regular file"),
              std::string::npos)
        << functions.problems[0];
}

}  // namespace
}  // namespace qvm
