// Result<T>: a value or a human-readable error. Every layer above the raw device
// commands returns one of these so that both programs can tell the user what went wrong.
#pragma once

#include <string>
#include <utility>
#include <variant>

namespace qvm {

// What kind of failure an error is, so that callers decide by kind (an exit status, a
// question, a retry) and never by comparing message texts, which may be translated.
enum class ErrorKind {
    Other,          // anything not named below
    DeviceGone,     // the device left: unplugged, removed, or its bridge says it is gone
    DeviceBusy,     // the device stayed busy past the transport's poll limit
    DeviceSilent,   // the device did not answer: every read of a reply failed
    DeviceGarbled,  // the device answered with replies that cannot be right
    DeviceRefused,  // the device is there but did not take a request sent to it
    NoSpace,        // the device's macro memory has no room ("Lack of space !!")
    Uninitialised,  // the device memory holds no configuration; a reset initialises it
    BadInput,       // a file or an argument the program cannot accept
    Io,             // a file or folder could not be read or written (full disk, rights)
    // A device's memory could not be saved before this computer's first write into it:
    // nothing is written to it until the user agrees to go on without that backup.
    Unsaved,
};

struct Error {
    std::string message;
    ErrorKind kind = ErrorKind::Other;
};

inline Error MakeError(std::string message) {
    return Error{std::move(message)};
}
inline Error MakeError(ErrorKind kind, std::string message) {
    return Error{std::move(message), kind};
}
// True for the kinds that mean the device failed rather than the host or the input.
inline bool IsDeviceFailure(ErrorKind kind) {
    return kind == ErrorKind::DeviceGone || kind == ErrorKind::DeviceBusy ||
           kind == ErrorKind::DeviceSilent || kind == ErrorKind::DeviceGarbled ||
           kind == ErrorKind::DeviceRefused;
}

template <class T>
class [[nodiscard]] Result {
  public:
    Result(T value) : v_(std::move(value)) {}      // NOLINT(google-explicit-constructor)
    Result(Error error) : v_(std::move(error)) {}  // NOLINT(google-explicit-constructor)

    bool ok() const { return std::holds_alternative<T>(v_); }
    explicit operator bool() const { return ok(); }

    T& value() & { return std::get<T>(v_); }
    const T& value() const& { return std::get<T>(v_); }
    // On a temporary Result the value is moved out, so `for (auto& x : *Enumerate())`
    // iterates a living object instead of a dangling reference.
    T value() && { return std::get<T>(std::move(v_)); }
    T* operator->() { return &value(); }
    const T* operator->() const { return &value(); }
    T& operator*() & { return value(); }
    const T& operator*() const& { return value(); }
    T operator*() && { return std::move(*this).value(); }

    const Error& error() const { return std::get<Error>(v_); }
    const std::string& message() const { return error().message; }
    ErrorKind kind() const { return ok() ? ErrorKind::Other : error().kind; }

  private:
    std::variant<T, Error> v_;
};

template <>
class [[nodiscard]] Result<void> {
  public:
    Result() = default;
    Result(Error error) : error_(std::move(error)), failed_(true) {}  // NOLINT

    bool ok() const { return !failed_; }
    explicit operator bool() const { return ok(); }
    const Error& error() const { return error_; }
    const std::string& message() const { return error_.message; }
    ErrorKind kind() const { return ok() ? ErrorKind::Other : error_.kind; }

  private:
    Error error_;
    bool failed_ = false;
};

using Status = Result<void>;

}  // namespace qvm
