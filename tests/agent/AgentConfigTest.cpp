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

struct UrlCase {
    const char *value;
    bool accepted;
};

TEST(BackendURL, OnlyAbsoluteHttpOrHttpsBaseURLsAreAccepted)
{
    const UrlCase cases[] = {
        {"https://api.fennimar.com", true},
        {"http://127.0.0.1:8080", true},
        {"https://host/prefix/", true},
        {"HTTPS://Host.Example", true},
        {"", false},
        {"api.fennimar.com", false},
        {"/api", false},
        {"ftp://host", false},
        {"https://", false},
        {"https://user:pw@host", false},
        {"https://host/?x=1", false},
        {"https://host/#top", false},
        {"http://exa mple.com", false},
        {"file:///tmp/x", false},
    };
    for (const auto &c : cases) {
        const auto parsed = AgentConfig::parseBackendURL({QString::fromLatin1(c.value), Source::Setting});
        EXPECT_EQ(parsed.ok(), c.accepted) << c.value;
        if (!parsed.ok()) {
            EXPECT_TRUE(parsed.error().contains(QStringLiteral("setting \"backendURL\"")))
                << parsed.error().toStdString();
            EXPECT_TRUE(parsed.error().contains(QStringLiteral("\"%1\"").arg(QString::fromLatin1(c.value))));
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
    EXPECT_EQ(AgentConfig::supportDirectory(), dir) << "an existing directory is returned unchanged";

    // A file where the data directory should be: the path is still returned.
    test::ScopedEnv blocked("XDG_DATA_HOME", home.file(QStringLiteral("config/Fennimar/Fennimar.conf")).toLocal8Bit());
    AgentConfig::setSetting(QStringLiteral("x"), QStringLiteral("y"));
    EXPECT_TRUE(AgentConfig::supportDirectory().endsWith(QStringLiteral("/Fennimar")));
}

}  // namespace
