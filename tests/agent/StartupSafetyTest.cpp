// What the agent accepts at start-up: which backend URLs may carry the session token, which
// support directory it keeps the ledger in, and that one support directory means one agent. The
// table of URLs is checked on the parser; the rest on the real program in a home of its own, with
// no display and no buses, talking to a closed loopback port.
#include "agent/AgentConfig.h"
#include "tests/support/TempHome.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

using namespace fennimar;

namespace {

TEST(BackendURL, PlainHttpOnlyToThisComputerUnlessAllowed)
{
    struct Host {
        const char *host;
        bool loopback;
    };
    const Host hosts[] = {
        {"127.0.0.1", true},
        {"127.255.3.4", true},
        {"[::1]", true},
        {"localhost", true},
        {"LocalHost", true},
        {"10.0.0.5", false},
        {"128.0.0.1", false},
        {"[::2]", false},
        {"example.com", false},
        {"localhost.example.com", false},
        {"127.0.0.1.example.com", false},
        {"[::ffff:127.0.0.1]", false},
    };
    const AgentConfig::Source sources[] = {AgentConfig::Source::Environment, AgentConfig::Source::Setting,
                                           AgentConfig::Source::BuiltIn};
    for (const char *scheme : {"https", "http", "HTTP"}) {
        for (const Host &h : hosts) {
            for (const AgentConfig::Source source : sources) {
                for (const bool allowed : {false, true}) {
                    const QString value =
                        QStringLiteral("%1://%2:8080/base").arg(QLatin1String(scheme), QLatin1String(h.host));
                    SCOPED_TRACE(value.toStdString() + " from " + AgentConfig::sourceName(source).toStdString() +
                                 (allowed ? " allowed" : ""));
                    const auto parsed = AgentConfig::parseBackendURL({value, source}, allowed);
                    const bool secure = QLatin1String(scheme) == QLatin1String("https");
                    EXPECT_EQ(parsed.ok(), secure || h.loopback || allowed);
                    if (!parsed.ok()) {
                        EXPECT_TRUE(parsed.error().contains(AgentConfig::sourceName(source)));
                        EXPECT_TRUE(parsed.error().contains(QLatin1Char('"') + value + QLatin1Char('"')));
                        EXPECT_TRUE(parsed.error().contains(QLatin1String("unencrypted")));
                    }
                }
            }
        }
    }
}

// One run of the real agent in a home of its own.
class AgentRun {
public:
    AgentRun(const QString &home, const QStringList &env)
    {
        QProcessEnvironment environment;
        environment.insert(QStringLiteral("PATH"), qEnvironmentVariable("PATH"));
        environment.insert(QStringLiteral("HOME"), home);
        environment.insert(QStringLiteral("XDG_DATA_HOME"), home + QStringLiteral("/data"));
        environment.insert(QStringLiteral("XDG_CONFIG_HOME"), home + QStringLiteral("/config"));
        environment.insert(QStringLiteral("XDG_STATE_HOME"), home + QStringLiteral("/state"));
        environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), home);
        environment.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), QStringLiteral("unix:path=/nonexistent"));
        environment.insert(QStringLiteral("DBUS_SYSTEM_BUS_ADDRESS"), QStringLiteral("unix:path=/nonexistent"));
        environment.insert(QStringLiteral("FENNIMAR_BACKEND_URL"), QStringLiteral("http://127.0.0.1:9"));
        for (const QString &pair : env)
            environment.insert(pair.section(QLatin1Char('='), 0, 0), pair.section(QLatin1Char('='), 1));
        m_process.setProcessEnvironment(environment);
        m_process.start(QStringLiteral(FENNIMAR_AGENT), {QStringLiteral("--headless")});
        m_process.waitForStarted(10000);
    }
    ~AgentRun()
    {
        if (m_process.state() != QProcess::NotRunning) {
            m_process.terminate();
            if (!m_process.waitForFinished(10000))
                m_process.kill();
        }
    }

    // Waits until the log says text or the program ends; answers what it said so far.
    QString waitFor(const QString &text)
    {
        QElapsedTimer since;
        since.start();
        while (!m_said.contains(text) && m_process.state() != QProcess::NotRunning && since.elapsed() < 20000) {
            m_process.waitForReadyRead(100);
            m_said += QString::fromUtf8(m_process.readAllStandardError());
        }
        m_process.waitForFinished(0);
        m_said += QString::fromUtf8(m_process.readAllStandardError());
        return m_said;
    }
    bool running() const { return m_process.state() != QProcess::NotRunning; }
    int exitCode()
    {
        m_process.waitForFinished(10000);
        return m_process.exitCode();
    }

private:
    QProcess m_process;
    QString m_said;
};

mode_t modeOf(const QString &path)
{
    struct stat st {};
    return ::stat(QFile::encodeName(path).constData(), &st) == 0 ? st.st_mode & 0777 : 0;
}

TEST(AgentStartup, RefusesWhatCouldLeakOrStallAndRunsWithTheRest)
{
    struct Case {
        const char *name;
        QStringList env;
        std::function<bool(const QString &home)> prepare;  // false: cannot be set up here
        int exitCode;                                      // -1: keeps running
        QStringList said;
    };
    const QString support = QStringLiteral("/data/Fennimar");
    auto none = [](const QString &) { return true; };
    const Case cases[] = {
        {"http to another host",
         {QStringLiteral("FENNIMAR_BACKEND_URL=http://192.0.2.1:9")},
         none,
         78,
         {QStringLiteral("environment variable FENNIMAR_BACKEND_URL"), QStringLiteral("\"http://192.0.2.1:9\""),
          QStringLiteral("unencrypted")}},
        {"http to another host, allowed",
         {QStringLiteral("FENNIMAR_BACKEND_URL=http://192.0.2.1:9"), QStringLiteral("FENNIMAR_ALLOW_INSECURE_HTTP=1")},
         none,
         -1,
         {QStringLiteral("WARN ] FENNIMAR_ALLOW_INSECURE_HTTP=1"), QStringLiteral("agent starting")}},
        {"ledger.json is a FIFO",
         {},
         [&](const QString &home) {
             return QDir().mkpath(home + support) &&
                    ::mkfifo(QFile::encodeName(home + support + QStringLiteral("/ledger.json")), 0600) == 0;
         },
         -1,
         {QStringLiteral("is a FIFO, not a file"), QStringLiteral("agent starting")}},
        {"support directory open to others",
         {},
         [&](const QString &home) {
             return QDir().mkpath(home + support) && ::chmod(QFile::encodeName(home + support), 0755) == 0;
         },
         -1,
         {QStringLiteral("made private (0700)"), QStringLiteral("agent starting")}},
        {"support directory of another user",
         {},
         [&](const QString &home) {
             return ::geteuid() == 0 && QDir().mkpath(home + support) &&
                    ::chown(QFile::encodeName(home + support), 65534, 65534) == 0;
         },
         78,
         {QStringLiteral("ERROR] support directory refused"), QStringLiteral("belongs to user id 65534")}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        QTemporaryDir home;
        if (!c.prepare(home.path())) {
            std::printf("SKIPPED row %s: cannot be set up here (root needed)\n", c.name);
            continue;
        }
        AgentRun agent(home.path(), c.env);
        const QString said = agent.waitFor(c.said.last());
        for (const QString &text : c.said)
            EXPECT_TRUE(said.contains(text)) << text.toStdString() << " in:\n" << said.toStdString();
        if (c.exitCode >= 0) {
            EXPECT_EQ(agent.exitCode(), c.exitCode);
        } else {
            EXPECT_TRUE(agent.running());
            EXPECT_EQ(modeOf(home.path() + support), 0700u);
        }
    }
}

TEST(AgentStartup, OneAgentPerSupportDirectoryWhateverTheEnvironment)
{
    QTemporaryDir home, otherRuntime;
    AgentRun first(home.path(), {});
    ASSERT_TRUE(first.waitFor(QStringLiteral("agent starting")).contains(QStringLiteral("agent starting")));
    // Another session's runtime directory, or none at all: the ledger is the same, so is the lock.
    for (const QString &runtime : {otherRuntime.path(), QString()}) {
        AgentRun second(home.path(), {QStringLiteral("XDG_RUNTIME_DIR=") + runtime});
        EXPECT_TRUE(second.waitFor(QStringLiteral("this copy is exiting"))
                        .contains(QStringLiteral("another Fennimar is already running · this copy is exiting")));
        EXPECT_EQ(second.exitCode(), 3);
    }
    EXPECT_TRUE(first.running());
}

}  // namespace
