// A stand-in for logind on a private system bus, for the accuracy benchmark: one session, "bench",
// whose LockedHint and Active properties follow the lines read from standard input ("locked 1",
// "active 0", ...), each change announced by PropertiesChanged as logind does. The user's Display
// names it, as logind names the user's graphical session, which is where the agent looks; its Type
// is the day's XDG_SESSION_TYPE.
//   fake_logind BUS_ADDRESS
#include <QCoreApplication>
#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMetaType>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QSocketNotifier>
#include <QTextStream>

#include <cstdio>
#include <unistd.h>

namespace {

const QString kSessionPath = QStringLiteral("/org/freedesktop/login1/session/bench");

// logind's reference to a session: its id and object path, "(so)" on the bus.
struct SessionRef {
    QString id;
    QDBusObjectPath path;
};
QDBusArgument &operator<<(QDBusArgument &argument, const SessionRef &ref)
{
    argument.beginStructure();
    argument << ref.id << ref.path;
    argument.endStructure();
    return argument;
}
const QDBusArgument &operator>>(const QDBusArgument &argument, SessionRef &ref)
{
    argument.beginStructure();
    argument >> ref.id >> ref.path;
    argument.endStructure();
    return argument;
}

}  // namespace
Q_DECLARE_METATYPE(SessionRef)
namespace {

class User : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.login1.User")
    Q_PROPERTY(SessionRef Display READ display)
public:
    SessionRef display() const { return {QStringLiteral("bench"), QDBusObjectPath(kSessionPath)}; }
};

class Manager : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.login1.Manager")
public Q_SLOTS:
    QDBusObjectPath GetSession(const QString &) { return QDBusObjectPath(kSessionPath); }
};

class Session : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.login1.Session")
    Q_PROPERTY(bool LockedHint MEMBER locked)
    Q_PROPERTY(bool Active MEMBER active)
    Q_PROPERTY(QString Type MEMBER type)
public:
    QString type = qEnvironmentVariable("XDG_SESSION_TYPE");  // x11 or wayland, as the day's session is
    bool locked = false;
    bool active = true;
};

}  // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: fake_logind BUS_ADDRESS\n");
        return 2;
    }
    QDBusConnection bus = QDBusConnection::connectToBus(QString::fromLocal8Bit(argv[1]), QStringLiteral("logind"));
    qDBusRegisterMetaType<SessionRef>();
    Manager manager;
    User user;
    Session session;
    const auto exportAll = QDBusConnection::ExportAllSlots | QDBusConnection::ExportAllProperties;
    if (!bus.registerObject(QStringLiteral("/org/freedesktop/login1"), &manager, exportAll) ||
        !bus.registerObject(QStringLiteral("/org/freedesktop/login1/user/self"), &user, exportAll) ||
        !bus.registerObject(kSessionPath, &session, exportAll) ||
        !bus.registerService(QStringLiteral("org.freedesktop.login1"))) {
        std::fprintf(stderr, "fake_logind: cannot serve on %s\n", argv[1]);
        return 1;
    }
    std::printf("ready\n");
    std::fflush(stdout);
    QSocketNotifier input(STDIN_FILENO, QSocketNotifier::Read);
    QTextStream lines(stdin);
    QObject::connect(&input, &QSocketNotifier::activated, &app, [&] {
        const QString line = lines.readLine();
        if (line.isNull())
            return QCoreApplication::quit();
        const QStringList words = line.split(QLatin1Char(' '), Qt::SkipEmptyParts);
        if (words.size() != 2 || (words[0] != QLatin1String("locked") && words[0] != QLatin1String("active")))
            return;
        const bool value = words[1] == QLatin1String("1");
        (words[0] == QLatin1String("locked") ? session.locked : session.active) = value;
        QDBusMessage signal = QDBusMessage::createSignal(
            kSessionPath, QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("PropertiesChanged"));
        signal << QStringLiteral("org.freedesktop.login1.Session")
               << QVariantMap{{words[0] == QLatin1String("locked") ? QStringLiteral("LockedHint")
                                                                   : QStringLiteral("Active"),
                               value}}
               << QStringList{};
        bus.send(signal);
    });
    return QCoreApplication::exec();
}

#include "FakeLogind.moc"
