// The one reader of data files: only regular files, never waiting, never unbounded.
#include <gtest/gtest.h>

#include <filesystem>
#include <optional>

#include "base/atomic_file.h"
#include "support/fifo_guard.h"
#include "support/temp_folder.h"

namespace qvm {
namespace {

using Bytes = std::vector<std::uint8_t>;

TEST(ReadFileIfExists, OnlyRegularFilesWithinTheBound) {
    test::TempFolder dir;
    const std::string four = dir.Write("four", Bytes{1, 2, 3, 4});
    const std::string empty = dir.Write("empty", Bytes{});
    std::filesystem::create_directory(dir.File("folder"));
    const test::FifoGuard fifo(dir.File("fifo"));
    std::filesystem::create_symlink(fifo.path(), dir.File("link-to-fifo"));
    std::filesystem::create_symlink(four, dir.File("link-to-four"));

    const struct {
        std::string path;
        std::size_t bound;
        std::optional<Bytes> bytes;  // std::nullopt: an error (or absent, see below)
        ErrorKind kind;
        std::string message;  // of the error, after the path
    } cases[] = {
        {four, 4, Bytes{1, 2, 3, 4}, ErrorKind::Other, ""},
        {dir.File("link-to-four"), 4, Bytes{1, 2, 3, 4}, ErrorKind::Other, ""},
        {empty, 0, Bytes{}, ErrorKind::Other, ""},
        {four, 3, std::nullopt, ErrorKind::BadInput, " is larger than 3 bytes"},
        {dir.File("folder"), 100, std::nullopt, ErrorKind::BadInput, " is a folder"},
        {fifo.path(), 100, std::nullopt, ErrorKind::BadInput, " is not a regular file"},
        {dir.File("link-to-fifo"), 100, std::nullopt, ErrorKind::BadInput,
         " is not a regular file"},
        {"/dev/null", 100, std::nullopt, ErrorKind::BadInput, " is not a regular file"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path);
        auto read = ReadFileIfExists(c.path, c.bound);
        ASSERT_EQ(read.ok(), c.bytes.has_value()) << (read ? "" : read.message());
        if (read) {
            ASSERT_TRUE(read->has_value());
            EXPECT_EQ(**read, *c.bytes);
        } else {
            EXPECT_EQ(read.kind(), c.kind);
            EXPECT_EQ(read.message(), c.path + c.message);
        }
    }
    auto absent = ReadFileIfExists(dir.File("absent"), 100);
    ASSERT_TRUE(absent);
    EXPECT_FALSE(absent->has_value());
}

}  // namespace
}  // namespace qvm
