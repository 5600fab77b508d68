// Per-request cost of the backend client against a loopback server, beside a bare
// QNetworkAccessManager doing the same exchange, and the process's memory across many requests.
#include "bench/BenchStats.h"
#include "backend/BackendClient.h"
#include "core/RealClock.h"
#include "tests/support/LoopbackHttpServer.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QNetworkAccessManager>
#include <QNetworkReply>

#include <QCoroNetworkReply>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <vector>

using namespace fennimar;

namespace {

class BenchFacts final : public DeviceFacts {
public:
    QString vendor() override { return QStringLiteral("Framework"); }
    QString model() override { return QStringLiteral("Laptop 13"); }
    bool hasInternalBattery() override { return true; }
    QString osVersion() override { return QStringLiteral("12"); }
    QString computerName() override { return QStringLiteral("bench"); }
    QString userName() override { return QStringLiteral("bench"); }
};

qint64 rssKiB()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').value(0).toLongLong();
    }
    return -1;
}

// Runs one exchange n times in sequence and prints the percentiles of its wall time.
void measure(test::LoopbackHttpServer &server, const char *name, int n, const std::function<QCoro::Task<bool>()> &once)
{
    std::vector<double> micros;
    micros.reserve(static_cast<std::size_t>(n));
    int failures = 0;
    for (int i = 0; i < n; ++i) {
        QElapsedTimer t;
        t.start();
        const bool ok = QCoro::waitFor(once());
        micros.push_back(static_cast<double>(t.nsecsElapsed()) / 1000.0);
        failures += ok ? 0 : 1;
        server.clearRequests();  // the server's own record of requests is not the client's memory
    }
    const bench::Samples samples(std::move(micros));
    std::printf("%-34s n=%d  p50=%7.0f us  p99=%7.0f us  max=%7.0f us  failures=%d\n", name, n, samples.at(0.5),
                samples.at(0.99), samples.max(), failures);
}

}  // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const int n = argc > 1 ? QByteArray(argv[1]).toInt() : 1000;

    test::LoopbackHttpServer server;
    server.respond(QStringLiteral("/api/devices/bench/heartbeat"), test::LoopbackHttpServer::Response::json("{}"));
    server.respond(QStringLiteral("/api/guard/my-installed-apps"),
                   test::LoopbackHttpServer::Response::json(
                       R"({"apps":[{"package_id":"linux:firefox-esr","is_blocked":true},)"
                       R"({"package_id":"web:example.com","is_blocked":true},{"package_id":"linux:gimp"}]})"));
    RealClock clock;
    BenchFacts facts;
    const SystemInfo system(facts);
    const BackendClient client = BackendClient::create(server.baseUrl(), clock);
    QNetworkAccessManager bare;
    const QUrl bareUrl = server.baseUrl().resolved(QUrl(QStringLiteral("/api/guard/my-installed-apps")));

    auto bareGet = [&]() -> QCoro::Task<bool> {
        QNetworkReply *reply = bare.get(QNetworkRequest(bareUrl));
        co_await reply;
        const bool ok = reply->error() == QNetworkReply::NoError && !reply->readAll().isEmpty();
        reply->deleteLater();
        co_return ok;
    };
    auto list = [&]() -> QCoro::Task<bool> {
        const auto r = co_await client.monitoredPackages(QStringLiteral("token"), QStringLiteral("bench"));
        co_return r.ok();
    };
    auto beat = [&]() -> QCoro::Task<bool> {
        const auto r = co_await client.heartbeat(QStringLiteral("bench"), true, true, system);
        co_return r.ok();
    };

    measure(server, "warm-up (client, list)", 100, list);
    measure(server, "bare QNetworkAccessManager GET", n, bareGet);
    measure(server, "client monitoredPackages GET", n, list);
    measure(server, "client heartbeat POST", n, beat);

    const qint64 before = rssKiB();
    measure(server, "client heartbeat POST (memory run)", n, beat);
    const qint64 middle = rssKiB();
    measure(server, "client heartbeat POST (memory run)", n, beat);
    const qint64 after = rssKiB();
    std::printf(
        "RSS: %lld KiB before, %lld KiB after %d requests, %lld KiB after %d (growth over the last %d: %lld "
        "KiB)\n",
        before, middle, n, after, 2 * n, n, after - middle);
    return 0;
}
