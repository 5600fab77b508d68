#include "core/SiteHost.h"

#include <QUrl>

namespace fennimar {

namespace {

// QUrl shows an internationalised host in Unicode only for top-level domains on its display list,
// and judges that by the last label, so "bücher.xyz." and "bücher.xyz" came out in different forms.
// Dropping the root dot first and decoding the ASCII form regardless of that list gives one form
// for every domain.
QString unicodeHost(const QUrl &url)
{
    QString encoded = url.host(QUrl::FullyEncoded);
    if (encoded.endsWith(QLatin1Char('.')))
        encoded.chop(1);
    const QString decoded = QUrl::fromAce(encoded.toLatin1(), QUrl::IgnoreIDNWhitelist);
    return (decoded.isEmpty() ? encoded : decoded).toLower();
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
