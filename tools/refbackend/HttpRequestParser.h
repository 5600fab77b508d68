#pragma once

#include <QByteArray>
#include <QList>
#include <QPair>
#include <QString>

#include <variant>

namespace fennimar::refbackend {

using HttpHeaders = QList<QPair<QByteArray, QByteArray>>;

// The first header of that name (case-insensitive), or an empty array.
QByteArray headerValue(const HttpHeaders &headers, const QByteArray &name);

// Frames the HTTP/1.1 requests arriving on one connection: request line, headers and a body of
// Content-Length bytes, pipelined requests one after another. It is our own rather than Qt
// HttpServer's because that module's server interface changed incompatibly after Qt 6.4 (Debian 12
// has 6.4; Homebrew's Qt is newer), and because it neither limits bodies nor honours
// "Connection: close". Anything it cannot frame safely (a malformed line, a chunked body, a length
// over the limits) is an error after which the connection must be closed: the rest of the stream
// cannot be told apart from the bad request.
class HttpRequestParser {
public:
    struct Limits {
        qsizetype maxHeadBytes = 64 * 1024;  // request line and headers together
        qsizetype maxBodyBytes = 1024 * 1024;
        // A body over the limit is still read (and dropped) up to this size before the refusal, so
        // that a client still sending it sees the answer instead of a reset connection.
        qsizetype maxDiscardBytes = 16 * 1024 * 1024;
    };

    struct Parsed {
        QByteArray method;    // "GET", "POST", ...
        QByteArray target;    // as sent: "/path?query"
        bool http10 = false;  // HTTP/1.0: closes after the answer unless kept alive
        HttpHeaders headers;  // names as sent, values trimmed
        QByteArray body;

        QByteArray header(const QByteArray &name) const { return headerValue(headers, name); }
    };
    struct Failure {
        int status;  // 400, 413, 431 or 501
        QString message;
    };
    struct NeedMore {
        bool sendContinue = false;  // the client waits for "100 Continue" before sending the body
    };
    using Step = std::variant<NeedMore, Parsed, Failure>;

    explicit HttpRequestParser(Limits limits) : m_limits(limits) {}

    void feed(const QByteArray &bytes) { m_buffer += bytes; }
    // Nothing of a next request has arrived.
    bool idle() const
    {
        return m_buffer.isEmpty() && m_discardLeft == 0 && std::holds_alternative<std::monostate>(m_head);
    }

    // The next whole request from what was fed, or what is still missing, or why the stream cannot
    // be framed (then every later call answers the same failure). Costs one scan of each byte of a
    // head, however many calls it arrives in.
    Step next();

private:
    Limits m_limits;
    QByteArray m_buffer;
    std::variant<std::monostate, Parsed, Failure> m_head;  // a head parsed, waiting for its body
    qsizetype m_scanned = 0;                               // bytes of the head being read that were scanned for its end
    qsizetype m_bodyLength = 0;
    qsizetype m_discardLeft = 0;  // of a refused body, before its failure is answered
    bool m_continueSent = false;
};

}  // namespace fennimar::refbackend
