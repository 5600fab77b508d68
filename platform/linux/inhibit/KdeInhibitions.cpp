#include "platform/linux/inhibit/KdeInhibitions.h"

#include "platform/linux/session/BusCalls.h"

#include <QDBusArgument>
#include <QDBusVariant>

#include <memory>

namespace fennimar {

namespace {

const QString kService = QStringLiteral("org.kde.Solid.PowerManagement.PolicyAgent");
const QString kPath = QStringLiteral("/org/kde/Solid/PowerManagement/PolicyAgent");
const QString kAgent = QStringLiteral("org.kde.Solid.PowerManagement.PolicyAgent");
const QString kProperties = QStringLiteral("org.freedesktop.DBus.Properties");
constexpr uint kChangeScreenSettings = 4;  // the policy screen and idle inhibitions hold

QDBusArgument argumentOf(const QDBusMessage &reply)
{
    QVariant value = reply.arguments().value(0);
    if (value.canConvert<QDBusVariant>())
        value = value.value<QDBusVariant>().variant();
    return value.value<QDBusArgument>();
}

// ActiveInhibitions, a(ssssu): what ("idle", "sleep", "sleep:idle"), who, why, mode, flags.
std::vector<Inhibitor> parseActive(const QDBusArgument &argument)
{
    std::vector<Inhibitor> inhibitors;
    if (argument.currentSignature() != QLatin1String("a(ssssu)"))
        return inhibitors;
    argument.beginArray();
    while (!argument.atEnd()) {
        QString what, mode;
        uint flags = 0;
        Inhibitor inhibitor;
        argument.beginStructure();
        argument >> what >> inhibitor.app >> inhibitor.reason >> mode >> flags;
        argument.endStructure();
        inhibitor.keepsScreen = what.split(QLatin1Char(':')).contains(QLatin1String("idle"));
        inhibitors.push_back(inhibitor);
    }
    argument.endArray();
    return inhibitors;
}

// ListInhibitions: a(ss) up to Plasma 6.4, aas from 6.5; each entry who, why. Asked only while
// HasInhibition(4) says one of them holds the screen.
std::vector<Inhibitor> parseListed(const QDBusArgument &argument)
{
    std::vector<Inhibitor> inhibitors;
    const QString signature = argument.currentSignature();
    if (signature != QLatin1String("a(ss)") && signature != QLatin1String("aas"))
        return inhibitors;
    argument.beginArray();
    while (!argument.atEnd()) {
        Inhibitor inhibitor;
        inhibitor.keepsScreen = true;
        if (signature == QLatin1String("aas")) {
            QStringList pair;
            argument >> pair;
            inhibitor.app = pair.value(0);
            inhibitor.reason = pair.value(1);
        } else {
            argument.beginStructure();
            argument >> inhibitor.app >> inhibitor.reason;
            argument.endStructure();
        }
        inhibitors.push_back(inhibitor);
    }
    argument.endArray();
    return inhibitors;
}

}  // namespace

KdeInhibitions::KdeInhibitions(QDBusConnection session, QObject *parent) : QObject(parent), m_bus(std::move(session))
{
    if (!m_bus.isConnected())
        return;
    m_bus.connect(kService, kPath, kAgent, QStringLiteral("InhibitionsChanged"), this, SLOT(refresh()));
    m_bus.connect(kService, kPath, kProperties, QStringLiteral("PropertiesChanged"), this, SLOT(refresh()));
    session::watchOwner(m_bus, kService, this, [this] { refresh(); });
    refresh();
}

void KdeInhibitions::refresh()
{
    const quint64 generation = ++m_generation;
    auto message = QDBusMessage::createMethodCall(kService, kPath, kProperties, QStringLiteral("Get"));
    message << kAgent << QStringLiteral("ActiveInhibitions");
    session::callAsync(m_bus, this, message, [this, generation](const QDBusMessage &reply) {
        if (reply.type() == QDBusMessage::ReplyMessage)
            return store(generation, parseActive(argumentOf(reply)));
        // No such property before Plasma 6.5; no daemon at all answers ServiceUnknown.
        if (reply.errorName() == QLatin1String("org.freedesktop.DBus.Error.ServiceUnknown"))
            return store(generation, {});
        readListed(generation);
    });
}

void KdeInhibitions::readListed(quint64 generation)
{
    auto has = QDBusMessage::createMethodCall(kService, kPath, kAgent, QStringLiteral("HasInhibition"));
    has << kChangeScreenSettings;
    session::callAsync(m_bus, this, has, [this, generation](const QDBusMessage &held) {
        if (held.type() != QDBusMessage::ReplyMessage || !held.arguments().value(0).toBool())
            return store(generation, {});
        const auto list = QDBusMessage::createMethodCall(kService, kPath, kAgent, QStringLiteral("ListInhibitions"));
        session::callAsync(m_bus, this, list, [this, generation](const QDBusMessage &listed) {
            store(generation, parseListed(argumentOf(listed)));
        });
    });
}

void KdeInhibitions::store(quint64 generation, std::vector<Inhibitor> inhibitors)
{
    if (generation != m_generation)
        return;
    m_inhibitors = std::move(inhibitors);
    Q_EMIT changed();
}

}  // namespace fennimar
