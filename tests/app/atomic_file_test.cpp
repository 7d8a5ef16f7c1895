// Temporary files left beside a file by a writer that died before its rename are removed
// by the next write of that file; a live writer's, and anything that merely looks alike,
// stay. Several writers of one file at once all succeed.
#include "base/atomic_file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "support/temp_folder.h"

namespace qvm {
namespace {

namespace fs = std::filesystem;
using test::TempFolder;

enum class Neighbour { Abandoned, HeldByALiveWriter, Link, Folder, Fifo };

struct NeighbourCase {
    const char* name;  // made beside set.ini; nullptr: a name of the writer's own pattern
    Neighbour kind;
    bool removed;
};

const NeighbourCase kNeighbours[] = {
    {".set.ini.tmp-a1B2c3", Neighbour::Abandoned, true},
    {nullptr, Neighbour::Abandoned, true},
    {nullptr, Neighbour::HeldByALiveWriter, false},
    // Names that only look alike: the user's own files.
    {".set.ini.backup", Neighbour::Abandoned, false},
    {".set.ini.tmp-abc12", Neighbour::Abandoned, false},
    {".set.ini.tmp-abc1234", Neighbour::Abandoned, false},
    {".set.ini.tmp-ab_c12", Neighbour::Abandoned, false},
    {"set.ini.tmp-abc123", Neighbour::Abandoned, false},
    {".set.ini.tmp-", Neighbour::Abandoned, false},
    {".other.ini.tmp-abc123", Neighbour::Abandoned, false},
    // Of the pattern, but no file a writer makes.
    {".set.ini.tmp-link12", Neighbour::Link, false},
    {".set.ini.tmp-fold12", Neighbour::Folder, false},
    {".set.ini.tmp-fifo12", Neighbour::Fifo, false},
};

const std::vector<uint8_t> kSettings = {'[', 's', ']', '\n', 'k', '=', '1', '\n'};

TEST(AtomicFileCleanup, RemovesWhatDeadWritersLeftAndNothingElse) {
    for (const NeighbourCase& c : kNeighbours) {
        SCOPED_TRACE(c.name ? c.name : "a name of the pattern");
        TempFolder dir;
        const std::string target = dir.File("set.ini");
        ASSERT_TRUE(WriteFileAtomically(target, std::vector<uint8_t>{'o', 'l', 'd'}));
        std::string made = c.name ? dir.File(c.name) : TempFilePattern(target);
        UniqueFd held;
        switch (c.kind) {
            case Neighbour::Abandoned:
                if (c.name) {
                    dir.Write(c.name, "half a file");
                } else {
                    held = CreateHeldFile(made);
                    ASSERT_TRUE(held) << made;
                    held.reset();  // its writer died: the lock went with it
                }
                break;
            case Neighbour::HeldByALiveWriter:
                held = CreateHeldFile(made);
                ASSERT_TRUE(held) << made;
                break;
            case Neighbour::Link:
                fs::create_symlink(target, made);
                break;
            case Neighbour::Folder:
                fs::create_directory(made);
                break;
            case Neighbour::Fifo:
                ASSERT_EQ(::mkfifo(made.c_str(), 0600), 0);
                break;
        }
        ASSERT_TRUE(WriteFileAtomically(target, kSettings));
        EXPECT_EQ(fs::exists(fs::symlink_status(made)), !c.removed);
        auto written = ReadFileIfExists(target);
        ASSERT_TRUE(written && *written);
        EXPECT_EQ(**written, kSettings);
        // Only what the case made is beside the file: the writer left nothing of its own.
        std::size_t entries = 0;
        for ([[maybe_unused]] const auto& e : fs::directory_iterator(dir.path())) ++entries;
        EXPECT_EQ(entries, c.removed ? 1u : 2u);
        // Once its writer is gone, a held file goes at the next write.
        if (c.kind == Neighbour::HeldByALiveWriter) {
            held.reset();
            ASSERT_TRUE(WriteFileAtomically(target, kSettings));
            EXPECT_FALSE(fs::exists(made));
        }
    }
}

// Every writer clears the others' leftovers before it writes: none may take a live
// writer's file for a dead one's, or that writer's rename would fail.
TEST(AtomicFileCleanup, WritersOfOneFileAtOnceAllSucceed) {
    constexpr int kWriters = 4;
    constexpr int kWritesEach = 60;
    TempFolder dir;
    const std::string target = dir.File("set.ini");
    std::vector<std::vector<uint8_t>> contents;
    for (int w = 0; w < kWriters; ++w) contents.emplace_back(512, static_cast<uint8_t>('a' + w));
    std::vector<int> failures(kWriters, 0);
    std::vector<std::string> lastError(kWriters);
    {
        std::vector<std::jthread> writers;
        for (int w = 0; w < kWriters; ++w) {
            writers.emplace_back([&, w] {
                for (int i = 0; i < kWritesEach; ++i) {
                    if (Status s = WriteFileAtomically(target, contents[w]); !s) {
                        ++failures[w];
                        lastError[w] = s.message();
                    }
                }
            });
        }
    }
    for (int w = 0; w < kWriters; ++w) EXPECT_EQ(failures[w], 0) << lastError[w];
    auto written = ReadFileIfExists(target);
    ASSERT_TRUE(written && *written);
    EXPECT_NE(std::find(contents.begin(), contents.end(), **written), contents.end());
    std::size_t entries = 0;
    for ([[maybe_unused]] const auto& e : fs::directory_iterator(dir.path())) ++entries;
    EXPECT_EQ(entries, 1u);
}

// The macro library stages a new macro under a pattern of its own; the staged file is
// held until it is renamed, and removed when it is not.
TEST(AtomicFileCleanup, AStagedFileIsHeldUntilKeptAndRemovedOtherwise) {
    TempFolder dir;
    const std::string pattern = dir.File(".import-XXXXXX");
    const std::vector<uint8_t> bytes = {1, 2, 3};
    std::string kept;
    {
        auto staged = WriteUniqueFile(pattern, bytes);
        ASSERT_TRUE(staged) << staged.message();
        RemoveAbandonedFiles(pattern);
        EXPECT_TRUE(fs::exists(staged->path())) << "a held file was taken for abandoned";
        kept = dir.File("placed");
        fs::rename(staged->path(), kept);
        staged->Keep();
    }
    EXPECT_TRUE(fs::exists(kept));
    std::string dropped;
    {
        auto staged = WriteUniqueFile(pattern, bytes);
        ASSERT_TRUE(staged);
        dropped = staged->path();
    }
    EXPECT_FALSE(fs::exists(dropped));
}

}  // namespace
}  // namespace qvm
