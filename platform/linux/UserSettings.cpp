#include "platform/UserSettings.h"

#include <QSettings>

namespace fennimar::platform {

namespace {
QString organisation()
{
    const QString throwaway = qEnvironmentVariable(settingsDomainVariable);
    return throwaway.isEmpty() ? QStringLiteral("Fennimar") : throwaway;
}
}  // namespace

std::optional<QString> readSetting(const QString &key)
{
    const QSettings settings(organisation(), QStringLiteral("Fennimar"));
    const QVariant value = settings.value(key);
    if (!value.isValid())
        return std::nullopt;
    return value.toString();
}

void writeSetting(const QString &key, const QString &value)
{
    QSettings settings(organisation(), QStringLiteral("Fennimar"));
    settings.setValue(key, value);
    settings.sync();
}

void clearThrowawaySettings()
{
    if (qEnvironmentVariable(settingsDomainVariable).isEmpty())
        return;
    QSettings settings(organisation(), QStringLiteral("Fennimar"));
    settings.clear();
    settings.sync();
}

}  // namespace fennimar::platform
