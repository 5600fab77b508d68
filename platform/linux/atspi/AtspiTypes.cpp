#include "platform/linux/atspi/AtspiTypes.h"

#include <QDBusMetaType>
#include <QRegularExpression>
#include <QUrl>

namespace fennimar::atspi {

QList<int> bitSet(std::initializer_list<int> bits, int words)
{
    QList<int> set(words, 0);
    for (const int bit : bits) {
        const int word = bit / 32;
        if (bit >= 0 && word < words)
            set[word] = static_cast<int>(static_cast<uint>(set[word]) | (1u << (bit % 32)));
    }
    return set;
}

bool hasState(const QList<uint> &states, int bit)
{
    const int word = bit / 32;
    return bit >= 0 && word < states.size() && (states[word] & (1u << (bit % 32))) != 0;
}

MatchRule showingDocumentRule()
{
    MatchRule rule;
    rule.states = bitSet({State::Showing}, 2);
    rule.stateMatch = MatchAll;
    rule.roles = bitSet({Role::DocumentWeb}, 4);
    // The bridge never matches roles with ALL; ANY of one role is the same question.
    rule.roleMatch = MatchAny;
    return rule;
}

MatchRule addressBarRule()
{
    MatchRule rule;
    // Showing: GNOME Web keeps its hidden find bar, an editable text field, ahead of its address bar.
    rule.states = bitSet({State::Editable, State::Showing}, 2);
    rule.stateMatch = MatchAll;
    rule.roles = bitSet({Role::Entry, Role::ComboBox, Role::Text}, 4);
    rule.roleMatch = MatchAny;
    return rule;
}

std::optional<QString> documentAddress(const QMap<QString, QString> &attributes)
{
    for (const auto &key : {QStringLiteral("URI"), QStringLiteral("DocURL")}) {
        const QString value = attributes.value(key).trimmed();
        if (!value.isEmpty())
            return value;
    }
    return std::nullopt;
}

bool isBrowserInterfaceDocument(const QString &address)
{
    const QUrl url(address);
    return url.scheme() == QLatin1String("chrome") && url.host().endsWith(QLatin1String(".top-chrome"));
}

bool looksLikeAddress(const QString &text)
{
    const QString trimmed = text.trimmed();
    if (trimmed.isEmpty() || trimmed.contains(QRegularExpression(QStringLiteral("\\s"))))
        return false;
    const QUrl url = trimmed.contains(QLatin1String("://")) ? QUrl(trimmed) : QUrl(QStringLiteral("http://") + trimmed);
    const QString host = url.host();
    return url.isValid() && host.contains(QLatin1Char('.')) && !host.startsWith(QLatin1Char('.')) &&
           !host.endsWith(QLatin1Char('.'));
}

void registerTypes()
{
    static const bool registered = [] {
        qDBusRegisterMetaType<ObjectRef>();
        qDBusRegisterMetaType<QList<ObjectRef>>();
        qDBusRegisterMetaType<MatchRule>();
        qDBusRegisterMetaType<QMap<QString, QString>>();
        return true;
    }();
    (void)registered;
}

}  // namespace fennimar::atspi

using fennimar::atspi::MatchRule;
using fennimar::atspi::ObjectRef;

QDBusArgument &operator<<(QDBusArgument &arg, const ObjectRef &ref)
{
    arg.beginStructure();
    arg << ref.service << ref.path;
    arg.endStructure();
    return arg;
}

const QDBusArgument &operator>>(const QDBusArgument &arg, ObjectRef &ref)
{
    arg.beginStructure();
    arg >> ref.service >> ref.path;
    arg.endStructure();
    return arg;
}

QDBusArgument &operator<<(QDBusArgument &arg, const MatchRule &rule)
{
    arg.beginStructure();
    arg << rule.states << rule.stateMatch << rule.attributes << rule.attributeMatch << rule.roles << rule.roleMatch
        << rule.interfaces << rule.interfaceMatch << rule.invert;
    arg.endStructure();
    return arg;
}

const QDBusArgument &operator>>(const QDBusArgument &arg, MatchRule &rule)
{
    arg.beginStructure();
    arg >> rule.states >> rule.stateMatch >> rule.attributes >> rule.attributeMatch >> rule.roles >> rule.roleMatch >>
        rule.interfaces >> rule.interfaceMatch >> rule.invert;
    arg.endStructure();
    return arg;
}
