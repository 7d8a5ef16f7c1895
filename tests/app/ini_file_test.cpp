#include "base/ini_file.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <filesystem>

#include "support/temp_folder.h"

namespace qvm {
namespace {

using Bytes = std::vector<std::uint8_t>;
using test::TempFolder;

// The text "[s]\nk=é€\n" in each encoding a settings file may come in.
struct EncodingCase {
    const char* label;
    Bytes bytes;
    bool expectWarning;
};

class IniEncodingTest : public testing::TestWithParam<EncodingCase> {};

TEST_P(IniEncodingTest, ReadsTheSameValue) {
    TempFolder dir;
    const std::string path = dir.Write("enc.ini", GetParam().bytes);
    const IniFile file = IniFile::Load(path);
    const bool valid = !GetParam().expectWarning;
    EXPECT_EQ(file.Warning().empty(), valid) << file.Warning();
    EXPECT_EQ(file.GetString("s", "k", kNoString), valid ? "\xC3\xA9\xE2\x82\xAC" : kNoString);
}

INSTANTIATE_TEST_SUITE_P(
    Table, IniEncodingTest,
    testing::Values(
        EncodingCase{"utf16le_bom",
                     {0xFF, 0xFE, 0x5B, 0x00, 0x73, 0x00, 0x5D, 0x00, 0x0A, 0x00,
                      0x6B, 0x00, 0x3D, 0x00, 0xE9, 0x00, 0xAC, 0x20, 0x0A, 0x00},
                     false},
        EncodingCase{"utf16be_bom",
                     {0xFE, 0xFF, 0x00, 0x5B, 0x00, 0x73, 0x00, 0x5D, 0x00, 0x0A,
                      0x00, 0x6B, 0x00, 0x3D, 0x00, 0xE9, 0x20, 0xAC, 0x00, 0x0A},
                     false},
        EncodingCase{"utf8_bom",
                     {0xEF, 0xBB, 0xBF, 0x5B, 0x73, 0x5D, 0x0A, 0x6B, 0x3D, 0xC3, 0xA9, 0xE2, 0x82,
                      0xAC, 0x0A},
                     false},
        EncodingCase{"utf8_plain",
                     {0x5B, 0x73, 0x5D, 0x0A, 0x6B, 0x3D, 0xC3, 0xA9, 0xE2, 0x82, 0xAC, 0x0A},
                     false},
        EncodingCase{"garbage", {0x00, 0xFF, 0x13, 0x9A, 0x00, 0x3D, 0xC0, 0x0A, 0xFE}, true}),
    [](const auto& info) { return std::string(info.param.label); });

TEST(IniFileTest, SerializesUtf16LeWithBomAndCrLf) {
    IniFile file;
    file.SetString("s", "k", "\xC3\xA9");
    const Bytes expected = {0xFF, 0xFE, 0x5B, 0x00, 0x73, 0x00, 0x5D, 0x00, 0x0D, 0x00, 0x0A,
                            0x00, 0x6B, 0x00, 0x3D, 0x00, 0xE9, 0x00, 0x0D, 0x00, 0x0A, 0x00};
    EXPECT_EQ(file.Serialize(), expected);
}

TEST(IniFileTest, ValuesRoundTripThroughSave) {
    const std::vector<std::string> values = {"plain",
                                             "",
                                             "  leading and trailing  ",
                                             "\"quoted\"",
                                             "'single'",
                                             "a=b=c",
                                             "; not a comment",
                                             "\xE4\xBF\x9D\xE7\x95\x99 \xF0\x9F\x98\x80",
                                             "\"",
                                             "tab\tinside"};
    TempFolder dir;
    IniFile file;
    for (std::size_t i = 0; i < values.size(); ++i) {
        file.SetString("Round", "key" + std::to_string(i), values[i]);
    }
    ASSERT_TRUE(file.Save(dir.File("rt.ini")));
    const IniFile back = IniFile::Load(dir.File("rt.ini"));
    EXPECT_EQ(back.Warning(), "");
    for (std::size_t i = 0; i < values.size(); ++i) {
        EXPECT_EQ(back.GetString("round", "KEY" + std::to_string(i), kNoString), values[i]) << i;
    }
}

// Decodes the ASCII text of a UTF-16LE file without the code under test.
std::string AsciiOfUtf16Le(const Bytes& bytes) {
    std::string text;
    for (std::size_t i = 2; i + 1 < bytes.size(); i += 2) text += static_cast<char>(bytes[i]);
    return text;
}

TEST(IniFileTest, UpdatesInPlaceKeepingCommentsOrderAndLineEnds) {
    TempFolder dir;
    const std::string path = dir.Write("set.ini",
                                       "; user notes\n[QZW]\nLanguage = 1033\nremote=1\n"
                                       "# keep\n\n[Other]\nx=1\n");
    IniFile file = IniFile::Load(path);
    file.SetInt("qzw", "language", 2052);
    file.SetString("QZW", "osd", "0");
    file.SetString("New", "a", "b");
    ASSERT_TRUE(file.Save(path));
    EXPECT_EQ(AsciiOfUtf16Le(dir.Read("set.ini")),
              "; user notes\n[QZW]\nLanguage=2052\nremote=1\nosd=0\n# keep\n\n[Other]\nx=1\n"
              "\n[New]\na=b\n");
}

struct IntCase {
    const char* value;  // nullptr: key absent
    int expected;
};

class IniGetIntTest : public testing::TestWithParam<IntCase> {};

TEST_P(IniGetIntTest, ParsesLikeTheProfileOperations) {
    IniFile file;
    if (GetParam().value) file.SetString("K", "code", GetParam().value);
    EXPECT_EQ(file.GetInt("K", "code", 77), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(Table, IniGetIntTest,
                         testing::Values(IntCase{"12", 12}, IntCase{"0x3b", 0x3B},
                                         IntCase{"0XE01C", 0xE01C}, IntCase{"-5", -5},
                                         IntCase{"+8", 8}, IntCase{"abc", 0}, IntCase{"12abc", 12},
                                         IntCase{"0x", 0}, IntCase{"", 77}, IntCase{nullptr, 77},
                                         IntCase{"4294967295", -1}, IntCase{"0xFFFFFFFF", -1}));

TEST(IniFileTest, LookupRules) {
    const std::string longValue(1200, 'x');
    const std::string text = "[Lang]\nName = \"  spaced \"\nname=second\nKey\nlong=" + longValue +
                             "\n[lang]\nonly=later\n";
    const IniFile file = IniFile::Parse(Bytes(text.begin(), text.end()));
    EXPECT_EQ(file.GetString("LANG", "NAME", kNoString), "  spaced ");  // first key wins
    EXPECT_EQ(file.GetString("Lang", "Key", kNoString), kNoString);     // no '='
    EXPECT_EQ(file.GetString("Lang", "long", kNoString).size(), kMaxIniValueUnits);
    EXPECT_EQ(file.GetString("Lang", "only", kNoString), kNoString);  // first section wins
    EXPECT_EQ(file.GetString("Missing", "x", "dflt"), "dflt");
    EXPECT_EQ(file.GetString("Missing", "x", longValue).size(), kMaxIniValueUnits);
}

struct MalformedCase {
    const char* label;
    Bytes bytes;
    const char* keyValue;  // value of [s] k, nullptr when it must be absent
    bool expectWarning;
};

class IniMalformedTest : public testing::TestWithParam<MalformedCase> {};

TEST_P(IniMalformedTest, RecoversWhatItCanAndWarns) {
    const MalformedCase& c = GetParam();
    const IniFile file = IniFile::Parse(c.bytes);
    EXPECT_EQ(file.GetString("s", "k", kNoString), c.keyValue ? c.keyValue : kNoString);
    EXPECT_EQ(!file.Warning().empty(), c.expectWarning) << file.Warning();
}

INSTANTIATE_TEST_SUITE_P(
    Table, IniMalformedTest,
    testing::Values(
        MalformedCase{"empty", {}, nullptr, false},
        MalformedCase{"lone_utf16_bom", {0xFF, 0xFE}, nullptr, false},
        MalformedCase{"lone_utf8_bom", {0xEF, 0xBB, 0xBF}, nullptr, false},
        MalformedCase{"odd_utf16_count",
                      {0xFF, 0xFE, 0x5B, 0x00, 0x73, 0x00, 0x5D, 0x00, 0x0A, 0x00, 0x6B, 0x00, 0x3D,
                       0x00, 0x31, 0x00, 0x0A},
                      "1",
                      true},
        MalformedCase{"lone_surrogate_value",
                      {0xFF, 0xFE, 0x5B, 0x00, 0x73, 0x00, 0x5D, 0x00, 0x0A, 0x00, 0x6B, 0x00, 0x3D,
                       0x00, 0x00, 0xD8},
                      "\xEF\xBF\xBD",
                      true},
        MalformedCase{"nul_in_line", {'[', 's', ']', '\n', 'k', '=', 0x00, '\n'}, nullptr, true},
        MalformedCase{"line_without_equals",
                      {'[', 's', ']', '\n', 'j', 'u', 'n', 'k', '\n', 'k', '=', '2'},
                      "2",
                      true},
        MalformedCase{"entry_before_section", {'k', '=', '1', '\n', '[', 's', ']'}, nullptr, true},
        MalformedCase{"cr_only_lines", {'[', 's', ']', '\r', 'k', '=', '3', '\r'}, "3", false}),
    [](const auto& info) { return std::string(info.param.label); });

// Files whose text is not (all) UTF-8: what they say is read, and a save writes it back
// as the same characters, never as U+FFFD.
struct LegacyTextCase {
    const char* label;
    Bytes file;
    std::string value;     // of [s] k, as read
    std::u16string saved;  // the text after adding osd=0 to [s], as UTF-16 units
};

class IniLegacyTextTest : public testing::TestWithParam<LegacyTextCase> {};

TEST_P(IniLegacyTextTest, SaveKeepsEveryCharacter) {
    const LegacyTextCase& c = GetParam();
    TempFolder dir;
    const std::string path = dir.Write("set.ini", c.file);
    IniFile file = IniFile::Load(path);
    EXPECT_EQ(file.GetString("s", "k", kNoString), c.value);
    file.SetInt("s", "osd", 0);
    ASSERT_TRUE(file.Save(path));
    Bytes expected = {0xFF, 0xFE};
    for (char16_t unit : c.saved) {
        expected.push_back(static_cast<std::uint8_t>(unit & 0xFF));
        expected.push_back(static_cast<std::uint8_t>(unit >> 8));
    }
    EXPECT_EQ(dir.Read("set.ini"), expected);
}

INSTANTIATE_TEST_SUITE_P(
    Table, IniLegacyTextTest,
    testing::Values(
        // Windows-1252: 0x80 is the euro sign, 0x81 has no character and keeps its code,
        // 0x9F is Y with diaeresis.
        LegacyTextCase{"windows1252",
                       {'[', 's', ']', '\r', '\n', 'k', '=', 'C', 'a', 'f', 0xE9, ' ', 0x80, 0x81,
                        0x9F, 0xFF, '\r', '\n'},
                       "Caf\xC3\xA9 \xE2\x82\xAC\xC2\x81\xC5\xB8\xC3\xBF",
                       u"[s]\r\nk=Caf\u00E9 \u20AC\u0081\u0178\u00FF\r\nosd=0\r\n"},
        LegacyTextCase{"latin1_umlauts",
                       {'[', 's', ']', '\n', 'k', '=', 0xE4, 0xF6, 0xFC, '\n'},
                       "\xC3\xA4\xC3\xB6\xC3\xBC",
                       u"[s]\nk=\u00E4\u00F6\u00FC\nosd=0\n"},
        // A byte-order mark says UTF-8; a stray 8-bit byte keeps its own meaning.
        LegacyTextCase{"utf8_bom_with_stray_byte",
                       {0xEF, 0xBB, 0xBF, '[', 's', ']', '\n', 'k', '=', 0xC3, 0xA9, 0xE9, '\n'},
                       "\xC3\xA9\xC3\xA9",
                       u"[s]\nk=\u00E9\u00E9\nosd=0\n"},
        // An unpaired surrogate reads as U+FFFD but its line is written back unchanged.
        LegacyTextCase{"utf16_unpaired_surrogate",
                       {0xFF, 0xFE, '[',  0,    's', 0,   ']', 0,   '\n', 0,   'j', 0,    '=',
                        0,    0x00, 0xD8, '\n', 0,   'k', 0,   '=', 0,    '1', 0,   '\n', 0},
                       "1",
                       u"[s]\nj=\xD800\nk=1\nosd=0\n"}),
    [](const auto& info) { return std::string(info.param.label); });

TEST(IniFileTest, MissingFileIsEmptyWithoutWarning) {
    TempFolder dir;
    const IniFile file = IniFile::Load(dir.File("absent.ini"));
    EXPECT_EQ(file.Warning(), "");
    EXPECT_FALSE(file.Unreadable());
}

TEST(IniFileTest, FolderInPlaceOfFileIsUnreadable) {
    TempFolder dir;
    std::filesystem::create_directory(dir.File("set.ini"));
    const IniFile file = IniFile::Load(dir.File("set.ini"));
    EXPECT_TRUE(file.Unreadable());
    EXPECT_NE(file.Warning().find("set.ini"), std::string::npos);
}

// Each case makes saving fail in a way that holds even for root.
struct SaveFailureCase {
    const char* label;
    std::string target;  // relative to the temporary folder
};

class IniSaveFailureTest : public testing::TestWithParam<SaveFailureCase> {};

TEST_P(IniSaveFailureTest, ReportsErrorAndLeavesOldFile) {
    TempFolder dir;
    const Bytes old = {'[', 'o', ']', '\n', 'k', '=', '1', '\n'};
    dir.Write("old.ini", old);
    std::filesystem::create_directory(dir.File("folder.ini"));
    dir.Write("folder.ini/inside", old);
    IniFile file;
    file.SetString("n", "k", "2");
    const Status saved = file.Save(dir.File(GetParam().target));
    EXPECT_FALSE(saved);
    EXPECT_FALSE(saved.message().empty());
    EXPECT_EQ(dir.Read("old.ini"), old);
    EXPECT_EQ(dir.Read("folder.ini/inside"), old);
    std::size_t entries = 0;
    for (const auto& e : std::filesystem::directory_iterator(dir.path())) {
        (void)e;
        ++entries;
    }
    EXPECT_EQ(entries, 2u) << "a temporary file was left behind";
}

INSTANTIATE_TEST_SUITE_P(Table, IniSaveFailureTest,
                         testing::Values(SaveFailureCase{"target_is_folder", "folder.ini"},
                                         SaveFailureCase{"folder_missing", "no/such/set.ini"},
                                         SaveFailureCase{"folder_is_a_file", "old.ini/set.ini"}),
                         [](const auto& info) { return std::string(info.param.label); });

// A file-size limit makes the write fail part-way, as a full disk would.
TEST(IniFileTest, FullDiskLeavesOldFileIntact) {
    TempFolder dir;
    const Bytes old = {'[', 'o', ']', '\n', 'k', '=', '1', '\n'};
    const std::string path = dir.Write("set.ini", old);
    IniFile big;
    big.SetString("s", "k", std::string(64 * 1024, 'x'));

    rlimit saved{};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &saved), 0);
    const auto oldHandler = ::signal(SIGXFSZ, SIG_IGN);
    rlimit small = saved;
    small.rlim_cur = 4096;
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
    const Status result = big.Save(path);
    ::setrlimit(RLIMIT_FSIZE, &saved);
    ::signal(SIGXFSZ, oldHandler);

    EXPECT_FALSE(result);
    EXPECT_EQ(dir.Read("set.ini"), old);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 1);
}

TEST(IniFileTest, SaveKeepsPermissionsAndFollowsSymlink) {
    TempFolder dir;
    const std::string real = dir.Write("real.ini", std::string("[a]\nk=1\n"));
    ::chmod(real.c_str(), 0600);
    std::filesystem::create_symlink(real, dir.File("link.ini"));
    IniFile file = IniFile::Load(dir.File("link.ini"));
    file.SetInt("a", "k", 2);
    ASSERT_TRUE(file.Save(dir.File("link.ini")));
    EXPECT_TRUE(std::filesystem::is_symlink(dir.File("link.ini")));
    EXPECT_EQ(IniFile::Load(real).GetInt("a", "k", 0), 2);
    struct stat st {};
    ASSERT_EQ(::stat(real.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
}

}  // namespace
}  // namespace qvm
