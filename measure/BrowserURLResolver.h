#pragma once

#include "platform/AddressOutcome.h"

#include <QHash>
#include <QString>

namespace fennimar {

// Turns one read of a browser's address into what the sampler judges, remembering each browser's
// last good address so that a moment of address-bar editing does not interrupt counting. Held by the
// sampler; its memory lives as long as the sampler. Main thread only.
class BrowserURLResolver {
public:
    struct Decision {
        enum class Kind {
            Url,           // text: the address to judge
            Unreadable,    // text: the reason shown to the user
            NoPermission,  // text empty
        };
        Kind kind = Kind::Unreadable;
        QString text;

        static Decision url(QString address) { return {Kind::Url, std::move(address)}; }
        static Decision unreadable(QString reason) { return {Kind::Unreadable, std::move(reason)}; }
        static Decision noPermission() { return {Kind::NoPermission, {}}; }
        bool operator==(const Decision &) const = default;
    };

    static constexpr const char *addressBarBeingEdited = "address bar being edited";

    // A read address is remembered for the browser and judged; while the address bar is being
    // edited the remembered address is judged instead, or, for a browser never read before, the
    // reason "address bar being edited". Remembered addresses are replaced, never dropped. Cheap.
    Decision resolve(const QString &bundleId, const AddressOutcome &outcome);

private:
    QHash<QString, QString> m_lastURL;
};

}  // namespace fennimar
