#include "tests/linux/HeadlessCompositor.h"

#include "tests/linux/LinuxTestSupport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <unistd.h>

namespace fennimar::test {

HeadlessCompositor::HeadlessCompositor(const QString &program, const QStringList &args)
{
    const QStringList missing = missingTools({program, QStringLiteral("foot"), QStringLiteral("setpriv")});
    if (!missing.isEmpty()) {
        skip = QStringLiteral("not installed: ") + missing.join(QStringLiteral(", "));
        return;
    }
    QFile::setPermissions(m_dir.path(), QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    QFile config(m_dir.filePath(QStringLiteral("sway.conf")));
    if (!config.open(QIODevice::WriteOnly) || config.write("xwayland disable\n") < 0)
        skip = QStringLiteral("cannot write the compositor's configuration");
    config.close();
    if (::geteuid() == 0 && ::chown(m_dir.path().toLocal8Bit().constData(), 65534, 65534) != 0)
        skip = QStringLiteral("cannot hand the runtime directory to nobody");
    if (!skip.isEmpty())
        return;
    QStringList withConfig = args;
    withConfig.replaceInStrings(QStringLiteral("{config}"), m_dir.filePath(QStringLiteral("sway.conf")));
    start(program, withConfig);
    const bool ready = waitUntil(
        [&] {
            const QDir dir(m_dir.path());
            const QStringList sockets =
                dir.entryList({QStringLiteral("wayland-*"), QStringLiteral("wl-*")}, QDir::System);
            for (const QString &name : sockets)
                if (!name.endsWith(QLatin1String(".lock")))
                    display = dir.filePath(name).toLocal8Bit();
            const QStringList ipc = dir.entryList({QStringLiteral("sway-ipc.*")}, QDir::System);
            swaySocket = ipc.isEmpty() ? QString() : dir.filePath(ipc.first());
            return !display.isEmpty() && (program != QLatin1String("sway") || !swaySocket.isEmpty());
        },
        10000);
    if (!ready && skip.isEmpty())
        skip = program + QStringLiteral(" did not start: ") + QString::fromLocal8Bit(m_clients[0]->readAll());
}

HeadlessCompositor::~HeadlessCompositor()
{
    for (auto it = m_clients.rbegin(); it != m_clients.rend(); ++it) {
        (*it)->terminate();
        if (!(*it)->waitForFinished(3000))
            (*it)->kill();
        (*it)->waitForFinished(1000);
    }
}

QProcess *HeadlessCompositor::start(const QString &program, const QStringList &args)
{
    auto process = std::make_unique<QProcess>();
    QProcessEnvironment env;
    env.insert(QStringLiteral("PATH"), QStringLiteral("/usr/bin:/bin"));
    env.insert(QStringLiteral("HOME"), m_dir.path());
    env.insert(QStringLiteral("XDG_RUNTIME_DIR"), m_dir.path());
    env.insert(QStringLiteral("WLR_BACKENDS"), QStringLiteral("headless"));
    env.insert(QStringLiteral("WLR_LIBINPUT_NO_DEVICES"), QStringLiteral("1"));
    env.insert(QStringLiteral("WLR_RENDERER"), QStringLiteral("pixman"));
    if (!display.isEmpty())
        env.insert(QStringLiteral("WAYLAND_DISPLAY"), QString::fromLocal8Bit(display));
    for (const QString &variable : extraEnv)
        env.insert(variable.section(QLatin1Char('='), 0, 0), variable.section(QLatin1Char('='), 1));
    process->setProcessEnvironment(env);
    process->setProcessChannelMode(QProcess::MergedChannels);
    process->setWorkingDirectory(m_dir.path());
    if (::geteuid() == 0)  // setpriv execs: the pid stays the program's
        process->start(QStringLiteral("setpriv"),
                       QStringList{QStringLiteral("--reuid=65534"), QStringLiteral("--regid=65534"),
                                   QStringLiteral("--clear-groups"), program} +
                           args);
    else
        process->start(program, args);
    process->waitForStarted(5000);
    m_clients.push_back(std::move(process));
    return m_clients.back().get();
}
bool HeadlessCompositor::sway(const QString &command)
{
    return runProgram(QStringLiteral("swaymsg"), {QStringLiteral("-s"), swaySocket, command},
                      QProcessEnvironment::systemEnvironment(), 5000)
        .has_value();
}

QStringList HeadlessCompositor::westonWithKeyboard()
{
    const QString script = QStringLiteral(R"(
printf '<busconfig><type>session</type><listen>unix:dir=%s</listen><auth>EXTERNAL</auth>
<standard_session_servicedirs/><policy context="default"><allow user="root"/><allow own="*"/>
<allow send_destination="*" eavesdrop="true"/><allow eavesdrop="true"/></policy></busconfig>' "$PWD" > bus.conf
Xvfb -displayfd 1 -nolisten tcp > display 2>/dev/null & x=$!
dbus-daemon --config-file=bus.conf --nofork --print-address=1 > bus & b=$!
for i in $(seq 200); do [ -s display ] && [ -s bus ] && break; sleep 0.05; done
DISPLAY=:$(cat display) weston --backend=x11-backend.so --use-pixman --socket=wl-test --no-config & w=$!
trap 'kill $w $b $x; wait' TERM
wait $w)");
    return {QStringLiteral("-c"), script};
}

QString HeadlessCompositor::sessionBus() const
{
    QFile file(QFileInfo(QString::fromLocal8Bit(display)).dir().filePath(QStringLiteral("bus")));
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readLine()).trimmed() : QString();
}

}  // namespace fennimar::test
