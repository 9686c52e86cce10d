#pragma once

#include <QString>

#include <optional>
#include <utility>

/// What a call that can fail gives back: its value, or why not (an error text for the operator or
/// the log, and a code a caller can branch on). A code of 0 never means failure.
///
/// Used by new code that can fail with a reason; `ok()` before `value()`.
template <typename T> class Result
{
public:
    /// A success.
    Result(T value) : m_value(std::move(value)) {} // NOLINT: implicit, so a function returns its value
    /// A failure; `code` must not be 0.
    static Result failure(int code, QString text)
    {
        Result r;
        r.m_code = code;
        r.m_error = std::move(text);
        return r;
    }

    bool ok() const { return m_value.has_value(); }
    explicit operator bool() const { return ok(); }
    const T &value() const & { return *m_value; }
    T &value() & { return *m_value; }
    T &&value() && { return std::move(*m_value); }
    /// 0 on success.
    int code() const { return m_code; }
    /// Empty on success.
    const QString &error() const { return m_error; }

private:
    Result() = default;

    std::optional<T> m_value;
    int m_code = 0;
    QString m_error;
};
