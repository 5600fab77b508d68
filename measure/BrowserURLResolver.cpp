#include "measure/BrowserURLResolver.h"

namespace fennimar {

BrowserURLResolver::Decision BrowserURLResolver::resolve(const QString &bundleId, const AddressOutcome &outcome)
{
    switch (outcome.kind) {
        case AddressOutcome::Kind::Url:
            m_lastURL.insert(bundleId, outcome.text);
            return Decision::url(outcome.text);
        case AddressOutcome::Kind::Unreadable:
            return Decision::unreadable(outcome.text);
        case AddressOutcome::Kind::NoPermission:
            return Decision::noPermission();
        case AddressOutcome::Kind::Editing:
            break;
    }
    const auto it = m_lastURL.constFind(bundleId);
    if (it != m_lastURL.constEnd())
        return Decision::url(*it);
    return Decision::unreadable(QLatin1String(addressBarBeingEdited));
}

}  // namespace fennimar
