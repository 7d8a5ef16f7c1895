#include "macro/function_library.h"

#include <gtest/gtest.h>

#include <map>
#include <set>
#include <string>
#include <vector>

#include "base/ini_file.h"
#include "config/catalogue.h"
#include "platform/folders.h"
#include "support/temp_folder.h"

namespace qvm {
namespace {

// One line per item: "[name] path" for a group entry, "name = t,o1,o2,o3 'text'" for a
// function, so a whole list compares as data.
std::vector<std::string> Render(const FunctionLibrary& library) {
    std::vector<std::string> lines;
    for (const FunctionLibraryItem& item : library.items) {
        const MacroLibraryEntry& e = item.entry;
        if (e.IsFolder()) {
            lines.push_back("[" + e.name + "] " + e.path);
            continue;
        }
        lines.push_back(e.name + " = " + std::to_string(e.type) + "," + std::to_string(e.op1) +
                        "," + std::to_string(e.op2) + "," + std::to_string(e.op3) + " '" +
                        item.text + "'");
    }
    return lines;
}

// The data folder of the source tree: the files the program ships.
struct ShippedFixture : ::testing::Test {
    UiStrings ui;
    FunctionLibrary library = BuildFunctionLibrary(QVM_SOURCE_DATA_DIR, ui);
};

TEST_F(ShippedFixture, GroupsInOrderAndEveryTextIsTheFormattersOwn) {
    EXPECT_EQ(library.problems, std::vector<std::string>{});
    std::vector<std::string> groups;
    int32_t groupId = 0;
    std::set<std::vector<int32_t>> builtinCodes;
    for (const FunctionLibraryItem& item : library.items) {
        const MacroLibraryEntry& e = item.entry;
        if (e.IsFolder()) {
            groups.push_back(e.name + " " + e.path);
            groupId = std::stoi(e.path.substr(kGroupPathPrefix.size()));
            continue;
        }
        SCOPED_TRACE(e.name);
        EXPECT_EQ(e.parent, groupId);
        EXPECT_FALSE(e.name.empty());
        EXPECT_FALSE(e.description.empty());
        EXPECT_FALSE(item.text.empty());
        EXPECT_EQ(item.text, FormatButtonSlotWith(ui, item.Slot(), kDefaultDpiStep));
        // Functions whose text comes from their operands must not fall back to the bare
        // type name: that means a key, consumer usage or macro address the tables lack.
        if (e.type == 4 || e.type == 5 || e.type == 6 || (e.type >= 8 && e.type <= 10)) {
            EXPECT_NE(item.text, ui.type_str[e.type]);
        }
        if (groupId != kGroupLibrary) {
            EXPECT_TRUE(builtinCodes.insert({e.type, e.op1, e.op2, e.op3}).second)
                << "the same function is listed twice";
        }
    }
    EXPECT_EQ(groups,
              (std::vector<std::string>{"Advanced @_INTERNAL_201", "Mouse @_INTERNAL_202",
                                        "Keyboard @_INTERNAL_203", "Consumer @_INTERNAL_204",
                                        "Office shortcuts @_INTERNAL_210"}));
}

TEST_F(ShippedFixture, EveryConsumerKeyIsOffered) {
    std::set<int> offered;
    for (const FunctionLibraryItem& item : library.items) {
        if (item.entry.parent == kGroupConsumer && item.entry.type == 6) {
            offered.insert(item.entry.op1 + 256 * item.entry.op2);
        }
    }
    int rows = 0;
    for (const ConsumerKey& key : ui.consumer_keys) {
        if (key.usage == kConsumerKeyTerminator) break;
        ++rows;
        EXPECT_TRUE(offered.count(key.usage)) << key.name;
    }
    EXPECT_EQ(rows, 14);
}

TEST_F(ShippedFixture, KnownFunctionsCarryTheirDeviceCodes) {
    const std::set<std::string> expected = {
        "Left click = 4,1,0,0 'Left click'",
        "Forward = 4,16,0,0 'Forward'",
        "Scroll down = 4,0,255,0 'Scroll down'",
        "Double click = 8,26,0,255 'Double click'",
        "Triple click = 8,20,0,255 'Triple click'",
        "Tilt left = 8,0,0,255 'Tilt left'",
        "Tilt right = 8,10,0,255 'Tilt right'",
        "DPI loop = 14,0,0,0 'DPI loop'",
        "Fire button (100 ms) = 27,1,10,0 'Fire button (100ms)'",
        "Copy = 5,1,6,0 'Ctrl + C'",
        "Switch window = 5,4,43,0 'Alt + Tab'",
        "Task manager = 5,3,41,0 'Ctrl + Shift + Esc'",
        "Win = 5,8,0,0 'Win'",
        "F12 = 5,0,69,0 'F12'",
        "Web Browser = 6,35,2,0 'Web Browser'",
        "Volume + = 6,233,0,0 'Volume +'",
        "Save as = 5,3,22,0 'Ctrl + Shift + S'",
    };
    const std::vector<std::string> lines = Render(library);
    const std::set<std::string> all(lines.begin(), lines.end());
    for (const std::string& line : expected) EXPECT_TRUE(all.count(line)) << line;
}

struct SyntheticCase {
    const char* what;
    std::map<std::string, std::string> files;
    std::vector<std::string> expected;
    std::size_t problems = 0;
};

TEST(FunctionLibrary, SyntheticFiles) {
    const std::string a199(199, 'a');
    const std::string entry = "type=4\nop1=1\n";
    const SyntheticCase cases[] = {
        {"only Mouse section 3",
         {{"bulitin.ini", "[Mouse3]\nname=L\ndesc=d\n" + entry}},
         {"[Mouse] @_INTERNAL_202", "L = 4,1,0,0 'Left click'"}},
        {"sections above 99 and without a name are not read",
         {{"bulitin.ini", "[Consumer100]\nname=X\n" + entry + "[Consumer0]\ndesc=no name\n" +
                              entry + "[Consumer99]\nname=V\ntype=6\nop1=0xE9\n"}},
         {"[Consumer] @_INTERNAL_204", "V = 6,233,0,0 'Volume +'"}},
        {"groups in fixed order, entries by section number, missing keys are 0",
         {{"bulitin.ini",
           "[Keyboard10]\nname=K10\ntype=5\nop2=4\n[Keyboard2]\nname=K2\n"
           "[Advanced0]\nname=\ntype=12\n"}},
         {"[Advanced] @_INTERNAL_201", " = 12,0,0,0 'DPI+'", "[Keyboard] @_INTERNAL_203",
          "K2 = 0,0,0,0 'Default'", "K10 = 5,0,4,0 'A'"}},
        {"negative operand is the signed byte; one out of byte range is refused",
         {{"bulitin.ini",
           "[Mouse0]\nname=Down\ntype=4\nop2=-1\n[Mouse1]\nname=Bad\ntype=4\n"
           "op1=256\n[Mouse2]\nname=BadType\ntype=-2\n"}},
         {"[Mouse] @_INTERNAL_202", "Down = 4,0,-1,0 'Scroll down'"},
         2},
        {"numbers that fit only after wrapping at 32 bits are refused",
         {{"bulitin.ini",
           "[Mouse0]\nname=Wrap\ntype=4294967300\nop1=1\n[Mouse1]\nname=Op\ntype=4\n"
           "op2=0x100000001\n[Mouse2]\nname=L\n" +
               entry}},
         {"[Mouse] @_INTERNAL_202", "L = 4,1,0,0 'Left click'"},
         2},
        {"library files sorted by name; without name or tag, or not .ini, skipped",
         {{"bulitin.ini", ""},
          {"library/b.ini", "[DB]\nname=Bee\ntag=B\n[B0]\nname=b0\n" + entry},
          {"library/a.ini", "[DB]\nname=Ay\ntag=T\n[T1]\nname=a1\n" + entry},
          {"library/C.INI", "[DB]\nname=Cee\ntag=C\n[C0]\nname=c0\n" + entry},
          {"library/notag.ini", "[DB]\nname=NoTag\n[0]\nname=x\n" + entry},
          {"library/noname.ini", "[DB]\ntag=N\n[N0]\nname=x\n" + entry},
          {"library/readme.txt", "[DB]\nname=Txt\ntag=R\n[R0]\nname=x\n" + entry}},
         {"[Cee] @_INTERNAL_210", "c0 = 4,1,0,0 'Left click'", "[Ay] @_INTERNAL_210",
          "a1 = 4,1,0,0 'Left click'", "[Bee] @_INTERNAL_210", "b0 = 4,1,0,0 'Left click'"},
         2},
        {"names cut at 200 UTF-16 units, a broken line reported, missing bulitin.ini",
         {{"library/long.ini", "[DB]\nname=" + a199 + "xyz\ntag=L\n[L0]\nname=" + a199 +
                                   "\xE2\x82\xAC\xE2\x82\xAC\nno equals sign\n" + entry}},
         {"[" + a199 + "x] @_INTERNAL_210", a199 + "\xE2\x82\xAC = 4,1,0,0 'Left click'"},
         2},
    };
    for (const SyntheticCase& c : cases) {
        SCOPED_TRACE(c.what);
        test::TempFolder folder;
        for (const auto& [name, text] : c.files) folder.Write(name, text);
        const FunctionLibrary library = BuildFunctionLibrary(folder.path(), UiStrings{});
        EXPECT_EQ(Render(library), c.expected);
        EXPECT_EQ(library.problems.size(), c.problems);
    }
}

TEST(FunctionLibrary, TextsFollowTheStringTablesAndDpiStep) {
    test::TempFolder folder;
    folder.Write("bulitin.ini",
                 "[Mouse0]\nname=Fk\ntype=15\nop1=16\nop2=16\n"
                 "[Consumer0]\nname=Mute\ntype=6\nop1=0xE2\n");
    UiStrings ui;
    ui.class_str[0] = "Maus";
    ui.consumer_keys[4].name = "Stumm";
    ui.word_str[kWordConsumer] = "Multimediatasten";
    const FunctionLibrary library = BuildFunctionLibrary(folder.path(), ui, 100);
    EXPECT_EQ(Render(library),
              (std::vector<std::string>{
                  "[Maus] @_INTERNAL_202", "Fk = 15,16,16,0 'DPI firekey [X:1600 , Y:1600]'",
                  "[Multimediatasten] @_INTERNAL_204", "Mute = 6,226,0,0 'Stumm'"}));
}

// The languages the shipped files are translated into.
constexpr int kShippedLanguages[] = {1031, 1036};

// A shipped file and the section prefixes of its groups.
struct ShippedFile {
    std::string file;
    std::vector<std::string> prefixes;
};

// The entry sections of one group, in list order: those that have an English name.
std::vector<std::string> EntrySections(const IniFile& ini, const std::string& prefix) {
    std::vector<std::string> sections;
    for (int number = 0; number < kGroupSectionCount; ++number) {
        const std::string section = prefix + std::to_string(number);
        if (ini.GetString(section, "name", kNoString) != kNoString) sections.push_back(section);
    }
    return sections;
}

// Every entry of the shipped files has its name and description in every shipped
// language, distinct within its group, and the reader shows exactly those texts.
TEST(FunctionLibraryLanguages, ShippedFilesTranslateEveryEntry) {
    std::vector<std::string> builtinPrefixes;
    for (const BuiltinFunctionGroup& g : kBuiltinFunctionGroups) {
        builtinPrefixes.emplace_back(g.prefix);
    }
    const ShippedFile files[] = {{"bulitin.ini", builtinPrefixes},
                                 {"library/example.ini", {"Office"}}};
    const UiStrings ui;
    for (const int language : kShippedLanguages) {
        SCOPED_TRACE(language);
        const std::string suffix = "_" + std::to_string(language);
        std::vector<std::string> expected;
        for (const ShippedFile& shipped : files) {
            const IniFile ini = IniFile::Load(JoinPath(QVM_SOURCE_DATA_DIR, shipped.file));
            ASSERT_EQ(ini.Warning(), "");
            if (shipped.file != "bulitin.ini") {
                EXPECT_NE(ini.GetString(kLibraryDbSection, "name" + suffix, ""), "");
            }
            for (const std::string& prefix : shipped.prefixes) {
                std::set<std::string> names;
                for (const std::string& section : EntrySections(ini, prefix)) {
                    SCOPED_TRACE(shipped.file + " " + section);
                    const std::string name = ini.GetString(section, "name" + suffix, "");
                    const std::string desc = ini.GetString(section, "desc" + suffix, "");
                    EXPECT_NE(name, "");
                    EXPECT_NE(desc, "");
                    EXPECT_TRUE(names.insert(name).second) << "two entries named " << name;
                    expected.push_back(name + " | " + desc);
                }
            }
        }
        EXPECT_GT(expected.size(), 100u);
        const FunctionLibrary library =
            BuildFunctionLibrary(QVM_SOURCE_DATA_DIR, ui, kDefaultDpiStep, language);
        EXPECT_EQ(library.problems, std::vector<std::string>{});
        std::vector<std::string> shown;
        for (const FunctionLibraryItem& item : library.items) {
            if (!item.entry.IsFolder()) {
                shown.push_back(item.entry.name + " | " + item.entry.description);
            }
        }
        EXPECT_EQ(shown, expected);
    }
}

// "[group]" for a group entry, "name | description" for a function.
std::vector<std::string> RenderTexts(const FunctionLibrary& library) {
    std::vector<std::string> lines;
    for (const FunctionLibraryItem& item : library.items) {
        const MacroLibraryEntry& e = item.entry;
        lines.push_back(e.IsFolder() ? "[" + e.name + "]" : e.name + " | " + e.description);
    }
    return lines;
}

struct LanguageCase {
    const char* what;
    std::map<std::string, std::string> files;
    int languageId;
    std::vector<std::string> expected;
};

TEST(FunctionLibraryLanguages, PicksTheLanguageAndFallsBackToEnglish) {
    const std::string a199(199, 'a');
    const std::string code = "type=4\nop1=1\n";
    const std::string translated =
        "[Mouse0]\nname=Left\ndesc=Left button\nname_1031=Links\ndesc_1031=Linke Taste\n"
        "name_1033=Other\n" +
        code;
    const LanguageCase cases[] = {
        {"the language's name and description",
         {{"bulitin.ini", translated}},
         1031,
         {"[Mouse]", "Links | Linke Taste"}},
        {"another language's keys are not read",
         {{"bulitin.ini", translated}},
         1036,
         {"[Mouse]", "Left | Left button"}},
        {"English reads the plain keys only",
         {{"bulitin.ini", translated}},
         kEnglishLanguageId,
         {"[Mouse]", "Left | Left button"}},
        {"missing or empty keys fall back one at a time",
         {{"bulitin.ini", "[Mouse0]\nname=A\ndesc=a\nname_1031=\ndesc_1031=d\n" + code +
                              "[Mouse1]\nname=B\ndesc=b\nname_1031=Bee\n" + code}},
         1031,
         {"[Mouse]", "A | d", "Bee | b"}},
        {"a file without translations reads as in English",
         {{"bulitin.ini", "[Keyboard3]\nname=K\ndesc=k\n" + code}},
         1036,
         {"[Keyboard]", "K | k"}},
        {"translations without an English name make no entry",
         {{"bulitin.ini",
           "[Mouse0]\nname_1031=X\ndesc_1031=x\n" + code + "[Mouse1]\nname=B\n" + code}},
         1031,
         {"[Mouse]", "B | "}},
        {"a library file's group name and entries",
         {{"bulitin.ini", ""},
          {"library/a.ini",
           "[DB]\nname=Ay\nname_1036=Ah\ntag=T\n[T0]\nname=t\nname_1036=tt\n" + code}},
         1036,
         {"[Ah]", "tt | "}},
        {"translated names are cut at 200 UTF-16 units",
         {{"bulitin.ini",
           "[Mouse0]\nname=L\nname_1031=" + a199 + "\xE2\x82\xAC\xE2\x82\xAC\n" + code}},
         1031,
         {"[Mouse]", a199 + "\xE2\x82\xAC | "}},
    };
    for (const LanguageCase& c : cases) {
        SCOPED_TRACE(c.what);
        test::TempFolder folder;
        for (const auto& [name, text] : c.files) folder.Write(name, text);
        const FunctionLibrary library =
            BuildFunctionLibrary(folder.path(), UiStrings{}, kDefaultDpiStep, c.languageId);
        EXPECT_EQ(RenderTexts(library), c.expected);
        EXPECT_EQ(library.problems, std::vector<std::string>{});
    }
}

}  // namespace
}  // namespace qvm
