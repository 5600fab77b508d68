#include "backend/ISO8601DateFormatter.h"

#include <QRegularExpression>
#include <QTimeZone>

namespace fennimar {

const ISO8601DateFormatter &ISO8601DateFormatter::fennimar()
{
    static const ISO8601DateFormatter shared;
    return shared;
}

std::optional<QDateTime> ISO8601DateFormatter::date(const QString &text) const
{
    // Fractional seconds and a zone designator are both required: a ticket's expiry without them is
    // treated as unreadable rather than guessed at.
    static const QRegularExpression form(
        QStringLiteral(R"(^(\d{4})-(\d{2})-(\d{2})T(\d{2}):(\d{2}):(\d{2})\.(\d{1,9})(Z|([+-])(\d{2}):(\d{2}))$)"));
    const QRegularExpressionMatch m = form.match(text);
    if (!m.hasMatch())
        return std::nullopt;
    auto number = [&m](int group) { return m.captured(group).toInt(); };
    const QDate day(number(1), number(2), number(3));
    // Milliseconds are what the backend writes; further digits are read but not kept.
    const int millis = m.captured(7).left(3).leftJustified(3, QLatin1Char('0')).toInt();
    const QTime time(number(4), number(5), number(6), millis);
    if (!day.isValid() || !time.isValid())
        return std::nullopt;
    int offsetSeconds = 0;
    if (m.captured(8) != QLatin1String("Z")) {
        const int hours = number(10);
        const int minutes = number(11);
        if (hours > 23 || minutes > 59)
            return std::nullopt;
        offsetSeconds = (hours * 60 + minutes) * 60 * (m.captured(9) == QLatin1String("-") ? -1 : 1);
    }
    // The wall time read, less its offset, is the instant in UTC (Qt's offset-from-UTC constructor is deprecated
    // in newer Qt, and its offset zones stop at 14 hours).
    return QDateTime(day, time, QTimeZone::utc()).addSecs(-offsetSeconds);
}

QString ISO8601DateFormatter::string(const QDateTime &at) const
{
    return at.toUTC().toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss.zzzZ"));
}

}  // namespace fennimar
