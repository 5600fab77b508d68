// The real program at start-up in a home of its own (no display, no buses, a closed backend port).
#include "platform/PlatformTraits.h"
#include "platform/PlatformPaths.h"
#include "platform/UserSettings.h"
#include "tests/support/TempHome.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLockFile>
#include <QProcess>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <optional>

#include <sys/stat.h>
#include <unistd.h>

namespace {

using fennimar::test::ScopedEnv;

// The agent's support directory and log in `home`, as the platform places them under the agent's environment.
struct Places {
    QString support, log;
    explicit Places(const QString &home)
    {
        const ScopedEnv h("HOME", QFile::encodeName(home)), d("XDG_DATA_HOME", QFile::encodeName(home + "/data")),
            s("XDG_STATE_HOME", QFile::encodeName(home + "/state"));
        support = fennimar::platform::userDataDirectory() + "/Fennimar";
        log = fennimar::platform::logDirectory();
    }
};

// One run of the real agent in a home of its own; `env` adds or replaces variables.
struct AgentRun {
    QProcess process;
    QString said;
    AgentRun(const QString &home, const QStringList &env, const QString &program = QStringLiteral(FENNIMAR_AGENT),
             const QStringList &args = {QStringLiteral("--headless")})
    {
        QProcessEnvironment environment;
        for (const QString &pair :
             QStringList{QStringLiteral("PATH=") + qEnvironmentVariable("PATH"), "HOME=" + home,
                         "XDG_DATA_HOME=" + home + "/data", "XDG_CONFIG_HOME=" + home + "/config",
                         "XDG_STATE_HOME=" + home + "/state", "XDG_RUNTIME_DIR=" + home,
                         "DBUS_SESSION_BUS_ADDRESS=unix:path=/nonexistent",
                         "DBUS_SYSTEM_BUS_ADDRESS=unix:path=/nonexistent", "FENNIMAR_BACKEND_URL=http://127.0.0.1:9",
                         // The test binary's throwaway settings store (macOS' defaults ignore HOME).
                         QString::fromLatin1(fennimar::platform::settingsDomainVariable) + '=' +
                             qEnvironmentVariable(fennimar::platform::settingsDomainVariable)} +
                 env)
            environment.insert(pair.section('=', 0, 0), pair.section('=', 1));
        process.setProcessEnvironment(environment);
        process.start(program, args);
        process.waitForStarted(10000);
    }
    ~AgentRun()
    {
        process.terminate();
        if (!process.waitForFinished(10000))
            process.kill();
    }
    // Waits (20 s at most) until the log says text or the program ends; answers what it said.
    QString waitFor(const QString &text)
    {
        QElapsedTimer since;
        since.start();
        while (!said.contains(text) && process.state() != QProcess::NotRunning && since.elapsed() < 20000) {
            process.waitForReadyRead(100);
            said += QString::fromUtf8(process.readAllStandardError());
        }
        return said += QString::fromUtf8(process.readAllStandardError());
    }
};

TEST(AgentStartup, RefusesWhatCouldLeakOrStallAndRunsWithTheRest)
{
    const auto path = [](const QString &home, const char *file = "") {
        QDir().mkpath(Places(home).support);
        return QFile::encodeName(Places(home).support + QLatin1String(file));
    };
    const auto fifo = [](const QString &file) {
        return QDir().mkpath(file.section('/', 0, -2)) && ::mkfifo(QFile::encodeName(file), 0600) == 0;
    };
    std::optional<AgentRun> first;  // the agent already running on the same support directory
    // Another program holding the lock file (this test) or the bus name (a renamed agent copy, on our bus).
    std::optional<QLockFile> foreignLock;
    QTemporaryDir busDirectory;
    QProcess bus;
    std::optional<AgentRun> impostor;
    const QString busAddress = "unix:path=" + busDirectory.filePath("bus");
    const QString testPid = QString::number(QCoreApplication::applicationPid());
    QString program = QStringLiteral(FENNIMAR_AGENT);
    // The control bus and the tray module exist only on Linux (a Mac links the tray in and has no
    // control bus, though Homebrew's Qt brings a dbus-daemon along).
    const bool onLinux = fennimar::platform::osName() == QLatin1String("linux");
    QString notHere;    // the rows not run here (no root, no user namespaces): a skip
    QString linuxOnly;  // the rows of the control bus and the tray module, run on Linux only: said, not a skip
    const struct {
        const char *name;
        QStringList env;
        std::function<bool(const QString &home)> prepare;  // false: a failure, unless it adds to notHere
        int exitCode;                                      // -1: keeps running, its directory private
        QStringList said;
    } cases[] = {
        {"the lock file held by another program",
         {},
         [&](const QString &home) {
             return foreignLock.emplace(QString(path(home, "/app.fennimar.Agent.lock"))).tryLock(0);
         },
         -1,
         {"WARN ] tamper evidence", "is held by pid " + testPid, "running anyway", "agent starting"}},
        {"the bus name held by another program",
         {"DBUS_SESSION_BUS_ADDRESS=" + busAddress},
         [&](const QString &home) {
             if (!onLinux)
                 return (linuxOnly += QStringLiteral(" · the bus name"), false);
             bus.start("dbus-daemon", {"--session", "--nofork", "--print-address=1", "--address=" + busAddress});
             if (!bus.waitForStarted(10000) || !bus.waitForReadyRead(10000) ||
                 !QFile::copy(QStringLiteral(FENNIMAR_AGENT), home + "/impostor"))
                 return false;
             const QStringList onBus{"DBUS_SESSION_BUS_ADDRESS=" + busAddress};
             QDir().mkpath(home + "/other");
             impostor.emplace(home + "/other", onBus, home + "/impostor");
             impostor->waitFor("agent starting");
             AgentRun status(home, onBus, QStringLiteral(FENNIMAR_AGENT), {"--status"});
             status.process.waitForFinished(10000);
             const QString said = QString::fromUtf8(status.process.readAllStandardError());
             EXPECT_TRUE(said.contains("which is not Fennimar's agent")) << said.toStdString();
             EXPECT_NE(status.process.exitCode(), 0);
             return true;
         },
         -1,
         {"WARN ] tamper evidence", "app.fennimar.Agent is held by pid", "/impostor)", "agent starting"}},
        {"http to another host",
         {"FENNIMAR_BACKEND_URL=http://192.0.2.1:9"},
         [](const QString &) { return true; },
         78,
         {"environment variable FENNIMAR_BACKEND_URL", "\"http://192.0.2.1:9\"", "unencrypted"}},
        {"http to another host, allowed",
         {"FENNIMAR_BACKEND_URL=http://192.0.2.1:9", "FENNIMAR_ALLOW_INSECURE_HTTP=1"},
         [](const QString &) { return true; },
         -1,
         {"WARN ] FENNIMAR_ALLOW_INSECURE_HTTP=1", "agent starting"}},
        // A reader of any of these would block on the FIFO: the agent must start without reading them.
        {"its files are FIFOs",
         {},
         [&](const QString &home) {
             const Places at(home);
             return fifo(home + "/config/" + qEnvironmentVariable(fennimar::platform::settingsDomainVariable) +
                         "/Fennimar.conf") &&
                    fifo(at.log + "/Fennimar.log") && fifo(at.support + "/reported-apps.json") &&
                    fifo(at.support + "/ledger.json") && fifo(at.support + "/run-state");
         },
         -1,
         {"is a FIFO, not a file", "agent starting"}},
        {"the previous run was killed",
         {},
         [&](const QString &home) {
             QFile record(QFile::decodeName(path(home, "/run-state")));
             return record.open(QIODevice::WriteOnly) && record.write("running since 2026-12-07T08:00:00Z\n") > 0;
         },
         -1,
         {"WARN ] previous run ended without a clean quit", "it had started 2026-12-07T08:00:00Z", "agent starting"}},
        {"the previous run quit cleanly",
         {},
         [&](const QString &home) {
             AgentRun previous(home, {});
             return previous.waitFor("agent starting").contains("agent starting");
         },
         -1,
         {"agent starting"}},
        {"support directory open to others",
         {},
         [&](const QString &home) { return ::chmod(path(home), 0755) == 0; },
         -1,
         {"made private (0700)", "agent starting"}},
        {"support directory of another user",
         {},
         [&](const QString &home) {
             return ::geteuid() == 0 ? ::chown(path(home), 65534, 65534) == 0
                                     : (notHere += " · another user's (needs root)", false);
         },
         78,
         {"ERROR] support directory refused", "belongs to user id 65534"}},
        {"a second agent, from a session without a runtime directory",
         {"XDG_RUNTIME_DIR="},
         [&](const QString &home) {
             return first.emplace(home, QStringList{}).waitFor("agent starting").contains("agent starting");
         },
         3,
         {"another Fennimar is already running · this copy is exiting"}},
        // Away from its tray module, with a display named, the program runs as if headless.
        {"the tray module missing",
         {"DISPLAY=:97"},
         [&](const QString &home) {
             if (!onLinux)
                 return (linuxOnly += QStringLiteral(" · the tray module"), false);
             program = home + "/fennimar-agent";
             return QFile::copy(QStringLiteral(FENNIMAR_AGENT), program) &&
                    QFile::setPermissions(program, QFile::ReadOwner | QFile::ExeOwner);
         },
         -1,
         {"WARN ] tray · module not loaded · running without the tray icon", "agent starting"}},
        {"started by hand in a user namespace of its own",
         {},
         [&](const QString &home) {
             if (!onLinux)
                 return (linuxOnly += QStringLiteral(" · a user namespace"), false);
             if (QProcess::execute("unshare", {"-Ur", "true"}) != 0)  // none in a chroot, for one
                 return (notHere += QStringLiteral(" · a user namespace"), false);
             QFile script(program = home + "/unshared.sh");
             return script.open(QIODevice::WriteOnly) &&
                    script.write("#!/bin/sh\nexec unshare -Ur " FENNIMAR_AGENT " --headless\n") > 0 &&
                    script.setPermissions(QFile::ReadOwner | QFile::ExeOwner);
         },
         -1,
         {"WARN ] tamper evidence · user namespace · the agent runs in a user namespace", "agent starting"}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        QTemporaryDir home;
        // Three of the preparations run the program itself: one that fails hides a fault, not a setup.
        if (const qsizetype before = notHere.size() + linuxOnly.size(); !c.prepare(home.path())) {
            EXPECT_NE(notHere.size() + linuxOnly.size(), before) << "could not be set up";
            continue;
        }
        // A copy of the program (`program` other than the build's) runs with the tray wanted.
        AgentRun agent(
            home.path(), c.env, program,
            program == QStringLiteral(FENNIMAR_AGENT) ? QStringList{QStringLiteral("--headless")} : QStringList{});
        const QString said = agent.waitFor(c.said.last());
        for (const QString &text : c.said)
            EXPECT_TRUE(said.contains(text)) << text.toStdString() << " in:\n" << said.toStdString();
        if (!c.said.first().contains("previous run")) {
            EXPECT_FALSE(said.contains("without a clean quit")) << said.toStdString();
        }
        struct stat st {};
        if (c.exitCode >= 0) {
            agent.process.waitForFinished(10000);  // false when it has ended already
            EXPECT_EQ(agent.process.exitCode(), c.exitCode);
        } else {
            EXPECT_TRUE(agent.process.state() != QProcess::NotRunning && ::stat(path(home.path()), &st) == 0 &&
                        (st.st_mode & 0777) == 0700);
        }
        foreignLock.reset();
        impostor.reset();
    }
    bus.kill();
    bus.waitForFinished();
    if (!linuxOnly.isEmpty())
        std::printf("rows for Linux only, not run here:%s\n", qPrintable(linuxOnly));
    if (!notHere.isEmpty())
        GTEST_SKIP() << "rows not run here:" << notHere.toStdString();
}

}  // namespace
