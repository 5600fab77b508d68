#pragma once

#include "platform/UserSettings.h"

#include <QCoreApplication>
#include <QTemporaryDir>

#include <optional>

namespace fennimar::test {

// Sets an environment variable for the life of the object and restores the old value after.
class ScopedEnv {
public:
    ScopedEnv(const char *name, const QByteArray &value) : m_name(name)
    {
        if (qEnvironmentVariableIsSet(name))
            m_old = qgetenv(name);
        qputenv(name, value);
    }
    ~ScopedEnv() { m_old ? qputenv(m_name, *m_old) : qunsetenv(m_name); }
    ScopedEnv(const ScopedEnv &) = delete;
    ScopedEnv &operator=(const ScopedEnv &) = delete;

private:
    const char *m_name;
    std::optional<QByteArray> m_old;
};

// A settings store of its own while it lives, empty at start and end: the user's domain is never touched.
class ThrowawaySettings {
public:
    ThrowawaySettings() { platform::clearThrowawaySettings(); }
    ~ThrowawaySettings() { platform::clearThrowawaySettings(); }
    ThrowawaySettings(const ThrowawaySettings &) = delete;
    ThrowawaySettings &operator=(const ThrowawaySettings &) = delete;

private:
    static inline int made = 0;
    ScopedEnv m_domain{platform::settingsDomainVariable, "app.fennimar.Agent.tests-" +
                                                             QByteArray::number(QCoreApplication::applicationPid()) +
                                                             '-' + QByteArray::number(++made)};
};

// A fresh temporary home (HOME, XDG directories) with a throwaway settings store, while it lives.
class TempHome {
public:
    QString path() const { return m_dir.path(); }
    QString file(const QString &relative) const { return m_dir.filePath(relative); }

private:
    QTemporaryDir m_dir;
    ScopedEnv m_home{"HOME", QFile::encodeName(m_dir.path())};
    ScopedEnv m_data{"XDG_DATA_HOME", QFile::encodeName(m_dir.path() + QStringLiteral("/data"))};
    ScopedEnv m_config{"XDG_CONFIG_HOME", QFile::encodeName(m_dir.path() + QStringLiteral("/config"))};
    ScopedEnv m_state{"XDG_STATE_HOME", QFile::encodeName(m_dir.path() + QStringLiteral("/state"))};
    ThrowawaySettings m_settings;
};

}  // namespace fennimar::test
