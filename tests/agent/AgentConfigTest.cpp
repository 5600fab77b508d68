#include "agent/AgentConfig.h"

#include "tests/support/TempHome.h"

#include <QFileInfo>
#include <gtest/gtest.h>

#include <sys/stat.h>

using namespace fennimar;
using Source = AgentConfig::Source;

namespace {

TEST(BackendURL, EnvironmentThenSettingThenBuiltIn)
{
    const auto env = std::optional<QString>(QStringLiteral("http://127.0.0.1:8080"));
    const auto set = std::optional<QString>(QStringLiteral("https://setting.example"));
    EXPECT_EQ(AgentConfig::chooseBackend(env, set).source, Source::Environment);
    EXPECT_EQ(AgentConfig::chooseBackend(std::nullopt, set).value, *set);
    EXPECT_EQ(AgentConfig::chooseBackend(std::nullopt, std::nullopt).value, QStringLiteral("https://api.fennimar.com"));
    // Present but empty still wins, and is then refused rather than skipped.
    const auto empty = AgentConfig::chooseBackend(QString(), set);
    EXPECT_EQ(empty.source, Source::Environment);
    EXPECT_FALSE(AgentConfig::parseBackendURL(empty));
}

// Only absolute http(s) base URLs; plain http (which would carry the session token unencrypted)
// only to this computer unless FENNIMAR_ALLOW_INSECURE_HTTP=1 allows it.
TEST(BackendURL, OnlyHttpsOrHttpToThisComputerIsAccepted)
{
    const struct {
        const char *value;
        bool accepted, acceptedWhenAllowed;
    } cases[] = {
        {"https://api.fennimar.com", true, true},
        {"https://host/prefix/", true, true},
        {"HTTPS://Host.Example", true, true},
        {"http://127.0.0.1:8080", true, true},
        {"http://127.255.3.4/base", true, true},
        {"http://[::1]:8080", true, true},
        {"HTTP://LocalHost", true, true},
        {"http://10.0.0.5", false, true},
        {"http://128.0.0.1", false, true},
        {"http://[::2]", false, true},
        {"http://localhost.example.com", false, true},
        {"http://127.0.0.1.example.com", false, true},
        {"http://[::ffff:127.0.0.1]", false, true},
        {"", false, false},
        {"api.fennimar.com", false, false},
        {"/api", false, false},
        {"ftp://host", false, false},
        {"https://", false, false},
        {"https://user:pw@host", false, false},
        {"https://host/?x=1", false, false},
        {"https://host/#top", false, false},
        {"http://exa mple.com", false, false},
        {"file:///tmp/x", false, false},
    };
    for (const auto &c : cases) {
        for (const bool allowed : {false, true}) {
            SCOPED_TRACE(std::string(c.value) + (allowed ? " (insecure allowed)" : ""));
            const QString value = QString::fromLatin1(c.value);
            const auto parsed = AgentConfig::parseBackendURL({value, Source::Setting}, allowed);
            EXPECT_EQ(parsed.ok(), allowed ? c.acceptedWhenAllowed : c.accepted);
            if (!parsed.ok()) {
                EXPECT_TRUE(parsed.error().contains(QStringLiteral("setting \"backendURL\"")));
                EXPECT_TRUE(parsed.error().contains(QLatin1Char('"') + value + QLatin1Char('"')));
                EXPECT_EQ(parsed.error().contains(QLatin1String("unencrypted")), c.acceptedWhenAllowed);
            }
        }
    }
}

TEST(BackendURL, ReadsTheEnvironmentAndTheSettingsStore)
{
    test::TempHome home;
    {
        test::ScopedEnv env("FENNIMAR_BACKEND_URL", "http://127.0.0.1:1234");
        AgentConfig::setSetting(QStringLiteral("backendURL"), QStringLiteral("https://from.setting"));
        EXPECT_EQ(AgentConfig::backendURL().value(), QUrl(QStringLiteral("http://127.0.0.1:1234")));
    }
    qunsetenv("FENNIMAR_BACKEND_URL");
    EXPECT_EQ(AgentConfig::backendURL().value(), QUrl(QStringLiteral("https://from.setting")));
    EXPECT_TRUE(QFileInfo::exists(home.file(QStringLiteral("config/Fennimar/Fennimar.conf"))));
}

TEST(SupportDirectory, IsCreatedPrivatelyUnderXdgDataHomeAndNeverFails)
{
    test::TempHome home;
    const QString dir = AgentConfig::supportDirectory();
    EXPECT_EQ(dir, home.file(QStringLiteral("data/Fennimar")));
    struct stat st {};
    ASSERT_EQ(::stat(QFile::encodeName(dir).constData(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);
    // A file where the data directory should be: the path is still returned.
    test::ScopedEnv blocked("XDG_DATA_HOME", home.file(QStringLiteral("config/Fennimar/Fennimar.conf")).toLocal8Bit());
    AgentConfig::setSetting(QStringLiteral("x"), QStringLiteral("y"));
    EXPECT_TRUE(AgentConfig::supportDirectory().endsWith(QStringLiteral("/Fennimar")));
}

}  // namespace
