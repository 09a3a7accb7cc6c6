// Result<T>: a value or a short English message. Failures travel as values
// between components; nothing throws across them.
#pragma once

#include <string>
#include <type_traits>
#include <utility>
#include <variant>

namespace lib {

// The failure side of a Result: a short English message for the user or caller.
struct Error {
    std::string message;
};

inline Error err(std::string message) { return Error{std::move(message)}; }

template <class T>
class [[nodiscard]] Result {
public:
    Result(T value) : v_(std::in_place_index<0>, std::move(value)) {}
    Result(Error e) : v_(std::in_place_index<1>, std::move(e)) {}

    bool ok() const { return v_.index() == 0; }
    explicit operator bool() const { return ok(); }

    T& value() & { return std::get<0>(v_); }
    const T& value() const& { return std::get<0>(v_); }
    T&& value() && { return std::get<0>(std::move(v_)); }
    T& operator*() & { return value(); }
    const T& operator*() const& { return value(); }
    T* operator->() { return &value(); }
    const T* operator->() const { return &value(); }

    // The message; empty when the result holds a value.
    const std::string& error() const {
        static const std::string none;
        return ok() ? none : std::get<1>(v_).message;
    }
    Error take_error() const { return std::get<1>(v_); }

    template <class U>
    T value_or(U&& fallback) const& {
        return ok() ? value() : static_cast<T>(std::forward<U>(fallback));
    }

private:
    std::variant<T, Error> v_;
};

// Success with no value, or a message.
template <>
class [[nodiscard]] Result<void> {
public:
    Result() = default;
    Result(Error e) : failed_(true), message_(std::move(e.message)) {}

    bool ok() const { return !failed_; }
    explicit operator bool() const { return ok(); }
    const std::string& error() const { return message_; }
    Error take_error() const { return Error{message_}; }

private:
    bool failed_ = false;
    std::string message_;
};

using Status = Result<void>;

inline Status ok_status() { return Status{}; }

}  // namespace lib
