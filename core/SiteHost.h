#pragma once

#include <QString>

#include <optional>

namespace fennimar {

// The one rule that turns an address (a full URL or an address bar's text without a scheme) into the
// host that the monitored domains are compared with. Pure and cheap (one URL parse).
class SiteHost {
public:
    // The lower-case host of an address, without one leading "www.", or nothing when the text is not
    // a valid URI reference (a space anywhere, a bad character in the host), has no host, or the host
    // is a single label (no "."), such as a bare machine name or a search word. Text without "://"
    // is read as an https address. Internationalised names come back in their Unicode form whether
    // they were written that way or in the "xn--" form, and one trailing root dot is dropped, so
    // that every spelling of the same site gives the same host.
    static std::optional<QString> of(const QString &address);

    // A monitored domain in the form hosts are given in by of(): lower case, Unicode form of an
    // internationalised name, no trailing root dot. A leading "www." is kept: it is part of what
    // the parent chose. Text that is not a host name is only lower-cased.
    static QString canonicalDomain(const QString &domain);
};

}  // namespace fennimar
