#include "measure/SiteHost.h"

#include <gtest/gtest.h>

using namespace fennimar;

namespace {

TEST(SiteHost, ReducesAnAddressToItsComparableHost)
{
    const std::pair<const char *, const char *> cases[] = {
        // nullptr: no host
        {"https://www.Example.COM/watch?v=1", "example.com"},
        {"http://www.www.example.com", "www.example.com"},  // removed once
        {"wwwexample.com", "wwwexample.com"},
        {"https://user@example.com/", "example.com"},
        {"example.com.", "example.com"},
        {"https://xn--bcher-kva.de/", "bücher.de"},
        // A top-level domain outside Qt's display list.
        {"https://xn--bcher-kva.xyz/", "bücher.xyz"},
        {"192.168.1.20/admin", "192.168.1.20"},
        {"homework", nullptr},
        {"localhost:3000", nullptr},
        {"how to example.com", nullptr},
        {"example.com/100%", nullptr},
        {"about:blank", nullptr},
    };
    for (const auto &[address, host] : cases) {
        const auto got = SiteHost::of(QString::fromUtf8(address));
        EXPECT_EQ(got, host ? std::optional(QString::fromUtf8(host)) : std::nullopt) << address;
    }
}

}  // namespace
