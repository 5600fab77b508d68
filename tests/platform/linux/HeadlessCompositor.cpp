#include "tests/platform/linux/HeadlessCompositor.h"

#include "tests/support/DesktopSession.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <unistd.h>

namespace fennimar::test {

HeadlessCompositor::HeadlessCompositor(const QString &program, const QStringList &args, const QStringList &env)
    : extraEnv(env)
{
    if (const QStringList missing = missingTools({program, "foot", "setpriv"}); !missing.isEmpty()) {
        skip = "not installed: " + missing.join(", ");
        return;
    }
    QFile config(m_dir.filePath("sway.conf"));
    if (!config.open(QIODevice::WriteOnly) || config.write("xwayland disable\n") < 0 ||
        (::geteuid() == 0 && ::chown(m_dir.path().toLocal8Bit().constData(), 65534, 65534) != 0)) {
        skip = "cannot prepare the runtime directory";
        return;
    }
    config.close();
    start(program, QStringList(args).replaceInStrings("{config}", config.fileName()));
    const QDir dir(m_dir.path());
    const bool ready = waitUntil(
        [&] {
            for (const QString &name : dir.entryList({"wayland-*", "wl-*"}, QDir::System))
                display = name.endsWith(".lock") ? display : dir.filePath(name).toLocal8Bit();
            const QStringList ipc = dir.entryList({"sway-ipc.*"}, QDir::System);
            swaySocket = ipc.isEmpty() ? QString() : dir.filePath(ipc.first());
            return !display.isEmpty() && (program != "sway" || !swaySocket.isEmpty());
        },
        10000);
    if (!ready)
        skip = program + " did not start: " + QString::fromLocal8Bit(m_clients[0]->readAll());
}

HeadlessCompositor::~HeadlessCompositor()
{
    // The clients, then the compositor with its buses: GNOME Shell takes seconds to quit.
    for (auto it = m_clients.rbegin(); it != m_clients.rend(); ++it)
        endProcessGroup(**it, 10000);
}

QProcess *HeadlessCompositor::start(const QString &program, const QStringList &args)
{
    auto &process = m_clients.emplace_back(std::make_unique<QProcess>());
    QProcessEnvironment env;
    for (const auto &[name, value] : {std::pair{"PATH", "/usr/bin:/bin"}, std::pair{"WLR_BACKENDS", "headless"},
                                      std::pair{"WLR_LIBINPUT_NO_DEVICES", "1"}, std::pair{"WLR_RENDERER", "pixman"}})
        env.insert(name, value);
    env.insert("HOME", m_dir.path());
    env.insert("XDG_RUNTIME_DIR", m_dir.path());
    if (!display.isEmpty())
        env.insert("WAYLAND_DISPLAY", QString::fromLocal8Bit(display));
    for (const QString &variable : extraEnv)
        env.insert(variable.section(QLatin1Char('='), 0, 0), variable.section(QLatin1Char('='), 1));
    process->setProcessEnvironment(env);
    process->setProcessChannelMode(QProcess::MergedChannels);
    process->setWorkingDirectory(m_dir.path());
    process->setChildProcessModifier([] { ::setsid(); });  // ended with all it starts
    if (::geteuid() == 0)                                  // setpriv execs: the pid stays the program's
        process->start("setpriv", QStringList{"--reuid=65534", "--regid=65534", "--clear-groups", program} + args);
    else
        process->start(program, args);
    process->waitForStarted(5000);
    return process.get();
}

bool HeadlessCompositor::sway(const QString &command)
{
    return runProgram("swaymsg", {"-s", swaySocket, command}, QProcessEnvironment::systemEnvironment(), 5000)
        .has_value();
}

QStringList HeadlessCompositor::withBuses(const QString &command, bool xvfb)
{
    // On TERM or any other end: the compositor, then the buses its services run on.
    const QString script = QStringLiteral(R"(w= b= s= x=
trap 'exit 143' TERM
trap '[ -n "$w" ] && kill $w && wait $w; kill $b $s $x 2>/dev/null; wait' EXIT
printf '<busconfig><type>session</type><listen>unix:dir=%s</listen><auth>EXTERNAL</auth>
<standard_session_servicedirs/><policy context="default"><allow user="root"/><allow own="*"/>
<allow send_destination="*" eavesdrop="true"/><allow eavesdrop="true"/></policy></busconfig>' "$PWD" > bus.conf
[ -n "%1" ] && { Xvfb -displayfd 1 -nolisten tcp > display 2>/dev/null & x=$!; }
dbus-daemon --config-file=bus.conf --nofork --print-address=1 > bus & b=$!
dbus-daemon --config-file=bus.conf --nofork --print-address=1 > system & s=$!
for i in $(seq 200); do [ -s bus ] && [ -s system ] && { [ -z "%1" ] || [ -s display ]; } && break; sleep 0.05; done
export DBUS_SESSION_BUS_ADDRESS=$(cat bus) DBUS_SYSTEM_BUS_ADDRESS=$(cat system)
[ -n "%1" ] && export DISPLAY=:$(cat display)
%2 & w=$!
wait $w)");
    return {QStringLiteral("-c"), script.arg(xvfb ? QStringLiteral("x") : QString(), command)};
}

QString HeadlessCompositor::sessionBus() const
{
    QFile file(QFileInfo(QString::fromLocal8Bit(display)).dir().filePath(QStringLiteral("bus")));
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readLine()).trimmed() : QString();
}

}  // namespace fennimar::test
