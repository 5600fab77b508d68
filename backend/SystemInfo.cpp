#include "backend/SystemInfo.h"

#include "platform/PlatformTraits.h"

#include <QElapsedTimer>
#include <QRegularExpression>

namespace fennimar {

namespace {

QString orFallback(const QString &value, const QString &fallback)
{
    const QString trimmed = value.trimmed();
    return trimmed.isEmpty() ? fallback : trimmed;
}

}  // namespace

QString SystemInfo::hardwareModel() const
{
    if (!m_model)
        m_model = orFallback(m_device.model(), QStringLiteral("PC"));
    return *m_model;
}

bool SystemInfo::isPortable() const
{
    return m_device.hasInternalBattery();
}

QString SystemInfo::osVersion() const
{
    return paddedVersion(m_device.osVersion());
}

QJsonObject SystemInfo::platformInfo() const
{
    return QJsonObject{
        {QStringLiteral("brand"), orFallback(m_device.vendor(), QStringLiteral("Unknown"))},
        {QStringLiteral("model"), hardwareModel()},
        {QStringLiteral("os"), platform::osName()},
        {QStringLiteral("os_version"), osVersion()},
        {QStringLiteral("device_type"), isPortable() ? QStringLiteral("laptop") : QStringLiteral("desktop")},
        {QStringLiteral("device_name"), orFallback(m_device.computerName(), QStringLiteral("PC"))},
        {QStringLiteral("os_user"), m_device.userName()},
    };
}

QString SystemInfo::pairingDeviceType() const
{
    return platform::osName() + (isPortable() ? QStringLiteral("_laptop") : QStringLiteral("_desktop"));
}

qint64 SystemInfo::uptimeMs() const
{
    // The monotonic clock counts from boot and stops while the machine sleeps, as the backend expects
    // of an uptime. Reading it needs no timer to have been started.
    QElapsedTimer probe;
    probe.start();
    return probe.msecsSinceReference();
}

QString SystemInfo::paddedVersion(const QString &stated)
{
    static const QRegularExpression leading(QStringLiteral(R"(^\s*(\d+)(?:\.(\d+))?(?:\.(\d+))?)"));
    const QRegularExpressionMatch m = leading.match(stated);
    if (!m.hasMatch())
        return QStringLiteral("0.0.0");
    QStringList parts;
    for (int group = 1; group <= 3; ++group) {
        // Numbers, not texts: "04" is minor version 4.
        bool ok = false;
        const qulonglong n = m.captured(group).toULongLong(&ok);
        parts.push_back(QString::number(ok ? n : 0));
    }
    return parts.join(QLatin1Char('.'));
}

}  // namespace fennimar
