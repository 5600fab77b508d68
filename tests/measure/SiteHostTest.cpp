#include "measure/SiteHost.h"

#include <gtest/gtest.h>

using namespace fennimar;

namespace {

struct HostCase {
    const char *address;
    const char *host;  // nullptr: nothing
};

class HostOf : public ::testing::TestWithParam<HostCase> {};

TEST_P(HostOf, ReducesAnAddressToItsComparableHost)
{
    const auto result = SiteHost::of(QString::fromUtf8(GetParam().address));
    if (GetParam().host)
        EXPECT_EQ(result.value_or(QStringLiteral("<nothing>")), QString::fromUtf8(GetParam().host));
    else
        EXPECT_FALSE(result.has_value()) << result->toStdString();
}

INSTANTIATE_TEST_SUITE_P(
    Addresses, HostOf,
    ::testing::Values(HostCase{"https://www.Example.COM/watch?v=1", "example.com"},
                      HostCase{"example.com/watch", "example.com"},
                      HostCase{"news.example.co.uk", "news.example.co.uk"},
                      HostCase{"ftp://files.example.org/pub", "files.example.org"},
                      HostCase{"http://www.www.example.com", "www.example.com"},  // removed once
                      HostCase{"wwwexample.com", "wwwexample.com"}, HostCase{"example.com:8443/x", "example.com"},
                      HostCase{"https://user@example.com/", "example.com"}, HostCase{"example.com.", "example.com"},
                      HostCase{"https://xn--bcher-kva.de/", "bücher.de"}, HostCase{"bücher.de/buch", "bücher.de"},
                      // A top-level domain outside Qt's display list, with and without the root dot.
                      HostCase{"https://xn--bcher-kva.xyz/", "bücher.xyz"}, HostCase{"bücher.xyz./a", "bücher.xyz"},
                      HostCase{"192.168.1.20/admin", "192.168.1.20"}, HostCase{"homework", nullptr},
                      HostCase{"localhost:3000", nullptr}, HostCase{"https://[::1]/", nullptr},
                      HostCase{"how to example.com", nullptr}, HostCase{"https://example.com/a b", nullptr},
                      HostCase{"example.com/100%", nullptr}, HostCase{"", nullptr}, HostCase{"https://", nullptr},
                      HostCase{"about:blank", nullptr}, HostCase{"file:///home/kid/page.html", nullptr}));

TEST(SiteHost, CanonicalDomainMatchesTheFormOfVisitedHosts)
{
    EXPECT_EQ(SiteHost::canonicalDomain(QStringLiteral("Example.COM")), QStringLiteral("example.com"));
    EXPECT_EQ(SiteHost::canonicalDomain(QStringLiteral("www.Example.com")), QStringLiteral("www.example.com"));
    EXPECT_EQ(SiteHost::canonicalDomain(QStringLiteral("XN--BCHER-KVA.de")), QStringLiteral("bücher.de"));
    EXPECT_EQ(SiteHost::canonicalDomain(QStringLiteral("xn--bcher-kva.xyz.")), QStringLiteral("bücher.xyz"));
    EXPECT_EQ(SiteHost::canonicalDomain(QStringLiteral("Not A Host")), QStringLiteral("not a host"));
}

}  // namespace
