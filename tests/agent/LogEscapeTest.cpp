// Text from outside (a backend's error body) cannot forge log lines: control characters are
// written escaped and the line keeps its layout.
#include "agent/Log.h"

#include <gtest/gtest.h>

#include <QTime>

using namespace fennimar;

namespace {

TEST(LogEscape, ControlCharactersAreWrittenEscaped)
{
    struct Case {
        QString message;
        QByteArray expected;
    };
    const Case cases[] = {
        {QStringLiteral("failed · Server returned 400: x\n[fennimar 09:00:00 INFO ] PAIRED"),
         "[fennimar 09:05:07 WARN ] failed · Server returned 400: x\\n[fennimar 09:00:00 INFO ] PAIRED\n"},
        {QStringLiteral("a\rb\tc"), "[fennimar 09:05:07 WARN ] a\\rb\\tc\n"},
        {QString::fromUtf8("bell\x07 esc\x1b del\x7f nel\xc2\x85"),
         "[fennimar 09:05:07 WARN ] bell\\x07 esc\\x1b del\\x7f nel\\x85\n"},
        {QStringLiteral("plain · Ünïcode — kept"), "[fennimar 09:05:07 WARN ] plain · Ünïcode — kept\n"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.expected.toStdString());
        EXPECT_EQ(Log::formatLine(Log::Level::Warn, QTime(9, 5, 7), c.message), c.expected);
    }
}

}  // namespace
