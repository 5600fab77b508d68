#include "measure/BrowserURLReader.h"
#include "measure/BrowserURLResolver.h"
#include "tests/fakes/FakeElementTree.h"

#include <gtest/gtest.h>

#include <functional>

using namespace fennimar;
using fennimar::test::FakeElement;
using fennimar::test::FakeElementTree;

namespace {

constexpr qint64 pid = 4242;

using Builder = std::function<void(FakeElementTree &)>;

struct WalkCase {
    const char *name;
    Builder build;
    AddressOutcome expected;
};

std::shared_ptr<FakeElement> window(FakeElementTree &t)
{
    auto w = t.element("AXWindow");
    t.addApplication(pid, w);
    return w;
}

std::shared_ptr<FakeElement> webArea(FakeElementTree &t, const char *url)
{
    auto e = t.element("AXWebArea");
    if (url)
        e->set("AXURL", QUrl(QString::fromLatin1(url)));
    return e;
}

std::shared_ptr<FakeElement> textField(FakeElementTree &t, const char *text)
{
    auto e = t.element("AXTextField");
    e->set("AXValue", QString::fromLatin1(text));
    return e;
}

// A web area at the given depth below the focused window (depth 0), optionally with an address-bar
// field on level 1 and that field focused.
Builder webAreaAtDepth(int depth, const char *field = nullptr, bool fieldFocused = false)
{
    return [=](FakeElementTree &t) {
        auto w = t.element("AXWindow");
        auto app = t.addApplication(pid, w);
        if (field) {
            auto tf = textField(t, field);
            w->add(tf);
            if (fieldFocused)
                app->set("AXFocusedUIElement", tf);
        }
        auto parent = depth > 1 ? t.chain(*w, depth - 1) : w;
        parent->add(webArea(t, "https://deep.example.com/page"));
    };
}

// The focused window plus `before` plain siblings, then a web area, all on level 1.
Builder webAreaAfter(int before)
{
    return [=](FakeElementTree &t) {
        auto w = window(t);
        for (int i = 0; i < before; ++i)
            w->add(t.element());
        w->add(webArea(t, "https://wide.example.com/"));
    };
}

const AddressOutcome deep = AddressOutcome::url(QStringLiteral("https://deep.example.com/page"));
const AddressOutcome noAddress = AddressOutcome::unreadable(QString::fromLatin1(AddressOutcome::noAddressFound));

const WalkCase walkCases[] = {
    {"NoApplication", [](FakeElementTree &) {}, AddressOutcome::unreadable(QStringLiteral("no focused window"))},
    {"NoFocusedWindow", [](FakeElementTree &t) { t.addApplication(pid, nullptr); },
     AddressOutcome::unreadable(QStringLiteral("no focused window"))},
    {"WebAreaOnTheDeepestExaminedLevel", webAreaAtDepth(11), deep},
    {"WebAreaOneLevelTooDeep", webAreaAtDepth(12), noAddress},
    {"TooDeepFallsBackToTheAddressBar", webAreaAtDepth(12, "example.org/watch?v=1"),
     AddressOutcome::url(QStringLiteral("example.org/watch?v=1"))},
    {"TooDeepWithTheAddressBarFocused", webAreaAtDepth(12, "example.org/watch", true), AddressOutcome::editing()},
    {"WebAreaWinsOverAnEarlierCandidateEvenWhileEditing", webAreaAtDepth(5, "example.org", true), deep},
    {"WebAreaIsTheLastElementAllowed", webAreaAfter(1498),
     AddressOutcome::url(QStringLiteral("https://wide.example.com/"))},
    {"WebAreaJustBeyondTheElementLimit", webAreaAfter(1499),
     AddressOutcome::unreadable(QStringLiteral("page too large to scan"))},
    {"CandidateSurvivesTheElementLimit",
     [](FakeElementTree &t) {
         auto w = window(t);
         w->add(textField(t, "news.example.co.uk/today"));
         for (int i = 0; i < 1600; ++i)
             w->add(t.element());
     },
     AddressOutcome::url(QStringLiteral("news.example.co.uk/today"))},
    {"FirstCandidateInBreadthFirstOrderWins",
     [](FakeElementTree &t) {
         auto w = window(t);
         auto group = t.element();
         group->add(textField(t, "deeper.example.com"));
         w->add(group);
         w->add(textField(t, "shallow.example.com"));
         w->add(textField(t, "later.example.com"));
     },
     AddressOutcome::url(QStringLiteral("shallow.example.com"))},
    {"SearchWordsAndSpacesAreNoCandidates",
     [](FakeElementTree &t) {
         auto w = window(t);
         w->add(textField(t, "homework"));
         w->add(textField(t, "how to example.com"));
         w->add(textField(t, "localhost:8080"));
     },
     noAddress},
    {"WebAreaWithoutAddressIsWalkedThrough",
     [](FakeElementTree &t) {
         auto w = window(t);
         auto outer = webArea(t, nullptr);
         outer->add(webArea(t, "https://inner.example.com/frame"));
         w->add(outer);
     },
     AddressOutcome::url(QStringLiteral("https://inner.example.com/frame"))},
    {"WebAreaAddressGivenAsPlainString",
     [](FakeElementTree &t) {
         auto w = window(t);
         auto area = t.element("AXWebArea");
         area->set("AXURL", QStringLiteral("https://string.example.com/"));
         w->add(area);
     },
     AddressOutcome::url(QStringLiteral("https://string.example.com/"))},
    {"ElementWithoutRoleHidesItsSubtree",
     [](FakeElementTree &t) {
         auto w = window(t);
         auto opaque = t.element("");
         opaque->add(webArea(t, "https://hidden.example.com/"));
         w->add(opaque);
     },
     noAddress},
    {"FocusOnSomethingElseIsNotEditing",
     [](FakeElementTree &t) {
         auto w = t.element("AXWindow");
         auto app = t.addApplication(pid, w);
         w->add(textField(t, "example.com/a"));
         app->set("AXFocusedUIElement", t.element("AXButton"));
     },
     AddressOutcome::url(QStringLiteral("example.com/a"))},
};

class ReferenceWalk : public ::testing::TestWithParam<WalkCase> {};

TEST_P(ReferenceWalk, FindsTheAddressWithinItsLimits)
{
    FakeElementTree tree;
    GetParam().build(tree);
    EXPECT_EQ(BrowserURLReader::read(tree, pid), GetParam().expected);
    // Every element costs at most three requests (role, children, address or value), plus the
    // window and focus look-ups.
    EXPECT_LE(*tree.requests, 3 * BrowserURLReader::maxElements + 3);
}

INSTANTIATE_TEST_SUITE_P(Trees, ReferenceWalk, ::testing::ValuesIn(walkCases),
                         [](const auto &c) { return std::string(c.param.name); });

TEST(ReferenceWalkTrust, AnUntrustedProcessTouchesNoApplication)
{
    FakeElementTree tree;
    webAreaAtDepth(1)(tree);
    tree.trusted = false;
    EXPECT_EQ(BrowserURLReader::read(tree, pid), AddressOutcome::noPermission());
    EXPECT_EQ(tree.applicationCalls, 0);
    EXPECT_EQ(*tree.requests, 0);
}

TEST(BrowserURLResolver, RemembersTheLastAddressPerBrowserForEditing)
{
    const QString a = QStringLiteral("firefox"), b = QStringLiteral("chromium");
    const auto url = [](const char *u) { return AddressOutcome::url(QString::fromLatin1(u)); };
    using D = BrowserURLResolver::Decision;
    struct Step {
        QString browser;
        AddressOutcome outcome;
        D expected;
    };
    const Step steps[] = {
        {a, AddressOutcome::editing(), D::unreadable(QStringLiteral("address bar being edited"))},
        {a, url("https://one.example.com/"), D::url(QStringLiteral("https://one.example.com/"))},
        {a, AddressOutcome::editing(), D::url(QStringLiteral("https://one.example.com/"))},
        {b, AddressOutcome::editing(), D::unreadable(QStringLiteral("address bar being edited"))},
        {a, AddressOutcome::unreadable(QStringLiteral("no focused window")),
         D::unreadable(QStringLiteral("no focused window"))},
        {a, AddressOutcome::noPermission(), D::noPermission()},
        {a, AddressOutcome::editing(), D::url(QStringLiteral("https://one.example.com/"))},
        {a, url("https://two.example.com/"), D::url(QStringLiteral("https://two.example.com/"))},
        {a, AddressOutcome::editing(), D::url(QStringLiteral("https://two.example.com/"))},
    };
    BrowserURLResolver resolver;
    int i = 0;
    for (const Step &s : steps)
        EXPECT_EQ(resolver.resolve(s.browser, s.outcome), s.expected) << "step " << i++;
}

}  // namespace
