#include "app/ControlCommands.h"

#include "menubar/MenuBarController.h"

namespace fennimar::ControlCommands {

namespace {
constexpr Millis quickLimit{10000};
// Longer than the agent's own wait for a settled state (30 s), so that the agent, not this
// process, decides when an action has taken too long.
constexpr Millis settleLimit{45000};

bool confirmed(QTextStream &in, QTextStream &out)
{
    out << MenuBarController::unpairQuestion() << '\n'
        << MenuBarController::unpairExplanation() << '\n'
        << "Unpair? [y/N] " << Qt::flush;
    const QString answer = in.readLine().trimmed().toLower();
    return answer == QStringLiteral("y") || answer == QStringLiteral("yes");
}
}  // namespace

int run(ControlClient &client, ControlCommand command, bool assumeYes, QTextStream &in, QTextStream &out,
        QTextStream &err)
{
    const auto failed = [&](const QString &why) {
        err << why << '\n' << Qt::flush;
        return 1;
    };
    if (command == ControlCommand::Unpair && !assumeYes) {
        // Asking first and then finding no agent would waste the user's answer.
        const Result<QString> running = client.send(ControlCommand::Status, quickLimit);
        if (!running)
            return failed(running.error());
        if (!confirmed(in, out))
            return failed(QStringLiteral("Kept paired: nothing changed."));
    }
    const bool settles = command == ControlCommand::Pair || command == ControlCommand::Unpair;
    const Result<QString> answer = client.send(command, settles ? settleLimit : quickLimit);
    if (!answer)
        return failed(answer.error());
    out << *answer << Qt::flush;
    return 0;
}

}  // namespace fennimar::ControlCommands
