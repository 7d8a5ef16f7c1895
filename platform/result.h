// Result<T>: a value or a human-readable error. Every layer above the raw device
// commands returns one of these so that both programs can tell the user what went wrong.
#pragma once

#include <string>
#include <utility>
#include <variant>

namespace qvm {

struct Error {
    std::string message;
};

inline Error MakeError(std::string message) { return Error{std::move(message)}; }

template <class T>
class [[nodiscard]] Result {
public:
    Result(T value) : v_(std::move(value)) {}  // NOLINT(google-explicit-constructor)
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

private:
    Error error_;
    bool failed_ = false;
};

using Status = Result<void>;

}  // namespace qvm
