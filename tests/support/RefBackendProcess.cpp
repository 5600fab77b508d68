#include "tests/support/RefBackendProcess.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QJsonDocument>

#include <cstdio>

namespace fennimar::test {

namespace {

QString readAll(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}

}  // namespace

RefBackendProcess::RefBackendProcess(const QStringList &extraArguments)
{
    // Standard error to a file: an unread pipe could fill and stall the server.
    m_process.setStandardErrorFile(m_dir.filePath("refbackend.log"));
    m_process.start(
        executablePath(),
        QStringList{"--port", "0", "--db", databasePath(), "--admin-token-file", adminTokenPath()} + extraArguments);
    // Generous: a sanitizer build starts slowly on a busy 2-core machine.
    const QDeadlineTimer deadline(20000);
    while (!m_process.canReadLine() && !deadline.hasExpired() && m_process.waitForStarted(1000) &&
           m_process.state() == QProcess::Running)
        m_process.waitForReadyRead(100);
    const QByteArray line = m_process.readLine().trimmed();
    if (!line.startsWith("listening on "))
        m_error = QStringLiteral("the server did not say where it listens (got \"%1\"): %2; its log: %3")
                      .arg(QString::fromUtf8(line), m_process.errorString(), log());
    else
        m_baseUrl = QUrl(QString::fromUtf8(line.mid(13)));
}

RefBackendProcess::~RefBackendProcess()
{
    if (m_process.state() == QProcess::NotRunning)
        return;
    m_process.terminate();
    const bool ended = m_process.waitForFinished(5000);
    if (!ended) {
        m_process.kill();
        m_process.waitForFinished(5000);
    }
    // A sanitizer's report makes the exit status non-zero.
    if (!ended || m_process.exitStatus() != QProcess::NormalExit || m_process.exitCode() != 0)
        std::fprintf(stderr, "fennimar-refbackend did not end cleanly; its log:\n%s\n", qPrintable(log()));
}

QString RefBackendProcess::adminToken() const
{
    return readAll(adminTokenPath()).trimmed();
}

QString RefBackendProcess::log() const
{
    return readAll(m_dir.filePath("refbackend.log"));
}

Result<QByteArray> RefBackendProcess::admin(const QStringList &arguments)
{
    using R = Result<QByteArray>;
    if (!ok())
        return R::failure("the server is not running: " + m_error);
    QProcess client;
    client.start(
        executablePath(),
        QStringList{"admin", "--url", m_baseUrl.toString(), "--admin-token-file", adminTokenPath()} + arguments);
    if (!client.waitForFinished(30000)) {
        client.kill();
        client.waitForFinished(5000);
        return R::failure(QStringLiteral("admin %1 timed out").arg(arguments.join(u' ')));
    }
    if (client.exitStatus() != QProcess::NormalExit || client.exitCode() != 0)
        return R::failure(QString::fromUtf8(client.readAllStandardError()).trimmed());
    return client.readAllStandardOutput();
}

Result<QJsonObject> RefBackendProcess::claim(const QString &code, const QString &child, const QString &deviceName)
{
    QStringList args{"claim", code, "--child", child};
    if (!deviceName.isEmpty())
        args << "--device-name" << deviceName;
    const auto out = admin(args);
    const auto doc = QJsonDocument::fromJson(out ? *out : QByteArray());
    if (!doc.isObject())
        return Result<QJsonObject>::failure(out ? "not a JSON object: " + QString::fromUtf8(*out) : out.error());
    return doc.object();
}

}  // namespace fennimar::test
