#pragma once

#include "core/Result.h"

#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QUrl>

namespace fennimar::test {

// A refbackend on a free loopback port with a private database, stopped with the object; waits bounded, and the
// admin helpers block without spinning the event loop, so coroutine tests may call them.
class RefBackendProcess {
public:
    // Starts the server and waits (up to 20 s) for its "listening on" line.
    explicit RefBackendProcess(const QStringList &extraArguments = {});
    // Stops the server (SIGTERM, then SIGKILL after 5 s) and prints its log unless it ended with status 0.
    ~RefBackendProcess();
    RefBackendProcess(const RefBackendProcess &) = delete;
    RefBackendProcess &operator=(const RefBackendProcess &) = delete;

    bool ok() const { return m_baseUrl.isValid(); }
    QString error() const { return m_error; }  // why it does not run, with its log

    QUrl baseUrl() const { return m_baseUrl; }
    quint16 port() const { return static_cast<quint16>(m_baseUrl.port()); }
    QString databasePath() const { return m_dir.filePath(QStringLiteral("refbackend.sqlite")); }
    QString adminTokenPath() const { return m_dir.filePath(QStringLiteral("admin-token")); }
    QString adminToken() const;  // empty when unreadable
    QString log() const;         // one line per request

    // A parent's claim of a pair code: its JSON (device_id, child_id, child_session_token) or the refusal.
    Result<QJsonObject> claim(const QString &code, const QString &child, const QString &deviceName = {});
    // "fennimar-refbackend admin ... <arguments>": its stdout, or its stderr when it fails (30 s at most).
    Result<QByteArray> admin(const QStringList &arguments);

    static QString executablePath() { return QStringLiteral(FENNIMAR_REFBACKEND_PATH); }

private:
    QTemporaryDir m_dir;
    QProcess m_process;
    QUrl m_baseUrl;
    QString m_error;
};

}  // namespace fennimar::test
