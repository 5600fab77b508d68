#include "platform/linux/apps/DesktopEntry.h"

namespace fennimar {

namespace {

QString unescape(const QString &raw, bool keepSemicolonEscape)
{
    if (!raw.contains(QLatin1Char('\\')))
        return raw;
    QString out;
    out.reserve(raw.size());
    for (qsizetype i = 0; i < raw.size(); ++i) {
        const QChar c = raw.at(i);
        if (c != QLatin1Char('\\') || i + 1 == raw.size()) {
            out.append(c);
            continue;
        }
        const QChar next = raw.at(++i);
        switch (next.unicode()) {
            case 's':
                out.append(QLatin1Char(' '));
                break;
            case 'n':
                out.append(QLatin1Char('\n'));
                break;
            case 't':
                out.append(QLatin1Char('\t'));
                break;
            case 'r':
                out.append(QLatin1Char('\r'));
                break;
            case '\\':
                out.append(QLatin1Char('\\'));
                break;
            case ';':
                if (keepSemicolonEscape)
                    out.append(QLatin1Char('\\'));
                out.append(QLatin1Char(';'));
                break;
            default:
                // Not an escape the format knows: keep both characters as written.
                out.append(QLatin1Char('\\'));
                out.append(next);
        }
    }
    return out;
}

bool isValidKeyChar(QChar c)
{
    return (c >= QLatin1Char('A') && c <= QLatin1Char('Z')) || (c >= QLatin1Char('a') && c <= QLatin1Char('z')) ||
           (c >= QLatin1Char('0') && c <= QLatin1Char('9')) || c == QLatin1Char('-');
}

// "Name", "Name[de_AT@euro]": letters, digits and '-', with an optional bracketed locale.
bool isValidKey(QStringView key)
{
    const qsizetype open = key.indexOf(QLatin1Char('['));
    const QStringView base = open < 0 ? key : key.left(open);
    if (base.isEmpty())
        return false;
    for (QChar c : base) {
        if (!isValidKeyChar(c))
            return false;
    }
    if (open < 0)
        return true;
    if (!key.endsWith(QLatin1Char(']')) || key.size() - open < 3)
        return false;
    return !key.mid(open + 1, key.size() - open - 2).contains(QLatin1Char('['));
}

}  // namespace

EntryLocale EntryLocale::fromPosix(const QString &name)
{
    EntryLocale locale;
    QString rest = name.trimmed();
    if (rest.isEmpty() || rest == QLatin1String("C") || rest.startsWith(QLatin1String("C.")) ||
        rest == QLatin1String("POSIX"))
        return locale;
    const qsizetype at = rest.indexOf(QLatin1Char('@'));
    if (at >= 0) {
        locale.modifier = rest.mid(at + 1);
        rest.truncate(at);
    }
    const qsizetype dot = rest.indexOf(QLatin1Char('.'));
    if (dot >= 0)
        rest.truncate(dot);
    const qsizetype underscore = rest.indexOf(QLatin1Char('_'));
    if (underscore >= 0) {
        locale.country = rest.mid(underscore + 1);
        rest.truncate(underscore);
    }
    locale.lang = rest;
    if (locale.lang.isEmpty())
        return {};
    return locale;
}

EntryLocale EntryLocale::fromEnvironment()
{
    for (const char *variable : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
        const QString value = qEnvironmentVariable(variable);
        if (!value.isEmpty())
            return fromPosix(value);
    }
    return {};
}

QStringList EntryLocale::fallbackChain() const
{
    QStringList chain;
    if (lang.isEmpty())
        return chain;
    const QString mod = QLatin1Char('@') + modifier;
    if (!country.isEmpty() && !modifier.isEmpty())
        chain << lang + QLatin1Char('_') + country + mod;
    if (!country.isEmpty())
        chain << lang + QLatin1Char('_') + country;
    if (!modifier.isEmpty())
        chain << lang + mod;
    chain << lang;
    return chain;
}

DesktopEntry DesktopEntry::parse(const QByteArray &bytes)
{
    DesktopEntry entry;
    const QString text = QString::fromUtf8(bytes);
    bool inMainGroup = false;
    bool seenMainGroup = false;
    for (QStringView line : QStringView(text).split(QLatin1Char('\n'))) {
        if (line.endsWith(QLatin1Char('\r')))
            line.chop(1);
        const QStringView trimmed = line.trimmed();
        if (trimmed.isEmpty() || trimmed.startsWith(QLatin1Char('#')))
            continue;
        if (trimmed.startsWith(QLatin1Char('['))) {
            // A second "[Desktop Entry]" group is invalid; its keys must not override the first.
            inMainGroup = trimmed == QLatin1String("[Desktop Entry]") && !seenMainGroup;
            seenMainGroup = seenMainGroup || inMainGroup;
            continue;
        }
        if (!inMainGroup)
            continue;
        const qsizetype eq = line.indexOf(QLatin1Char('='));
        if (eq <= 0)
            continue;
        const QStringView key = line.left(eq).trimmed();
        if (!isValidKey(key))
            continue;
        const QString keyString = key.toString();
        if (!entry.m_values.contains(keyString))
            entry.m_values.insert(keyString, line.mid(eq + 1).trimmed().toString());
    }
    return entry;
}

std::optional<QString> DesktopEntry::value(const QString &key) const
{
    const auto it = m_values.constFind(key);
    if (it == m_values.constEnd())
        return std::nullopt;
    return unescape(*it, false);
}

std::optional<QString> DesktopEntry::localized(const QString &key, const EntryLocale &locale) const
{
    for (const QString &suffix : locale.fallbackChain()) {
        if (auto found = value(key + QLatin1Char('[') + suffix + QLatin1Char(']')))
            return found;
    }
    return value(key);
}

bool DesktopEntry::boolean(const QString &key) const
{
    return value(key) == QLatin1String("true");
}

QStringList DesktopEntry::list(const QString &key) const
{
    const auto it = m_values.constFind(key);
    if (it == m_values.constEnd())
        return {};
    const QString raw = unescape(*it, true);
    QStringList items;
    QString current;
    for (qsizetype i = 0; i < raw.size(); ++i) {
        const QChar c = raw.at(i);
        if (c == QLatin1Char('\\') && i + 1 < raw.size() && raw.at(i + 1) == QLatin1Char(';')) {
            current.append(QLatin1Char(';'));
            ++i;
        } else if (c == QLatin1Char(';')) {
            if (!current.isEmpty())
                items << current;
            current.clear();
        } else {
            current.append(c);
        }
    }
    if (!current.isEmpty())
        items << current;
    return items;
}

QStringList splitExec(const QString &exec)
{
    QStringList args;
    QString current;
    bool inArg = false, quoted = false;
    for (qsizetype i = 0; i < exec.size(); ++i) {
        const QChar c = exec.at(i);
        if (c == QLatin1Char('%') && i + 1 < exec.size()) {
            // "%%" is a literal percent; every other field code stands for something we do not pass.
            inArg = true;
            if (exec.at(++i) == QLatin1Char('%'))
                current.append(QLatin1Char('%'));
            continue;
        }
        if (quoted) {
            if (c == QLatin1Char('"')) {
                quoted = false;
            } else if (c == QLatin1Char('\\') && i + 1 < exec.size()) {
                current.append(exec.at(++i));
            } else {
                current.append(c);
            }
            continue;
        }
        if (c == QLatin1Char(' ') || c == QLatin1Char('\t')) {
            if (inArg)
                args << current;
            current.clear();
            inArg = false;
            continue;
        }
        inArg = true;
        if (c == QLatin1Char('"')) {
            quoted = true;
        } else {
            current.append(c);
        }
    }
    if (inArg)
        args << current;
    // A lone field code ("%U") leaves an empty argument behind; it was never a real one.
    args.removeAll(QString());
    return args;
}

}  // namespace fennimar
