#include "menubar/StatusText.h"

#include <QStringList>

namespace fennimar::StatusText {

namespace {
// What a terminal user types instead of choosing the entry.
QString commandFor(MenuAction action)
{
    switch (action) {
        case MenuAction::Pair:
            return QStringLiteral("fennimar-agent --pair");
        case MenuAction::Cancel:
            return QStringLiteral("fennimar-agent --cancel-pairing");
        case MenuAction::Unpair:
            return QStringLiteral("fennimar-agent --unpair");
        default:
            return {};
    }
}
}  // namespace

QString render(const std::vector<MenuEntry> &entries)
{
    QStringList lines;
    bool gap = false;
    const auto add = [&](const QString &line) {
        if (gap && !lines.isEmpty())
            lines << QString();
        gap = false;
        lines << line;
    };
    for (const MenuEntry &e : entries) {
        switch (e.kind) {
            case MenuEntry::Kind::Separator:
                gap = true;
                break;
            case MenuEntry::Kind::Label:
                add(e.title);
                break;
            case MenuEntry::Kind::Dimmed:
                // A terminal has nothing to click: the code is printed as plain text to copy.
                add(QStringLiteral("  ") + QString(e.title).remove(QStringLiteral(" · click the code to copy")));
                break;
            case MenuEntry::Kind::Code:
                add(QStringLiteral("  ") + e.title);
                break;
            case MenuEntry::Kind::Action: {
                if (e.action == MenuAction::Quit)
                    break;
                const QString command = commandFor(e.action);
                if (!command.isEmpty()) {
                    add(QStringLiteral("  ") + e.title + QStringLiteral(": ") + command);
                } else {
                    add(QStringLiteral("! ") + e.title);
                    if (!e.toolTip.isEmpty())
                        add(QStringLiteral("  ") + e.toolTip);
                }
                break;
            }
        }
    }
    return lines.join(QLatin1Char('\n')) + QLatin1Char('\n');
}

}  // namespace fennimar::StatusText
