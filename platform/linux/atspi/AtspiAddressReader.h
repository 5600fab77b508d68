#pragma once

#include "platform/AddressOutcome.h"
#include "platform/linux/atspi/AtspiCaller.h"

#include <functional>
#include <map>
#include <optional>

namespace fennimar::atspi {

// What a reader keeps about one application between reads: whether it can be searched, and where
// each window's address bar is. Only the bar is remembered; documents are searched anew on every
// read because a browser keeps a navigated-away document alive and showing.
struct WindowMemory {
    struct Bar {
        std::optional<QString> path;  // nothing: searched and none found
        Millis searchedAt{0};
    };
    std::map<QString, Bar> bars;     // by frame path
    std::optional<bool> collection;  // whether it offers the Collection search; nothing: not yet known
};

// One read of the page address in an application's focused window, the AT-SPI way: the focused
// frame by its ACTIVE state (or by the active window's title), the address bar's own FOCUSED state
// for "editing", then one Collection search for the showing web document and its address. Where
// the application has no Collection (Qt's and GTK 4's bridges), a bounded breadth-first walk stands in, and the
// address field it finds is then read directly until it goes.
class AtspiAddressReader {
public:
    struct Limits {
        int maxElements = 1500;   // the walk's budget of examined elements
        int maxDepth = 12;        // the frame is level 0; level maxDepth-1 is the deepest examined
        int maxFieldDepth = 28;   // how deep a walk that found no address field yet goes on looking
        int maxTextChars = 4096;  // of an address bar's text: enough for any address's host
        Millis barRetry{10000};   // how long "no address bar in this window" is believed
        bool walkOnly = false;    // skip the search and walk (for measuring and testing the walk)
    };

    // activeWindowTitle: the title of the desktop's active window, or empty when unknown; asked
    // only when no frame claims to be active.
    AtspiAddressReader(AtspiCaller &caller, WindowMemory &memory, Millis now,
                       std::function<QString()> activeWindowTitle, Limits limits);

    // Url, Editing or Unreadable. A failed call ends the read as "no address found"; the caller
    // learns why from the AtspiCaller (a hang, or the read's budget spent).
    AddressOutcome read();

private:
    std::optional<QString> focusedFrame();
    std::optional<QString> addressBar(const QString &frame);
    std::optional<QString> documentAddressIn(const QString &frame);
    bool offersCollection(const QString &frame);
    AddressOutcome readWithoutSearch(const QString &frame);
    AddressOutcome walk(const QString &frame, bool rememberField);
    AddressOutcome stoppedWalk(const QString &frame, const std::optional<QString> &field, bool rememberField);
    std::optional<QString> addressOf(const QString &document);

    AtspiCaller &m_caller;
    WindowMemory &m_memory;
    Millis m_now;
    std::function<QString()> m_activeWindowTitle;
    Limits m_limits;
};

}  // namespace fennimar::atspi
