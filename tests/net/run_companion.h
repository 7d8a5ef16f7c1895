// Runs the real qvm-companion as a child with its output on pipes, read line by line while
// it runs (to change the service between two of its lines) or to its end. Every wait is
// bounded, and a child still running when the test lets go of it is killed.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <optional>
#include <string>
#include <vector>

#include "base/unique_fd.h"

extern char** environ;

namespace qvm::remote::companion_test {

struct Ran {
    int status = -1;  // -1: it had to be killed
    std::string out, err;
};

class CompanionChild {
  public:
    explicit CompanionChild(std::vector<std::string> args) {
        int pipes[2][2];
        for (int i = 0; i < 2; ++i) {
            if (::pipe2(pipes[i], O_CLOEXEC) != 0) return;
            read_[i].reset(pipes[i][0]);
        }
        UniqueFd outW(pipes[0][1]), errW(pipes[1][1]);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, outW.get(), 1);
        posix_spawn_file_actions_adddup2(&actions, errW.get(), 2);
        args.insert(args.begin(), QVM_COMPANION_BINARY);
        std::vector<char*> argv;
        for (std::string& a : args) argv.push_back(a.data());
        argv.push_back(nullptr);
        if (::posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), environ) != 0) pid_ = -1;
        posix_spawn_file_actions_destroy(&actions);
    }
    ~CompanionChild() { Finish(); }
    CompanionChild(const CompanionChild&) = delete;
    CompanionChild& operator=(const CompanionChild&) = delete;

    // The next line of its standard output; none once it closed it or after 20 s.
    std::optional<std::string> NextLine() {
        while (text_[0].find('\n', taken_) == std::string::npos) {
            if (!ReadSome(20'000)) return std::nullopt;
        }
        const std::size_t start = taken_;
        taken_ = text_[0].find('\n', start) + 1;
        return text_[0].substr(start, taken_ - 1 - start);
    }

    // Everything it writes until it ends (60 s at most), and its exit status.
    Ran Finish() {
        for (int waited = 0; waited < 60 && (read_[0] || read_[1]);) waited += !ReadSome(1000);
        Ran ran{-1, text_[0], text_[1]};
        if (pid_ <= 0) return ran;
        if (read_[0] || read_[1]) ::kill(pid_, SIGKILL);
        int status = 0;
        ::waitpid(std::exchange(pid_, -1), &status, 0);
        if (WIFEXITED(status)) ran.status = WEXITSTATUS(status);
        return ran;
    }

  private:
    // One read from each pipe that has something; false when nothing came in time.
    bool ReadSome(int ms) {
        pollfd p[2] = {{read_[0].get(), POLLIN, 0}, {read_[1].get(), POLLIN, 0}};
        if ((!read_[0] && !read_[1]) || ::poll(p, 2, ms) <= 0) return false;
        for (int i = 0; i < 2; ++i) {
            if (!(p[i].revents & (POLLIN | POLLHUP))) continue;
            char chunk[4096];
            const ssize_t n = ::read(read_[i].get(), chunk, sizeof chunk);
            if (n <= 0) read_[i].reset();
            if (n > 0) text_[i].append(chunk, static_cast<std::size_t>(n));
        }
        return true;
    }

    pid_t pid_ = -1;
    UniqueFd read_[2];  // its standard output and error
    std::string text_[2];
    std::size_t taken_ = 0;
};

inline Ran RunCompanion(std::vector<std::string> args) {
    return CompanionChild(std::move(args)).Finish();
}

}  // namespace qvm::remote::companion_test
