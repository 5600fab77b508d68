#pragma once

#include "platform/ElementTree.h"
#include "platform/AddressOutcome.h"

namespace fennimar {

// The reference read of a browser's current address: a breadth-first walk of the focused window's
// interface tree that prefers the page's web area address and falls back to an address-bar text. The
// macOS layer answers Accessibility::readAddress with it; the Linux layer searches AT-SPI instead,
// because there background tabs and popups are documents too.
class BrowserURLReader {
public:
    using Outcome = AddressOutcome;

    static constexpr int maxLevels = 12;  // the focused window is level 0; level 11 is the deepest examined
    static constexpr int maxElements = 1500;

    // One read of the application with process id pid. NoPermission when the tree is not trusted,
    // without touching the application. Otherwise at most maxElements elements on maxLevels levels,
    // each costing up to three attribute requests; an element whose role cannot be read is skipped
    // with everything below it. Never fails: what cannot be read becomes an Unreadable outcome.
    static Outcome read(ElementTree &tree, qint64 pid);

    // The attribute and role names the walk asks for.
    static constexpr const char *focusedWindow = "AXFocusedWindow";
    static constexpr const char *focusedElement = "AXFocusedUIElement";
    static constexpr const char *role = "AXRole";
    static constexpr const char *children = "AXChildren";
    static constexpr const char *urlAttribute = "AXURL";
    static constexpr const char *value = "AXValue";
    static constexpr const char *webAreaRole = "AXWebArea";
    static constexpr const char *textFieldRole = "AXTextField";
};

}  // namespace fennimar
