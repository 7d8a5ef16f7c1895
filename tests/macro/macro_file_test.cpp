// Macro files of the library, as other programs read and write them: the bytes of
// version 6.2, the older 6.1 read alike, and cut, lying or foreign files refused.
#include "macro/macro_file.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/temp_folder.h"

namespace qvm {
namespace {

using Bytes = std::vector<uint8_t>;

Bytes Cat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
    return out;
}

// "_@_MF6.2_" / "_@_MF6.1_" as 16-bit strings.
const Bytes kMagic62 = {0xFF, 0xFE, 0xFF, 0x09, 0x5F, 0x00, 0x40, 0x00, 0x5F, 0x00, 0x4D,
                        0x00, 0x46, 0x00, 0x36, 0x00, 0x2E, 0x00, 0x32, 0x00, 0x5F, 0x00};
const Bytes kMagic61 = {0xFF, 0xFE, 0xFF, 0x09, 0x5F, 0x00, 0x40, 0x00, 0x5F, 0x00, 0x4D,
                        0x00, 0x46, 0x00, 0x36, 0x00, 0x2E, 0x00, 0x31, 0x00, 0x5F, 0x00};
const Bytes kEmptyString = {0xFF, 0xFE, 0xFF, 0x00};
const Bytes kTime = {0xC3, 0xB2, 0xA1, 0x65, 0x00, 0x00, 0x00, 0x00};  // 1705096899
constexpr int64_t kTimeValue = 0x65A1B2C3;
const Bytes kNameAb = {0xFF, 0xFE, 0xFF, 0x02, 0x41, 0x00, 0x62, 0x00};
const Bytes kModeLoop = {0x09, 0x00, 0x00, 0x00};
const Bytes kCodeLength6 = {0x06, 0x00, 0x00, 0x00};
// Key A down, wait 50 ms, key A up.
const Bytes kCode = {0x83, 0x04, 0x88, 0x32, 0x84, 0x04};

const Bytes kFile62 = Cat({kMagic62, kEmptyString, kTime, kNameAb, kModeLoop, kCodeLength6, kCode});
const Bytes kFile61 = Cat({kMagic61, kTime, kNameAb, kModeLoop, kCodeLength6, kCode});

std::vector<MacroItem> SampleItems() {
    return {MakeMacroItem(Bytes{0x83, 0x04}), MakeMacroItem(Bytes{0x88, 0x32}),
            MakeMacroItem(Bytes{0x84, 0x04})};
}

bool StartsWith(const std::string& text, const std::string& prefix) {
    return text.rfind(prefix, 0) == 0;
}

// Written as version 6.2 to the byte, read back the same; an empty macro has code length 0.
TEST(MacroFile, WritesVersion62ByteForByteAndReadsItBack) {
    const struct {
        std::string name;
        std::vector<MacroItem> items;
        Bytes file;
    } cases[] = {
        {"Ab", SampleItems(), kFile62},
        {"", {}, Cat({kMagic62, kEmptyString, kTime, kEmptyString, kModeLoop, Bytes{0, 0, 0, 0}})},
    };
    test::TempFolder folder;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = folder.File("m.mf");
        ASSERT_TRUE(WriteMacroFile(path, c.name, 9, c.items, [] { return kTimeValue; }));
        EXPECT_EQ(folder.Read("m.mf"), c.file);
        auto file = ReadMacroFile(path);
        ASSERT_TRUE(file) << file.message();
        EXPECT_EQ(file->name, c.name);
        EXPECT_EQ(EncodeMacroCode(file->items), EncodeMacroCode(c.items));
    }
}

// Whole, a file of either version loads alike; cut anywhere, it is refused.
TEST(MacroFile, EveryCutOfAValidFileIsRefusedOrSkipped) {
    test::TempFolder folder;
    for (const Bytes* whole : {&kFile61, &kFile62}) {
        auto file = DecodeMacroFile(*whole);
        ASSERT_TRUE(file) << file.message();
        EXPECT_EQ(file->name, "Ab");
        EXPECT_EQ(file->time, kTimeValue);
        EXPECT_EQ(EncodeMacroCode(file->items), kCode);
        for (std::size_t n = 0; n < whole->size(); ++n) {
            SCOPED_TRACE(n);
            const Bytes cut(whole->begin(), whole->begin() + static_cast<std::ptrdiff_t>(n));
            auto decoded = DecodeMacroFile(cut);
            ASSERT_FALSE(decoded);
            EXPECT_TRUE(StartsWith(decoded.message(), "invalid format !!"));

            const MacroFileCheck check = CheckMacroFile(folder.Write("cut.mf", cut));
            EXPECT_EQ(check.verdict, n < kMacroFileMinBytes ? MacroFileVerdict::kSkipped
                                                            : MacroFileVerdict::kInvalid);
            EXPECT_FALSE(check.reason.empty());
        }
    }
}

// Lying lengths are refused without reading past the end; another version's magic or a
// backup file's tag is no macro file.
TEST(MacroFile, LyingOrForeignFilesAreRefused) {
    Bytes otherVersion = kMagic62;
    otherVersion[18] = '3';
    const Bytes backupTag = {0xFF, 0xFE, 0xFF, 0x07, 0x5F, 0,    0x40, 0, 0x5F, 0, 0x42,
                             0,    0x46, 0,    0x36, 0,    0x5F, 0,    0, 0,    0, 0};
    const Bytes rest = Cat({kEmptyString, kTime, kNameAb, kModeLoop, kCodeLength6, kCode});
    struct Case {
        const char* what;
        Bytes file;
    };
    const Case cases[] = {
        {"code length 0xFFFFFFFF", Cat({kMagic62, kEmptyString, kTime, kNameAb, kModeLoop,
                                        Bytes{0xFF, 0xFF, 0xFF, 0xFF}, kCode})},
        {"code length one past the end",
         Cat({kMagic62, kEmptyString, kTime, kNameAb, kModeLoop, Bytes{0x07, 0, 0, 0}, kCode})},
        {"name of 0xFFFD units",
         Cat({kMagic62, kEmptyString, kTime, Bytes{0xFF, 0xFE, 0xFF, 0xFF, 0xFD, 0xFF, 0x41, 0},
              kModeLoop, kCodeLength6, kCode})},
        {"reserved string of 200 units",
         Cat({kMagic62, Bytes{0xFF, 0xFE, 0xFF, 200}, kTime, kNameAb, kModeLoop, kCodeLength6})},
        {"magic of 0xFFFF units", Cat({Bytes{0xFF, 0xFE, 0xFF, 0xFF, 0xFF, 0xFF}, kTime, kTime})},
        {"version 6.3", Cat({otherVersion, rest})},
        {"a backup file", Cat({backupTag, rest})},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        auto decoded = DecodeMacroFile(c.file);
        ASSERT_FALSE(decoded);
        EXPECT_TRUE(StartsWith(decoded.message(), "invalid format !!")) << decoded.message();
    }
}

}  // namespace
}  // namespace qvm
