#pragma once

#include <QByteArray>
#include <QHash>
#include <QString>
#include <QStringList>

#include <optional>

namespace fennimar {

// The locale a desktop entry's localized keys are chosen for, split the way the desktop-entry
// format splits "lang_COUNTRY.ENCODING@MODIFIER". Empty parts are absent.
struct EntryLocale {
    QString lang, country, modifier;

    // Parses a POSIX locale name ("de_AT.UTF-8@euro", "C", ""); "C" and "POSIX" give no locale.
    static EntryLocale fromPosix(const QString &name);
    // The locale of LC_ALL, LC_MESSAGES or LANG, the first one set, as gettext would choose it.
    static EntryLocale fromEnvironment();
    // The keys to try for localized values, most specific first, without the unlocalized one:
    // lang_COUNTRY@MODIFIER, lang_COUNTRY, lang@MODIFIER, lang.
    QStringList fallbackChain() const;
};

// The "[Desktop Entry]" group of one desktop file. Other groups (actions) are ignored. Parsing
// never fails: any byte sequence gives an entry, and broken lines are skipped.
class DesktopEntry {
public:
    // Parses a file's bytes. Invalid UTF-8 is replaced, not rejected; a repeated key keeps its
    // first value, as desktop-file-validate reads them.
    static DesktopEntry parse(const QByteArray &bytes);

    bool isEmpty() const { return m_values.isEmpty(); }
    // The raw value of key (with its locale suffix, e.g. "Name[de]"), unescaped as a string.
    std::optional<QString> value(const QString &key) const;
    // The value of key for a locale, through its fallback chain, then the unlocalized key.
    std::optional<QString> localized(const QString &key, const EntryLocale &locale) const;
    // "true" is true; anything else (absent, "false", garbage) is false.
    bool boolean(const QString &key) const;
    // A ';'-separated list ("\;" keeps a semicolon); empty elements are dropped.
    QStringList list(const QString &key) const;

private:
    QHash<QString, QString> m_values;  // key (with locale) -> raw value, escapes kept
};

// Splits an Exec value into arguments by the desktop-entry quoting rules and drops field codes
// ("%f", "%U", ...). An unterminated quote gives what was read so far.
QStringList splitExec(const QString &exec);

}  // namespace fennimar
