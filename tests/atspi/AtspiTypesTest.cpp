#include "agent/Log.h"
#include "platform/linux/atspi/AtspiCaller.h"
#include "platform/linux/atspi/AtspiTypes.h"

#include "tests/support/TempHome.h"

#include <QDBusMetaType>

#include <gtest/gtest.h>

#include <climits>
#include <memory>

namespace fennimar::atspi {
namespace {

TEST(AtspiRules, BitSetsAndSignatureAreWhatTheBridgeReads)
{
    registerTypes();
    // Role 95 is the top bit of word 2: it must travel as a negative int, not be dropped.
    const MatchRule documents = showingDocumentRule();
    EXPECT_EQ(documents.roles, (QList<int>{0, 0, INT_MIN, 0}));
    EXPECT_EQ(documents.states, (QList<int>{1 << 25, 0}));
    EXPECT_EQ(documents.stateMatch, MatchAll);
    EXPECT_EQ(documents.roleMatch, MatchAny);  // ALL never matches roles in the bridge
    // The bridge drops every object when an unused criterion's type is INVALID (0).
    EXPECT_EQ(documents.attributeMatch, MatchAll);
    EXPECT_EQ(documents.interfaceMatch, MatchAll);

    const MatchRule bars = addressBarRule();
    EXPECT_EQ(bars.roles, (QList<int>{1 << 11, 0, 1 << 15, 0}));
    EXPECT_EQ(bars.states, (QList<int>{1 << 7, 0}));

    EXPECT_STREQ(QDBusMetaType::typeToSignature(QMetaType::fromType<MatchRule>()), "(aiia{ss}iaiiasib)");
    EXPECT_STREQ(QDBusMetaType::typeToSignature(QMetaType::fromType<QList<ObjectRef>>()), "a(so)");

    EXPECT_TRUE(hasState({0, 1u << 31}, 63));
    EXPECT_FALSE(hasState({0xffffffffu}, 32));  // a short set from the wire is not read past its end
    EXPECT_TRUE(hasState({1u << State::Focused, 0}, State::Focused));
}

TEST(AtspiRules, DocumentAddressComesFromEitherBrowsersKey)
{
    using Map = QMap<QString, QString>;
    EXPECT_EQ(documentAddress(Map{{"URI", "https://a.example/x"}}), QString("https://a.example/x"));
    EXPECT_EQ(documentAddress(Map{{"DocURL", "https://b.example/"}, {"DocType", "html"}}),
              QString("https://b.example/"));
    EXPECT_EQ(documentAddress(Map{{"URI", " "}, {"DocURL", "https://c.example/"}}), QString("https://c.example/"));
    EXPECT_EQ(documentAddress(Map{{"DocType", "html"}}), std::nullopt);
    EXPECT_EQ(documentAddress(Map{}), std::nullopt);
}

TEST(AtspiRules, BrowserInterfaceDocumentsAreRecognised)
{
    const std::pair<const char *, bool> cases[] = {
        {"chrome://omnibox-popup.top-chrome/", true},
        {"chrome://tab-search.top-chrome/", true},
        {"chrome://settings/", false},
        {"https://omnibox-popup.top-chrome/", false},
        {"https://example.com/", false},
        {"about:blank", false},
    };
    for (const auto &[address, internal] : cases)
        EXPECT_EQ(isBrowserInterfaceDocument(QString::fromLatin1(address)), internal) << address;
}

TEST(AtspiRules, AddressBarTextLooksLikeAnAddressOnlyWithAHost)
{
    const std::pair<const char *, bool> cases[] = {
        {"example.com", true},
        {"example.com/path?q=1", true},
        {"https://www.example.org/", true},
        {"  news.example.net  ", true},
        {"homework", false},
        {"how to draw", false},
        {"example.", false},
        {"", false},
        {"http://localhost/", false},
    };
    for (const auto &[text, address] : cases)
        EXPECT_EQ(looksLikeAddress(QString::fromLatin1(text)), address) << text;
}

TEST(AtspiRules, ErrorsAreSortedByWhatTheReaderDoesNext)
{
    using F = AtspiCaller::Failure;
    const std::pair<const char *, F> cases[] = {
        {"org.freedesktop.DBus.Error.NoReply", F::Hung},
        {"org.freedesktop.DBus.Error.Timeout", F::Hung},
        {"org.freedesktop.DBus.Error.ServiceUnknown", F::Gone},
        {"org.freedesktop.DBus.Error.Disconnected", F::Gone},
        {"org.freedesktop.DBus.Error.UnknownMethod", F::Unsupported},
        {"org.freedesktop.DBus.Error.UnknownInterface", F::Unsupported},
        // A vanished object inside a live browser is ordinary, not a reason to forget the browser.
        {"org.freedesktop.DBus.Error.UnknownObject", F::Other},
        {"org.freedesktop.DBus.Error.Failed", F::Other},
    };
    for (const auto &[name, failure] : cases)
        EXPECT_EQ(AtspiCaller::classify(QString::fromLatin1(name)), failure) << name;
}

}  // namespace
}  // namespace fennimar::atspi

namespace {

// The reader logs; its lines go to a log file under a temporary home, never the real user's.
class TemporaryLogHome : public ::testing::Environment {
public:
    void SetUp() override { m_home = std::make_unique<fennimar::test::TempHome>(); }
    void TearDown() override
    {
        fennimar::Log::drain();
        m_home.reset();
    }

private:
    std::unique_ptr<fennimar::test::TempHome> m_home;
};

[[maybe_unused]] const auto *const logHome = ::testing::AddGlobalTestEnvironment(new TemporaryLogHome);

}  // namespace
