#pragma once

#include <functional>

namespace fennimar {

// What the menu's entries ask the agent to do. Each runs on the main thread from inside the menu's
// click; an empty function makes its entry do nothing (quit: the application's event loop ends).
struct MenuActions {
    std::function<void()> pair;                   // "Pair this computer…", "Try again"
    std::function<void()> cancelPairing;          // "Cancel"
    std::function<void()> unpair;                 // only after the user confirmed
    std::function<void()> quit;                   // "Quit Fennimar"
    std::function<void()> turnOnWebsiteCounting;  // "Turn on website counting…"
    std::function<void()> fixLoginItem;           // "Won't restart on its own — fix…"
};

}  // namespace fennimar
