#pragma once
#include <optional>
#include <string>
#include <utility>

namespace Orv {

// The empty record for operations that return nothing on success.
struct Ok {};

// Result of an operation: a value on success, or the complete user-facing message on failure.
template <class T>
struct Outcome {
    std::optional<T> value;
    std::wstring message;

    static Outcome Success(T v) { return Outcome{std::optional<T>(std::move(v)), {}}; }
    static Outcome Failure(std::wstring text) { return Outcome{std::nullopt, std::move(text)}; }

    bool ok() const { return value.has_value(); }
    explicit operator bool() const { return ok(); }
};

inline Outcome<Ok> Success() {
    return Outcome<Ok>::Success(Ok{});
}
inline Outcome<Ok> Failure(std::wstring text) {
    return Outcome<Ok>::Failure(std::move(text));
}

} // namespace Orv
