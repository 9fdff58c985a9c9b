#pragma once

#include "failure/FlasherError.h"

#include <utility>
#include <variant>

namespace esptool {

// The value of an operation that either produced a T or failed with a FlasherError.
template <typename T>
class Result
{
public:
    Result(T value)  // NOLINT(google-explicit-constructor): a value converts to its success
        : m_state(std::in_place_index<0>, std::move(value))
    {}
    Result(FlasherError error)  // NOLINT(google-explicit-constructor): so does a failure
        : m_state(std::in_place_index<1>, std::move(error))
    {}

    bool ok() const { return m_state.index() == 0; }
    explicit operator bool() const { return ok(); }

    const T& value() const& { return std::get<0>(m_state); }
    T& value() & { return std::get<0>(m_state); }
    T&& value() && { return std::get<0>(std::move(m_state)); }
    const FlasherError& error() const { return std::get<1>(m_state); }

private:
    std::variant<T, FlasherError> m_state;
};

// An operation that yields nothing but may fail.
template <>
class Result<void>
{
public:
    Result() = default;
    Result(FlasherError error)  // NOLINT(google-explicit-constructor): a failure converts
        : m_error(std::move(error))
        , m_failed(true)
    {}

    bool ok() const { return !m_failed; }
    explicit operator bool() const { return ok(); }
    const FlasherError& error() const { return m_error; }

private:
    FlasherError m_error;
    bool m_failed = false;
};

using Status = Result<void>;

}  // namespace esptool
