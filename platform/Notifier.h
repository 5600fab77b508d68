#pragma once

#include <QString>

#include <functional>
#include <utility>
#include <vector>

namespace fennimar {

// A desktop notification: how the agent reaches the user while no tray icon shows its menu.
struct Notice {
    QString topic;            // notices of one topic replace each other on screen
    QString summary;          // the title line
    QString body;             // plain text; line feeds separate lines, no other control character
    bool persistent = false;  // stays until the user dismisses it (the pair code must be read off)
    std::vector<std::pair<QString, QString>> actions;  // {key, button label}; ignored by servers without buttons
};

// The desktop's notification service.
class Notifier {
public:
    // Called on the main thread with the notice's topic and the action's key when the user picks
    // one of its buttons.
    using ActionHandler = std::function<void(const QString &topic, const QString &key)>;

    virtual ~Notifier() = default;

    // Shows `notice`, replacing the one of the same topic that this notifier showed before (a new
    // one when the user closed it). Returns at once; the request travels asynchronously and is
    // bounded to a few seconds. Without a notification service the notice is dropped and the first
    // failure is logged once: a missing desktop service must never stop the agent.
    virtual void show(const Notice &notice) = 0;

    // Takes the topic's notice off the screen, if one is there. Asynchronous, failures ignored.
    virtual void withdraw(const QString &topic) = 0;

    // Replaces the handler for the buttons of every notice shown from now on and before.
    virtual void setActionHandler(ActionHandler handler) = 0;
};

}  // namespace fennimar
