// fennimar-refbackend: a small real backend for the demo and the tests. See RefServer.h for the
// HTTP side, AdminRoutes.h and AdminCommand.h for the controls.
#include "core/RealClock.h"
#include "tools/refbackend/AdminCommand.h"
#include "tools/refbackend/AdminGate.h"
#include "tools/refbackend/AdminRoutes.h"
#include "tools/refbackend/ApiRoutes.h"
#include "tools/refbackend/Database.h"
#include "tools/refbackend/FaultPlan.h"
#include "tools/refbackend/PairingStore.h"
#include "tools/refbackend/RefServer.h"
#include "tools/refbackend/ReportStore.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QSocketNotifier>
#include <QTemporaryDir>

#include <csignal>
#include <cstdio>
#include <optional>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace fennimar;
using namespace fennimar::refbackend;

namespace {

constexpr int kConfigError = 78;  // EX_CONFIG
int g_signalPipe[2] = {-1, -1};

// SIGTERM and SIGINT end the event loop normally, so the temporary database is removed and the
// SQLite file is closed cleanly.
void onSignal(int)
{
    const char byte = 1;
    [[maybe_unused]] const auto n = ::write(g_signalPipe[1], &byte, 1);
}

void quitOnSignals(QCoreApplication &app)
{
    if (::pipe(g_signalPipe) != 0)
        return;
    auto *notifier = new QSocketNotifier(g_signalPipe[0], QSocketNotifier::Read, &app);
    QObject::connect(notifier, &QSocketNotifier::activated, &app, [] { QCoreApplication::quit(); });
    std::signal(SIGTERM, onSignal);
    std::signal(SIGINT, onSignal);
}

int fail(const QString &reason, int code)
{
    std::fprintf(stderr, "fennimar-refbackend: %s\n", qPrintable(reason));
    return code;
}

// A connection past the open-file limit would not be accepted, and its client would wait unanswered:
// the soft limit is raised as far as allowed, and 32 descriptors stay for the database and Qt.
uint connectionsTheFileLimitAllows()
{
    rlimit files{};
    if (::getrlimit(RLIMIT_NOFILE, &files) != 0)
        return 64;
    files.rlim_cur = std::max(files.rlim_cur, std::min<rlim_t>(files.rlim_max, 4096));
    ::setrlimit(RLIMIT_NOFILE, &files);
    ::getrlimit(RLIMIT_NOFILE, &files);
    return static_cast<uint>(std::max<rlim_t>(files.rlim_cur, 40) - 32);
}

QHostAddress parseAddress(const QString &text)
{
    if (text == QStringLiteral("localhost"))
        return QHostAddress(QHostAddress::LocalHost);
    return QHostAddress(text);
}

}  // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QStringList arguments = QCoreApplication::arguments();
    if (arguments.size() > 1 && arguments.at(1) == QStringLiteral("admin")) {
        arguments.removeAt(1);
        return AdminCommand::run(arguments);
    }

    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("A small real backend for the Fennimar agent's demo and tests.\n"
                       "Also: fennimar-refbackend admin --url URL --admin-token-file FILE <command> ..."));
    parser.addHelpOption();
    const QCommandLineOption address(QStringLiteral("address"), QStringLiteral("Address to listen on (127.0.0.1)."),
                                     QStringLiteral("ADDRESS"), QStringLiteral("127.0.0.1"));
    const QCommandLineOption port(QStringLiteral("port"), QStringLiteral("Port; 0 picks a free one (0)."),
                                  QStringLiteral("PORT"), QStringLiteral("0"));
    const QCommandLineOption db(QStringLiteral("db"), QStringLiteral("SQLite file (a temporary one)."),
                                QStringLiteral("FILE"));
    const QCommandLineOption allowRemote(QStringLiteral("allow-remote"),
                                         QStringLiteral("Allow an address other machines can reach."));
    const QCommandLineOption codeLifetime(QStringLiteral("code-lifetime"),
                                          QStringLiteral("Seconds a pair code stays valid (600)."),
                                          QStringLiteral("SECONDS"), QStringLiteral("600"));
    const QCommandLineOption tokenFile(QStringLiteral("admin-token-file"),
                                       QStringLiteral("Where to write the admin token, readable only by you (the "
                                                      "database's path with \".admin-token\" added)."),
                                       QStringLiteral("FILE"));
    const QCommandLineOption maxConnections(QStringLiteral("max-connections"),
                                            QStringLiteral("Connections held at once (1024, or fewer when the "
                                                           "open-file limit is lower)."),
                                            QStringLiteral("N"), QStringLiteral("1024"));
    const QCommandLineOption maxPerPeer(QStringLiteral("max-per-peer"),
                                        QStringLiteral("Connections held at once from one address (256)."),
                                        QStringLiteral("N"), QStringLiteral("256"));
    const QCommandLineOption requestTimeout(QStringLiteral("request-timeout"),
                                            QStringLiteral("Seconds a request may take to arrive whole (10)."),
                                            QStringLiteral("SECONDS"), QStringLiteral("10"));
    const QCommandLineOption keepAlive(QStringLiteral("keep-alive"),
                                       QStringLiteral("Seconds an idle connection stays open (5)."),
                                       QStringLiteral("SECONDS"), QStringLiteral("5"));
    parser.addOptions({address, port, db, allowRemote, codeLifetime, tokenFile, maxConnections, maxPerPeer,
                       requestTimeout, keepAlive});
    parser.process(app);
    const auto number = [&parser](const QCommandLineOption &option, uint most) -> std::optional<uint> {
        bool ok = false;
        const uint n = parser.value(option).toUInt(&ok);
        return ok && n >= 1 && n <= most ? std::optional(n) : std::nullopt;
    };

    const QHostAddress host = parseAddress(parser.value(address));
    if (host.isNull())
        return fail(QStringLiteral("not an IP address: ") + parser.value(address), kConfigError);
    // The server speaks plain HTTP and its admin routes claim codes: it stays on this machine
    // unless someone says otherwise on purpose.
    if (!host.isLoopback() && !parser.isSet(allowRemote))
        return fail(QStringLiteral("refusing to listen on %1, which is not a loopback address; add --allow-remote "
                                   "to do so anyway")
                        .arg(host.toString()),
                    kConfigError);
    bool portOk = false;
    const uint portNumber = parser.value(port).toUInt(&portOk);
    if (!portOk || portNumber > 65535)
        return fail(QStringLiteral("not a port number: ") + parser.value(port), kConfigError);

    RefServer::Limits limits;
    const auto lifetimeSeconds = number(codeLifetime, 86400);
    const auto connections = number(maxConnections, 65536), perPeer = number(maxPerPeer, 65536);
    const auto requestSeconds = number(requestTimeout, 3600), keepAliveSeconds = number(keepAlive, 3600);
    if (!lifetimeSeconds || !connections || !perPeer || !requestSeconds || !keepAliveSeconds)
        return fail(QStringLiteral("--code-lifetime takes 1 to 86400 seconds, --request-timeout and --keep-alive 1 "
                                   "to 3600, --max-connections and --max-per-peer 1 to 65536"),
                    kConfigError);
    limits.maxConnections = static_cast<int>(std::min(*connections, connectionsTheFileLimitAllows()));
    limits.maxPerPeer = static_cast<int>(*perPeer);
    limits.requestDeadline = Millis(*requestSeconds * 1000);
    limits.keepAlive = Millis(*keepAliveSeconds * 1000);

    // Everything this server creates (database, its journal, the token file) is for its owner only.
    ::umask(077);
    QTemporaryDir scratch;
    QString dbPath = parser.value(db);
    if (dbPath.isEmpty()) {
        if (!scratch.isValid())
            return fail(QStringLiteral("cannot create a temporary directory: ") + scratch.errorString(), 1);
        dbPath = scratch.filePath(QStringLiteral("refbackend.sqlite"));
    }
    auto database = Database::open(dbPath);
    if (!database)
        return fail(database.error(), 1);

    const QString tokenPath =
        parser.isSet(tokenFile) ? parser.value(tokenFile) : dbPath + QStringLiteral(".admin-token");
    auto gate = AdminGate::create(tokenPath, host);
    if (!gate)
        return fail(gate.error(), 1);

    RealClock clock;
    PairingStore pairings(**database, static_cast<qint64>(*lifetimeSeconds) * 1000);
    ReportStore reports(**database);
    FaultPlan faults;
    ApiRoutes api(pairings, reports, clock);
    AdminRoutes admin(pairings, reports, faults, clock);
    RefServer server(api, admin, *gate, faults, clock, limits);
    const quint16 bound = server.listen(host, static_cast<quint16>(portNumber));
    if (bound == 0)
        return fail(QStringLiteral("cannot listen on %1 port %2").arg(host.toString()).arg(portNumber), 1);

    gate->setPort(bound);
    quitOnSignals(app);
    const QString shown = host.protocol() == QAbstractSocket::IPv6Protocol
                              ? QLatin1Char('[') + host.toString() + QLatin1Char(']')
                              : host.toString();
    // Harnesses read this first line to learn the port; nothing else goes to standard output.
    std::fprintf(stdout, "listening on http://%s:%u\n", qPrintable(shown), static_cast<unsigned>(bound));
    std::fflush(stdout);
    std::fprintf(stderr, "fennimar-refbackend: database %s, admin token in %s\n", qPrintable(dbPath),
                 qPrintable(tokenPath));
    return app.exec();
}
