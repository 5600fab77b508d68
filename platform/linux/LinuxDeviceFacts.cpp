#include "platform/linux/LinuxDeviceFacts.h"

#include "core/DurableFile.h"

#include <QDBusMessage>
#include <QDBusVariant>
#include <QDir>

#include <pwd.h>
#include <unistd.h>

namespace fennimar {

namespace {

constexpr qint64 kMaxFactBytes = 64 * 1024;
constexpr int kHostnamedTimeoutMs = 200;

QString readTrimmed(const QString &path)
{
    const FileRead read = readSmallFile(path, kMaxFactBytes, Links::Follow);
    if (!read.error.isEmpty() || read.notFound)
        return {};
    // Device-tree strings end in NUL; DMI ones in a newline.
    QByteArray bytes = read.bytes;
    const qsizetype nul = bytes.indexOf('\0');
    if (nul >= 0)
        bytes.truncate(nul);
    return QString::fromUtf8(bytes).trimmed();
}

// One value of a shell-style KEY=value file (os-release, machine-info), quotes removed.
QString shellValue(const QString &path, const QString &key)
{
    const FileRead read = readSmallFile(path, kMaxFactBytes, Links::Follow);
    if (!read.error.isEmpty() || read.notFound)
        return {};
    const QString prefix = key + QLatin1Char('=');
    for (const QString &rawLine : QString::fromUtf8(read.bytes).split(QLatin1Char('\n'))) {
        const QString line = rawLine.trimmed();
        if (!line.startsWith(prefix))
            continue;
        QString value = line.mid(prefix.size()).trimmed();
        if (value.size() >= 2 && (value.front() == QLatin1Char('"') || value.front() == QLatin1Char('\'')) &&
            value.back() == value.front()) {
            value = value.mid(1, value.size() - 2);
            value.replace(QLatin1String("\\\""), QLatin1String("\""));
            value.replace(QLatin1String("\\\\"), QLatin1String("\\"));
        }
        return value.trimmed();
    }
    return {};
}

}  // namespace

LinuxDeviceFacts::LinuxDeviceFacts(QDBusConnection systemBus) : LinuxDeviceFacts(std::move(systemBus), Roots{}) {}

LinuxDeviceFacts::LinuxDeviceFacts(QDBusConnection systemBus, Roots roots)
    : m_system(std::move(systemBus)), m_roots(std::move(roots))
{
}

bool LinuxDeviceFacts::isPlaceholder(const QString &value)
{
    static const QStringList placeholders = {
        QStringLiteral("to be filled by o.e.m."),
        QStringLiteral("to be filled by oem"),
        QStringLiteral("system product name"),
        QStringLiteral("system manufacturer"),
        QStringLiteral("system version"),
        QStringLiteral("default string"),
        QStringLiteral("not applicable"),
        QStringLiteral("not specified"),
        QStringLiteral("none"),
        QStringLiteral("o.e.m."),
        QStringLiteral("oem"),
        QStringLiteral("type1productconfigid"),
        QStringLiteral("invalid"),
        QStringLiteral("unknown"),
        QStringLiteral("0123456789"),
        QStringLiteral("123456789"),
        QStringLiteral("xxxxxxxxxxxxxxx"),
        QStringLiteral("n/a"),
    };
    const QString folded = value.trimmed().toLower();
    return folded.isEmpty() || placeholders.contains(folded);
}

QString LinuxDeviceFacts::dmi(const char *name) const
{
    const QString value = readTrimmed(m_roots.sys + QStringLiteral("/class/dmi/id/") + QLatin1String(name));
    return isPlaceholder(value) ? QString() : value;
}

QString LinuxDeviceFacts::vendor()
{
    return dmi("sys_vendor");
}

QString LinuxDeviceFacts::model()
{
    const QString product = dmi("product_name");
    // Lenovo puts a machine-type code in product_name and the model people know in product_version.
    const QString version = dmi("product_version");
    if (vendor().compare(QLatin1String("LENOVO"), Qt::CaseInsensitive) == 0 && !version.isEmpty())
        return version;
    if (!product.isEmpty())
        return product;
    // Boards without DMI (ARM) name themselves in the device tree.
    const QString tree = readTrimmed(m_roots.proc + QStringLiteral("/device-tree/model"));
    return isPlaceholder(tree) ? QString() : tree;
}

bool LinuxDeviceFacts::hasInternalBattery()
{
    const QDir dir(m_roots.sys + QStringLiteral("/class/power_supply"));
    for (const QString &supply : dir.entryList(QDir::Dirs | QDir::NoDotAndDotDot | QDir::System)) {
        const QString base = dir.filePath(supply);
        if (readTrimmed(base + QStringLiteral("/type")) != QLatin1String("Battery"))
            continue;
        // A wireless mouse's or a headset's battery reports scope "Device".
        if (readTrimmed(base + QStringLiteral("/scope")).compare(QLatin1String("Device"), Qt::CaseInsensitive) == 0)
            continue;
        return true;
    }
    return false;
}

QString LinuxDeviceFacts::osVersion()
{
    QString version = shellValue(m_roots.etc + QStringLiteral("/os-release"), QStringLiteral("VERSION_ID"));
    if (version.isEmpty())
        version = shellValue(m_roots.etc + QStringLiteral("/../usr/lib/os-release"), QStringLiteral("VERSION_ID"));
    return version;
}

QString LinuxDeviceFacts::computerName()
{
    if (m_system.isConnected()) {
        QDBusMessage get = QDBusMessage::createMethodCall(
            QStringLiteral("org.freedesktop.hostname1"), QStringLiteral("/org/freedesktop/hostname1"),
            QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Get"));
        get << QStringLiteral("org.freedesktop.hostname1") << QStringLiteral("PrettyHostname");
        // Starting hostnamed for one string is not worth it: machine-info holds the same value.
        get.setAutoStartService(false);
        const QDBusMessage reply = m_system.call(get, QDBus::Block, kHostnamedTimeoutMs);
        if (reply.type() == QDBusMessage::ReplyMessage && !reply.arguments().isEmpty()) {
            const QString pretty = reply.arguments().first().value<QDBusVariant>().variant().toString().trimmed();
            if (!pretty.isEmpty())
                return pretty;
        }
    }
    const QString pretty = shellValue(m_roots.etc + QStringLiteral("/machine-info"), QStringLiteral("PRETTY_HOSTNAME"));
    if (!pretty.isEmpty())
        return pretty;
    const QString kernel = readTrimmed(m_roots.proc + QStringLiteral("/sys/kernel/hostname"));
    if (!kernel.isEmpty() && kernel != QLatin1String("(none)"))
        return kernel;
    return QString();
}

QString LinuxDeviceFacts::userName()
{
    // The password database, not $USER: the environment can be set to anything by whoever starts us.
    if (const passwd *entry = getpwuid(geteuid()); entry && entry->pw_name && *entry->pw_name)
        return QString::fromLocal8Bit(entry->pw_name);
    return qEnvironmentVariable("USER", qEnvironmentVariable("LOGNAME"));
}

}  // namespace fennimar
