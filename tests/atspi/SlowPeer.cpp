// Peers that make a read slow, for the tests of its time bounds.
//   slow-peer <bus> <delay ms> <life ms>: the accessibility launcher (on, its bus this same bus), a registry
//     listing one application, and that application: a frame over an endless tree of panels, no
//     document, no Collection, every answer <delay ms> late. Prints "ready", exits after <life ms>.
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
struct Peer : QDBusVirtualObject {
    std::function<QDBusMessage(const QDBusMessage &)> answer;
    int delayMs = 0;
    QString introspect(const QString &) const override { return {}; }
    bool handleMessage(const QDBusMessage &message, const QDBusConnection &connection) override
    {
        message.setDelayedReply(true);
        QTimer::singleShot(delayMs, [connection, reply = answer(message)] { QDBusConnection(connection).send(reply); });
        return true;
    }
};

QDBusMessage appAnswer(const QDBusMessage &m, const QString &self)
{
    const QString member = m.member(), path = m.path();
    const bool frame = path == QLatin1String("/f");
    const QVariantHash fixed = {
        {"GetApplicationBusAddress", QString()},
        {"GetAttributes", QVariant::fromValue(QMap<QString, QString>())},
        {"GetState", QVariant::fromValue(QList<uint>{frame ? 1u << State::Active : 0u, 0u})},
        {"GetRole", uint(frame ? Role::Frame : 40)},
        {"Get", QVariant::fromValue(QDBusVariant(QString()))},
    };
    if (m.interface() == Collection || m.interface() == Text || !(fixed.contains(member) || member == "GetChildren"))
        return m.createErrorReply(QStringLiteral("org.freedesktop.DBus.Error.UnknownMethod"), member);
    if (member != QLatin1String("GetChildren"))
        return m.createReply(fixed.value(member));
    // The root holds the frame; below it every panel holds four more, without end.
    QList<ObjectRef> children;
    const qulonglong n = path == RootPath ? 0 : path.mid(3).toULongLong();
    for (qulonglong i = 1; i <= (path == RootPath ? 1u : 4u); ++i)
        children.append(
            {self, QDBusObjectPath(path == RootPath ? QStringLiteral("/f") : QStringLiteral("/e/%1").arg(4 * n + i))});
    return m.createReply(QVariant::fromValue(children));
}

int slowPeer(const QString &address, int delayMs, int lifeMs)
{
    registerTypes();
    QDBusConnection desk = QDBusConnection::connectToBus(address, QStringLiteral("desk"));
    QDBusConnection app = QDBusConnection::connectToBus(address, QStringLiteral("app"));
    const QString self = app.baseService();
    Peer desktop, browser;
    desktop.answer = [&](const QDBusMessage &m) {
        if (m.member() == QLatin1String("GetAddress"))
            return m.createReply(address);
        if (m.member() == QLatin1String("GetAll"))
            return m.createReply(QVariantMap{{"IsEnabled", true}, {"ScreenReaderEnabled", false}});
        return m.createReply(QVariant::fromValue(QList<ObjectRef>{{self, QDBusObjectPath(RootPath)}}));
    };
    browser.answer = [&](const QDBusMessage &m) { return appAnswer(m, self); };
    browser.delayMs = delayMs;
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
