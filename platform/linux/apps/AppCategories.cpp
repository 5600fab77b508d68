#include "platform/linux/apps/AppCategories.h"

#include <array>
#include <utility>

namespace fennimar {

namespace {

using Rule = std::pair<const char *, const char *>;

// Game genres only refine "Game": "Simulation" alone is also a science category.
constexpr std::array<Rule, 13> kGameGenres = {{
    {"ActionGame", "action-games"},
    {"Shooter", "action-games"},
    {"AdventureGame", "adventure-games"},
    {"ArcadeGame", "arcade-games"},
    {"BoardGame", "board-games"},
    {"CardGame", "card-games"},
    {"KidsGame", "kids-games"},
    {"SportsGame", "sports-games"},
    {"StrategyGame", "strategy-games"},
    {"LogicGame", "puzzle-games"},
    {"BlocksGame", "puzzle-games"},
    {"RolePlaying", "role-playing-games"},
    {"Simulation", "simulation-games"},
}};

// Most specific first: additional categories before the main ones they refine.
constexpr std::array<Rule, 23> kRules = {{
    {"Game", "games"},
    {"Photography", "photography"},
    {"Finance", "finance"},
    {"Chat", "social-networking"},
    {"InstantMessaging", "social-networking"},
    {"Telephony", "social-networking"},
    {"VideoConference", "social-networking"},
    {"News", "news"},
    {"Feed", "news"},
    {"Maps", "travel"},
    {"Development", "developer-tools"},
    {"Education", "education"},
    {"Science", "education"},
    {"Graphics", "graphics-design"},
    {"Audio", "music"},
    {"Video", "video"},
    {"AudioVideo", "entertainment"},
    {"Network", "productivity"},
    {"Office", "productivity"},
    {"Settings", "utilities"},
    {"System", "utilities"},
    {"Utility", "utilities"},
    {"Accessibility", "utilities"},
}};

QString identifier(const char *suffix)
{
    return QStringLiteral("public.app-category.") + QLatin1String(suffix);
}

}  // namespace

std::optional<QString> appCategoryFor(const QStringList &categories)
{
    if (categories.contains(QLatin1String("Game"))) {
        for (const auto &[category, suffix] : kGameGenres) {
            if (categories.contains(QLatin1String(category)))
                return identifier(suffix);
        }
    }
    for (const auto &[category, suffix] : kRules) {
        if (categories.contains(QLatin1String(category)))
            return identifier(suffix);
    }
    return std::nullopt;
}

}  // namespace fennimar
