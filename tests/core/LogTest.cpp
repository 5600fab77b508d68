#include "core/Log.h"

#include <gtest/gtest.h>

using namespace fennimar;

namespace {

// The layout byte for byte; text from outside (a backend's error body) cannot forge a line, since
// control characters are written escaped.
TEST(LogLine, LayoutIsExactAndControlCharactersAreEscaped)
{
    const struct {
        Log::Level level;
        QString message;
        QByteArray expected;
    } cases[] = {
        {Log::Level::Warn, QStringLiteral("heartbeat failed · timed out"),
         "[fennimar 09:05:07 WARN ] heartbeat failed \xC2\xB7 timed out\n"},
        {Log::Level::Error, QStringLiteral("x"), "[fennimar 09:05:07 ERROR] x\n"},
        {Log::Level::Info, QStringLiteral("x\n[fennimar 09:00:00 INFO ] PAIRED\r\t"),
         "[fennimar 09:05:07 INFO ] x\\n[fennimar 09:00:00 INFO ] PAIRED\\r\\t\n"},
        {Log::Level::Warn, QString::fromUtf8("bell\x07 del\x7f nel\xc2\x85 Ü"),
         "[fennimar 09:05:07 WARN ] bell\\x07 del\\x7f nel\\x85 \xC3\x9C\n"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.expected.toStdString());
        EXPECT_EQ(Log::formatLine(c.level, QTime(9, 5, 7), c.message), c.expected);
    }
}

}  // namespace
