#pragma once

#include <QDateTime>
#include <QString>

namespace fennimar::MenuTexts {

// A number of seconds as the menu shows a duration: "45s" below a minute, "12 min" below an hour
// (whole minutes, truncated), "1h 05m" from an hour on. Negative counts are shown as seconds.
QString minutes(qint64 seconds);

// The code's characters with one space between neighbours and none at the ends ("ABC123" gives
// "A B C 1 2 3"). Characters outside the basic plane stay whole.
QString spaced(const QString &code);

// The time from `now` to `target` in English words in the full style: "in 9 minutes",
// "2 minutes ago", "in 30 seconds", "in 0 seconds". The amount is truncated towards zero in the
// largest unit that fits (seconds, minutes, hours, days, weeks, months of 30 days, years of 365
// days). An invalid time reads as "now".
QString relativeTime(const QDateTime &target, const QDateTime &now);

}  // namespace fennimar::MenuTexts
