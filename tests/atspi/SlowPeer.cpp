// Peers that make a read slow, for the tests of its time bounds.
//   slow-peer <bus address> <delay ms> <life ms>: on one bus, the accessibility launcher (org.a11y.Bus,
//     switched on, its bus being this same bus), a registry listing one application, and that
//     application: a frame over an endless tree of panels, no document, no Collection interface,
//     every answer sent <delay ms> late. Prints "ready", exits after <life ms>.
//   x-grab <display> <hold ms>: grabs the X server, prints "grabbed", holds the grab <hold ms>.
#include "platform/linux/atspi/AtspiTypes.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusVariant>
#include <QDBusVirtualObject>
#include <QTimer>

#include <xcb/xcb.h>

#include <cstdio>
#include <cstdlib>
#include <thread>

namespace {

using namespace fennimar::atspi;

// Answers every call to the objects below its path; late by delayMs.
class Peer : public QDBusVirtualObject {
public:
    Peer(std::function<QDBusMessage(const QDBusMessage &)> answer, int delayMs)
        : m_answer(std::move(answer)), m_delayMs(delayMs)
    {
    }
    QString introspect(const QString &) const override { return {}; }
    bool handleMessage(const QDBusMessage &message, const QDBusConnection &connection) override
    {
        message.setDelayedReply(true);
        const QDBusMessage reply = m_answer(message);
        QTimer::singleShot(m_delayMs, [connection, reply] { QDBusConnection(connection).send(reply); });
        return true;
    }

private:
    std::function<QDBusMessage(const QDBusMessage &)> m_answer;
    int m_delayMs;
};

QDBusMessage appAnswer(const QDBusMessage &m, const QString &self)
{
    const QString member = m.member();
    const QString path = m.path();
    if (m.interface() == Collection || m.interface() == Text)
        return m.createErrorReply(QStringLiteral("org.freedesktop.DBus.Error.UnknownMethod"), QStringLiteral("no"));
    if (member == QLatin1String("GetApplicationBusAddress"))
        return m.createReply(QString());
    if (member == QLatin1String("GetAttributes"))
        return m.createReply(QVariant::fromValue(QMap<QString, QString>()));
    if (member == QLatin1String("GetState"))
        return m.createReply(
            QVariant::fromValue(QList<uint>{path == QLatin1String("/f") ? 1u << State::Active : 0u, 0u}));
    if (member == QLatin1String("GetRole"))
        return m.createReply(uint(path == QLatin1String("/f") ? Role::Frame : 40));
    if (member == QLatin1String("Get"))
        return m.createReply(QVariant::fromValue(QDBusVariant(QString())));
    if (member == QLatin1String("GetChildren")) {
        // The root holds the frame; below it every panel holds four more, without end.
        QList<ObjectRef> children;
        const qulonglong n = path == RootPath ? 0 : path.mid(3).toULongLong();
        for (qulonglong i = 1; i <= (path == RootPath ? 1u : 4u); ++i) {
            const QString child = path == RootPath ? QStringLiteral("/f") : QStringLiteral("/e/%1").arg(4 * n + i);
            children.append({self, QDBusObjectPath(child)});
        }
        return m.createReply(QVariant::fromValue(children));
    }
    return m.createErrorReply(QStringLiteral("org.freedesktop.DBus.Error.UnknownMethod"), member);
}

int slowPeer(const QString &address, int delayMs, int lifeMs)
{
    registerTypes();
    QDBusConnection desk = QDBusConnection::connectToBus(address, QStringLiteral("desk"));
    QDBusConnection app = QDBusConnection::connectToBus(address, QStringLiteral("app"));
    const QString self = app.baseService();
    Peer desktop(
        [&](const QDBusMessage &m) {
            if (m.member() == QLatin1String("GetAddress"))
                return m.createReply(address);
            if (m.member() == QLatin1String("GetAll")) {
                const QVariantMap status = {{QStringLiteral("IsEnabled"), true},
                                            {QStringLiteral("ScreenReaderEnabled"), false}};
                return m.createReply(status);
            }
            return m.createReply(QVariant::fromValue(QList<ObjectRef>{{self, QDBusObjectPath(RootPath)}}));
        },
        0);
    Peer browser([&](const QDBusMessage &m) { return appAnswer(m, self); }, delayMs);
    if (!desk.registerVirtualObject(QStringLiteral("/org"), &desktop, QDBusConnection::SubPath) ||
        !desk.registerService(QStringLiteral("org.a11y.Bus")) ||
        !desk.registerService(QStringLiteral("org.a11y.atspi.Registry")) ||
        !app.registerVirtualObject(QStringLiteral("/"), &browser, QDBusConnection::SubPath))
        return 1;
    std::printf("ready\n");
    std::fflush(stdout);
    QTimer::singleShot(lifeMs, [] { QCoreApplication::exit(0); });
    return QCoreApplication::exec();
}

int xGrab(const QByteArray &display, int holdMs)
{
    xcb_connection_t *c = xcb_connect(display.constData(), nullptr);
    if (xcb_connection_has_error(c))
        return 1;
    xcb_grab_server(c);
    std::free(xcb_get_input_focus_reply(c, xcb_get_input_focus(c), nullptr));  // the grab is in force
    std::printf("grabbed\n");
    std::fflush(stdout);
    std::this_thread::sleep_for(std::chrono::milliseconds(holdMs));
    xcb_disconnect(c);
    return 0;
}

}  // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() == 5 && args[1] == QLatin1String("slow-peer"))
        return slowPeer(args[2], args[3].toInt(), args[4].toInt());
    if (args.size() == 4 && args[1] == QLatin1String("x-grab"))
        return xGrab(args[2].toLocal8Bit(), args[3].toInt());
    std::fprintf(stderr, "usage: slow-peer <bus> <delay ms> <life ms> | x-grab <display> <hold ms>\n");
    return 2;
}
