#include "platform/linux/inhibit/MprisPlayers.h"

#include "platform/linux/session/BusCalls.h"

#include <QDBusArgument>
#include <QDBusMessage>

#include <memory>

namespace fennimar {

namespace {

const QString kBus = QStringLiteral("org.freedesktop.DBus");
const QString kBusPath = QStringLiteral("/org/freedesktop/DBus");
const QString kPrefix = QStringLiteral("org.mpris.MediaPlayer2.");
constexpr double kRelistSeconds = 3.0;
constexpr double kKeptSeconds = 10.0;
// A session has a handful of players; more names than this are a program making them, and those
// left out can only leave a film counted, as without players.
constexpr qsizetype kMaxPlayers = 32;

}  // namespace

MprisPlayers::MprisPlayers(Clock &clock, QDBusConnection session, QObject *parent)
    : QObject(parent), m_clock(clock), m_bus(std::move(session))
{
}

double MprisPlayers::now() const
{
    return static_cast<double>(m_clock.monotonic().count()) / 1000.0;
}

std::vector<MediaPlayer> MprisPlayers::players()
{
    if (!m_bus.isConnected())
        return {};
    if (!m_asking && now() - m_askedAt >= kRelistSeconds)
        list();
    return now() - m_listedAt < kKeptSeconds ? m_players : std::vector<MediaPlayer>{};
}

void MprisPlayers::list()
{
    m_asking = true;
    m_askedAt = now();
    const auto names = QDBusMessage::createMethodCall(kBus, kBusPath, kBus, QStringLiteral("ListNames"));
    session::callAsync(m_bus, this, names, [this](const QDBusMessage &reply) {
        if (reply.type() != QDBusMessage::ReplyMessage) {
            m_asking = false;  // the last listing stays until it is too old
            return;
        }
        QStringList found;
        for (const QString &name : reply.arguments().value(0).toStringList()) {
            if (name.startsWith(kPrefix) && found.size() < kMaxPlayers)
                found << name;
        }
        if (found.isEmpty())
            return listed({});
        struct Reading {
            std::vector<MediaPlayer> players;
            qsizetype pending = 0;
        };
        auto reading = std::make_shared<Reading>();
        reading->pending = found.size() * 2;
        for (const QString &name : found)
            reading->players.push_back({name.mid(kPrefix.size()).section(QLatin1Char('.'), 0, 0), 0, false, true, {}});
        const auto answered = [this, reading] {
            if (--reading->pending == 0)
                listed(std::move(reading->players));
        };
        for (qsizetype i = 0; i < found.size(); ++i) {
            auto pid =
                QDBusMessage::createMethodCall(kBus, kBusPath, kBus, QStringLiteral("GetConnectionUnixProcessID"));
            pid << found[i];
            session::callAsync(m_bus, this, pid, [reading, i, answered](const QDBusMessage &answer) {
                MediaPlayer &player = reading->players[static_cast<size_t>(i)];
                player.pid = answer.type() == QDBusMessage::ReplyMessage ? answer.arguments().value(0).toLongLong() : 0;
                player.proxied = player.pid > 0 && !flatpakOf(player.pid).isEmpty();
                answered();
            });
            auto status = QDBusMessage::createMethodCall(found[i], QStringLiteral("/org/mpris/MediaPlayer2"),
                                                         QStringLiteral("org.freedesktop.DBus.Properties"),
                                                         QStringLiteral("GetAll"));
            status << QStringLiteral("org.mpris.MediaPlayer2.Player");
            session::callAsync(m_bus, this, status, [reading, i, answered](const QDBusMessage &answer) {
                MediaPlayer &player = reading->players[static_cast<size_t>(i)];
                const auto properties = qdbus_cast<QVariantMap>(answer.arguments().value(0));
                // Only a clear "Paused" or "Stopped" is evidence; silence is not.
                const QString said = properties.value(QStringLiteral("PlaybackStatus")).toString();
                player.playing = answer.type() != QDBusMessage::ReplyMessage ||
                                 (said != QLatin1String("Paused") && said != QLatin1String("Stopped"));
                const QVariant metadata = properties.value(QStringLiteral("Metadata"));
                player.url = qdbus_cast<QVariantMap>(metadata).value(QStringLiteral("xesam:url")).toString();
                answered();
            });
        }
    });
}

void MprisPlayers::listed(std::vector<MediaPlayer> players)
{
    m_players = std::move(players);
    m_listedAt = now();
    m_asking = false;
}

}  // namespace fennimar
