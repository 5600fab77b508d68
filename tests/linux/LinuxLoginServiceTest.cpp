#include "platform/linux/DesktopEntry.h"
#include "platform/linux/LinuxLoginService.h"
#include "platform/linux/LoginDefinitions.h"
#include "tests/linux/LinuxTestSupport.h"
#include "tests/support/TempHome.h"

#include <QDBusContext>
#include <QDir>
#include <QFile>
#include <QThread>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <optional>

namespace fennimar::test {
namespace {

using LS = LoginService::Status;

void writeFile(const QString &path, const QByteArray &bytes, bool executable = false)
{
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(bytes);
    if (executable)
        file.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
}

// A unit's state as the manager exports it (only what start-at-login asks).
class FakeUnit : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.systemd1.Unit")
    Q_PROPERTY(QString ActiveState READ activeState)
public:
    QString activeState() const { return state; }
    QString state;
};

// The user's service manager as far as start-at-login uses it: unit files in the given directories
// (the user's own first, then packaged ones), and graphical-session.target in a given state.
class FakeSystemd : public QObject, protected QDBusContext {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.systemd1.Manager")
public:
    FakeSystemd(QStringList unitDirs, const QString &targetState) : m_unitDirs(std::move(unitDirs))
    {
        auto *units = new QObject(this);
        units->setObjectName(QStringLiteral("unit"));
        auto *target = new FakeUnit;
        target->setParent(units);
        target->setObjectName(QStringLiteral("graphical_2dsession_2etarget"));
        target->state = targetState;
    }
    std::atomic<bool> enabled{false};
    std::atomic<int> reloads{0};
    std::atomic<int> delayMs{0};  // a busy manager
    std::atomic<int> stateAnswers{0};
public Q_SLOTS:
    QString GetUnitFileState(const QString &unit)
    {
        QThread::msleep(static_cast<unsigned long>(delayMs.load()));
        ++stateAnswers;
        if (std::none_of(m_unitDirs.begin(), m_unitDirs.end(),
                         [&](const QString &d) { return QFile::exists(d + unit); })) {
            sendErrorReply(QStringLiteral("org.freedesktop.systemd1.NoSuchUnit"), QStringLiteral("No such file"));
            return {};
        }
        return enabled ? QStringLiteral("enabled") : QStringLiteral("disabled");
    }
    bool EnableUnitFiles(const QStringList &, bool, bool) { return enabled = reloads > 0; }
    void DisableUnitFiles(const QStringList &, bool) { enabled = false; }
    void Reload() { ++reloads; }

private:
    QStringList m_unitDirs;
};

class LinuxLoginServiceTest : public ::testing::Test {
protected:
    LinuxLoginService::Options options(const QString &executable)
    {
        return {dir.filePath(QStringLiteral("config")),
                {dir.filePath(QStringLiteral("xdg"))},
                executable,
                {},
                {dir.filePath(QStringLiteral("packaged"))}};
    }
    QTemporaryDir dir;
    // A program with every character that needs quoting in its path.
    QString agent = dir.filePath(QStringLiteral("My \"Agent\" $HOME 100% `x` \\d/fennimar-agent"));
};

TEST_F(LinuxLoginServiceTest, AutostartStatusFromTheEntry)
{
    writeFile(agent, "#!/bin/sh\n", true);
    const QByteArray on = LoginDefinitions::autostartEntry(agent);
    const std::vector<std::tuple<const char *, QByteArray, QByteArray, LS>> cases = {
        {"nothing", {}, {}, LS::NotRegistered},
        {"our entry", on, {}, LS::Enabled},
        {"hidden by the user", on + "Hidden=true\n", {}, LS::RequiresApproval},
        {"switched off in GNOME",
         QByteArray(on).replace("Autostart-enabled=true", "Autostart-enabled=false"),
         {},
         LS::RequiresApproval},
        {"no Exec", "[Desktop Entry]\nType=Application\nName=F\n", {}, LS::NotFound},
        {"program gone", LoginDefinitions::autostartEntry(agent + QStringLiteral(".old")), {}, LS::NotFound},
        {"system-wide entry", {}, on, LS::Enabled},
        {"user copy hides the system one", on + "Hidden=true\n", on, LS::RequiresApproval},
    };
    for (const auto &[what, user, system, expected] : cases) {
        QTemporaryDir config;
        LinuxLoginService::Options o = options(agent);
        o.configHome = config.filePath(QStringLiteral("home"));
        o.configDirs = {config.filePath(QStringLiteral("xdg"))};
        if (!user.isEmpty())
            writeFile(o.configHome + QStringLiteral("/autostart/app.fennimar.Agent.desktop"), user);
        if (!system.isEmpty())
            writeFile(o.configDirs.first() + QStringLiteral("/autostart/app.fennimar.Agent.desktop"), system);
        LinuxLoginService service(QDBusConnection(QString()), o);
        EXPECT_EQ(service.status(), expected) << what;
    }
}

TEST_F(LinuxLoginServiceTest, AutostartRegistrationRoundTrip)
{
    writeFile(agent, "#!/bin/sh\n", true);
    LinuxLoginService service(QDBusConnection(QString()), options(agent));
    EXPECT_FALSE(service.usesSystemd());
    ASSERT_TRUE(service.registerService());
    EXPECT_EQ(service.status(), LS::Enabled);
    QFile written(service.autostartPath());
    ASSERT_TRUE(written.open(QIODevice::ReadOnly));
    EXPECT_EQ(splitExec(DesktopEntry::parse(written.readAll()).value(QStringLiteral("Exec")).value_or(QString())),
              QStringList{agent})
        << "the Exec line must start exactly this program";
    ASSERT_TRUE(service.unregisterService());
    EXPECT_EQ(service.status(), LS::NotRegistered);
    EXPECT_TRUE(service.unregisterService()) << "unregistering twice is fine";

    // A system-wide entry cannot be deleted by the user: it is hidden by a user copy instead.
    writeFile(dir.filePath(QStringLiteral("xdg/autostart/app.fennimar.Agent.desktop")),
              LoginDefinitions::autostartEntry(agent));
    ASSERT_TRUE(service.unregisterService());
    EXPECT_EQ(service.status(), LS::RequiresApproval);
}

// The unit only where the session starts graphical-session.target; the autostart entry elsewhere;
// never both; the status tells what the next login will do.
TEST_F(LinuxLoginServiceTest, RegistrationFollowsWhatTheSessionStarts)
{
    if (!missingTools({QStringLiteral("dbus-daemon")}).isEmpty())
        GTEST_SKIP() << "SKIPPED: needs dbus-daemon (scripts/install-deps.sh)";
    writeFile(agent, "#!/bin/sh\n", true);
    PrivateBus bus;
    ASSERT_TRUE(bus.ok());
    struct Case {
        const char *name;
        bool manager;
        const char *target;  // graphical-session.target's ActiveState
        QStringList desktops;
        bool packaged;  // a package installed the unit for this executable
        bool unit;      // expected: the unit (else the autostart entry)
    };
    const Case cases[] = {
        {"no user manager", false, "", {QStringLiteral("XFCE")}, false, false},
        {"Xfce: manager, target never started", true, "inactive", {QStringLiteral("XFCE")}, false, false},
        {"window manager only", true, "inactive", {}, false, false},
        {"target active now", true, "active", {}, false, true},
        {"GNOME before its target", true, "inactive", {QStringLiteral("ubuntu"), QStringLiteral("GNOME")}, false, true},
        {"KDE Plasma", true, "inactive", {QStringLiteral("KDE")}, false, true},
        {"packaged unit", true, "active", {QStringLiteral("GNOME")}, true, true},
        {"packaged unit, Xfce", true, "inactive", {QStringLiteral("XFCE")}, true, false},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        QTemporaryDir root;
        LinuxLoginService::Options o = options(agent);
        o.configHome = root.filePath(QStringLiteral("home"));
        o.configDirs = {root.filePath(QStringLiteral("xdg"))};
        o.packagedUnitDirs = {root.filePath(QStringLiteral("packaged"))};
        o.currentDesktops = c.desktops;
        const QString ownUnitDir = o.configHome + QStringLiteral("/systemd/user/");
        if (c.packaged)
            writeFile(o.packagedUnitDirs.first() + QStringLiteral("/app.fennimar.Agent.service"),
                      LoginDefinitions::unitFile(agent));
        FakeSystemd *manager = nullptr;
        std::optional<BusThread> systemd;
        if (c.manager) {
            systemd.emplace(bus.address(), QStringLiteral("org.freedesktop.systemd1"),
                            QStringLiteral("/org/freedesktop/systemd1"), [&] {
                                return manager = new FakeSystemd({ownUnitDir, o.packagedUnitDirs.first() + '/'},
                                                                 QLatin1String(c.target));
                            });
            ASSERT_TRUE(systemd->ok());
        }
        LinuxLoginService service(bus.connect(), o);
        EXPECT_EQ(service.usesSystemd(), c.unit);
        EXPECT_EQ(service.status(), LS::NotRegistered) << "a packaged unit nobody enabled is not turned off";

        // An earlier session left an enabled unit of ours: it starts at the next login only where
        // the session starts the target.
        writeFile(service.unitPath(), LoginDefinitions::unitFile(agent));
        if (manager)
            manager->enabled = true;
        const LS expected = c.unit ? LS::Enabled : LS::NotRegistered;
        EXPECT_TRUE(waitUntil([&] { return service.status() == expected; }, 10000)) << "seen once the manager answers";
        writeFile(service.autostartPath(), LoginDefinitions::autostartEntry(agent));

        const auto registered = service.registerService();
        ASSERT_TRUE(registered) << registered.error().toStdString();
        EXPECT_EQ(service.status(), LS::Enabled);
        EXPECT_EQ(QFile::exists(service.autostartPath()), !c.unit) << "exactly one registration";
        EXPECT_EQ(QFile::exists(service.unitPath()), c.unit && !c.packaged)
            << "the packaged unit is enabled, not copied";
        if (manager) {
            EXPECT_EQ(manager->enabled.load(), c.unit);
        }
    }
}

TEST_F(LinuxLoginServiceTest, SystemdUnitStatusAndDefinition)
{
    if (!missingTools({QStringLiteral("dbus-daemon")}).isEmpty())
        GTEST_SKIP() << "SKIPPED: needs dbus-daemon (scripts/install-deps.sh)";
    writeFile(agent, "#!/bin/sh\n", true);
    PrivateBus bus;
    ASSERT_TRUE(bus.ok());
    const QString unitDir = dir.filePath(QStringLiteral("config/systemd/user/"));
    FakeSystemd *manager = nullptr;
    BusThread systemd(bus.address(), QStringLiteral("org.freedesktop.systemd1"),
                      QStringLiteral("/org/freedesktop/systemd1"),
                      [&] { return manager = new FakeSystemd({unitDir}, QStringLiteral("active")); });
    ASSERT_TRUE(systemd.ok());

    LinuxLoginService service(bus.connect(), options(agent));
    ASSERT_TRUE(service.usesSystemd());
    EXPECT_EQ(service.status(), LS::NotRegistered);
    ASSERT_TRUE(service.registerService());
    EXPECT_EQ(manager->reloads, 2);

    QFile unit(service.unitPath());
    ASSERT_TRUE(unit.open(QIODevice::ReadOnly));
    const QByteArray text = unit.readAll();
    EXPECT_TRUE(text.contains("Restart=always\n"));
    EXPECT_TRUE(text.contains("RestartPreventExitStatus=2 3 78\n")) << "already running, usage, configuration";
    EXPECT_TRUE(text.contains("WantedBy=graphical-session.target\n"));
    QString quoted = agent;
    quoted.replace(QStringLiteral("\\"), QStringLiteral("\\\\")).replace(QStringLiteral("\""), QStringLiteral("\\\""));
    quoted.replace(QStringLiteral("%"), QStringLiteral("%%")).replace(QStringLiteral("$"), QStringLiteral("$$"));
    EXPECT_TRUE(text.contains("ExecStart=\"" + quoted.toUtf8() + "\"\n")) << text.constData();
    // The unit the package ships is the one the agent would write for the installed program.
    QFile packaged(QStringLiteral(PACKAGED_UNIT));
    ASSERT_TRUE(packaged.open(QIODevice::ReadOnly));
    EXPECT_EQ(packaged.readAll(), LoginDefinitions::unitFile(QStringLiteral("/usr/bin/fennimar-agent")));

    manager->enabled = false;  // "systemctl --user disable" by the user
    EXPECT_EQ(service.status(), LS::RequiresApproval);
    manager->enabled = true;
    QFile::remove(agent);
    // Later answers come without waiting on the manager, even a slow one: the change shows once the
    // background answer has arrived.
    manager->delayMs = 1500;
    const int answered = manager->stateAnswers;
    EXPECT_EQ(service.status(), LS::RequiresApproval) << "the last answer, at once";
    EXPECT_EQ(manager->stateAnswers, answered) << "status() waited for the manager";
    EXPECT_TRUE(waitUntil([&] { return service.status() == LS::NotFound; }, 10000));
    manager->delayMs = 0;
    ASSERT_TRUE(service.unregisterService());
    EXPECT_FALSE(QFile::exists(service.unitPath()));
    EXPECT_EQ(service.status(), LS::NotRegistered);
}

}  // namespace
}  // namespace fennimar::test

#include "LinuxLoginServiceTest.moc"
