// The function library the button menus and `qvmctl functions` offer: the shipped files
// read without a problem into codes the device runs. (Other files: the INI reader's tests
// and qvmctl's, which list a library and report its problems.)
#include "macro/function_library.h"

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "config/catalogue.h"

namespace qvm {
namespace {

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

}  // namespace
}  // namespace qvm
