// What an engine call gives back: its value, or the reason it has none (one
// line for the user: "line 7: QUALITY needs a whole number from 0 to 21").
// The one error style of the reading, checking and writing calls of
// convert/, video/ and output/; a call without a value returns a Status.
#pragma once

#include <optional>
#include <string>
#include <utility>

namespace tessaly {

// A failure's reason; converts to any Result and to Status. `code` (never 0)
// tells failures apart where a caller must (tessaly-convert's exit status).
struct Failure {
    Failure() = default;
    explicit Failure(std::string why, int kind = 1) : reason(std::move(why)), code(kind) {}
    std::string reason;
    int code = 1;
};

template <typename T>
class [[nodiscard]] Result {
public:
    Result(T value) : value_(std::move(value)) {}  // NOLINT: a value is a success
    Result(Failure failure) : reason_(std::move(failure.reason)), code_(failure.code) {}  // NOLINT

    bool ok() const { return value_.has_value(); }
    explicit operator bool() const { return ok(); }
    // The value; only after ok().
    const T& value() const& { return *value_; }
    T& value() & { return *value_; }
    T&& value() && { return std::move(*value_); }
    const T* operator->() const { return &*value_; }
    // Why there is no value (empty on success).
    const std::string& reason() const { return reason_; }
    // The failure's code (0 on success).
    int code() const { return ok() ? 0 : code_; }

private:
    std::optional<T> value_;
    std::string reason_;
    int code_ = 0;
};

// Success, or a failure's reason.
class [[nodiscard]] Status {
public:
    Status() = default;
    Status(Failure failure) : reason_(std::move(failure.reason)), code_(failure.code) {}  // NOLINT

    bool ok() const { return code_ == 0; }
    explicit operator bool() const { return ok(); }
    const std::string& reason() const { return reason_; }
    // The failure's code; 0 on success.
    int code() const { return code_; }

private:
    std::string reason_;
    int code_ = 0;
};

}  // namespace tessaly
