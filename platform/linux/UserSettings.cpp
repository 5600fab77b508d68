#include "platform/UserSettings.h"

#include <QSettings>

namespace fennimar::platform {

std::optional<QString> readSetting(const QString &key)
{
    const QSettings settings(QStringLiteral("Fennimar"), QStringLiteral("Fennimar"));
    const QVariant value = settings.value(key);
    if (!value.isValid())
        return std::nullopt;
    return value.toString();
}

void writeSetting(const QString &key, const QString &value)
{
    QSettings settings(QStringLiteral("Fennimar"), QStringLiteral("Fennimar"));
    settings.setValue(key, value);
    settings.sync();
}

}  // namespace fennimar::platform
