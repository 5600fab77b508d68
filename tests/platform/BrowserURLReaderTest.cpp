// The element-tree walk: breadth first, 1,500 elements on 12 levels, a web area's address, else a URL field.
#include "platform/BrowserURLReader.h"
#include "core/SiteHost.h"
#include "tests/fakes/FakeElementTree.h"

#include <gtest/gtest.h>

using namespace fennimar;

namespace {

TEST(ReferenceWalk, FindsTheAddressWithinItsLimits)
{
    const auto url = [](const char *u) { return AddressOutcome::url(QString::fromLatin1(u)); };
    const auto unreadable = [](const char *why) { return AddressOutcome::unreadable(QString::fromLatin1(why)); };
    const struct {
        const char *name;
        int depth, before;  // the web area's level (0: none), and the plain elements before it in the window
        std::vector<const char *> fields;  // address-bar texts on level 1
        bool focused, trusted;             // the first field focused; the tree trusted
        AddressOutcome expected;
        int requests;  // at most: none untrusted, two an element (1,500 at most) plus window and focus
    } cases[] = {
        {"untrusted", 1, 0, {}, false, false, AddressOutcome::noPermission(), 0},
        {"web area on the deepest level", 11, 0, {}, false, true, url("https://page.example.com/"), 25},
        {"web area one level too deep", 12, 0, {}, false, true, unreadable("no address found"), 25},
        {"too deep, the bar focused", 12, 0, {"example.org/watch"}, true, true, AddressOutcome::editing(), 30},
        {"first field wins", 0, 0, {"homework", "a.example.com", "b.example"}, false, true, url("a.example.com"), 12},
        {"web area is the last element allowed", 1, 1498, {}, false, true, url("https://page.example.com/"), 3001},
        {"web area beyond the limit", 1, 1499, {}, false, true, unreadable("page too large to scan"), 3001},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        test::FakeElementTree tree;
        tree.trusted = c.trusted;
        auto window = tree.element("AXWindow");
        auto app = tree.element("AXApplication", "AXFocusedWindow", window);
        tree.apps.insert(7, app);
        for (const char *text : c.fields)
            window->add(tree.element("AXTextField", "AXValue", QString::fromLatin1(text)));
        if (c.focused)
            app->set("AXFocusedUIElement", tree.element("AXTextField"));
        for (int i = 0; i < c.before; ++i)
            window->add(tree.element());
        auto at = window;
        for (int level = 1; level < c.depth; ++level) {
            auto next = tree.element();
            at->add(next);
            at = next;
        }
        if (c.depth)
            at->add(tree.element("AXWebArea", "AXURL", QUrl(QStringLiteral("https://page.example.com/"))));
        *tree.requests = 0;
        EXPECT_EQ(BrowserURLReader::read(tree, 7), c.expected);
        EXPECT_LE(*tree.requests, c.requests);
    }
}

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
