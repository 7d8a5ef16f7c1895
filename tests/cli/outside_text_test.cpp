// qvmctl and what reaches it from outside: names from device memory, macro text in the
// encodings editors write, and standard input.
#include <gtest/gtest.h>

#include "cli/qvmctl.h"
#include "run_qvmctl.h"
#include "support/temp_folder.h"

namespace qvm::cli {
namespace {

using Bytes = std::vector<uint8_t>;

// A byte a terminal acts on: C0 controls other than the line feed, DEL, and the C1
// controls U+0080..U+009F in UTF-8.
bool HoldsRawControls(const std::string& text) {
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        if ((c < 0x20 && c != '\n') || c == 0x7F) return true;
        if (c == 0xC2 && i + 1 < text.size() && static_cast<unsigned char>(text[i + 1]) >= 0x80 &&
            static_cast<unsigned char>(text[i + 1]) <= 0x9F) {
            return true;
        }
    }
    return false;
}

// ESC, a line feed and the C1 CSI in a macro name and a profile name; each command
// prints them escaped, on the line they belong to.
TEST(QvmctlOutsideText, NamesFromTheDeviceArePrintedEscaped) {
    test::TempFolder folder;
    const std::string name = "\x1b[2Jx\ny\xC2\x9B";
    const std::string shown = "\\e[2Jx\\ny\\u009b";
    const std::string text = folder.Write("a.txt", std::string("wait 10\n"));
    ASSERT_EQ(Qvmctl(OnG12({"set", "name", "1", "\x1b]0;T\x07"})).status, kExitOk);

    struct Case {
        std::vector<std::string> args;
        std::string expected;  // in standard output
    };
    const Case cases[] = {
        {{"macro", "store", "1", text, "--name", name}, "stored '" + shown + "' in macro slot 1"},
        {{"macro", "list"}, "  " + shown + "\n"},
        {{"show"}, "1: \"" + shown + "\" once"},
        {{"show", "--json"}, "\"name\": \"\\u001b[2Jx\\ny\\u009b\""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args[0] + " " + c.args.back());
        const Outcome run = Qvmctl(OnG12(c.args));
        ASSERT_EQ(run.status, kExitOk) << run.err;
        EXPECT_TRUE(Has(run.out, c.expected)) << run.out;
        EXPECT_FALSE(HoldsRawControls(run.out)) << run.out;
        EXPECT_FALSE(HoldsRawControls(run.err)) << run.err;
    }
}

// The macro text as editors save it: UTF-16 with a byte-order mark and CR LF.
TEST(QvmctlOutsideText, MacroTextInUtf16IsRead) {
    Bytes file = {0xFE, 0xFF};
    for (char16_t unit : std::u16string(u"key-down A\r\nwait 300\r\nkey-up A\r\n")) {
        file.push_back(static_cast<uint8_t>(unit >> 8));
        file.push_back(static_cast<uint8_t>(unit & 0xFF));
    }
    test::TempFolder folder;
    const Outcome stored = Qvmctl(OnG12({"macro", "store", "3", folder.Write("wide.txt", file)}));
    ASSERT_EQ(stored.status, kExitOk) << stored.err;
    EXPECT_TRUE(Has(stored.out, "stored 'wide'")) << stored.out;
    EXPECT_EQ(Qvmctl(OnG12({"macro", "show", "3"})).out, "key-down A\nwait 300\nkey-up A\n");
}

// Standard input is read with the same bound as a file; empty or endless input never
// stores an empty macro.
TEST(QvmctlOutsideText, StandardInputIsBoundedAndNeverStoresNothing) {
    std::string endless;
    while (endless.size() < (5u << 20)) endless += "# a comment line, again and again\n";
    const struct {
        const char* label;
        std::string input;
        std::string message;
    } cases[] = {
        {"empty", "", "standard input holds no macro instructions"},
        {"endless", endless, "standard input is larger than"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        test::TempFolder folder;
        const Outcome run = Qvmctl(OnG12({"macro", "store", "1", "-"}), c.input);
        EXPECT_EQ(run.status, kExitUsage);
        EXPECT_TRUE(Has(run.err, c.message)) << run.err;
        EXPECT_EQ(Qvmctl(OnG12({"macro", "list"})).out.rfind("no macros stored\n", 0), 0u);
    }
}

}  // namespace
}  // namespace qvm::cli
