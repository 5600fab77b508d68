#include "platform/BrowserURLReader.h"

#include "core/SiteHost.h"

#include <optional>

namespace fennimar {

namespace {

using Element = ElementTree::Element;
using ElementPtr = ElementTree::ElementPtr;

ElementPtr elementAttribute(const Element &element, const char *name)
{
    const ElementTree::Value v = element.attribute(QLatin1String(name));
    if (const auto *e = std::get_if<ElementPtr>(&v))
        return *e;
    return nullptr;
}

std::optional<QString> stringAttribute(const Element &element, const char *name)
{
    const ElementTree::Value v = element.attribute(QLatin1String(name));
    if (const auto *s = std::get_if<QString>(&v))
        return *s;
    if (const auto *u = std::get_if<QUrl>(&v))
        return u->toString(QUrl::FullyEncoded);
    return std::nullopt;
}

bool addressBarHasFocus(const Element &app)
{
    const ElementPtr focused = elementAttribute(app, BrowserURLReader::focusedElement);
    if (!focused)
        return false;
    return stringAttribute(*focused, BrowserURLReader::role) == QLatin1String(BrowserURLReader::textFieldRole);
}

}  // namespace

BrowserURLReader::Outcome BrowserURLReader::read(ElementTree &tree, qint64 pid)
{
    if (!tree.isTrusted())
        return Outcome::noPermission();
    const ElementPtr app = tree.application(pid);
    const ElementPtr window = app ? elementAttribute(*app, focusedWindow) : nullptr;
    if (!window)
        return Outcome::unreadable(QLatin1String(Outcome::noFocusedWindow));

    std::optional<QString> candidate;
    int examined = 0;
    ElementTree::Elements level{window};
    for (int depth = 0; !level.empty() && depth < maxLevels && examined < maxElements; ++depth) {
        ElementTree::Elements next;
        for (const ElementPtr &element : level) {
            if (examined >= maxElements)
                break;
            ++examined;
            if (!element)
                continue;
            const std::optional<QString> elementRole = stringAttribute(*element, role);
            if (!elementRole)
                continue;
            if (*elementRole == QLatin1String(webAreaRole)) {
                if (auto address = stringAttribute(*element, urlAttribute))
                    return Outcome::url(std::move(*address));
            } else if (*elementRole == QLatin1String(textFieldRole) && !candidate) {
                auto text = stringAttribute(*element, value);
                if (text && SiteHost::of(*text))
                    candidate = std::move(text);
            }
            ElementTree::Value kids = element->attribute(QLatin1String(children));
            if (auto *list = std::get_if<ElementTree::Elements>(&kids)) {
                // Elements beyond the remaining budget would never be examined: do not hold them.
                const auto room = static_cast<size_t>(maxElements - examined);
                for (auto &kid : *list) {
                    if (next.size() >= room)
                        break;
                    next.push_back(std::move(kid));
                }
            }
        }
        level = std::move(next);
    }

    if (candidate) {
        if (addressBarHasFocus(*app))
            return Outcome::editing();
        return Outcome::url(std::move(*candidate));
    }
    return Outcome::unreadable(
        QLatin1String(examined >= maxElements ? Outcome::pageTooLarge : Outcome::noAddressFound));
}

}  // namespace fennimar
