#pragma once

#include <QDBusArgument>
#include <QDBusObjectPath>
#include <QList>
#include <QMap>
#include <QMetaType>
#include <QString>

#include <initializer_list>
#include <optional>

namespace fennimar::atspi {

// AT-SPI's fixed numbers (at-spi2-core's AtspiRole / AtspiStateType), the few this reader uses.
namespace Role {
inline constexpr int ComboBox = 11;
inline constexpr int Frame = 23;
inline constexpr int Text = 61;  // GTK 3's and Qt's one-line text fields
inline constexpr int Entry = 79;
inline constexpr int DocumentWeb = 95;
}  // namespace Role

namespace State {
inline constexpr int Active = 1;
inline constexpr int Defunct = 5;
inline constexpr int Editable = 7;
inline constexpr int Focused = 12;
inline constexpr int Showing = 25;
}  // namespace State

// Collection match types and sort orders.
inline constexpr int MatchAll = 1;
inline constexpr int MatchAny = 2;
inline constexpr uint SortCanonical = 1;

inline const QString Accessible = QStringLiteral("org.a11y.atspi.Accessible");
inline const QString Collection = QStringLiteral("org.a11y.atspi.Collection");
inline const QString Document = QStringLiteral("org.a11y.atspi.Document");
inline const QString Application = QStringLiteral("org.a11y.atspi.Application");
inline const QString Text = QStringLiteral("org.a11y.atspi.Text");
inline const QString RootPath = QStringLiteral("/org/a11y/atspi/accessible/root");
inline const QString NullPath = QStringLiteral("/org/a11y/atspi/null");

// One accessible object: its owner's bus name and its object path ("(so)" on the wire).
struct ObjectRef {
    QString service;
    QDBusObjectPath path;
    bool isNull() const { return path.path().isEmpty() || path.path() == NullPath; }
    bool operator==(const ObjectRef &) const = default;
};

// A Collection search rule ("(aiia{ss}iaiiasib)"). States and roles are bit sets packed in 32-bit
// words, as the bridge expects: role 95 is bit 31 of word 2 and travels as a negative int. Every
// match type defaults to ALL because the bridge lets nothing through a criterion whose type is
// INVALID (0), even an empty one.
struct MatchRule {
    QList<int> states;
    int stateMatch = 1;
    QMap<QString, QString> attributes;
    int attributeMatch = 1;
    QList<int> roles;
    int roleMatch = 1;
    QStringList interfaces;
    int interfaceMatch = 1;
    bool invert = false;
};

// Packs bit numbers into `words` 32-bit words.
QList<int> bitSet(std::initializer_list<int> bits, int words);

// Whether bit `bit` is set in a state set as GetState returns it ("au").
bool hasState(const QList<uint> &states, int bit);

// Showing web documents, in canonical order: the page of the selected tab.
MatchRule showingDocumentRule();
// Showing editable text fields and combo boxes: the address bar comes first in canonical order.
MatchRule addressBarRule();

// The page address among a document's attributes: Chromium names it "URI", Firefox "DocURL".
// Nothing when neither is present or non-empty.
std::optional<QString> documentAddress(const QMap<QString, QString> &attributes);

// Documents the browser draws for its own interface (Chromium's omnibox dropdown is
// chrome://omnibox-popup.top-chrome/): they are never the page the user looks at.
bool isBrowserInterfaceDocument(const QString &address);

// Whether an address-bar text names a host (has a dot in a host part), as an address does and a
// half-typed search word does not.
bool looksLikeAddress(const QString &text);

// Registers the D-Bus marshalling of the types above; idempotent.
void registerTypes();

}  // namespace fennimar::atspi

QDBusArgument &operator<<(QDBusArgument &arg, const fennimar::atspi::ObjectRef &ref);
const QDBusArgument &operator>>(const QDBusArgument &arg, fennimar::atspi::ObjectRef &ref);
QDBusArgument &operator<<(QDBusArgument &arg, const fennimar::atspi::MatchRule &rule);
const QDBusArgument &operator>>(const QDBusArgument &arg, fennimar::atspi::MatchRule &rule);

Q_DECLARE_METATYPE(fennimar::atspi::ObjectRef)
Q_DECLARE_METATYPE(fennimar::atspi::MatchRule)
