#pragma once

#include "platform/Result.h"

#include <QJsonArray>
#include <QJsonObject>
#include <QProcess>
#include <QStringList>
#include <QTemporaryDir>
#include <QUrl>

namespace fennimar::test {

// A fennimar-refbackend process for one test: started on a free loopback port with a database in
// a private temporary directory, stopped when the object goes. Every wait is bounded. The admin
// helpers run the executable's own "admin" command and block without spinning the caller's event
// loop, so they are safe to call between the steps of a coroutine test.
class RefBackendProcess {
public:
    // Starts the server and waits (up to 20 s) for its "listening on" line. extraArguments are
    // passed after the port and database options.
    explicit RefBackendProcess(const QStringList &extraArguments = {});
    ~RefBackendProcess();
    RefBackendProcess(const RefBackendProcess &) = delete;
    RefBackendProcess &operator=(const RefBackendProcess &) = delete;

    // Stops the server (SIGTERM, then SIGKILL after 5 s) and says whether it ended cleanly with
    // status 0; a sanitizer's report or a crash comes back as the failure, with the server's log.
    // The destructor stops a server still running and prints such a failure on standard error.
    Status stop();

    // Whether the server runs; when not, error() says why (with what it wrote on standard error).
    bool ok() const { return m_baseUrl.isValid(); }
    QString error() const { return m_error; }

    QUrl baseUrl() const { return m_baseUrl; }
    quint16 port() const { return static_cast<quint16>(m_baseUrl.port()); }
    QString databasePath() const;
    // The file the server wrote its admin token to, and the token (empty when unreadable).
    QString adminTokenPath() const;
    QString adminToken() const;
    // What the server has logged so far (one line per request).
    QString log() const;

    // The parent's claim of a pair code for a named child: the claim's JSON (device_id, child_id,
    // child_session_token), or the server's refusal.
    Result<QJsonObject> claim(const QString &code, const QString &child, const QString &deviceName = {});
    // Every device with pairing, last heartbeat, usage per day and hour, and seen apps.
    Result<QJsonArray> devices();

    // Where the executable this harness starts lives.
    static QString executablePath();

    // Runs "fennimar-refbackend admin --url <baseUrl> --admin-token-file <file> <arguments>" and returns its standard
    // output, or its standard error when it fails (30 s at most).
    Result<QByteArray> admin(const QStringList &arguments);

private:
    QTemporaryDir m_dir;
    QProcess m_process;
    QUrl m_baseUrl;
    QString m_error;
};

}  // namespace fennimar::test
