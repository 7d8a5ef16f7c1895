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

Bytes ReadWhole(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), {});
}

// Two programs importing at the same second: each import ends up under a name of its own
// (the clock's name taken, the next), holding its own file, and no staging file is left.
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
