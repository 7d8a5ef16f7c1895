// An injector the tests read back: every call is recorded in order, with the time of the
// test's clock when one is given, and a pointer position that the moves change.
#pragma once

#include <mutex>
#include <string>
#include <vector>

#include "platform/clock.h"
#include "platform/input_injector.h"

namespace qvm::test {

struct InjectedCall {
    enum class Kind { Move, Scroll, Touch };
    Kind kind = Kind::Move;
    int a = 0;  // Move: dx; Scroll: detents; Touch: x
    int b = 0;  // Move: dy; Touch: y
    TouchPhase phase = TouchPhase::Hover;
    Clock::TimePoint at{};

    bool operator==(const InjectedCall&) const = default;
};

class FakeInputInjector final : public InputInjector {
  public:
    explicit FakeInputInjector(Clock* clock = nullptr, bool canTouch = true)
        : clock_(clock), canTouch_(canTouch) {}

    std::string Name() const override { return "fake"; }
    Status MovePointer(int dx, int dy) override {
        std::lock_guard lock(mutex_);
        position_.x += dx;
        position_.y += dy;
        calls_.push_back({InjectedCall::Kind::Move, dx, dy, TouchPhase::Hover, Now()});
        return {};
    }
    Status ScrollHorizontal(int detents) override {
        std::lock_guard lock(mutex_);
        calls_.push_back({InjectedCall::Kind::Scroll, detents, 0, TouchPhase::Hover, Now()});
        return {};
    }
    Result<InjectPoint> PointerPosition() override {
        std::lock_guard lock(mutex_);
        return position_;
    }
    bool CanTouch() const override { return canTouch_; }
    Status Touch(TouchPhase phase, InjectPoint at) override {
        std::lock_guard lock(mutex_);
        calls_.push_back({InjectedCall::Kind::Touch, at.x, at.y, phase, Now()});
        return {};
    }

    std::vector<InjectedCall> Calls() const {
        std::lock_guard lock(mutex_);
        return calls_;
    }
    void SetPosition(InjectPoint p) {
        std::lock_guard lock(mutex_);
        position_ = p;
    }

  private:
    Clock::TimePoint Now() const { return clock_ ? clock_->Now() : Clock::TimePoint{}; }

    Clock* clock_;
    const bool canTouch_;
    mutable std::mutex mutex_;  // leaf
    InjectPoint position_;
    std::vector<InjectedCall> calls_;
};

}  // namespace qvm::test
