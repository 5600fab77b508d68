#include "tests/support/TempHome.h"

#include <ctime>

namespace fennimar::test {

ScopedEnv::ScopedEnv(const char *name, const QByteArray &value) : m_name(name)
{
    if (qEnvironmentVariableIsSet(name))
        m_old = qgetenv(name);
    qputenv(name, value);
    if (m_name == "TZ")
        tzset();
}

ScopedEnv::~ScopedEnv()
{
    if (m_old)
        qputenv(m_name.constData(), *m_old);
    else
        qunsetenv(m_name.constData());
    if (m_name == "TZ")
        tzset();
}

TempHome::TempHome()
    : m_home("HOME", m_dir.path().toLocal8Bit()),
      m_data("XDG_DATA_HOME", (m_dir.path() + QStringLiteral("/data")).toLocal8Bit()),
      m_config("XDG_CONFIG_HOME", (m_dir.path() + QStringLiteral("/config")).toLocal8Bit()),
      m_state("XDG_STATE_HOME", (m_dir.path() + QStringLiteral("/state")).toLocal8Bit())
{
}

}  // namespace fennimar::test
