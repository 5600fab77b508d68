#include "platform/linux/session/LoginDefinitions.h"

#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

namespace fennimar::LoginDefinitions {

namespace {

// systemd's own quoting: C-style escapes inside double quotes; '%' starts a specifier and '$' an
// environment variable, so both are doubled.
QString systemdQuote(const QString &path)
{
    QString out = QStringLiteral("\"");
    for (QChar c : path) {
        if (c == QLatin1Char('"') || c == QLatin1Char('\\'))
            out += QLatin1Char('\\');
        if (c == QLatin1Char('%') || c == QLatin1Char('$'))
            out += c;
        out += c;
    }
    return out + QLatin1Char('"');
}

// The desktop-entry Exec quoting, then the string-value escaping of the same format.
QString execQuote(const QString &path)
{
    QString quoted = QStringLiteral("\"");
    for (QChar c : path) {
        if (c == QLatin1Char('"') || c == QLatin1Char('`') || c == QLatin1Char('$') || c == QLatin1Char('\\'))
            quoted += QLatin1Char('\\');
        if (c == QLatin1Char('%'))
            quoted += QLatin1Char('%');
        quoted += c;
    }
    quoted += QLatin1Char('"');
    return quoted.replace(QLatin1Char('\\'), QStringLiteral("\\\\"));
}

}  // namespace

bool programExists(const QString &program)
{
    if (program.isEmpty())
        return false;
    const QString path = QDir::isAbsolutePath(program) ? program : QStandardPaths::findExecutable(program);
    const QFileInfo info(path);
    return !path.isEmpty() && info.isFile() && info.isExecutable();
}

bool sameProgram(const QString &a, const QString &b)
{
    const QString canonical = QFileInfo(a).canonicalFilePath();
    return !canonical.isEmpty() && canonical == QFileInfo(b).canonicalFilePath();
}

QString unitExecProgram(const QByteArray &unit)
{
    for (const QByteArray &rawLine : unit.split('\n')) {
        const QByteArray line = rawLine.trimmed();
        if (!line.startsWith("ExecStart="))
            continue;
        QString value = QString::fromUtf8(line.mid(10));
        // Prefixes such as "-" or "@" change how systemd runs the command, not which program.
        while (!value.isEmpty() && QStringLiteral("-@:+!").contains(value.front()))
            value.remove(0, 1);
        if (value.startsWith(QLatin1Char('"'))) {
            QString program;
            for (qsizetype i = 1; i < value.size() && value.at(i) != QLatin1Char('"'); ++i) {
                if (value.at(i) == QLatin1Char('\\') && i + 1 < value.size())
                    ++i;
                program += value.at(i);
            }
            return program.replace(QStringLiteral("%%"), QStringLiteral("%"))
                .replace(QStringLiteral("$$"), QStringLiteral("$"));
        }
        return value.section(QLatin1Char(' '), 0, 0);
    }
    return {};
}

QByteArray unitFile(const QString &executable)
{
    return QStringLiteral(
               "[Unit]\n"
               "Description=Fennimar agent\n"
               "PartOf=graphical-session.target\n"
               "After=graphical-session.target\n"
               "\n"
               "[Service]\n"
               "ExecStart=%1\n"
               // on-failure would leave the agent stopped after a clean exit or SIGTERM.
               "Restart=always\n"
               "RestartSec=5\n"
               // 3: another copy already runs; 2 and 78: a bad command line or configuration. A
               // restart cannot mend them, so they end the service; a crash or a kill still restarts.
               "RestartPreventExitStatus=2 3 78\n"
               "SuccessExitStatus=3\n"
               // The hardening a user unit can have without privileges or namespaces: the agent still
               // reaches the display, the session and accessibility buses and the backend, reads which
               // program is in front (/proc) and writes its files, its login registration and the GNOME
               // Shell extension in the home. New files are the user's alone; a system call outside the
               // usual set fails with EPERM instead of killing the agent.
               "NoNewPrivileges=yes\n"
               "UMask=0077\n"
               "LockPersonality=yes\n"
               "RestrictRealtime=yes\n"
               "RestrictSUIDSGID=yes\n"
               "RestrictNamespaces=yes\n"
               "KeyringMode=private\n"
               "SystemCallArchitectures=native\n"
               "RestrictAddressFamilies=AF_UNIX AF_INET AF_INET6 AF_NETLINK\n"
               "SystemCallFilter=@system-service\n"
               "SystemCallErrorNumber=EPERM\n"
               "\n"
               "[Install]\n"
               "WantedBy=graphical-session.target\n")
        .arg(systemdQuote(executable))
        .toUtf8();
}

QByteArray autostartEntry(const QString &executable, bool hidden)
{
    QString text =
        QStringLiteral(
            "[Desktop Entry]\n"
            "Type=Application\n"
            "Name=Fennimar\n"
            "Exec=%1\n"
            // Once the program is gone (a removed package) the desktop skips the entry.
            "TryExec=%2\n"
            "NoDisplay=true\n"
            "X-GNOME-Autostart-enabled=true\n")
            .arg(execQuote(executable), QString(executable).replace(QLatin1Char('\\'), QStringLiteral("\\\\")));
    if (hidden)
        text += QStringLiteral("Hidden=true\n");
    return text.toUtf8();
}

}  // namespace fennimar::LoginDefinitions
