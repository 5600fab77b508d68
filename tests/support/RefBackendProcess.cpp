#include "tests/support/RefBackendProcess.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QJsonDocument>

#include <cstdio>

namespace fennimar::test {

namespace {

constexpr int kStartMs = 20000;  // a sanitizer build starts slowly on a busy 2-core machine
constexpr int kAdminMs = 30000;
constexpr int kStopMs = 5000;

}  // namespace

QString RefBackendProcess::executablePath()
{
    return QStringLiteral(FENNIMAR_REFBACKEND_PATH);
}

RefBackendProcess::RefBackendProcess(const QStringList &extraArguments)
{
    if (!m_dir.isValid()) {
        m_error = QStringLiteral("cannot create a temporary directory: ") + m_dir.errorString();
        return;
    }
    m_process.setProgram(executablePath());
    m_process.setArguments(QStringList{QStringLiteral("--port"), QStringLiteral("0"), QStringLiteral("--db"),
                                       databasePath(), QStringLiteral("--admin-token-file"), adminTokenPath()} +
                           extraArguments);
    // Standard error goes to a file: a pipe nobody reads between two event-loop turns could fill
    // and stall the server.
    m_process.setStandardErrorFile(m_dir.filePath(QStringLiteral("refbackend.log")));
    m_process.start();
    if (!m_process.waitForStarted(kStartMs)) {
        m_error = QStringLiteral("cannot start ") + executablePath() + QStringLiteral(": ") + m_process.errorString();
        return;
    }
    const QDeadlineTimer deadline(kStartMs);
    while (!m_process.canReadLine() && !deadline.hasExpired() && m_process.state() == QProcess::Running)
        m_process.waitForReadyRead(static_cast<int>(std::max<qint64>(1, deadline.remainingTime())));
    const QByteArray line = m_process.readLine().trimmed();
    const QByteArray prefix = "listening on ";
    if (!line.startsWith(prefix)) {
        m_error = QStringLiteral("the server did not say where it listens (got \"%1\"); its log: %2")
                      .arg(QString::fromUtf8(line), log());
        return;
    }
    m_baseUrl = QUrl(QString::fromUtf8(line.mid(prefix.size())));
}

RefBackendProcess::~RefBackendProcess()
{
    if (m_process.state() == QProcess::NotRunning)
        return;
    const Status stopped = stop();
    if (!stopped)
        std::fprintf(stderr, "%s\n", qPrintable(stopped.error()));
}

Status RefBackendProcess::stop()
{
    if (m_process.state() == QProcess::NotRunning)
        return Status::failure(QStringLiteral("fennimar-refbackend was not running"));
    m_process.terminate();
    if (!m_process.waitForFinished(kStopMs)) {
        m_process.kill();
        m_process.waitForFinished(kStopMs);
        return Status::failure(QStringLiteral("fennimar-refbackend ignored SIGTERM; its log:\n") + log());
    }
    if (m_process.exitStatus() != QProcess::NormalExit || m_process.exitCode() != 0)
        return Status::failure(
            QStringLiteral("fennimar-refbackend ended with status %1; its log:\n").arg(m_process.exitCode()) + log());
    return {};
}

QString RefBackendProcess::databasePath() const
{
    return m_dir.filePath(QStringLiteral("refbackend.sqlite"));
}

QString RefBackendProcess::adminTokenPath() const
{
    return m_dir.filePath(QStringLiteral("admin-token"));
}

QString RefBackendProcess::adminToken() const
{
    QFile file(adminTokenPath());
    return file.open(QIODevice::ReadOnly) ? QString::fromLatin1(file.readAll().trimmed()) : QString();
}

QString RefBackendProcess::log() const
{
    QFile file(m_dir.filePath(QStringLiteral("refbackend.log")));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QString::fromUtf8(file.readAll());
}

Result<QByteArray> RefBackendProcess::admin(const QStringList &arguments)
{
    using R = Result<QByteArray>;
    if (!ok())
        return R::failure(QStringLiteral("the server is not running: ") + m_error);
    QProcess client;
    client.start(executablePath(), QStringList{QStringLiteral("admin"), QStringLiteral("--url"), m_baseUrl.toString(),
                                               QStringLiteral("--admin-token-file"), adminTokenPath()} +
                                       arguments);
    if (!client.waitForFinished(kAdminMs)) {
        client.kill();
        client.waitForFinished(kStopMs);
        return R::failure(QStringLiteral("admin ") + arguments.join(QLatin1Char(' ')) + QStringLiteral(" timed out"));
    }
    if (client.exitStatus() != QProcess::NormalExit || client.exitCode() != 0)
        return R::failure(QString::fromUtf8(client.readAllStandardError()).trimmed());
    return client.readAllStandardOutput();
}

namespace {

Result<QJsonObject> asObject(const Result<QByteArray> &out)
{
    if (!out)
        return Result<QJsonObject>::failure(out.error());
    const auto doc = QJsonDocument::fromJson(*out);
    if (!doc.isObject())
        return Result<QJsonObject>::failure(QStringLiteral("not a JSON object: ") + QString::fromUtf8(*out));
    return doc.object();
}

}  // namespace

Result<QJsonObject> RefBackendProcess::claim(const QString &code, const QString &child, const QString &deviceName)
{
    QStringList args{QStringLiteral("claim"), code, QStringLiteral("--child"), child};
    if (!deviceName.isEmpty())
        args << QStringLiteral("--device-name") << deviceName;
    return asObject(admin(args));
}

Result<QJsonArray> RefBackendProcess::devices()
{
    const auto o = asObject(admin({QStringLiteral("devices")}));
    if (!o)
        return Result<QJsonArray>::failure(o.error());
    return o->value(QStringLiteral("devices")).toArray();
}

}  // namespace fennimar::test
