#include "agent/AgentConfig.h"
#include "services/AgentFiles.h"

#include "tests/support/TempHome.h"

#include <gtest/gtest.h>

using namespace fennimar;
using Source = AgentConfig::Source;

namespace {

// Environment over setting over built-in URL; an empty variable still wins and is refused.
TEST(BackendURL, EnvironmentThenSettingThenBuiltIn)
{
    test::TempHome home;
    AgentFiles::setSetting(QStringLiteral("backendURL"), QStringLiteral("https://from.setting"));
    {
        test::ScopedEnv env("FENNIMAR_BACKEND_URL", "http://127.0.0.1:1234");
        EXPECT_EQ(AgentConfig::backendURL().value(), QUrl(QStringLiteral("http://127.0.0.1:1234")));
    }
    qunsetenv("FENNIMAR_BACKEND_URL");
    EXPECT_EQ(AgentConfig::backendURL().value(), QUrl(QStringLiteral("https://from.setting")));
    EXPECT_EQ(AgentConfig::chooseBackend(std::nullopt, std::nullopt).value, QStringLiteral("https://api.fennimar.com"));
    const auto empty = AgentConfig::chooseBackend(QString(), QStringLiteral("https://from.setting"));
    EXPECT_EQ(empty.source, Source::Environment);
    EXPECT_FALSE(AgentConfig::parseBackendURL(empty));
}

// Absolute http(s) base URLs only; plain http only to this computer unless FENNIMAR_ALLOW_INSECURE_HTTP=1.
TEST(BackendURL, OnlyHttpsOrHttpToThisComputerIsAccepted)
{
    const struct {
        const char *value;
        bool accepted, acceptedWhenAllowed;
    } cases[] = {
        {"https://host/prefix/", true, true},
        {"HTTPS://Host.Example", true, true},
        {"http://127.255.3.4/base", true, true},
        {"http://[::1]:8080", true, true},
        {"HTTP://LocalHost", true, true},
        {"http://128.0.0.1", false, true},
        {"http://[::2]", false, true},
        {"http://localhost.example.com", false, true},
        {"http://127.0.0.1.example.com", false, true},
        {"", false, false},
        {"api.fennimar.com", false, false},
        {"ftp://host", false, false},
        {"https://user:pw@host", false, false},
        {"https://host/?x=1", false, false},
        {"https://host/#top", false, false},
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

}  // namespace
