// Named events inside one process, for code that creates, pulses and waits on events.
// One registry stands for one user session: two objects created from it behave like two
// processes of that user. It also counts every pulse sent to a name, bound or not, so a
// test can see a pulse that was lost.
#pragma once

#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "platform/named_event.h"

namespace qvm::test {

class FakeEventRegistry final : public EventFactory {
  public:
    EventResult<std::unique_ptr<NamedEvent>> Create(const std::string& name) override {
        std::lock_guard lock(state_->m);
        if (state_->bound.contains(name)) {
            return {EventFailure::kAlreadyExists, "event " + name + " already exists"};
        }
        auto slot = std::make_shared<Slot>();
        state_->bound[name] = slot;
        return std::unique_ptr<NamedEvent>(std::make_unique<Event>(state_, name, slot));
    }

    EventResult<std::unique_ptr<EventSender>> Open(const std::string& name) override {
        std::lock_guard lock(state_->m);
        if (!state_->bound.contains(name)) {
            return {EventFailure::kNotFound, "event " + name + " not found"};
        }
        return std::unique_ptr<EventSender>(std::make_unique<Sender>(state_, name));
    }

    // Pulses sent to the name so far, including those nobody received.
    int PulsesSent(const std::string& name) const {
        std::lock_guard lock(state_->m);
        auto it = state_->sent.find(name);
        return it == state_->sent.end() ? 0 : it->second;
    }
    bool IsBound(const std::string& name) const {
        std::lock_guard lock(state_->m);
        return state_->bound.contains(name);
    }

  private:
    struct Slot {
        bool pending = false;  // guarded by State::m
    };
    struct State {
        mutable std::mutex m;
        std::condition_variable_any changed;
        std::map<std::string, std::shared_ptr<Slot>> bound;
        std::map<std::string, int> sent;
    };

    static Status Send(State& state, const std::string& name) {
        std::lock_guard lock(state.m);
        ++state.sent[name];
        if (auto it = state.bound.find(name); it != state.bound.end()) it->second->pending = true;
        state.changed.notify_all();
        return {};
    }

    class Event final : public NamedEvent {
      public:
        Event(std::shared_ptr<State> state, std::string name, std::shared_ptr<Slot> slot)
            : state_(std::move(state)), name_(std::move(name)), slot_(std::move(slot)) {}
        ~Event() override {
            std::lock_guard lock(state_->m);
            state_->bound.erase(name_);
        }
        const std::string& Name() const override { return name_; }
        Status Pulse() override { return Send(*state_, name_); }
        Result<WaitOutcome> Wait(std::stop_token stop) override {
            std::unique_lock lock(state_->m);
            state_->changed.wait(lock, stop, [&] { return slot_->pending; });
            if (stop.stop_requested()) return WaitOutcome::kStopped;
            slot_->pending = false;
            return WaitOutcome::kPulsed;
        }
        Result<bool> TryWait() override {
            std::lock_guard lock(state_->m);
            return std::exchange(slot_->pending, false);
        }

      private:
        std::shared_ptr<State> state_;
        std::string name_;
        std::shared_ptr<Slot> slot_;
    };

    class Sender final : public EventSender {
      public:
        Sender(std::shared_ptr<State> state, std::string name)
            : state_(std::move(state)), name_(std::move(name)) {}
        Status Pulse() override { return Send(*state_, name_); }

      private:
        std::shared_ptr<State> state_;
        std::string name_;
    };

    std::shared_ptr<State> state_ = std::make_shared<State>();
};

}  // namespace qvm::test
