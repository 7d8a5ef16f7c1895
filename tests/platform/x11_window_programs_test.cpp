// The programs behind the desktop's windows: on an X server of the test's own (Xvfb), a
// window manager double lists windows of real processes, and the list names each program
// once by its executable, leaves out this program and windows without a live process, and
// keeps the icon closest to the size shown.
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>

#include "platform/window_programs.h"
#include "support/temp_folder.h"

#ifdef QVM_HAVE_LINUX_HID
#include "support/x11_window_manager_double.h"
#include "support/xvfb.h"
#endif

extern char** environ;

namespace qvm {
namespace {

// A process of the test's own that runs `program` until the end of the test.
class ChildProgram {
  public:
    explicit ChildProgram(const char* program) {
        char* argv[] = {const_cast<char*>(program), const_cast<char*>("600"), nullptr};
        if (::posix_spawn(&pid_, program, nullptr, nullptr, argv, environ) != 0) pid_ = -1;
    }
    ~ChildProgram() { End(); }
    ChildProgram(const ChildProgram&) = delete;
    ChildProgram& operator=(const ChildProgram&) = delete;
    pid_t Pid() const { return pid_; }
    void End() {
        if (pid_ <= 0 || ended_) return;
        ::kill(pid_, SIGKILL);
        ::waitpid(pid_, nullptr, 0);
        ended_ = true;
    }

  private:
    pid_t pid_ = -1;
    bool ended_ = false;
};

TEST(WindowIconTest, TheImageClosestToTheWantedSizeIsKept) {
    // Images as width, height, then one pixel item each, all pixels of an image equal to
    // its width so that the kept image is recognisable.
    const auto image = [](unsigned long w, unsigned long h) {
        std::vector<unsigned long> items{w, h};
        items.insert(items.end(), w * h, w);
        return items;
    };
    const auto join = [](std::initializer_list<std::vector<unsigned long>> parts) {
        std::vector<unsigned long> all;
        for (const auto& part : parts) all.insert(all.end(), part.begin(), part.end());
        return all;
    };
    std::vector<unsigned long> cut = join({image(24, 24), image(64, 64)});
    cut.resize(cut.size() - 1);  // the second image lacks a pixel
    const struct {
        const char* name;
        std::vector<unsigned long> items;
        int width;  // 0: no icon
        int height;
    } cases[] = {
        {"nothing", {}, 0, 0},
        {"exact size among others", join({image(16, 16), image(32, 32), image(48, 48)}), 32, 32},
        {"tie keeps the larger", join({image(16, 16), image(48, 48)}), 48, 48},
        {"wide image measured by its larger side", join({image(40, 8), image(20, 20)}), 40, 8},
        {"cut image ignored", cut, 24, 24},
        {"zero width ends the run", join({{0, 16}, image(16, 16)}), 0, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const auto icon = PickWindowIcon(c.items, 32);
        ASSERT_EQ(icon.has_value(), c.width != 0);
        if (!icon) continue;
        EXPECT_EQ(icon->width, c.width);
        EXPECT_EQ(icon->height, c.height);
        ASSERT_EQ(icon->pixels.size(), static_cast<std::size_t>(c.width * c.height));
        EXPECT_EQ(icon->pixels.front(), static_cast<uint32_t>(c.width));
    }
}

#ifdef QVM_HAVE_LINUX_HID
TEST(X11WindowProgramsTest, ManagedWindowsOfLiveProcessesListEachProgramOnce) {
    if (!test::XvfbInstalled()) GTEST_SKIP() << "Xvfb is not installed (Debian package xvfb)";
    test::Xvfb xvfb;
    ASSERT_FALSE(xvfb.Name().empty()) << "Xvfb did not start";
    test::X11WindowManagerDouble manager(xvfb.Name());
    ChildProgram game("/bin/sleep");
    ChildProgram unmanaged("/bin/sleep");
    ChildProgram gone("/bin/sleep");
    ASSERT_GT(game.Pid(), 0);
    ASSERT_GT(gone.Pid(), 0);
    gone.End();

    const unsigned long first = manager.NewWindow(game.Pid());
    const unsigned long second = manager.NewWindow(game.Pid());
    const unsigned long own = manager.NewWindow(::getpid());
    const unsigned long noPid = manager.NewWindow({});
    const unsigned long dead = manager.NewWindow(gone.Pid());
    manager.NewWindow(unmanaged.Pid());  // not in the client list
    manager.SetTitle(first, "Spiel – eins");
    manager.SetTitle(second, "second window");
    manager.SetIcon(first, {2, 1, 0x11223344, 0x55667788});
    manager.ListClients({own, noPid, dead, first, second});

    auto listed = ListWindowPrograms(xvfb.Name());
    ASSERT_TRUE(listed.ok()) << listed.message();
    ASSERT_EQ(listed->size(), 1u);
    const WindowProgram& program = listed->front();
    EXPECT_EQ(program.pid, game.Pid());
    EXPECT_EQ(program.executable, std::filesystem::canonical("/bin/sleep").string());
    EXPECT_EQ(program.title, "Spiel – eins");
    ASSERT_TRUE(program.icon);
    EXPECT_EQ(*program.icon, (ProgramIcon{2, 1, {0x11223344u, 0x55667788u}}));
}

#endif

}  // namespace
}  // namespace qvm
