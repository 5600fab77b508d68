#pragma once

#include "platform/AppCatalog.h"

#include <QString>

#include <optional>
#include <vector>

namespace fennimar {

// The rules that turn what a platform knows about applications into SeenApp records: which entries
// count, which name and category they carry, and the order the installed list comes in. No state;
// the platform's AppCatalog does the file-system work.
namespace AppInventory {

// What a platform read from one installed application's description (a macOS bundle's Info.plist, a
// Linux desktop entry). An attribute that is missing or not a string is nothing.
struct Entry {
    QString identifier;                  // the declared identifier; empty when none
    std::optional<QString> displayName;  // "CFBundleDisplayName" / the localized Name
    std::optional<QString> bundleName;   // "CFBundleName" / the unlocalized Name
    QString fileName;                    // the bundle folder's or the entry file's name, with its extension
    std::optional<QString> category;     // the declared category type, as declared
};

// The declared category trimmed of white space at both ends; nothing when undeclared or blank.
std::optional<QString> category(const std::optional<QString> &declared);

// An installed application's record, or nothing when it declares no identifier. The name is the
// display name when declared (even empty, used as is), else the bundle name, else the file name
// without its extension.
std::optional<SeenApp> describe(const Entry &entry);

// The record of a running application, or nothing when it has no identifier: its identifier, its
// visible name (the identifier when it has none) and the category of its installed description.
// Cheap: one catalog look-up, which the catalog serves from its cache.
std::optional<SeenApp> describe(AppCatalog &catalog, const RunningApp &app);

// Every installed application once: records without an identifier dropped, categories trimmed
// (blank ones absent), a later record with the same identifier replacing the earlier one in its
// place, then sorted by name (see nameOrder) with a stable sort. Costs one catalog scan.
std::vector<SeenApp> installedApps(AppCatalog &catalog);

// The order of installedApps: names compared by Unicode scalar values after canonical
// composition. Case-sensitive ("Zed" before "apple"), not locale-aware, no numeric ordering.
bool nameOrder(const QString &a, const QString &b);

}  // namespace AppInventory
}  // namespace fennimar
