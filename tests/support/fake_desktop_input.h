// A desktop input source the test drives: Push queues events and makes the descriptor
// readable (one byte in a pipe), Read drains both. It counts the grabs and releases so
// that a lost or doubled release shows, and can refuse the grab as a display server does
// while another program holds the keyboard.
#pragma once

#include <fcntl.h>
#include <unistd.h>

#include <deque>
#include <vector>

#include "base/unique_fd.h"
#include "platform/desktop_input.h"

namespace qvm::test {

struct FakeDesktopCounts {
    int grabs = 0;
    int releases = 0;
    int listenOn = 0;
    int listenOff = 0;
};

class FakeDesktopInput final : public DesktopInput {
  public:
    // `counts` outlives the source, so a test can look after destroying it.
    explicit FakeDesktopInput(FakeDesktopCounts& counts) : counts_(counts) {
        int fds[2] = {-1, -1};
        if (::pipe2(fds, O_NONBLOCK | O_CLOEXEC) == 0) {
            readEnd_.reset(fds[0]);
            writeEnd_.reset(fds[1]);
        }
    }

    void Push(std::vector<DesktopEvent> events) {
        for (const DesktopEvent& event : events) queued_.push_back(event);
        const char byte = 1;
        (void)::write(writeEnd_.get(), &byte, 1);
    }
    void SetPosition(std::optional<DesktopPoint> at) { position_ = at; }
    void RefuseGrab(bool refuse) { refuseGrab_ = refuse; }

    int Fd() const override { return readEnd_.get(); }
    Status Listen(bool on) override {
        ++(on ? counts_.listenOn : counts_.listenOff);
        listening_ = on;
        return {};
    }
    bool Listening() const override { return listening_; }
    std::vector<DesktopEvent> Read() override {
        char drain[64];
        while (::read(readEnd_.get(), drain, sizeof drain) > 0) {
        }
        std::vector<DesktopEvent> events;
        if (listening_) events.assign(queued_.begin(), queued_.end());
        queued_.clear();
        return events;
    }
    std::optional<DesktopPoint> PointerPosition() override { return position_; }
    Status GrabKeyboard() override {
        if (refuseGrab_) return MakeError(ErrorKind::DeviceBusy, "another program has it");
        ++counts_.grabs;
        grabbed_ = true;
        return {};
    }
    void ReleaseKeyboard() override {
        ++counts_.releases;
        grabbed_ = false;
    }
    bool KeyboardGrabbed() const override { return grabbed_; }

  private:
    FakeDesktopCounts& counts_;
    UniqueFd readEnd_;
    UniqueFd writeEnd_;
    std::deque<DesktopEvent> queued_;
    std::optional<DesktopPoint> position_;
    bool listening_ = false;
    bool grabbed_ = false;
    bool refuseGrab_ = false;
};

}  // namespace qvm::test
