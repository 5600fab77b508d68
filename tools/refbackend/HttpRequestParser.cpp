#include "tools/refbackend/HttpRequestParser.h"

#include <algorithm>

namespace fennimar::refbackend {

namespace {

using Failure = HttpRequestParser::Failure;
using Parsed = HttpRequestParser::Parsed;

bool isDigits(const QByteArray &text)
{
    return !text.isEmpty() && std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// Two different lengths would let the client and this server frame the stream differently.
bool lengthsAgree(const Parsed &parsed)
{
    QByteArray first;
    for (const auto &[key, value] : parsed.headers) {
        if (key.compare("Content-Length", Qt::CaseInsensitive) != 0)
            continue;
        if (!first.isEmpty() && value != first)
            return false;
        first = value;
    }
    return true;
}

bool isToken(const QByteArray &text)
{
    if (text.isEmpty())
        return false;
    for (const char c : text) {
        const bool ok = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
                        QByteArrayLiteral("!#$%&'*+-.^_`|~").contains(c);
        if (!ok)
            return false;
    }
    return true;
}

std::variant<Parsed, Failure> parseHead(const QByteArray &head)
{
    const Failure bad{400, QStringLiteral("malformed request")};
    // Every line of head ends with CRLF; a bare LF inside a line is refused.
    QList<QByteArray> lines = head.split('\n');
    lines.removeLast();
    for (const QByteArray &line : lines)
        if (!line.endsWith('\r') || line.chopped(1).contains('\r'))
            return bad;
    const QList<QByteArray> start = lines.first().chopped(1).split(' ');
    Parsed out;
    if (start.size() != 3 || !isToken(start[0]) || !start[1].startsWith('/') ||
        (start[2] != "HTTP/1.1" && start[2] != "HTTP/1.0"))
        return bad;
    out.method = start[0];
    out.target = start[1];
    out.http10 = start[2] == "HTTP/1.0";
    for (qsizetype i = 1; i < lines.size(); ++i) {
        const QByteArray line = lines[i].chopped(1);
        const qsizetype colon = line.indexOf(':');
        // A leading blank is the obsolete line folding, which request smuggling relies on.
        if (colon <= 0 || !isToken(line.left(colon)))
            return bad;
        out.headers.append({line.left(colon), line.mid(colon + 1).trimmed()});
    }
    return out;
}

}  // namespace

QByteArray headerValue(const HttpHeaders &headers, const QByteArray &name)
{
    for (const auto &[key, value] : headers)
        if (key.compare(name, Qt::CaseInsensitive) == 0)
            return value;
    return {};
}

HttpRequestParser::Step HttpRequestParser::next()
{
    if (m_discardLeft > 0) {
        const qsizetype dropped = std::min(m_discardLeft, m_buffer.size());
        m_buffer.remove(0, dropped);
        m_discardLeft -= dropped;
        if (m_discardLeft > 0)
            return NeedMore{};
    }
    if (const auto *failed = std::get_if<Failure>(&m_head))
        return *failed;
    if (std::holds_alternative<std::monostate>(m_head)) {
        // Blank lines before a request are allowed (a client's stray CRLF after a body), also when
        // the scan has already looked at the first bytes of one, as it has when it came a byte at a time.
        while (m_scanned <= 2 && m_buffer.startsWith("\r\n")) {
            m_buffer.remove(0, 2);
            m_scanned = 0;
        }
        // Each byte of a head is looked at once, however thinly it arrives. A bare LF ends the scan: a
        // client that sends one would wait forever for the CRLF that ends its head.
        qsizetype end = -1;
        for (const qsizetype stop = std::min(m_buffer.size(), m_limits.maxHeadBytes); end < 0 && m_scanned < stop;
             ++m_scanned) {
            if (m_buffer.at(m_scanned) != '\n')
                continue;
            if (m_scanned == 0 || m_buffer.at(m_scanned - 1) != '\r') {
                m_head = Failure{400, QStringLiteral("a line ends with a bare LF; HTTP wants CRLF")};
                return next();
            }
            if (m_scanned >= 3 && m_buffer.at(m_scanned - 2) == '\n')
                end = m_scanned - 3;
        }
        if (end < 0) {
            if (m_buffer.size() < m_limits.maxHeadBytes)
                return NeedMore{};
            m_head = Failure{431, QStringLiteral("request headers larger than %1 bytes").arg(m_limits.maxHeadBytes)};
            return next();
        }
        m_scanned = 0;
        auto head = parseHead(m_buffer.left(end + 2));
        m_buffer.remove(0, end + 4);
        if (auto *failed = std::get_if<Failure>(&head)) {
            m_head = *failed;
            return next();
        }
        Parsed &parsed = std::get<Parsed>(head);
        const QByteArray length = parsed.header("Content-Length");
        const bool digits = length.isEmpty() || isDigits(length);
        bool fits = true;
        m_bodyLength = length.isEmpty() ? 0 : length.toLongLong(&fits);
        if (!parsed.header("Transfer-Encoding").isEmpty())
            m_head = Failure{501, QStringLiteral("chunked request bodies are not supported; send Content-Length")};
        else if (!digits || !fits || !lengthsAgree(parsed))
            m_head = Failure{400, QStringLiteral("malformed Content-Length")};
        else if (m_bodyLength > m_limits.maxBodyBytes) {
            m_head = Failure{413, QStringLiteral("request body larger than %1 bytes").arg(m_limits.maxBodyBytes)};
            // A client waiting for "100 Continue" sends no body at all.
            if (parsed.header("Expect").isEmpty() && m_bodyLength <= m_limits.maxDiscardBytes)
                m_discardLeft = m_bodyLength;
        } else
            m_head = std::move(parsed);
        m_continueSent = false;
        return next();
    }
    if (m_buffer.size() < m_bodyLength) {
        const bool expects =
            std::get<Parsed>(m_head).header("Expect").compare("100-continue", Qt::CaseInsensitive) == 0;
        const bool sendContinue = expects && !m_continueSent;
        m_continueSent = m_continueSent || sendContinue;
        return NeedMore{sendContinue};
    }
    Parsed whole = std::move(std::get<Parsed>(m_head));
    whole.body = m_buffer.left(m_bodyLength);
    m_buffer.remove(0, m_bodyLength);
    m_head = std::monostate{};
    return whole;
}

}  // namespace fennimar::refbackend
