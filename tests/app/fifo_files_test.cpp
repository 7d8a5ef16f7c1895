// A FIFO where the program expects one of its data files must never stop the program:
// each reader refuses it at once and says why.
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>

#include "lang/keyboard_layout.h"
#include "lang/ui_strings.h"
#include "session/settings.h"
#include "support/fake_pointer_devices.h"
#include "support/fifo_guard.h"
#include "support/temp_folder.h"

namespace qvm {
namespace {

using test::FifoGuard;
using test::ScopedEnv;
using test::TempFolder;

struct FifoReaderCase {
    const char* label;
    const char* file;  // below the temporary folder
    // Reads the file as the program does and returns the text it reports.
    std::function<std::string(const std::string& path)> read;
};

const FifoReaderCase kFifoReaders[] = {
    {"settings", "set.ini",
     [](const std::string& path) {
         test::FakePointerDesktop desktop;
         PointerAcceleration pointer(desktop.Connect());
         const LoadedSettings loaded = LoadSettings(path, pointer);
         EXPECT_EQ(loaded.settings.osd, 1);  // the defaults
         EXPECT_EQ(ReadStartupSettings(path).languageId, kDefaultLanguageId);
         return loaded.warning;
     }},
    {"settings_save", "set.ini",
     [](const std::string& path) {
         const Status saved = SaveSettings(path, UserSettings{});
         EXPECT_FALSE(saved);
         return saved.message();
     }},
    {"language", "language.ini",
     [](const std::string& path) {
         UiStrings strings;
         const std::string warning = LoadLanguageStrings(strings, 1033, path);
         EXPECT_EQ(strings.msg_str[10], UiStrings{}.msg_str[10]);
         return warning;
     }},
    {"keyboard", "keyboard.ini",
     [](const std::string& path) {
         const KeyboardLayout layout = LoadKeyboardLayout(path, KeyNaming{});
         EXPECT_TRUE(layout.keys.empty());
         return layout.warning;
     }},
};

TEST(FifoInPlaceOfAFile, ReadersRefuseItWithoutWaiting) {
    for (const FifoReaderCase& c : kFifoReaders) {
        SCOPED_TRACE(c.label);
        TempFolder dir;
        const FifoGuard fifo(dir.File(c.file));
        const std::string reported = c.read(fifo.path());
        EXPECT_NE(reported.find(fifo.path() + " is not a regular file"), std::string::npos)
            << reported;
        EXPECT_EQ(std::filesystem::status(fifo.path()).type(), std::filesystem::file_type::fifo);
        EXPECT_FALSE(fifo.Opened());
    }
}

// A desktop entry that is a FIFO is passed over without being opened; the name falls
// back to the file name.
TEST(FifoInPlaceOfAFile, DesktopEntryIsPassedOver) {
    TempFolder dir;
    const ScopedEnv dataHome("XDG_DATA_HOME", dir.File("share"));
    const ScopedEnv dataDirs("XDG_DATA_DIRS", dir.File("system"));
    const std::string tool = dir.Write("bin/tool", std::string("#!/bin/sh\n"));
    std::filesystem::create_directories(dir.File("share/applications"));
    const FifoGuard fifo(dir.File("share/applications/tool.desktop"));
    EXPECT_EQ(GetAppDisplayName(tool), "tool");
    EXPECT_FALSE(fifo.Opened());
}

}  // namespace
}  // namespace qvm
