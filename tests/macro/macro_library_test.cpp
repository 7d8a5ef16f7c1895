// The macro library folder: its order, its tree, and file operations that never
// replace or lose a file, also when two programs import at once.
#include "macro/macro_library.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <set>
#include <string>
#include <thread>
#include <vector>

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

// Names, with "@time" where the time is set.
std::vector<std::string> Names(const std::vector<MacroLibraryEntry>& entries) {
    std::vector<std::string> out;
    for (const MacroLibraryEntry& e : entries) {
        out.push_back(e.time == 0 ? e.name : e.name + "@" + std::to_string(e.time));
    }
    return out;
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
    EXPECT_EQ(deep.parent, sub.id);
    EXPECT_EQ(inner.parent, deep.id);
    EXPECT_EQ(inner.depth, 3);

    ASSERT_EQ(lib.Skipped().size(), 2u);
    for (const SkippedLibraryFile& s : lib.Skipped()) {
        const bool isShort = s.path.ends_with("short.mf");
        EXPECT_EQ(s.invalid, !isShort) << s.path;
        if (!isShort) {
            EXPECT_NE(s.reason.find("invalid format !!"), std::string::npos);
        }
    }
}

TEST_F(MacroLibraryTest, NewFolderGetsUnderscoresAndDeleteKeepsNonEmptyFolders) {
    MacroLibrary lib = Library();
    ASSERT_TRUE(lib.Rescan());
    auto made = lib.CreateLibraryFolder(0, "a/b:c");
    ASSERT_TRUE(made) << made.message();
    EXPECT_EQ(*made, Root() + "/a_b_c");

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

// An import never replaces a file: the name the clock gives is taken, so the next one is.
TEST_F(MacroLibraryTest, ImportTakesTheNextFreeTimeName) {
    fs::create_directories(Root() + "/Dest");
    WriteMacro("Dest/5.mf", "Taken", 1);
    const Bytes taken = folder_.Read("Favorite/Dest/5.mf");
    MacroLibrary lib = Library();
    ASSERT_TRUE(lib.Rescan());
    const std::string outside = folder_.Write("outside.mf", kOldFile);
    auto imported = lib.ImportMacroFile(outside, Only(lib, "Dest").id);
    ASSERT_TRUE(imported) << imported.message();
    EXPECT_EQ(*imported, Root() + "/Dest/6.mf");
    EXPECT_EQ(folder_.Read("Favorite/Dest/6.mf"), kOldFile);
    EXPECT_EQ(folder_.Read("Favorite/Dest/5.mf"), taken);
    ASSERT_NE(lib.FindPath(*imported), nullptr);
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

}  // namespace
}  // namespace qvm
