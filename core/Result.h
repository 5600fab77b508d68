#pragma once

#include <QString>

#include <optional>
#include <utility>

namespace fennimar {

// A value or a human-readable reason why there is none. Readers of files and wire records return
// this instead of guessing a default.
template <typename T>
class Result {
public:
    Result(T value) : m_value(std::move(value)) {}  // NOLINT(google-explicit-constructor)
    static Result failure(QString reason) { return Result(std::nullopt, std::move(reason)); }

    bool ok() const { return m_value.has_value(); }
    explicit operator bool() const { return ok(); }
    const T &value() const & { return *m_value; }
    T &value() & { return *m_value; }
    T &&value() && { return std::move(*m_value); }
    const T &operator*() const & { return *m_value; }
    T &operator*() & { return *m_value; }
    const T *operator->() const { return &*m_value; }
    T *operator->() { return &*m_value; }
    const QString &error() const { return m_error; }

private:
    Result(std::nullopt_t, QString reason) : m_error(std::move(reason)) {}
    std::optional<T> m_value;
    QString m_error;
};

// Success or a reason, for operations that produce nothing.
class Status {
public:
    Status() = default;
    static Status failure(QString reason) { return Status(std::move(reason), true); }
    bool ok() const { return !m_failed; }
    explicit operator bool() const { return ok(); }
    const QString &error() const { return m_error; }

private:
    Status(QString reason, bool failed) : m_error(std::move(reason)), m_failed(failed) {}
    QString m_error;
    bool m_failed = false;
};

}  // namespace fennimar
