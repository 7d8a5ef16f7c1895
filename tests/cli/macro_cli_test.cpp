// qvmctl's macro and library commands on simulated devices kept in a temporary
// user folder; every run is a new process-like session, so what one run stores the next
// reads back from the device.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <filesystem>

#include "cli/qvmctl.h"
#include "macro/macro_file.h"
#include "run_qvmctl.h"
#include "support/temp_folder.h"

namespace qvm::cli {
namespace {

using Bytes = std::vector<uint8_t>;

// A macro in its canonical text form, and the code the device must hold for it.
const std::string kText =
    "key-down Left Control\nkey-down C\nkey-up C\nwait 300\nkey-up Left Control\n"
    "button-down left b5\nwheel -1\nmove 10 -2\nconsumer-down Volume +\nconsumer-up\nraw D5\n";
const Bytes kCode = {0x83, 0xE0, 0x83, 0x06, 0x84, 0x06, 0x89, 0x2C, 0x01, 0x84, 0xE0, 0x31, 0x7F,
                     0x80, 0x0A, 0x00, 0xFE, 0xFF, 0x85, 0xE9, 0x00, 0x85, 0x00, 0x00, 0xD5, 0x00};
constexpr uint32_t kRecordBytes = 59;  // 33 + code

// The record of kCode named "copy": name field length, UTF-16LE name zero-filled to 32
// bytes, code with its end byte.
Bytes CopyRecord() {
    Bytes r = {0x20, 'c', 0, 'o', 0, 'p', 0, 'y', 0};
    r.resize(33, 0);
    r.insert(r.end(), kCode.begin(), kCode.end());
    return r;
}

struct Device {
    const char* kind;
    bool bridged;
    uint32_t heapStart;  // M of the class
};

class Rig {
  public:
    explicit Rig(const Device& d) : device_(d) {
        std::filesystem::create_directories(folder_.File("bridge"));
    }
    Outcome Run(std::vector<std::string> args, const std::string& input = "") const {
        if (device_.bridged) {
            args.insert(args.begin(), {"--hid", SimBridge(device_.kind, folder_.File("bridge"))});
        } else {
            args.insert(args.begin(), std::string("--simulate=") + device_.kind);
        }
        return Qvmctl(args, input);
    }
    // The device's whole memory as its state file keeps it.
    Bytes Memory() const {
        const std::string kind(device_.kind);
        return folder_.Read((device_.bridged ? "bridge/0-" : "sim/0-") +
                            kind.substr(0, kind.find('/')) + ".mem");
    }
    Bytes MemoryAt(uint32_t address, std::size_t length) const {
        const Bytes all = Memory();
        if (address + length > all.size()) return {};
        return Bytes(all.begin() + address, all.begin() + address + length);
    }
    const test::TempFolder& Folder() const { return folder_; }

  private:
    Device device_;
    test::TempFolder folder_;
};

// JSON without any blanks, so a fragment can be looked for as one line.
std::string Squeezed(std::string json) {
    json.erase(
        std::remove_if(json.begin(), json.end(), [](unsigned char ch) { return std::isspace(ch); }),
        json.end());
    return json;
}

// A button's function bytes as `show --json` prints them (squeezed).
std::string MacroButton(int mode, uint32_t codeAddress) {
    return "\"type\":" + std::to_string(mode) + ",\"ops\":[" + std::to_string(codeAddress & 0xFF) +
           "," + std::to_string(codeAddress >> 8) + ",0]";
}

std::string ListedSlot(int slot, const std::string& name, const std::string& mode, uint32_t bytes,
                       uint32_t start) {
    return "{\"slot\":" + std::to_string(slot) + ",\"name\":\"" + name + "\",\"mode\":\"" + mode +
           "\",\"bytes\":" + std::to_string(bytes) + ",\"start\":" + std::to_string(start) + ",";
}

// Text in, bytes on the device, the same text out of a new run; a macro file read from
// one slot stores the very same record into another.
TEST(QvmctlMacro, StoreShowReadStoreAcrossRuns) {
    // Class A in-process, class C through qvm-sim's bridge.
    for (const Device& d : {Device{"g0", false, 0x400}, Device{"g12", true, 0x550}}) {
        SCOPED_TRACE(std::string(d.kind) + (d.bridged ? " bridged" : ""));
        Rig rig(d);
        const std::string text = rig.Folder().Write("copy.txt", kText);
        Outcome stored = rig.Run({"macro", "store", "2", text, "--mode", "loop"});
        ASSERT_EQ(stored.status, kExitOk) << stored.err;
        EXPECT_TRUE(Has(stored.out, "stored 'copy' in macro slot 2: loop, 59 bytes")) << stored.out;
        EXPECT_EQ(rig.MemoryAt(d.heapStart, kRecordBytes), CopyRecord());

        Outcome shown = rig.Run({"macro", "show", "2"});
        ASSERT_EQ(shown.status, kExitOk) << shown.err;
        EXPECT_EQ(shown.out, kText);

        const std::string file = rig.Folder().File("copy.mf");
        ASSERT_EQ(rig.Run({"macro", "read", "2", file}).status, kExitOk);
        const Bytes mf = rig.Folder().Read("copy.mf");
        ASSERT_GT(mf.size(), kCode.size() + 8);
        // ... mode 9, code length 25, the code without its end byte.
        const Bytes tail(mf.end() - static_cast<long>(kCode.size() + 7), mf.end());
        Bytes expected = {9, 0, 0, 0, 25, 0, 0, 0};
        expected.insert(expected.end(), kCode.begin(), kCode.end() - 1);
        EXPECT_EQ(tail, expected);

        Outcome again = rig.Run({"macro", "store", "5", file});
        ASSERT_EQ(again.status, kExitOk) << again.err;
        EXPECT_EQ(rig.MemoryAt(d.heapStart + kRecordBytes, kRecordBytes), CopyRecord());
        const std::string list = Squeezed(rig.Run({"macro", "list", "--json"}).out);
        EXPECT_TRUE(Has(list, ListedSlot(2, "copy", "loop", kRecordBytes, d.heapStart))) << list;
        EXPECT_TRUE(
            Has(list, ListedSlot(5, "copy", "loop", kRecordBytes, d.heapStart + kRecordBytes)))
            << list;
    }
}

// Delete asks first and leaves a hole; `macro compact` closes it, the macro and the
// button that runs it following.
TEST(QvmctlMacro, DeleteAndCompactKeepMacrosAndButtons) {
    const Device d{"g5x", false, 0x4B0};  // class B, extended layout
    Rig rig(d);
    const uint32_t m = d.heapStart;
    ASSERT_EQ(rig.Run({"macro", "store", "1", "-"}, "wait 10\n").status, kExitOk);  // 36
    ASSERT_EQ(rig.Run({"macro", "store", "3", "-", "--name", "third", "--mode", "loop"},
                      "key-down A\nkey-up A\n")
                  .status,
              kExitOk);  // 38 bytes at m + 36
    Outcome assign = rig.Run({"assign", "1", "2", "macro:3"});
    ASSERT_EQ(assign.status, kExitOk) << assign.err;
    EXPECT_TRUE(Has(assign.out, "'third' (macro slot 3)")) << assign.out;
    const std::string third = rig.Run({"macro", "show", "3"}).out;

    EXPECT_EQ(rig.Run({"macro", "delete", "1"}, "y\n").status, kExitOk);
    Outcome compact = rig.Run({"macro", "compact"});
    ASSERT_EQ(compact.status, kExitOk) << compact.err;
    const std::string json = Squeezed(rig.Run({"macro", "list", "--json"}).out);
    EXPECT_FALSE(Has(json, "\"slot\":1,")) << json;
    EXPECT_TRUE(Has(json, ListedSlot(3, "third", "loop", 38, m))) << json;
    EXPECT_EQ(rig.Run({"macro", "show", "3"}).out, third);
    const std::string config = Squeezed(rig.Run({"show", "--json"}).out);
    EXPECT_TRUE(Has(config, MacroButton(9, m + 33))) << config;
    EXPECT_TRUE(Has(rig.Run({"show"}).out, "button 2: Macro(R) 'third' (macro slot 3)"));

    ASSERT_EQ(rig.Run({"macro", "delete", "3", "--yes"}).status, kExitOk);
    EXPECT_FALSE(Has(Squeezed(rig.Run({"show", "--json"}).out), MacroButton(9, m + 33)));
}

// A macro larger than the free memory fails with the UI's message and leaves the device
// memory as it was, the old macro of the slot included.
TEST(QvmctlMacro, LackOfSpaceChangesNothing) {
    std::string big;
    for (int k = 0; k < 1700; ++k) big += "move 1 1\n";  // 8500 bytes of code
    Rig rig({"g12/mem=8k", false, 0});
    ASSERT_EQ(rig.Run({"macro", "store", "1", "-"}, "wait 10\n").status, kExitOk);
    const Bytes before = rig.Memory();
    Outcome full = rig.Run({"macro", "store", "1", "-"}, big);
    EXPECT_EQ(full.status, kExitDevice);
    EXPECT_TRUE(Has(full.err, "Lack of space !! (the macro needs 8534 bytes;")) << full.err;
    EXPECT_EQ(rig.Memory(), before);
    EXPECT_EQ(rig.Run({"macro", "show", "1"}).out, "wait 10\n");
}

// Bad slots, modes and files are refused before anything is written.
TEST(QvmctlMacro, BadArgumentsAreRefusedAndChangeNothing) {
    Rig rig({"g12", false, 0x550});
    ASSERT_EQ(rig.Run({"macro", "store", "1", "-"}, "wait 10\n").status, kExitOk);
    const test::TempFolder& f = rig.Folder();
    const std::string text = f.Write("ok.txt", std::string("wait 1\n"));
    const std::string badText = f.Write("bad.txt", std::string("wait 1\nwait 70000\n"));
    const std::string withEnd = f.Write("end.txt", std::string("wait 1\nend\n"));
    const std::string junkMf = f.Write("junk.mf", std::string("not a macro file at all"));
    const Bytes before = rig.Memory();

    struct Case {
        std::vector<std::string> args;
        std::string message;
    };
    const Case cases[] = {
        {{"macro", "show", "0"}, "macro slot 0 is out of range: allowed 1..80"},
        {{"macro", "store", "2", text, "--mode", "twice"}, "mode 'twice': expected once, loop"},
        {{"macro", "store", "2", badText}, "bad.txt: line 2:"},
        {{"macro", "store", "2", withEnd}, "instruction 2 is 'end'"},
        {{"macro", "store", "2", junkMf}, "junk.mf: invalid format !!"},
        {{"macro", "read", "7", f.File("x.mf")}, "macro slot 7 is empty"},
        {{"assign", "1", "2", "macro:9"}, "macro slot 9 is empty"},
    };
    for (const Case& c : cases) {
        std::string line;
        for (const auto& a : c.args) line += a + " ";
        SCOPED_TRACE(line);
        Outcome run = rig.Run(c.args);
        EXPECT_EQ(run.status, kExitUsage);
        EXPECT_TRUE(Has(run.err, c.message)) << run.err;
    }
    EXPECT_EQ(rig.Memory(), before);
    EXPECT_FALSE(std::filesystem::exists(f.File("x.mf")));
    // Answering no keeps the macro.
    Outcome no = rig.Run({"macro", "delete", "1"}, "n\n");
    EXPECT_EQ(no.status, kExitDevice);
    EXPECT_TRUE(Has(no.err, "Delete macro 'macro' ? [y/N]")) << no.err;
    EXPECT_EQ(rig.Memory(), before);
}

// Import, list and export through the library folder of the user data folder: the tree
// as the user sees it, names that are ambiguous or taken, and the bytes that come out.
TEST(QvmctlLibrary, ImportListExportRoundTrip) {
    test::TempFolder folder;
    const Bytes jumpCode = {0x83, 0x2C, 0x88, 0x14, 0x84, 0x2C};
    const Bytes dashCode = {0x21, 0x89, 0x2C, 0x01, 0x41};
    const std::string jump = folder.File("jump.mf");
    const std::string dash = folder.File("dash.mf");
    ASSERT_TRUE(WriteMacroFile(jump, "Jump", 9, DecodeMacroCode(jumpCode)).ok());
    ASSERT_TRUE(WriteMacroFile(dash, "Dash", 10, DecodeMacroCode(dashCode)).ok());
    folder.Write("junk.mf", std::string("0123456789abcdef"));

    ASSERT_EQ(Qvmctl({"library", "import", jump}).status, kExitOk);
    ASSERT_EQ(Qvmctl({"library", "import", dash}).status, kExitOk);
    std::filesystem::create_directories(folder.File("Favorite/Games"));
    Outcome into = Qvmctl({"library", "import", jump, "--folder", "Games/"});
    ASSERT_EQ(into.status, kExitOk) << into.err;
    EXPECT_TRUE(Has(into.out, "imported 'Jump' as Games/")) << into.out;

    Outcome list = Qvmctl({"library", "list"});
    ASSERT_EQ(list.status, kExitOk) << list.err;
    // Sorted by name, folders among macros, children indented below their folder.
    const std::string tree[] = {"\n  Dash  (38 bytes, fire, ", "\n  Games/\n",
                                "\n    Jump  (39 bytes, loop, Games/",
                                "\n  Jump  (39 bytes, loop, "};
    std::size_t at = 0;
    for (const std::string& part : tree) {
        const std::size_t found = list.out.find(part, at);
        EXPECT_NE(found, std::string::npos) << part << "\n" << list.out;
        if (found != std::string::npos) at = found;
    }

    const Bytes jumpBytes = folder.Read("jump.mf");
    const struct {
        std::vector<std::string> args;
        std::string message;
    } refused[] = {
        {{"library", "export", "Jump", folder.File("x")}, "2 macros are called 'Jump'"},
        {{"library", "export", "jum", folder.File("x")}, "did you mean:\n  'Jump'  "},
        {{"library", "export", "Dash", jump}, "already exists (--force replaces"},
        {{"library", "import", jump, "--folder", "Nope"},
         "no library folder 'Nope'; folders: Games"},
        {{"library", "import", folder.File("junk.mf")}, "invalid format !!"},
    };
    for (const auto& r : refused) {
        SCOPED_TRACE(r.args[1] + " " + r.args[2]);
        Outcome run = Qvmctl(r.args);
        EXPECT_EQ(run.status, kExitUsage);
        EXPECT_TRUE(Has(run.err, r.message)) << run.err;
    }
    EXPECT_EQ(folder.Read("jump.mf"), jumpBytes);

    ASSERT_EQ(Qvmctl({"library", "export", "Dash", folder.File("out")}).status, kExitOk);
    auto out = ReadMacroFile(folder.File("out.mf"));
    ASSERT_TRUE(out.ok()) << out.message();
    EXPECT_EQ(out->name, "Dash");
    EXPECT_EQ(out->mode, 10);
    EXPECT_EQ(EncodeMacroCode(out->items), dashCode);
}

}  // namespace
}  // namespace qvm::cli
