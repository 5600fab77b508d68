// What the real program accepts at start-up, in a home of its own with no display and no buses,
// talking to a closed loopback port: which backend URL, which support directory it keeps the ledger
// in, and that one support directory means one agent.
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

namespace {

// One run of the real agent in a home of its own; `env` adds or replaces variables.
class AgentRun {
public:
    AgentRun(const QString &home, const QStringList &env)
    {
        QProcessEnvironment environment;
        const QStringList base = {QStringLiteral("PATH=") + qEnvironmentVariable("PATH"),
                                  QStringLiteral("HOME=") + home,
                                  QStringLiteral("XDG_DATA_HOME=%1/data").arg(home),
                                  QStringLiteral("XDG_CONFIG_HOME=%1/config").arg(home),
                                  QStringLiteral("XDG_STATE_HOME=%1/state").arg(home),
                                  QStringLiteral("XDG_RUNTIME_DIR=") + home,
                                  QStringLiteral("DBUS_SESSION_BUS_ADDRESS=unix:path=/nonexistent"),
                                  QStringLiteral("DBUS_SYSTEM_BUS_ADDRESS=unix:path=/nonexistent"),
                                  QStringLiteral("FENNIMAR_BACKEND_URL=http://127.0.0.1:9")};
        for (const QString &pair : base + env)
            environment.insert(pair.section(QLatin1Char('='), 0, 0), pair.section(QLatin1Char('='), 1));
        m_process.setProcessEnvironment(environment);
        m_process.start(QStringLiteral(FENNIMAR_AGENT), {QStringLiteral("--headless")});
        m_process.waitForStarted(10000);
    }
    ~AgentRun()
    {
        m_process.terminate();
        if (!m_process.waitForFinished(10000))
            m_process.kill();
    }

    // Waits (20 s at most) until the log says text or the program ends; answers what it said.
    QString waitFor(const QString &text)
    {
        QElapsedTimer since;
        since.start();
        while (!m_said.contains(text) && m_process.state() != QProcess::NotRunning && since.elapsed() < 20000) {
            m_process.waitForReadyRead(100);
            m_said += QString::fromUtf8(m_process.readAllStandardError());
        }
        m_process.waitForFinished(0);
        return m_said += QString::fromUtf8(m_process.readAllStandardError());
    }
    bool running() const { return m_process.state() != QProcess::NotRunning; }
    int exitCode()
    {
        m_process.waitForFinished(10000);  // false when it has ended already
        return m_process.exitCode();
    }

private:
    QProcess m_process;
    QString m_said;
};

TEST(AgentStartup, RefusesWhatCouldLeakOrStallAndRunsWithTheRest)
{
    const QString support = QStringLiteral("/data/Fennimar");
    const auto path = [&](const QString &home, const char *name = "") {
        QDir().mkpath(home + support);
        return QFile::encodeName(home + support + QLatin1String(name));
    };
    const struct {
        const char *name;
        QStringList env;
        std::function<bool(const QString &home)> prepare;  // false: cannot be set up here
        int exitCode;                                      // -1: keeps running, its directory private
        QStringList said;
    } cases[] = {
        {"http to another host",
         {QStringLiteral("FENNIMAR_BACKEND_URL=http://192.0.2.1:9")},
         [](const QString &) { return true; },
         78,
         {QStringLiteral("environment variable FENNIMAR_BACKEND_URL"), QStringLiteral("\"http://192.0.2.1:9\""),
          QStringLiteral("unencrypted")}},
        {"http to another host, allowed",
         {QStringLiteral("FENNIMAR_BACKEND_URL=http://192.0.2.1:9"), QStringLiteral("FENNIMAR_ALLOW_INSECURE_HTTP=1")},
         [](const QString &) { return true; },
         -1,
         {QStringLiteral("WARN ] FENNIMAR_ALLOW_INSECURE_HTTP=1"), QStringLiteral("agent starting")}},
        // A reader of any of these would block on the FIFO: the agent must start without reading them.
        {"its files are FIFOs",
         {},
         [&](const QString &home) {
             const QStringList files = {home + QStringLiteral("/config/Fennimar/Fennimar.conf"),
                                        home + QStringLiteral("/state/Fennimar/Fennimar.log"),
                                        home + support + QStringLiteral("/reported-apps.json")};
             bool made = ::mkfifo(path(home, "/ledger.json"), 0600) == 0;
             for (const QString &file : files)
                 made = made && QDir().mkpath(QFileInfo(file).path()) && ::mkfifo(QFile::encodeName(file), 0600) == 0;
             return made;
         },
         -1,
         {QStringLiteral("is a FIFO, not a file"), QStringLiteral("agent starting")}},
        {"support directory open to others",
         {},
         [&](const QString &home) { return ::chmod(path(home), 0755) == 0; },
         -1,
         {QStringLiteral("made private (0700)"), QStringLiteral("agent starting")}},
        {"support directory of another user",
         {},
         [&](const QString &home) { return ::geteuid() == 0 && ::chown(path(home), 65534, 65534) == 0; },
         78,
         {QStringLiteral("ERROR] support directory refused"), QStringLiteral("belongs to user id 65534")}},
    };
    for (const auto &c : cases) {
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
            struct stat st {};
            EXPECT_TRUE(agent.running());
            EXPECT_TRUE(::stat(path(home.path()), &st) == 0 && (st.st_mode & 0777) == 0700);
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
