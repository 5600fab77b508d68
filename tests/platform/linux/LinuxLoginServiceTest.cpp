#include "platform/linux/apps/DesktopEntry.h"
#include "platform/linux/session/LinuxLoginService.h"
#include "platform/linux/session/LoginDefinitions.h"
#include "tests/platform/linux/LinuxTestSupport.h"

#include <QDBusContext>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>

namespace fennimar::test {
namespace {

using LS = LoginService::Registration;

// A unit's state as the manager exports it (only what start-at-login asks).
class FakeUnit : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.systemd1.Unit")
    Q_PROPERTY(QString ActiveState MEMBER state)
public:
    QString state;
};

// The user's service manager: unit files in given directories (own first), graphical-session.target's state.
class FakeSystemd : public QObject, protected QDBusContext {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.systemd1.Manager")
public:
    FakeSystemd(QStringList unitDirs, const QString &targetState) : m_unitDirs(std::move(unitDirs))
    {
        auto *target = new FakeUnit;
        target->setParent(new QObject(this));
        target->parent()->setObjectName("unit");
        target->setObjectName("graphical_2dsession_2etarget");
        target->state = targetState;
    }
    std::atomic<const char *> fileState{"disabled"};
public Q_SLOTS:
    QString GetUnitFileState(const QString &unit)
    {
        if (std::none_of(m_unitDirs.begin(), m_unitDirs.end(),
                         [&](const QString &d) { return QFile::exists(d + unit); }))
            sendErrorReply("org.freedesktop.systemd1.NoSuchUnit", "No such file");
        return QString::fromLatin1(fileState.load());
    }
    bool EnableUnitFiles(const QStringList &, bool, bool) { return fileState = "enabled", true; }
    void DisableUnitFiles(const QStringList &, bool) { fileState = "disabled"; }
    void Reload() {}

private:
    QStringList m_unitDirs;
};

class LinuxLoginServiceTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(writeFile(agent, "#!/bin/sh\n", true)); }
    LinuxLoginService::Options options(const QTemporaryDir &root)
    {
        return {root.filePath("home"), {root.filePath("xdg")}, agent, {}, {root.filePath("packaged")}};
    }
    QTemporaryDir dir;
    // A program with every character that needs quoting in its path.
    QString agent = dir.filePath("My \"Agent\" $HOME 100% `x` \\d/fennimar-agent");
};

TEST_F(LinuxLoginServiceTest, AutostartStatusFromTheEntry)
{
    const QByteArray on = LoginDefinitions::autostartEntry(agent);
    const QByteArray off = QByteArray(on).replace("Autostart-enabled=true", "Autostart-enabled=false");
    const std::vector<std::tuple<const char *, QByteArray, QByteArray, LS>> cases = {
        {"nothing", {}, {}, LS::NotRegistered},
        {"our entry", on, {}, LS::Enabled},
        {"hidden by the user", on + "Hidden=true\n", {}, LS::RequiresApproval},
        {"switched off in GNOME", off, {}, LS::RequiresApproval},
        {"no Exec", "[Desktop Entry]\nType=Application\nName=F\n", {}, LS::NotFound},
        {"program gone", LoginDefinitions::autostartEntry(agent + ".old"), {}, LS::NotFound},
        {"another program first", QByteArray(on).replace("\nExec=", "\nExec=env TZ=Etc/GMT+5 "), {}, LS::NotFound},
        {"system-wide entry", {}, on, LS::Enabled},
        {"user copy hides the system one", on + "Hidden=true\n", on, LS::RequiresApproval},
    };
    for (const auto &[what, user, system, expected] : cases) {
        QTemporaryDir config;
        const LinuxLoginService::Options o = options(config);
        if (!user.isEmpty())
            writeFile(o.configHome + "/autostart/app.fennimar.Agent.desktop", user);
        if (!system.isEmpty())
            writeFile(o.configDirs.first() + "/autostart/app.fennimar.Agent.desktop", system);
        LinuxLoginService service(QDBusConnection(QString()), o);
        EXPECT_EQ(service.status(), expected) << what;
    }
}

// The unit where the session starts graphical-session.target, else the autostart entry, never both.
TEST_F(LinuxLoginServiceTest, RegistrationFollowsWhatTheSessionStarts)
{
    PrivateBus bus;
    ASSERT_TRUE(bus.ok());
    // Manager, target ActiveState, desktops, packaged unit for this executable; expected: the unit (else entry).
    const std::tuple<const char *, bool, const char *, QStringList, bool, bool> cases[] = {
        {"no user manager", false, "", {"XFCE"}, false, false},
        {"Xfce: manager, target never started", true, "inactive", {"XFCE"}, false, false},
        {"target active now", true, "active", {}, false, true},
        {"GNOME before its target", true, "inactive", {"ubuntu", "GNOME"}, false, true},
        {"KDE Plasma", true, "inactive", {"KDE"}, false, true},
        {"packaged unit", true, "active", {"GNOME"}, true, true},
        {"packaged unit, Xfce", true, "inactive", {"XFCE"}, true, false},
    };
    for (const auto &[name, hasManager, target, desktops, packaged, unit] : cases) {
        SCOPED_TRACE(name);
        QTemporaryDir root;
        LinuxLoginService::Options o = options(root);
        o.currentDesktops = desktops;
        const QString ownUnitDir = o.configHome + "/systemd/user/";
        if (packaged)
            writeFile(o.packagedUnitDirs.first() + "/app.fennimar.Agent.service", LoginDefinitions::unitFile(agent));
        FakeSystemd *manager = nullptr;
        std::optional<BusThread> systemd;
        if (hasManager) {
            systemd.emplace(bus.address(), "org.freedesktop.systemd1", "/org/freedesktop/systemd1", [&] {
                return manager = new FakeSystemd({ownUnitDir, o.packagedUnitDirs.first() + '/'}, QLatin1String(target));
            });
            ASSERT_TRUE(systemd->ok());
        }
        LinuxLoginService service(bus.connect(), o);
        EXPECT_EQ(service.usesSystemd(), unit);
        EXPECT_EQ(service.status(), LS::NotRegistered) << "a packaged unit nobody enabled is not turned off";
        // An enabled unit left by an earlier session starts next login only where the target is started.
        writeFile(service.unitPath(), LoginDefinitions::unitFile(agent));
        if (manager)
            manager->fileState = "enabled";
        const LS expected = unit ? LS::Enabled : LS::NotRegistered;
        EXPECT_TRUE(waitUntil([&] { return service.status() == expected; }, 10000)) << "seen once the manager answers";
        writeFile(service.autostartPath(), LoginDefinitions::autostartEntry(agent));
        const auto registered = service.registerService();
        ASSERT_TRUE(registered) << registered.error().toStdString();
        EXPECT_EQ(service.status(), LS::Enabled);
        EXPECT_EQ(QFile::exists(service.autostartPath()), !unit) << "exactly one registration";
        EXPECT_EQ(QFile::exists(service.unitPath()), unit && !packaged) << "the packaged unit is enabled, not copied";
        if (manager) {
            EXPECT_STREQ(manager->fileState.load(), unit ? "enabled" : "disabled");
        }
        // A drop-in that changes the unit's command or environment: it no longer starts the agent as it is.
        const QString dropIn = ownUnitDir + "app.fennimar.Agent.service.d/tz.conf";
        writeFile(dropIn, "[Service]\nEnvironment=TZ=Etc/GMT+5\n");
        EXPECT_TRUE(waitUntil([&] { return service.status() == (unit ? LS::NotFound : LS::Enabled); }, 10000));
        QFile::remove(dropIn);
        if (unit && !packaged) {
            // "systemctl --user mask" or "disable" by the user.
            for (const char *state : {"masked", "disabled"}) {
                manager->fileState = state;
                EXPECT_TRUE(waitUntil([&] { return service.status() == LS::RequiresApproval; }, 10000)) << state;
            }
            ASSERT_TRUE(service.unregisterService());
            EXPECT_FALSE(QFile::exists(service.unitPath()));
            EXPECT_EQ(service.status(), LS::NotRegistered);
        }
    }
}

TEST_F(LinuxLoginServiceTest, AutostartEntryAndUnitRunTheAgent)
{
    LinuxLoginService service(QDBusConnection(QString()), options(dir));
    ASSERT_TRUE(service.registerService());
    QFile written(service.autostartPath());
    ASSERT_TRUE(written.open(QIODevice::ReadOnly));
    EXPECT_EQ(splitExec(DesktopEntry::parse(written.readAll()).value("Exec").value_or(QString())), QStringList{agent});
    ASSERT_TRUE(service.unregisterService());
    EXPECT_EQ(service.status(), LS::NotRegistered);
    // A system-wide entry cannot be deleted by the user: it is hidden by a user copy instead.
    writeFile(dir.filePath("xdg/autostart/app.fennimar.Agent.desktop"), LoginDefinitions::autostartEntry(agent));
    ASSERT_TRUE(service.unregisterService());
    EXPECT_EQ(service.status(), LS::RequiresApproval);
    QString quoted = agent;
    quoted.replace("\\", "\\\\").replace("\"", "\\\"").replace("%", "%%").replace("$", "$$");
    const QByteArray text = LoginDefinitions::unitFile(agent);
    EXPECT_TRUE(text.contains("ExecStart=\"" + quoted.toUtf8() + "\"\n")) << text.constData();
    // The packaged unit (Restart=always, RestartPreventExitStatus=2 3 78) is the one the agent writes.
    QFile packaged(QStringLiteral(PACKAGED_UNIT));
    ASSERT_TRUE(packaged.open(QIODevice::ReadOnly));
    EXPECT_EQ(packaged.readAll(), LoginDefinitions::unitFile("/usr/bin/fennimar-agent"));
}

}  // namespace
}  // namespace fennimar::test

#include "LinuxLoginServiceTest.moc"
