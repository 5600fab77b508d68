#pragma once

#include "menubar/MenuEntry.h"

#include <QString>

#include <vector>

namespace fennimar::StatusText {

// The menu as plain text for a terminal, line by line in the menu's order: labels as they are,
// dimmed lines and the pair code indented, problems the user can fix marked "! " with their
// explanation, the menu's commands as the command line that does the same; separators become one
// empty line and "Quit Fennimar" is left out. Entries of kinds or actions added later are printed
// with their title, so a new menu line appears here without a change. Ends with a newline.
QString render(const std::vector<MenuEntry> &entries);

}  // namespace fennimar::StatusText
