// Feeds arbitrary bytes to the desktop-entry parser and reads the entry the way the catalog does:
// any file in an applications folder is written by someone else.
#include "FuzzSupport.h"

#include "platform/linux/apps/DesktopEntry.h"

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    fennimar::fuzz::startQt();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    using namespace fennimar;
    const DesktopEntry entry = DesktopEntry::parse(fuzz::bytesOf(data, size));
    const EntryLocale locale = EntryLocale::fromPosix(QStringLiteral("de_AT.UTF-8@euro"));
    for (const char *key : {"Name", "GenericName", "Exec", "TryExec", "Icon", "StartupWMClass", "Type"}) {
        const QString k = QString::fromLatin1(key);
        (void)entry.value(k);
        (void)entry.localized(k, locale);
    }
    (void)entry.boolean(QStringLiteral("NoDisplay"));
    (void)entry.list(QStringLiteral("Categories"));
    if (const auto exec = entry.value(QStringLiteral("Exec")))
        (void)splitExec(*exec);
    // The Exec splitter also reads the raw bytes, so quoting edge cases get searched directly.
    (void)splitExec(QString::fromUtf8(fuzz::bytesOf(data, size)));
    return 0;
}
