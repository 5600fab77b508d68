#include "menubar/MenuTexts.h"

#include <array>
#include <cstdlib>

namespace fennimar::MenuTexts {

QString minutes(qint64 seconds)
{
    if (seconds < 60)
        return QString::number(seconds) + QLatin1Char('s');
    if (seconds < 3600)
        return QString::number(seconds / 60) + QStringLiteral(" min");
    return QStringLiteral("%1h %2m").arg(seconds / 3600).arg((seconds % 3600) / 60, 2, 10, QLatin1Char('0'));
}

QString spaced(const QString &code)
{
    QString out;
    const QList<uint> points = code.toUcs4();
    for (qsizetype i = 0; i < points.size(); ++i) {
        if (i > 0)
            out += QLatin1Char(' ');
        const char32_t point = points[i];
        out += QString::fromUcs4(&point, 1);
    }
    return out;
}

QString relativeTime(const QDateTime &target, const QDateTime &now)
{
    if (!target.isValid() || !now.isValid())
        return QStringLiteral("now");
    struct Unit {
        qint64 seconds;
        const char *name;
    };
    // Largest first; months and years are calendar-free approximations, as they only ever describe
    // a stale heartbeat or a clock that was set far off.
    static constexpr std::array<Unit, 7> units{{
        {365LL * 86400, "year"},
        {30LL * 86400, "month"},
        {7LL * 86400, "week"},
        {86400, "day"},
        {3600, "hour"},
        {60, "minute"},
        {1, "second"},
    }};
    const qint64 millis = now.msecsTo(target);
    const bool past = millis < 0;
    const qint64 seconds = std::llabs(millis) / 1000;  // truncated towards zero
    qint64 amount = seconds;
    const char *name = "second";
    for (const Unit &unit : units) {
        if (seconds >= unit.seconds) {
            amount = seconds / unit.seconds;
            name = unit.name;
            break;
        }
    }
    QString phrase = QString::number(amount) + QLatin1Char(' ') + QLatin1String(name);
    if (amount != 1)
        phrase += QLatin1Char('s');
    return past ? phrase + QStringLiteral(" ago") : QStringLiteral("in ") + phrase;
}

}  // namespace fennimar::MenuTexts
