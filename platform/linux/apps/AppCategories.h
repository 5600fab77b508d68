#pragma once

#include <QString>
#include <QStringList>

#include <optional>

namespace fennimar {

// The backend's app-category identifier ("public.app-category.games", ...) for a desktop entry's
// Categories list, or nothing when no listed category has one. The most specific category wins:
// a game genre over "Game", "Photography" over "Graphics", "Chat" over "Network", "Audio" over
// "AudioVideo", whatever their order in the list. Pure and cheap.
std::optional<QString> appCategoryFor(const QStringList &categories);

}  // namespace fennimar
