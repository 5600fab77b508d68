#pragma once

#include <QString>

namespace fennimar {

// What choosing a menu entry asks for.
enum class MenuAction {
    None,
    Pair,                  // start (or restart) pairing
    Cancel,                // cancel the pairing in progress
    CopyCode,              // put the pair code on the clipboard
    Unpair,                // unpair, after the user confirms
    Quit,                  // end the agent
    RequestAccessibility,  // turn on website counting
    OpenLoginItems,        // fix the start-at-login registration
};

// One line of the tray menu, independent of any toolkit.
struct MenuEntry {
    enum class Kind {
        Label,   // disabled, normal font, no action
        Dimmed,  // disabled, small secondary text, no action
        Code,    // enabled, the pair code in large monospaced text; copies the code
        Action,  // enabled, runs its action
        Separator,
    };

    Kind kind = Kind::Separator;
    QString title;  // the plain title; for the code entry, the code itself
    QString shown;  // the text displayed; differs from title only for the code entry
    MenuAction action = MenuAction::None;
    QString toolTip;  // empty: none

    static MenuEntry label(const QString &text) { return {Kind::Label, text, text, MenuAction::None, {}}; }
    static MenuEntry dimmed(const QString &text) { return {Kind::Dimmed, text, text, MenuAction::None, {}}; }
    static MenuEntry code(const QString &code, const QString &shown, const QString &toolTip)
    {
        return {Kind::Code, code, shown, MenuAction::CopyCode, toolTip};
    }
    static MenuEntry command(const QString &text, MenuAction action, const QString &toolTip = {})
    {
        return {Kind::Action, text, text, action, toolTip};
    }
    static MenuEntry separator() { return {}; }

    bool operator==(const MenuEntry &) const = default;
};

// The tray icon's picture.
enum class MenuIcon {
    Outline,  // a circle with a currency sign: not paired yet, or pairing
    Filled,   // the same, filled: paired and reaching the backend
    Alert,    // a circle with an exclamation mark: pairing failed or the backend is unreachable
};

}  // namespace fennimar
