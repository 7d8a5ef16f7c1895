// qvmctl and what reaches it from outside: names and texts from device memory and files,
// macro text in the encodings editors write, standard input and a full disk.
#include <gtest/gtest.h>

#include <filesystem>

#include "cli/qvmctl.h"
#include "macro/macro_file.h"
#include "run_qvmctl.h"
#include "support/small_tmpfs.h"
#include "support/temp_folder.h"

namespace qvm::cli {
namespace {

namespace fs = std::filesystem;
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

// Names and contents of files: the library's macro names and file names, a bad line of
// a macro text, the function library's texts.
TEST(QvmctlOutsideText, FileNamesAndContentsArePrintedEscaped) {
    test::TempFolder folder;
    fs::create_directories(folder.File("Favorite"));
    ASSERT_TRUE(WriteMacroFile(folder.File("Favorite/a\nb.mf"), "\x1b[1mBold", 8, {}));
    folder.Write("Favorite/c\x1b[8m.mf", std::string("not a macro file"));
    const std::string badText = folder.Write("bad.txt", std::string("wait 1\n\x1b[31mjump!\n"));
    folder.Write("data/bulitin.ini",
                 std::string("[Mouse0]\nname=\x1b[5mBlink\ndesc=d\x7f\ntype=4\nop1=1\n"));

    const Outcome list = Qvmctl({"library", "list"});
    ASSERT_EQ(list.status, kExitOk) << list.err;
    EXPECT_TRUE(Has(list.out, "\\e[1mBold  (33 bytes, once, a\\nb.mf)\n")) << list.out;
    EXPECT_TRUE(Has(list.err, "c\\e[8m.mf")) << list.err;

    const Outcome store = Qvmctl(OnG12({"macro", "store", "1", badText}));
    EXPECT_EQ(store.status, kExitUsage);
    EXPECT_TRUE(Has(store.err, "line 2:")) << store.err;
    EXPECT_TRUE(Has(store.err, "\\e[31mjump!")) << store.err;

    const test::ScopedEnv data("QVM_DATA_DIR", folder.File("data"));
    const Outcome functions = Qvmctl({"functions"});
    ASSERT_EQ(functions.status, kExitOk) << functions.err;
    EXPECT_TRUE(Has(functions.out, "  \\e[5mBlink: Left click")) << functions.out;
    EXPECT_TRUE(Has(functions.out, "      d\\x7f\n")) << functions.out;

    for (const Outcome* run : {&list, &store, &functions}) {
        EXPECT_FALSE(HoldsRawControls(run->out)) << run->out;
        EXPECT_FALSE(HoldsRawControls(run->err)) << run->err;
    }
}

Bytes Utf16(const std::u16string& text, bool little) {
    Bytes out = little ? Bytes{0xFF, 0xFE} : Bytes{0xFE, 0xFF};
    for (char16_t unit : text) {
        const auto lo = static_cast<uint8_t>(unit & 0xFF);
        const auto hi = static_cast<uint8_t>(unit >> 8);
        out.push_back(little ? lo : hi);
        out.push_back(little ? hi : lo);
    }
    return out;
}

// The macro text as editors save it: with a byte-order mark, in UTF-16, with CR LF.
TEST(QvmctlOutsideText, MacroTextInEveryEditorEncodingIsRead) {
    const std::string canonical = "key-down A\nwait 300\nkey-up A\n";
    const std::u16string wide = u"key-down A\r\nwait 300\r\nkey-up A\r\n";
    Bytes utf8Bom = {0xEF, 0xBB, 0xBF};
    utf8Bom.insert(utf8Bom.end(), canonical.begin(), canonical.end());
    const struct {
        const char* label;
        Bytes bytes;
    } cases[] = {
        {"utf8_bom", utf8Bom},
        {"utf16be", Utf16(wide, false)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        test::TempFolder folder;
        const std::string file = folder.Write(std::string(c.label) + ".txt", c.bytes);
        const Outcome stored = Qvmctl(OnG12({"macro", "store", "3", file}));
        ASSERT_EQ(stored.status, kExitOk) << stored.err;
        EXPECT_TRUE(Has(stored.out, "stored '" + std::string(c.label) + "'")) << stored.out;
        EXPECT_EQ(Qvmctl(OnG12({"macro", "show", "3"})).out, canonical);
    }
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

// A disk that fills up is a failure of the computer, not of the arguments: exit 1, and
// nothing half-written is left in the library.
TEST(QvmctlOutsideText, LibraryImportOnAFullDiskExitsOne) {
    test::TempFolder outside;
    const std::string source = outside.File("m.mf");
    ASSERT_TRUE(WriteMacroFile(source, "M", 8, {}));
    test::SmallTmpfs disk(outside.File("user"), 64 * 1024);
    if (!disk.Mounted()) GTEST_SKIP() << "cannot mount a tmpfs here";
    const test::ScopedEnv user("QVM_USER_DIR", disk.path());
    fs::create_directories(disk.path() + "/Favorite");
    disk.Fill();

    const Outcome run = Qvmctl({"library", "import", source});
    EXPECT_EQ(run.status, kExitDevice);
    EXPECT_TRUE(Has(run.err, "No space left on device")) << run.err;
    EXPECT_TRUE(fs::is_empty(disk.path() + "/Favorite"));
}

}  // namespace
}  // namespace qvm::cli
