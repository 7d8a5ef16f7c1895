// The function library the button menus and `qvmctl functions` offer: the shipped files
// read without a problem into codes the device runs, other files read as far as they
// are sound, and each entry in the user's language where the file has it.
#include "macro/function_library.h"

#include <gtest/gtest.h>

#include <map>
#include <set>
#include <string>
#include <vector>

#include "config/catalogue.h"
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
        {"missing or empty keys fall back one at a time",
         {{"bulitin.ini", "[Mouse0]\nname=A\ndesc=a\nname_1031=\ndesc_1031=d\n" + code +
                              "[Mouse1]\nname=B\ndesc=b\nname_1031=Bee\n" + code}},
         1031,
         {"[Mouse]", "A | d", "Bee | b"}},
        {"a library file's group name and entries",
         {{"bulitin.ini", ""},
          {"library/a.ini",
           "[DB]\nname=Ay\nname_1036=Ah\ntag=T\n[T0]\nname=t\nname_1036=tt\n" + code}},
         1036,
         {"[Ah]", "tt | "}},
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
