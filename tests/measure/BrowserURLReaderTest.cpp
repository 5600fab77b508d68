// The reference walk over an application's element tree (the macOS reader's): breadth first, at most
// 1,500 elements on 12 levels, a web area's address first, else the first address-like text field.
#include "measure/BrowserURLReader.h"
#include "tests/fakes/FakeElementTree.h"

#include <gtest/gtest.h>

#include <functional>
#include <vector>

using namespace fennimar;
using fennimar::test::FakeElementTree;

namespace {

constexpr qint64 pid = 4242;
using Builder = std::function<void(FakeElementTree &)>;

// A web area `depth` levels below the focused window (level 0), optionally with an address-bar field
// on level 1 and that field focused.
Builder webAreaAtDepth(int depth, const char *field = nullptr, bool focused = false)
{
    return [=](FakeElementTree &t) {
        auto w = t.element("AXWindow");
        auto app = t.addApplication(pid, w);
        if (field) {
            auto tf = t.field(field);
            w->add(tf);
            if (focused)
                app->set("AXFocusedUIElement", tf);
        }
        t.chain(w, depth - 1)->add(t.webArea("https://deep.example.com/page"));
    };
}

// The focused window holding `before` plain elements, then a web area; or the given fields.
Builder wide(int before, std::vector<const char *> fields = {})
{
    return [=](FakeElementTree &t) {
        auto w = t.element("AXWindow");
        t.addApplication(pid, w);
        for (const char *f : fields)
            w->add(t.field(f));
        for (int i = 0; i < before; ++i)
            w->add(t.element());
        if (fields.empty())
            w->add(t.webArea("https://wide.example.com/"));
    };
}

TEST(ReferenceWalk, FindsTheAddressWithinItsLimits)
{
    const auto url = [](const char *u) { return AddressOutcome::url(QString::fromLatin1(u)); };
    const AddressOutcome deep = url("https://deep.example.com/page");
    const AddressOutcome noAddress = AddressOutcome::unreadable(QStringLiteral("no address found"));
    const struct {
        const char *name;
        Builder build;
        AddressOutcome expected;
    } cases[] = {
        {"untrusted",
         [](FakeElementTree &t) {
             webAreaAtDepth(1)(t);
             t.trusted = false;
         },
         AddressOutcome::noPermission()},
        {"no application", [](FakeElementTree &) {}, AddressOutcome::unreadable(QStringLiteral("no focused window"))},
        {"web area on the deepest level", webAreaAtDepth(11), deep},
        {"web area one level too deep", webAreaAtDepth(12), noAddress},
        {"too deep: the address bar", webAreaAtDepth(12, "example.org/watch?v=1"), url("example.org/watch?v=1")},
        {"too deep, the bar focused", webAreaAtDepth(12, "example.org/watch", true), AddressOutcome::editing()},
        {"a web area wins over the bar while editing", webAreaAtDepth(5, "example.org", true), deep},
        {"web area is the last element allowed", wide(1498), url("https://wide.example.com/")},
        {"web area beyond the limit", wide(1499), AddressOutcome::unreadable(QStringLiteral("page too large to scan"))},
        {"the first field wins", wide(0, {"homework", "shallow.example.com", "later.example.com"}),
         url("shallow.example.com")},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        FakeElementTree tree;
        c.build(tree);
        EXPECT_EQ(BrowserURLReader::read(tree, pid), c.expected);
        // Three requests an element (role, children, address or value) plus window and focus.
        EXPECT_LE(*tree.requests, 4503);
    }
}

}  // namespace
