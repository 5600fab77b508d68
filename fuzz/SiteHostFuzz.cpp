// Feeds arbitrary text to the host rule that decides which site a second belongs to. A host it gives
// is already in the form monitored domains are brought to, or a monitored site would never match.
#include "FuzzSupport.h"

#include "core/SiteHost.h"

#include <QRegularExpression>

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    fennimar::fuzz::startQt();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    using fennimar::SiteHost;
    const QString address = QString::fromUtf8(fennimar::fuzz::bytesOf(data, size));
    const auto host = SiteHost::of(address);
    (void)SiteHost::canonicalDomain(address);
    if (host) {
        // The dot is required before one "www." is removed, so "www.intranet" gives "intranet".
        fennimar::fuzz::require(!host->isEmpty());
        // QUrl rewrites numeric IPv4 shorthand ("2.2" is 2.0.0.2) but not once a root dot follows;
        // no monitored site is written that way, so only names are held to the fixed point.
        const QString last = host->section(QLatin1Char('.'), -1);
        static const QRegularExpression numeric(QStringLiteral("^(0x)?[0-9a-f]*$"));
        if (!numeric.match(last).hasMatch())
            fennimar::fuzz::require(SiteHost::canonicalDomain(*host) == *host);
    }
    return 0;
}
