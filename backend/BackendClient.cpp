#include "backend/BackendClient.h"

namespace fennimar {

struct BackendClient::Session {
    QUrl baseURL;
    Clock &clock;
    Limits limits;
};

QString ClientError::description() const
{
    return text;
}

BackendClient BackendClient::create(QUrl baseURL, Clock &clock, Limits limits)
{
    return BackendClient(std::make_shared<Session>(Session{std::move(baseURL), clock, limits}));
}

BackendClient BackendClient::create(QUrl baseURL, Clock &clock)
{
    return create(std::move(baseURL), clock, Limits());
}

const QUrl &BackendClient::baseURL() const
{
    return m_session->baseURL;
}

namespace {
ClientError notYet()
{
    return ClientError::transport(QStringLiteral("not implemented"));
}
}  // namespace

QCoro::Task<BackendResult<PairingTicket>> BackendClient::requestPairing(const SystemInfo &, CancelToken) const
{
    co_return notYet();
}
QCoro::Task<BackendResult<SetupStatus>> BackendClient::setupStatus(QString, CancelToken) const
{
    co_return notYet();
}
QCoro::Task<BackendResult<QByteArray>> BackendClient::heartbeat(QString, bool, bool, const SystemInfo &,
                                                                CancelToken) const
{
    co_return notYet();
}
QCoro::Task<BackendResult<std::monostate>> BackendClient::reportUsage(QString, QString, DayRecord,
                                                                      std::vector<DayRecord>, const SystemInfo &,
                                                                      CancelToken) const
{
    co_return notYet();
}
QCoro::Task<BackendResult<QStringList>> BackendClient::monitoredPackages(QString, QString, CancelToken) const
{
    co_return notYet();
}
QCoro::Task<BackendResult<qint64>> BackendClient::reportAppsSeen(QString, QString, std::vector<SeenApp>,
                                                                 CancelToken) const
{
    co_return notYet();
}

}  // namespace fennimar
