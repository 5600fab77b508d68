#pragma once

#include <QString>

#include <optional>
#include <utility>
#include <variant>

namespace fennimar {

// Why a backend request failed. Its description() is the one text every caller logs and shows.
// Known as BackendClient::ClientError; defined here so that BackendResult can hold it.
struct ClientError {
    enum class Kind {
        Status,     // the backend answered outside 2xx
        Decoding,   // a 2xx answer whose body is not the expected record
        NotHTTP,    // the answer was not an HTTP response
        Transport,  // no answer: connection, name resolution, TLS, timeout, cancellation, size, redirect
    };
    Kind kind = Kind::Transport;
    int code = 0;    // Status: the HTTP status
    QString text;    // Status: body text (first 400 bytes as UTF-8, or empty); Decoding: the type name;
                     // Transport: the transport's own description
    QString reason;  // Decoding: why
    // Status: the seconds the answer's Retry-After asked to wait (given in seconds or as a date), if any.
    std::optional<qint64> retryAfterSeconds;

    // "Not found (404) — the device may have been removed", "Server returned <code>: <text>",
    // "Could not read <Type>: <reason>", "Not an HTTP response", or the transport's text.
    QString description() const;

    static ClientError status(int code, QString text) { return {Kind::Status, code, std::move(text), {}, {}}; }
    static ClientError decoding(QString type, QString why)
    {
        return {Kind::Decoding, 0, std::move(type), std::move(why), {}};
    }
    static ClientError notHTTP() { return {Kind::NotHTTP, 0, {}, {}, {}}; }
    static ClientError transport(QString text) { return {Kind::Transport, 0, std::move(text), {}, {}}; }
    bool operator==(const ClientError &) const = default;
};

// The outcome of one backend request: a value or a ClientError, never both.
template <typename T>
class BackendResult {
public:
    // An error until assigned (QCoro::waitFor needs a default value to assign the outcome to).
    BackendResult() : m_outcome(std::in_place_index<1>, ClientError::transport(QStringLiteral("No result"))) {}
    BackendResult(T value) : m_outcome(std::in_place_index<0>, std::move(value)) {}            // NOLINT
    BackendResult(ClientError error) : m_outcome(std::in_place_index<1>, std::move(error)) {}  // NOLINT

    bool ok() const { return m_outcome.index() == 0; }
    explicit operator bool() const { return ok(); }
    // Only when ok().
    const T &value() const & { return std::get<0>(m_outcome); }
    T &&value() && { return std::get<0>(std::move(m_outcome)); }
    // Only when !ok().
    const ClientError &error() const { return std::get<1>(m_outcome); }

private:
    std::variant<T, ClientError> m_outcome;
};

}  // namespace fennimar
