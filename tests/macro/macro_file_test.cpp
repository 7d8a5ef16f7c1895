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

void ExpectSampleItems(const std::vector<MacroItem>& items) {
    const std::vector<MacroItem> want = SampleItems();
    ASSERT_EQ(items.size(), want.size());
    for (std::size_t i = 0; i < want.size(); ++i) EXPECT_TRUE(items[i].SameInstruction(want[i]));
}

bool StartsWith(const std::string& text, const std::string& prefix) {
    return text.rfind(prefix, 0) == 0;
}

TEST(MacroFile, WritesVersion62ByteForByte) {
    test::TempFolder folder;
    const std::string path = folder.File("m.mf");
    ASSERT_TRUE(WriteMacroFile(path, "Ab", 9, SampleItems(), [] { return kTimeValue; }));
    EXPECT_EQ(folder.Read("m.mf"), kFile62);
}

TEST(MacroFile, BothVersionsLoadIdentically) {
    test::TempFolder folder;
    for (const Bytes* bytes : {&kFile61, &kFile62}) {
        SCOPED_TRACE(bytes == &kFile61 ? "6.1" : "6.2");
        const std::string path = folder.Write("v.mf", *bytes);
        auto file = ReadMacroFile(path);
        ASSERT_TRUE(file) << file.message();
        EXPECT_EQ(file->name, "Ab");
        EXPECT_EQ(file->mode, 9);
        EXPECT_EQ(file->time, kTimeValue);
        ExpectSampleItems(file->items);

        auto entry = ReadMacroFileHeader(path);
        ASSERT_TRUE(entry) << entry.message();
        EXPECT_EQ(entry->name, "Ab");
        EXPECT_EQ(entry->type, 9);
        EXPECT_EQ(entry->size, 6 + 33);
        EXPECT_EQ(entry->time, kTimeValue);
        EXPECT_EQ(entry->path, path);
    }
}

TEST(MacroFile, EmptyMacroHasCodeLengthZeroAndSize33) {
    test::TempFolder folder;
    const std::string path = folder.File("e.mf");
    ASSERT_TRUE(WriteMacroFile(path, "", 8, {}, [] { return kTimeValue; }));
    const Bytes written = folder.Read("e.mf");
    EXPECT_EQ(written, Cat({kMagic62, kEmptyString, kTime, kEmptyString, Bytes{8, 0, 0, 0},
                            Bytes{0, 0, 0, 0}}));
    auto entry = ReadMacroFileHeader(path);
    ASSERT_TRUE(entry) << entry.message();
    EXPECT_EQ(entry->size, 33);
    auto file = ReadMacroFile(path);
    ASSERT_TRUE(file) << file.message();
    EXPECT_TRUE(file->items.empty());
}

TEST(MacroFile, CodeIsReadUpToTheEndByte) {
    const Bytes code = {0x83, 0x04, 0x00, 0x84, 0x04};
    const Bytes file =
        Cat({kMagic62, kEmptyString, kTime, kNameAb, kModeLoop, Bytes{0x05, 0, 0, 0}, code});
    auto decoded = DecodeMacroFile(file);
    ASSERT_TRUE(decoded) << decoded.message();
    ASSERT_EQ(decoded->items.size(), 1u);
    EXPECT_TRUE(decoded->items[0].SameInstruction(MakeMacroItem(Bytes{0x83, 0x04})));
}

TEST(MacroFile, OtherMagicIsInvalidFormat) {
    auto magic = [](char16_t digit) {
        Bytes m = kMagic62;
        m[18] = static_cast<uint8_t>(digit);
        return m;
    };
    Bytes lowerCase = kMagic62;
    lowerCase[10] = 'm';  // "_@_mF6.2_"
    const Bytes backupTag = {0xFF, 0xFE, 0xFF, 0x07, 0x5F, 0,    0x40, 0, 0x5F, 0, 0x42,
                             0,    0x46, 0,    0x36, 0,    0x5F, 0,    0, 0,    0, 0};
    const Bytes narrowText = {0x09, '_', '@', '_', 'M', 'F', '6', '.', '3', '_'};
    for (const Bytes& head : {magic('0'), magic('3'), lowerCase, backupTag, narrowText}) {
        const Bytes file =
            Cat({head, kEmptyString, kTime, kNameAb, kModeLoop, kCodeLength6, kCode});
        auto decoded = DecodeMacroFile(file);
        ASSERT_FALSE(decoded);
        EXPECT_TRUE(StartsWith(decoded.message(), "invalid format !!")) << decoded.message();
    }
}

TEST(MacroFile, EveryCutOfAValidFileIsRefusedOrSkipped) {
    test::TempFolder folder;
    for (const Bytes* whole : {&kFile61, &kFile62}) {
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

TEST(MacroFile, LyingLengthsAreRefusedWithoutReadingPastTheEnd) {
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
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        auto decoded = DecodeMacroFile(c.file);
        ASSERT_FALSE(decoded);
        EXPECT_TRUE(StartsWith(decoded.message(), "invalid format !!")) << decoded.message();
    }
}

TEST(MacroFile, FullReadNeedsTheMfSuffix) {
    test::TempFolder folder;
    const struct {
        const char* name;
        bool loads;
    } cases[] = {{"a.mf", true},      {"b.MF", true}, {"c.mF", true},
                 {"d.mf.bak", false}, {"emf", false}, {"f.bf", false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto file = ReadMacroFile(folder.Write(c.name, kFile62));
        EXPECT_EQ(file.ok(), c.loads);
    }
    EXPECT_FALSE(ReadMacroFile(folder.File("missing.mf")));
}

TEST(MacroFile, NonAsciiNameSurvivesAWriteAndRead) {
    test::TempFolder folder;
    const std::string name = "\xE5\xAE\x8F \xF0\x9F\x98\x80";  // CJK character, space, emoji
    const std::string path = folder.File("u.mf");
    ASSERT_TRUE(WriteMacroFile(path, name, 10, SampleItems(), [] { return kTimeValue; }));
    // 4 UTF-16 units: the emoji is a surrogate pair.
    const Bytes written = folder.Read("u.mf");
    const Bytes nameBytes(written.begin() + 34, written.begin() + 34 + 12);
    EXPECT_EQ(nameBytes,
              (Bytes{0xFF, 0xFE, 0xFF, 0x04, 0x8F, 0x5B, 0x20, 0x00, 0x3D, 0xD8, 0x00, 0xDE}));
    auto file = ReadMacroFile(path);
    ASSERT_TRUE(file) << file.message();
    EXPECT_EQ(file->name, name);
    EXPECT_EQ(file->mode, 10);
}

}  // namespace
}  // namespace qvm
