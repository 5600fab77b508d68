#pragma once

#include <QStringList>

#include <ostream>

// Readable gtest failure messages for Qt strings.
inline void PrintTo(const QString &s, std::ostream *os)
{
    *os << '"' << s.toStdString() << '"';
}
inline void PrintTo(const QStringList &list, std::ostream *os)
{
    *os << "[\"" << list.join(QStringLiteral("\", \"")).toStdString() << "\"]";
}
