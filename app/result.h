// What an engine call gives back: its value, or the reason it has none (one
// line for the user: "line 7: QUALITY needs a whole number from 0 to 21").
// The one error style of the reading, checking and writing calls of
// convert/ and video/; a call without a value returns a Status.
#pragma once

#include <optional>
#include <string>
#include <utility>

namespace tessaly {

// A failure's reason; converts to any Result and to Status.
struct Failure {
    std::string reason;
};

template <typename T>
class [[nodiscard]] Result {
public:
    Result(T value) : value_(std::move(value)) {}  // NOLINT: a value is a success
    Result(Failure failure) : reason_(std::move(failure.reason)) {}  // NOLINT

    bool ok() const { return value_.has_value(); }
    explicit operator bool() const { return ok(); }
    // The value; only after ok().
    const T& value() const& { return *value_; }
    T& value() & { return *value_; }
    T&& value() && { return std::move(*value_); }
    const T* operator->() const { return &*value_; }
    // Why there is no value (empty on success).
    const std::string& reason() const { return reason_; }

private:
    std::optional<T> value_;
    std::string reason_;
};

// Success, or a failure's reason.
class [[nodiscard]] Status {
public:
    Status() = default;
    Status(Failure failure) : reason_(std::move(failure.reason)), failed_(true) {}  // NOLINT

    bool ok() const { return !failed_; }
    explicit operator bool() const { return ok(); }
    const std::string& reason() const { return reason_; }

private:
    std::string reason_;
    bool failed_ = false;
};

}  // namespace tessaly
