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
    EXPECT_EQ(documents.roleMatch, MatchAny);  // ALL never matches roles in the bridge
    // The bridge drops every object when an unused criterion's type is INVALID (0).
    EXPECT_EQ(documents.attributeMatch, MatchAll);
    EXPECT_EQ(documents.interfaceMatch, MatchAll);
    EXPECT_STREQ(QDBusMetaType::typeToSignature(QMetaType::fromType<MatchRule>()), "(aiia{ss}iaiiasib)");
    EXPECT_FALSE(hasState({0xffffffffu}, 32));  // a short set from the wire is not read past its end
}

TEST(AtspiRules, ErrorsAreSortedByWhatTheReaderDoesNext)
{
    using F = AtspiCaller::Failure;
    const std::pair<const char *, F> cases[] = {
        {"NoReply", F::Hung},
        {"Timeout", F::Hung},
        {"ServiceUnknown", F::Gone},
        {"Disconnected", F::Gone},
        {"UnknownMethod", F::Unsupported},
        {"UnknownObject", F::Other},  // a vanished object inside a live browser is ordinary
        {"Failed", F::Other},
    };
    for (const auto &[name, failure] : cases)
        EXPECT_EQ(AtspiCaller::classify(QStringLiteral("org.freedesktop.DBus.Error.") + name), failure) << name;
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
