// Helpers of the end-to-end tests that run inside the test VM: simulated devices behind
// kernel HID devices, waiting for the kernel to publish them, and running the real
// programs as a user would.
#pragma once

#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "base/unique_fd.h"
#include "gtest/gtest.h"
#include "platform/hid.h"
#include "platform/linux/linux_hid.h"
#include "sim/sim_backend.h"
#include "sim/sim_uhid.h"

namespace qvm::vm {

using Bytes = std::vector<uint8_t>;

// The kernel needs milliseconds to publish a device; this only bounds a hang.
constexpr auto kPublishLimit = std::chrono::seconds(20);

inline std::string BinaryFolder() {
    const char* folder = std::getenv("QVM_VM_BIN");
    return folder ? folder : "/vm";
}

// Repeats `check` until it holds or kPublishLimit passes; false on the time-out.
inline bool WaitFor(const std::function<bool()>& check) {
    const auto end = std::chrono::steady_clock::now() + kPublishLimit;
    while (!check()) {
        if (std::chrono::steady_clock::now() > end) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return true;
}

// The interfaces of vendor 0c45 that the Linux backend lists now.
inline std::vector<HidDeviceInfo> OurInterfaces(HidBackend& backend) {
    std::vector<HidDeviceInfo> ours;
    auto found = backend.Enumerate();
    if (!found) return ours;
    for (HidDeviceInfo& info : *found) {
        if (info.vendorId == 0x0C45) ours.push_back(std::move(info));
    }
    return ours;
}

// Simulated devices, each behind one kernel HID device per interface.
class KernelDevices {
  public:
    // `devices` in the simulator's grammar; `stateFolder` keeps their memory (may be empty).
    explicit KernelDevices(const std::string& devices, const std::string& stateFolder = "") {
        auto sim = SimBackend::Create(devices, stateFolder);
        EXPECT_TRUE(sim) << sim.message();
        if (!sim) return;
        sim_ = std::move(*sim);
        kernel_.resize(sim_->DeviceCount());
        for (size_t i = 0; i < kernel_.size(); ++i) Plug(i);
    }

    SimBackend& Sim() { return *sim_; }
    SimDevice& Device(size_t place) { return sim_->Device(place); }
    size_t InterfaceCount() const {
        size_t count = 0;
        for (size_t i = 0; i < kernel_.size(); ++i) {
            if (kernel_[i]) count += sim_->Device(i).Interfaces().size();
        }
        return count;
    }

    void Plug(size_t place) {
        sim_->Device(place).Attach();
        auto created = SimUhidDevice::Create(sim_->Device(place));
        ASSERT_TRUE(created) << created.message();
        kernel_[place] = std::move(*created);
    }
    void Unplug(size_t place) {
        kernel_[place].reset();
        sim_->Device(place).Detach();
    }

    // Waits until the Linux backend lists every plugged interface with its descriptor.
    bool WaitPublished() {
        auto backend = MakeLinuxBackend();
        if (!backend) return false;
        return WaitFor([&] {
            size_t described = 0;
            for (const HidDeviceInfo& info : OurInterfaces(**backend)) {
                if (info.caps.usagePage != 0) ++described;
            }
            return described == InterfaceCount();
        });
    }

  private:
    std::unique_ptr<SimBackend> sim_;
    std::vector<std::unique_ptr<SimUhidDevice>> kernel_;  // by place; null: unplugged
};

struct ProgramRun {
    int status = -1;  // exit status; 128 + N when killed by signal N
    std::string out;
    std::string err;
};

// Reads a pipe to its end.
inline std::string Drain(int fd) {
    std::string text;
    char buffer[4096];
    while (true) {
        const ssize_t got = ::read(fd, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) return text;
        text.append(buffer, static_cast<size_t>(got));
    }
}

// Runs qvmctl (or another program of the binary folder) with `args`; with `uid`, as that
// user, without the supplementary groups; with `env` set. Standard input is empty.
inline ProgramRun RunProgram(const std::string& program, const std::vector<std::string>& args,
                             std::optional<uid_t> uid = std::nullopt,
                             const std::vector<std::pair<std::string, std::string>>& env = {}) {
    int out[2];
    int err[2];
    if (::pipe2(out, O_CLOEXEC) != 0 || ::pipe2(err, O_CLOEXEC) != 0) return {};
    const std::string path = BinaryFolder() + "/" + program;
    std::vector<std::string> words = {path};
    words.insert(words.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& w : words) argv.push_back(w.data());
    argv.push_back(nullptr);
    const pid_t child = ::fork();
    if (child == 0) {
        ::dup2(out[1], STDOUT_FILENO);
        ::dup2(err[1], STDERR_FILENO);
        const int null = ::open("/dev/null", O_RDONLY);
        ::dup2(null, STDIN_FILENO);
        if (uid) {
            // A home of its own: the user may not write root's.
            const std::string home = "/tmp/user-" + std::to_string(*uid);
            ::mkdir(home.c_str(), 0700);
            if (::chown(home.c_str(), *uid, *uid) != 0 || ::setgroups(0, nullptr) != 0 ||
                ::setgid(*uid) != 0 || ::setuid(*uid) != 0) {
                ::_exit(125);
            }
            ::setenv("HOME", home.c_str(), 1);
            ::setenv("QVM_USER_DIR", home.c_str(), 1);
        }
        for (const auto& [name, value] : env) ::setenv(name.c_str(), value.c_str(), 1);
        ::execv(path.c_str(), argv.data());
        ::_exit(127);
    }
    ::close(out[1]);
    ::close(err[1]);
    const UniqueFd outRead(out[0]);
    const UniqueFd errRead(err[0]);
    ProgramRun run;
    // Standard error is small; read it after standard output has ended.
    run.out = Drain(outRead.get());
    run.err = Drain(errRead.get());
    int status = 0;
    ::waitpid(child, &status, 0);
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return run;
}

inline bool Has(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

}  // namespace qvm::vm
