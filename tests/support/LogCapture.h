#pragma once

#include <QStringList>

#include <cstdio>
#include <unistd.h>

namespace fennimar::test {

// Collects standard error while it lives; lines() drops the "[fennimar HH:mm:ss " prefix: "WARN ] message".
class LogCapture {
public:
    LogCapture() : m_file(std::tmpfile()), m_saved(::dup(STDERR_FILENO))
    {
        std::fflush(stderr);
        ::dup2(::fileno(m_file), STDERR_FILENO);
    }
    ~LogCapture()
    {
        std::fflush(stderr);
        ::dup2(m_saved, STDERR_FILENO);
        ::close(m_saved);
        std::fclose(m_file);
    }
    LogCapture(const LogCapture &) = delete;
    LogCapture &operator=(const LogCapture &) = delete;

    QString text() const
    {
        std::fflush(stderr);
        std::rewind(m_file);
        QByteArray all;
        char buffer[4096];
        for (size_t n; (n = std::fread(buffer, 1, sizeof buffer, m_file)) > 0;)
            all.append(buffer, static_cast<qsizetype>(n));
        return QString::fromUtf8(all);
    }
    QStringList lines() const
    {
        QStringList result;
        for (const QString &line : text().split(u'\n'))
            if (line.startsWith(QLatin1String("[fennimar ")) && line.size() > 19)
                result.append(line.mid(19));
        return result;
    }

private:
    std::FILE *m_file;
    int m_saved;
};

}  // namespace fennimar::test
