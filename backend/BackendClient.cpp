#include "backend/BackendClient.h"

#include <QNetworkAccessManager>
#include <QNetworkCookie>
#include <QNetworkCookieJar>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QStringDecoder>

#include <coroutine>

namespace fennimar {

namespace {

// The session keeps no cookies: a backend that sets one gets nothing back, and nothing of one pairing
// leaks into the next.
class NoCookieJar final : public QNetworkCookieJar {
public:
    using QNetworkCookieJar::QNetworkCookieJar;
    QList<QNetworkCookie> cookiesForUrl(const QUrl &) const override { return {}; }
    bool setCookiesFromUrl(const QList<QNetworkCookie> &, const QUrl &) override { return false; }
};

QString seconds(Millis d)
{
    if (d.count() % 1000 == 0)
        return QStringLiteral("%1 s").arg(d.count() / 1000);
    return QStringLiteral("%1 ms").arg(d.count());
}

QString bytes(qint64 n)
{
    constexpr qint64 mebibyte = 1024 * 1024;
    if (n % mebibyte == 0)
        return QStringLiteral("%1 MiB").arg(n / mebibyte);
    return QStringLiteral("%1 bytes").arg(n);
}

// The first maxBytes of body as UTF-8, or empty when they are not valid UTF-8. A character cut in two
// by the limit is left out rather than spoiling the whole text.
QString utf8Prefix(const QByteArray &body, qsizetype maxBytes)
{
    QByteArray prefix = body.left(maxBytes);
    if (body.size() > maxBytes) {
        for (qsizetype back = 1; back <= 3 && back <= prefix.size(); ++back) {
            const auto byte = static_cast<unsigned char>(prefix[prefix.size() - back]);
            if ((byte & 0xC0) != 0x80) {  // the lead byte of the last character
                const qsizetype needed = byte >= 0xF0 ? 4 : byte >= 0xE0 ? 3 : byte >= 0xC0 ? 2 : 1;
                if (needed > back)
                    prefix.chop(back);
                break;
            }
        }
    }
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString text = decoder.decode(prefix);
    return decoder.hasError() ? QString() : text;
}

QString origin(const QUrl &url)
{
    return url.adjusted(QUrl::RemovePath | QUrl::RemoveQuery | QUrl::RemoveFragment | QUrl::RemoveUserInfo).toString();
}

}  // namespace

QString ClientError::description() const
{
    switch (kind) {
        case Kind::Status:
            if (code == 404)
                return QStringLiteral("Not found (404) — the device may have been removed");
            return QStringLiteral("Server returned %1: %2").arg(code).arg(text);
        case Kind::Decoding:
            return QStringLiteral("Could not read %1: %2").arg(text, reason);
        case Kind::NotHTTP:
            return QStringLiteral("Not an HTTP response");
        case Kind::Transport:
            break;
    }
    return text;
}

struct BackendClient::Session {
    Session(QUrl url, Clock &c, Limits l) : baseURL(std::move(url)), clock(c), limits(l) {}
    QUrl baseURL;
    Clock &clock;
    Limits limits;
    QNetworkAccessManager manager;
};

BackendClient BackendClient::create(QUrl baseURL, Clock &clock, Limits limits)
{
    auto session = std::make_shared<Session>(std::move(baseURL), clock, limits);
    session->manager.setCookieJar(new NoCookieJar(&session->manager));
    // Redirects are checked one by one (see redirectAllowed); Qt would otherwise follow any.
    session->manager.setRedirectPolicy(QNetworkRequest::UserVerifiedRedirectPolicy);
    return BackendClient(std::move(session));
}

BackendClient BackendClient::create(QUrl baseURL, Clock &clock)
{
    return create(std::move(baseURL), clock, Limits());
}

const QUrl &BackendClient::baseURL() const
{
    return m_session->baseURL;
}

Clock &BackendClient::clock() const
{
    return m_session->clock;
}

QUrl BackendClient::endpointURL(const QString &path, const QList<std::pair<QString, QString>> &query) const
{
    QUrl url = m_session->baseURL;
    QString base = url.path(QUrl::FullyEncoded);
    while (base.endsWith(QLatin1Char('/')))
        base.chop(1);
    QString tail = path;
    while (tail.startsWith(QLatin1Char('/')))
        tail.remove(0, 1);
    url.setPath(base + QLatin1Char('/') + tail, QUrl::TolerantMode);
    url.setFragment(QString());
    if (query.isEmpty()) {
        url.setQuery(QString());
    } else {
        // Encoded by hand: QUrlQuery leaves "+" alone, which servers read as a space.
        QStringList items;
        for (const auto &[key, value] : query)
            items.push_back(QString::fromLatin1(QUrl::toPercentEncoding(key) + '=' + QUrl::toPercentEncoding(value)));
        url.setQuery(items.join(QLatin1Char('&')), QUrl::TolerantMode);
    }
    return url;
}

bool BackendClient::redirectAllowed(const QUrl &from, const QUrl &to)
{
    const QUrl target = from.resolved(to);
    return target.isValid() && target.scheme().compare(from.scheme(), Qt::CaseInsensitive) == 0 &&
           target.host().compare(from.host(), Qt::CaseInsensitive) == 0 &&
           target.port(from.scheme() == QLatin1String("https") ? 443 : 80) ==
               from.port(from.scheme() == QLatin1String("https") ? 443 : 80);
}

namespace {

enum class Stop { None, Stall, Total, Cancelled, TooLarge, Redirect };

// One request in flight: what has arrived, why it was stopped, and the coroutine waiting for it.
// Shared by the reply's signal handlers, the timers and the awaiter, so every copy sees one state.
struct Exchange {
    QNetworkReply *reply = nullptr;
    QByteArray body;
    qint64 maxBody = 0;
    Stop stop = Stop::None;
    QUrl refusedRedirect;
    Millis lastProgress{0};
    bool finished = false;
    std::coroutine_handle<> waiter;
    TimerHandle stallTimer;
    TimerHandle totalTimer;

    void halt(Stop why)
    {
        if (stop == Stop::None && !finished) {
            stop = why;
            reply->abort();
        }
    }
    void take()
    {
        if (stop != Stop::None)
            return;
        const QByteArray chunk = reply->readAll();
        if (body.size() + chunk.size() > maxBody)
            halt(Stop::TooLarge);
        else
            body += chunk;
    }
};

class FinishedAwaiter {
public:
    explicit FinishedAwaiter(std::shared_ptr<Exchange> exchange) : m_exchange(std::move(exchange)) {}
    bool await_ready() const noexcept { return m_exchange->finished; }
    void await_suspend(std::coroutine_handle<> handle) { m_exchange->waiter = handle; }
    void await_resume() const noexcept {}

private:
    std::shared_ptr<Exchange> m_exchange;
};

void watchStall(const std::weak_ptr<Exchange> &weak, Clock &clock, Millis stall)
{
    auto exchange = weak.lock();
    if (!exchange)
        return;
    const Millis quiet = clock.monotonic() - exchange->lastProgress;
    if (quiet >= stall) {
        exchange->halt(Stop::Stall);
        return;
    }
    exchange->stallTimer = clock.callAfter(stall - quiet, [weak, &clock, stall] { watchStall(weak, clock, stall); });
}

}  // namespace

QCoro::Task<BackendResult<QByteArray>> BackendClient::send(QByteArray method, QUrl url, QByteArray body,
                                                           QString sessionToken, CancelToken cancel) const
{
    const std::shared_ptr<Session> session = m_session;  // keeps the manager alive while we wait
    if (cancel.isCancelled())
        co_return ClientError::transport(QStringLiteral("Request cancelled"));

    QNetworkRequest request(url);
    request.setAttribute(QNetworkRequest::CookieLoadControlAttribute, QNetworkRequest::Manual);
    request.setAttribute(QNetworkRequest::CookieSaveControlAttribute, QNetworkRequest::Manual);
    request.setAttribute(QNetworkRequest::AuthenticationReuseAttribute, QNetworkRequest::Manual);
    request.setAttribute(QNetworkRequest::CacheLoadControlAttribute, QNetworkRequest::AlwaysNetwork);
    request.setAttribute(QNetworkRequest::CacheSaveControlAttribute, false);
    request.setMaximumRedirectsAllowed(5);
    if (method == "POST")
        request.setHeader(QNetworkRequest::ContentTypeHeader, QByteArrayLiteral("application/json"));
    if (!sessionToken.isEmpty())
        request.setRawHeader("Authorization", "Bearer " + sessionToken.toUtf8());

    Clock &clock = session->clock;
    const Limits limits = session->limits;
    auto exchange = std::make_shared<Exchange>();
    exchange->maxBody = limits.maxBodyBytes;
    exchange->lastProgress = clock.monotonic();
    QNetworkReply *reply = method == "POST" ? session->manager.post(request, body) : session->manager.get(request);
    exchange->reply = reply;
    // Back-pressure: Qt stops reading the socket while this much is unread, so an oversized answer
    // is never held in memory whole.
    reply->setReadBufferSize(256 * 1024);

    const std::weak_ptr<Exchange> weak = exchange;
    auto progressed = [weak, &clock] {
        if (auto e = weak.lock())
            e->lastProgress = clock.monotonic();
    };
    QObject::connect(reply, &QNetworkReply::uploadProgress, reply, progressed);
    QObject::connect(reply, &QNetworkReply::downloadProgress, reply, progressed);
    QObject::connect(reply, &QNetworkReply::readyRead, reply, [weak, progressed] {
        progressed();
        if (auto e = weak.lock())
            e->take();
    });
    QObject::connect(reply, &QNetworkReply::metaDataChanged, reply, [weak, progressed] {
        progressed();
        auto e = weak.lock();
        if (!e)
            return;
        bool known = false;
        const qint64 length = e->reply->header(QNetworkRequest::ContentLengthHeader).toLongLong(&known);
        if (known && length > e->maxBody)
            e->halt(Stop::TooLarge);
    });
    QObject::connect(reply, &QNetworkReply::redirected, reply, [weak, url](const QUrl &to) {
        auto e = weak.lock();
        if (!e)
            return;
        if (redirectAllowed(url, to)) {
            Q_EMIT e->reply->redirectAllowed();
        } else {
            e->refusedRedirect = url.resolved(to);
            e->halt(Stop::Redirect);
        }
    });
    // Resumed from the event loop, never from inside abort(), a timer or cancel(): whoever stopped the
    // request finishes its own work first.
    QObject::connect(
        reply, &QNetworkReply::finished, reply,
        [weak] {
            auto e = weak.lock();
            if (!e || e->finished)
                return;
            e->finished = true;
            if (auto waiter = std::exchange(e->waiter, {}))
                waiter.resume();
        },
        Qt::QueuedConnection);

    exchange->stallTimer =
        clock.callAfter(limits.stall, [weak, &clock, stall = limits.stall] { watchStall(weak, clock, stall); });
    exchange->totalTimer = clock.callAfter(limits.total, [weak] {
        if (auto e = weak.lock())
            e->halt(Stop::Total);
    });
    const int listener = cancel.onCancel([weak] {
        if (auto e = weak.lock())
            e->halt(Stop::Cancelled);
    });

    co_await FinishedAwaiter(exchange);

    cancel.removeListener(listener);
    exchange->stallTimer.cancel();
    exchange->totalTimer.cancel();
    exchange->take();
    reply->disconnect();
    reply->deleteLater();

    switch (exchange->stop) {
        case Stop::None:
            break;
        case Stop::Stall:
            co_return ClientError::transport(
                QStringLiteral("Request timed out: no data for %1").arg(seconds(limits.stall)));
        case Stop::Total:
            co_return ClientError::transport(
                QStringLiteral("Request timed out: not finished within %1").arg(seconds(limits.total)));
        case Stop::Cancelled:
            co_return ClientError::transport(QStringLiteral("Request cancelled"));
        case Stop::TooLarge:
            co_return ClientError::transport(
                QStringLiteral("Response refused: larger than %1").arg(bytes(limits.maxBodyBytes)));
        case Stop::Redirect:
            co_return ClientError::transport(
                QStringLiteral("Redirect to another origin refused: %1").arg(origin(exchange->refusedRedirect)));
    }

    // Error texts end up in the log and the menu; a token echoed by a server or a stack must not.
    auto redacted = [&sessionToken](QString text) {
        if (!sessionToken.isEmpty())
            text.replace(sessionToken, QStringLiteral("<token>"));
        return text;
    };
    const QVariant status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    const QNetworkReply::NetworkError error = reply->error();
    if (status.isValid()) {
        const int code = status.toInt();
        if (code < 200 || code > 299) {
            ClientError refused = ClientError::status(code, redacted(utf8Prefix(exchange->body, 400)));
            // Delta-seconds, or an HTTP date ("Sat, 14 Mar 2026 09:10:00 GMT") counted from now.
            const QByteArray after = reply->rawHeader("Retry-After").trimmed();
            bool seconds = false;
            const qint64 wait = after.toLongLong(&seconds);
            QString date = QString::fromLatin1(after);  // an HTTP date's zone is always "GMT"
            date.replace(QLatin1String(" GMT"), QLatin1String(" +0000"));
            const QDateTime at = QDateTime::fromString(date, Qt::RFC2822Date);
            if (seconds && wait >= 0)
                refused.retryAfterSeconds = wait;
            else if (!seconds && at.isValid())
                refused.retryAfterSeconds = std::max<qint64>(0, clock.now().secsTo(at));
            co_return refused;
        }
        // A 2xx whose body broke off is not a success, even when Qt, seeing the connection reset,
        // reports none: a body shorter than its uncompressed Content-Length broke off.
        bool known = false;
        const qint64 length = reply->header(QNetworkRequest::ContentLengthHeader).toLongLong(&known);
        if (known && exchange->body.size() < length && reply->rawHeader("Content-Encoding").isEmpty())
            co_return ClientError::transport(QStringLiteral("Connection closed"));
        if (error == QNetworkReply::NoError)
            co_return std::move(exchange->body);
    }
    if (error != QNetworkReply::NoError)
        co_return ClientError::transport(redacted(reply->errorString()));
    co_return ClientError::notHTTP();
}

}  // namespace fennimar
