#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <cstdio>
#include <unistd.h>

namespace fennimar::test {

// Collects what the log writes to standard error while it lives. lines() gives each log line
// without its "[fennimar HH:mm:ss " prefix, so "WARN ] message" checks the level word and the
// message byte for byte; other output on standard error is left out.
class LogCapture {
public:
    LogCapture()
    {
        std::fflush(stderr);
        m_file = std::tmpfile();
        m_saved = ::dup(STDERR_FILENO);
        if (m_file)
            ::dup2(::fileno(m_file), STDERR_FILENO);
    }
    ~LogCapture()
    {
        std::fflush(stderr);
        if (m_saved >= 0) {
            ::dup2(m_saved, STDERR_FILENO);
            ::close(m_saved);
        }
        if (m_file)
            std::fclose(m_file);
    }
    LogCapture(const LogCapture &) = delete;
    LogCapture &operator=(const LogCapture &) = delete;

    // Everything written to standard error so far, as it was written.
    QString text() const { return QString::fromUtf8(raw()); }

    QStringList lines() const
    {
        const QByteArray all = raw();
        QStringList result;
        constexpr qsizetype prefix = 19;  // "[fennimar HH:mm:ss "
        for (const QByteArray &line : all.split('\n')) {
            if (line.startsWith("[fennimar ") && line.size() > prefix)
                result.append(QString::fromUtf8(line.mid(prefix)));
        }
        return result;
    }

private:
    QByteArray raw() const
    {
        QByteArray all;
        if (m_file) {
            std::fflush(stderr);
            std::rewind(m_file);
            char buffer[4096];
            size_t n = 0;
            while ((n = std::fread(buffer, 1, sizeof buffer, m_file)) > 0)
                all.append(buffer, static_cast<qsizetype>(n));
            std::fseek(m_file, 0, SEEK_END);
        }
        return all;
    }

    std::FILE *m_file = nullptr;
    int m_saved = -1;
};

}  // namespace fennimar::test
