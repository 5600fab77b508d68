#include "platform/linux/inhibit/GnomeInhibitors.h"

#include "platform/linux/session/BusCalls.h"

#include <QDBusArgument>
#include <QDBusObjectPath>

#include <functional>
#include <memory>

namespace fennimar {

namespace {

const QString kService = QStringLiteral("org.gnome.SessionManager");
const QString kPath = QStringLiteral("/org/gnome/SessionManager");
const QString kInhibitor = QStringLiteral("org.gnome.SessionManager.Inhibitor");
constexpr uint kIdleFlag = 8;  // "inhibit the session being marked as idle"

// Asks each inhibitor for its app, reason and flags, and hands `done` those that answered all three
// (one released between the calls answers an error).
void readEach(QDBusConnection bus, QObject *context, const QList<QDBusObjectPath> &paths,
              std::function<void(std::vector<Inhibitor>)> done)
{
    struct Reading {
        std::vector<Inhibitor> inhibitors;
        std::vector<bool> failed;
        int pending = 0;
        std::function<void(std::vector<Inhibitor>)> done;
    };
    auto reading = std::make_shared<Reading>();
    reading->inhibitors.resize(paths.size());
    reading->failed.resize(paths.size());
    reading->pending = static_cast<int>(paths.size()) * 3;
    reading->done = std::move(done);
    for (qsizetype i = 0; i < paths.size(); ++i) {
        for (const QString method : {"GetAppId", "GetReason", "GetFlags"}) {
            auto message = QDBusMessage::createMethodCall(kService, paths[i].path(), kInhibitor, method);
            session::callAsync(bus, context, message, [reading, i, method](const QDBusMessage &answer) {
                Inhibitor &inhibitor = reading->inhibitors[i];
                const QVariant value = answer.arguments().value(0);
                if (answer.type() != QDBusMessage::ReplyMessage)
                    reading->failed[i] = true;
                else if (method == QLatin1String("GetAppId"))
                    inhibitor.app = value.toString();
                else if (method == QLatin1String("GetReason"))
                    inhibitor.reason = value.toString();
                else
                    inhibitor.keepsScreen = value.toUInt() & kIdleFlag;
                if (--reading->pending > 0)
                    return;
                std::vector<Inhibitor> held;
                for (size_t k = 0; k < reading->inhibitors.size(); ++k) {
                    if (!reading->failed[k])
                        held.push_back(reading->inhibitors[k]);
                }
                reading->done(std::move(held));
            });
        }
    }
}

}  // namespace

GnomeInhibitors::GnomeInhibitors(QDBusConnection session, QObject *parent) : QObject(parent), m_bus(std::move(session))
{
    if (!m_bus.isConnected())
        return;
    for (const char *signal : {"InhibitorAdded", "InhibitorRemoved"})
        m_bus.connect(kService, kPath, kService, QLatin1String(signal), this, SLOT(refresh()));
    session::watchOwner(m_bus, kService, this, [this] { refresh(); });
    refresh();
}

void GnomeInhibitors::refresh()
{
    const quint64 generation = ++m_generation;
    const auto message = QDBusMessage::createMethodCall(kService, kPath, kService, QStringLiteral("GetInhibitors"));
    session::callAsync(m_bus, this, message, [this, generation](const QDBusMessage &reply) {
        QList<QDBusObjectPath> paths;
        if (reply.type() == QDBusMessage::ReplyMessage && !reply.arguments().isEmpty())
            paths = qdbus_cast<QList<QDBusObjectPath>>(reply.arguments().constFirst());
        if (paths.isEmpty())
            return store(generation, {});
        readEach(m_bus, this, paths,
                 [this, generation](std::vector<Inhibitor> held) { store(generation, std::move(held)); });
    });
}

void GnomeInhibitors::store(quint64 generation, std::vector<Inhibitor> inhibitors)
{
    if (generation != m_generation)
        return;
    m_inhibitors = std::move(inhibitors);
    Q_EMIT changed();
}

}  // namespace fennimar
