#include "measure/SiteHost.h"

#include <QUrl>

namespace fennimar {

namespace {

// QUrl shows an internationalised host in Unicode only for top-level domains on its display list;
// going through the ASCII form first makes the result the same for every domain.
QString unicodeHost(const QUrl &url)
{
    const QString encoded = url.host(QUrl::FullyEncoded);
    const QString decoded = QUrl::fromAce(encoded.toLatin1());
    QString host = (decoded.isEmpty() ? encoded : decoded).toLower();
    if (host.endsWith(QLatin1Char('.')))
        host.chop(1);
    return host;
}

}  // namespace

std::optional<QString> SiteHost::of(const QString &address)
{
    const QString text = address.contains(QLatin1String("://")) ? address : QLatin1String("https://") + address;
    const QUrl url(text, QUrl::StrictMode);
    if (!url.isValid())
        return std::nullopt;
    QString host = unicodeHost(url);
    if (host.isEmpty() || !host.contains(QLatin1Char('.')))
        return std::nullopt;
    if (host.startsWith(QLatin1String("www.")))
        host.remove(0, 4);
    return host;
}

QString SiteHost::canonicalDomain(const QString &domain)
{
    const QUrl url(QLatin1String("https://") + domain, QUrl::StrictMode);
    const bool bareHost = url.isValid() && !url.host().isEmpty() && url.userInfo().isEmpty() && url.port() == -1 &&
                          url.path().isEmpty() && !url.hasQuery() && !url.hasFragment();
    if (!bareHost)
        return domain.toLower();
    return unicodeHost(url);
}

}  // namespace fennimar
