// Runs the real qvm-companion program as a child with its output on pipes: line by line
// while it runs (to change the service between two of its lines) or to its end. Every
// wait is bounded and a child that outlives the test is killed.
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
    int status = -1;
    std::string out;
    std::string err;
};

class CompanionChild {
  public:
    explicit CompanionChild(std::vector<std::string> args) {
        int out[2], err[2];
        if (::pipe2(out, O_CLOEXEC) != 0 || ::pipe2(err, O_CLOEXEC) != 0) return;
        out_.reset(out[0]);
        err_.reset(err[0]);
        UniqueFd outW(out[1]), errW(err[1]);
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
    ~CompanionChild() {
        if (pid_ > 0) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
        }
    }
    CompanionChild(const CompanionChild&) = delete;
    CompanionChild& operator=(const CompanionChild&) = delete;

    // The next line of its standard output; none once it closed it or after 20 s.
    std::optional<std::string> NextLine() {
        for (;;) {
            if (const auto end = out.find('\n', taken_); end != std::string::npos) {
                std::string line = out.substr(taken_, end - taken_);
                taken_ = end + 1;
                return line;
            }
            if (!ReadSome(20'000)) return std::nullopt;
        }
    }

    // Everything to its end, and its exit status (-1: it had to be killed).
    Ran Finish() {
        for (int waited = 0; (out_ || err_) && waited < 60; ++waited) ReadSome(1000);
        Ran ran{-1, out, err};
        if (pid_ <= 0) return ran;
        int status = 0;
        if (out_ || err_) ::kill(pid_, SIGKILL);
        ::waitpid(pid_, &status, 0);
        pid_ = -1;
        ran.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        return ran;
    }

    std::string out, err;

  private:
    // One read from whichever pipe has something; false when nothing came in time or
    // both are closed.
    bool ReadSome(int ms) {
        pollfd p[2] = {{out_.get(), POLLIN, 0}, {err_.get(), POLLIN, 0}};
        if (!out_ && !err_) return false;
        if (::poll(p, 2, ms) <= 0) return false;
        for (auto [fd, text] : {std::pair{&out_, &out}, std::pair{&err_, &err}}) {
            const pollfd& q = fd == &out_ ? p[0] : p[1];
            if (!(q.revents & (POLLIN | POLLHUP))) continue;
            char chunk[4096];
            const ssize_t n = ::read(fd->get(), chunk, sizeof chunk);
            if (n <= 0) {
                fd->reset();
            } else {
                text->append(chunk, static_cast<std::size_t>(n));
            }
        }
        return true;
    }

    pid_t pid_ = -1;
    UniqueFd out_, err_;
    std::size_t taken_ = 0;
};

inline Ran RunCompanion(std::vector<std::string> args) {
    return CompanionChild(std::move(args)).Finish();
}

}  // namespace qvm::remote::companion_test
