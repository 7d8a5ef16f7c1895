// Named events through which other processes steer the running instance: a second start
// wakes it, "/close" ends it, outside tools ask it to reload its function library.
//
// On Linux a named event is an abstract-namespace Unix datagram socket named
// "<event name>@<uid>", so events never cross users and vanish with their owner. The
// process that creates an event binds the name; a pulse is one datagram sent to it. A
// pulse sent while the owner is not waiting stays queued until its next wait, and the
// pulses queued at one wake-up count as one. A pulse to a name nobody holds is lost.
#pragma once

#include <memory>
#include <stop_token>
#include <string>
#include <string_view>
#include <utility>

#include "base/result.h"

namespace qvm {

// The events the desktop program creates when it is the first instance.
inline constexpr std::string_view kWaitEventName = "KTP_NEXA5_WAIT_EVENT";
inline constexpr std::string_view kCloseEventName = "KTP_NEXA5_CLOSE_EVENT";
inline constexpr std::string_view kReloadEventName = "KTP_NEXA5_RELOAD_EVENT";
inline constexpr std::string_view kServerEventName = "KTP_NEXA5_SERVER_EVENT";
inline constexpr std::string_view kDrawEventName = "KTP_NEXA5_DRAW_EVENT";

// Why creating or opening an event failed.
enum class EventFailure {
    kNone,
    kAlreadyExists,  // Create: another object holds the name
    kNotFound,       // Open: nobody holds the name
    kSystem,         // anything else; the message says what
};

// A Result that also tells the caller which kind of failure it holds, so "already
// exists" (a second instance) is never confused with a broken system.
template <class T>
class EventResult : public Result<T> {
  public:
    EventResult(T value) : Result<T>(std::move(value)) {}  // NOLINT(google-explicit-constructor)
    EventResult(EventFailure failure, std::string message)
        : Result<T>(MakeError(std::move(message))), failure_(failure) {}

    EventFailure failure() const { return failure_; }

  private:
    EventFailure failure_ = EventFailure::kNone;
};

enum class WaitOutcome { kPulsed, kStopped };

// An event this process created: it owns the name until destroyed. One thread waits on
// it; any thread may pulse it.
class NamedEvent {
  public:
    virtual ~NamedEvent() = default;
    virtual const std::string& Name() const = 0;
    // Wakes this event's waiter (or the next wait, when none is waiting now).
    virtual Status Pulse() = 0;
    // Blocks until a pulse arrives or stop is requested; a stop wins over a pulse that
    // arrives at the same time. Consumes every pulse queued so far.
    virtual Result<WaitOutcome> Wait(std::stop_token stop) = 0;
    // Consumes the queued pulses without blocking; true when there was at least one.
    virtual Result<bool> TryWait() = 0;
};

// An event another process created, opened to signal it.
class EventSender {
  public:
    virtual ~EventSender() = default;
    // Sends one pulse. A pulse the owner cannot take (it has gone, or its queue is full
    // of pulses it has not seen yet) is dropped without an error.
    virtual Status Pulse() = 0;
};

class EventFactory {
  public:
    virtual ~EventFactory() = default;
    virtual EventResult<std::unique_ptr<NamedEvent>> Create(const std::string& name) = 0;
    virtual EventResult<std::unique_ptr<EventSender>> Open(const std::string& name) = 0;
};

// The events of this user's session (Unix datagram sockets).
EventFactory& SystemEventFactory();

// The socket name of an event: "<event name>@<uid>", placed in the abstract namespace.
std::string EventSocketName(std::string_view eventName);

}  // namespace qvm
