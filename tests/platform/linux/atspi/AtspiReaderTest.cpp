// The AT-SPI reader without browsers: what it sends the bridge and how it sorts errors.
#include "platform/linux/atspi/AtspiCaller.h"
#include "platform/linux/atspi/AtspiTypes.h"

#include <QDBusMetaType>

#include <gtest/gtest.h>

#include <climits>

namespace fennimar {
namespace {

TEST(AtspiRules, BitSetsAndSignatureAreWhatTheBridgeReads)
{
    atspi::registerTypes();
    // Role 95 is the top bit of word 2: it must travel as a negative int, not be dropped.
    const atspi::MatchRule documents = atspi::showingDocumentRule();
    EXPECT_EQ(documents.roles, (QList<int>{0, 0, INT_MIN, 0}));
    EXPECT_EQ(documents.states, (QList<int>{1 << 25, 0}));
    EXPECT_EQ(documents.roleMatch, atspi::MatchAny);  // ALL never matches roles in the bridge
    // The bridge drops every object when an unused criterion's type is INVALID (0).
    EXPECT_EQ(documents.attributeMatch, atspi::MatchAll);
    EXPECT_EQ(documents.interfaceMatch, atspi::MatchAll);
    EXPECT_STREQ(QDBusMetaType::typeToSignature(QMetaType::fromType<atspi::MatchRule>()), "(aiia{ss}iaiiasib)");
    EXPECT_FALSE(atspi::hasState({0xffffffffu}, 32));  // a short set from the wire is not read past its end
}

TEST(AtspiRules, ErrorsAreSortedByWhatTheReaderDoesNext)
{
    using F = atspi::AtspiCaller::Failure;
    const std::pair<const char *, F> cases[] = {
        {"NoReply", F::Hung},        {"Timeout", F::Hung},
        {"ServiceUnknown", F::Gone}, {"UnknownMethod", F::Unsupported},
        {"UnknownObject", F::Other},  // a vanished object inside a live browser is ordinary
    };
    for (const auto &[name, failure] : cases)
        EXPECT_EQ(atspi::AtspiCaller::classify(QStringLiteral("org.freedesktop.DBus.Error.") + name), failure) << name;
}

}  // namespace
}  // namespace fennimar
