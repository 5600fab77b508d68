#pragma once

#include <QDateTime>
#include <QString>

#include <optional>

namespace fennimar {

// Reads and writes instants as internet date-time with fractional seconds and a zone designator,
// e.g. 2025-03-01T12:34:56.789Z or 2025-03-01T14:34:56.789+02:00. The backend's pairing tickets
// carry their expiry in this form.
class ISO8601DateFormatter {
public:
    // The shared formatter. Immutable; cheap.
    static const ISO8601DateFormatter &fennimar();

    // The instant, or nothing when the text is in any other form (no fractional seconds, no zone,
    // a space for the "T", an impossible date or time). Pure; microseconds.
    std::optional<QDateTime> date(const QString &text) const;
    // The instant in UTC with milliseconds: yyyy-MM-ddTHH:mm:ss.zzzZ.
    QString string(const QDateTime &at) const;
};

}  // namespace fennimar
