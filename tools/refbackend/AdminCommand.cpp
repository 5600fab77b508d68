#include "tools/refbackend/AdminCommand.h"

#include <QCommandLineParser>
#include <QEventLoop>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkReply>

#include <cstdio>

namespace fennimar::refbackend::AdminCommand {

namespace {

constexpr int kUsageError = 64;  // EX_USAGE

int usage(const QString &reason)
{
    std::fprintf(stderr, "fennimar-refbackend admin: %s\n", qPrintable(reason));
    return kUsageError;
}

int call(const QUrl &base, const QByteArray &token, const QByteArray &method, const QString &path,
         const QJsonObject *body)
{
    QUrl url = base;
    url.setPath(base.path().chopped(base.path().endsWith(QLatin1Char('/')) ? 1 : 0) + path);
    QNetworkRequest request(url);
    request.setTransferTimeout(30000);
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::ManualRedirectPolicy);
    request.setRawHeader("Authorization", "Bearer " + token);
    // The server takes no change without a JSON type, body or not (a cross-site form cannot send one).
    if (method != "GET")
        request.setHeader(QNetworkRequest::ContentTypeHeader, QStringLiteral("application/json"));
    const QByteArray payload = body ? QJsonDocument(*body).toJson(QJsonDocument::Compact) : QByteArray();
    QNetworkAccessManager manager;
    QNetworkReply *reply = manager.sendCustomRequest(request, method, payload);
    QEventLoop loop;
    QObject::connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
    loop.exec();
    reply->deleteLater();

    const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    const QByteArray answer = reply->readAll();
    if (status == 0) {
        std::fprintf(stderr, "fennimar-refbackend admin: %s\n", qPrintable(reply->errorString()));
        return 1;
    }
    if (status < 200 || status > 299) {
        std::fprintf(stderr, "HTTP %d: %s\n", status, answer.constData());
        return 1;
    }
    std::fprintf(stdout, "%s\n", answer.constData());
    std::fflush(stdout);
    return 0;
}

}  // namespace

int run(const QStringList &arguments)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Steers a running fennimar-refbackend."));
    const QCommandLineOption url(QStringLiteral("url"), QStringLiteral("Base URL of the server."),
                                 QStringLiteral("URL"));
    const QCommandLineOption tokenFile(QStringLiteral("admin-token-file"),
                                       QStringLiteral("The file the server wrote its admin token to."),
                                       QStringLiteral("FILE"));
    const QCommandLineOption child(QStringLiteral("child"), QStringLiteral("Child's name."), QStringLiteral("NAME"));
    const QCommandLineOption deviceName(QStringLiteral("device-name"), QStringLiteral("Device name."),
                                        QStringLiteral("NAME"));
    const QCommandLineOption unblocked(QStringLiteral("unblocked"), QStringLiteral("A listed but unrestricted app."),
                                       QStringLiteral("ID"));
    const QCommandLineOption route(QStringLiteral("route"), QStringLiteral("Route of a fault."), QStringLiteral("R"));
    const QCommandLineOption kind(QStringLiteral("kind"),
                                  QStringLiteral("status, delay, malformed, oversized, drop or redirect."),
                                  QStringLiteral("K"));
    const QCommandLineOption count(QStringLiteral("count"), QStringLiteral("Requests affected."), QStringLiteral("N"));
    const QCommandLineOption status(QStringLiteral("status"), QStringLiteral("Status code."), QStringLiteral("S"));
    const QCommandLineOption body(QStringLiteral("body"), QStringLiteral("Answer body."), QStringLiteral("TEXT"));
    const QCommandLineOption delay(QStringLiteral("delay-ms"), QStringLiteral("Delay."), QStringLiteral("MS"));
    const QCommandLineOption size(QStringLiteral("size"), QStringLiteral("Body size."), QStringLiteral("BYTES"));
    const QCommandLineOption location(QStringLiteral("location"), QStringLiteral("Redirect target."),
                                      QStringLiteral("URL"));
    const QCommandLineOption clear(QStringLiteral("clear"), QStringLiteral("Remove every fault."));
    parser.addOptions(
        {url, tokenFile, child, deviceName, unblocked, route, kind, count, status, body, delay, size, location, clear});
    parser.addPositionalArgument(QStringLiteral("command"),
                                 QStringLiteral("claim, set-apps, devices, overview, remove-device, fault, dismiss"));
    if (!parser.parse(arguments))
        return usage(parser.errorText());

    const QUrl base(parser.value(url));
    if (!base.isValid() || base.scheme() != QStringLiteral("http") || base.host().isEmpty())
        return usage(QStringLiteral("--url must be the server's http:// address"));
    if (!parser.isSet(tokenFile))
        return usage(QStringLiteral("--admin-token-file must name the file the server wrote its admin token to"));
    QFile file(parser.value(tokenFile));
    if (!file.open(QIODevice::ReadOnly))
        return usage(QStringLiteral("cannot read the admin token from ") + file.fileName() + QStringLiteral(": ") +
                     file.errorString());
    const QByteArray token = file.read(256).trimmed();
    QStringList rest = parser.positionalArguments();
    if (rest.isEmpty())
        return usage(
            QStringLiteral("which command? claim, set-apps, devices, overview, remove-device, fault or dismiss"));
    const QString command = rest.takeFirst();

    if (command == QStringLiteral("claim")) {
        if (rest.size() != 1 || !parser.isSet(child))
            return usage(QStringLiteral("claim CODE --child NAME"));
        QJsonObject o{{QStringLiteral("code"), rest.first()}, {QStringLiteral("child"), parser.value(child)}};
        if (parser.isSet(deviceName))
            o.insert(QStringLiteral("device_name"), parser.value(deviceName));
        return call(base, token, "POST", QStringLiteral("/admin/claim"), &o);
    }
    if (command == QStringLiteral("set-apps")) {
        if (!parser.isSet(child))
            return usage(QStringLiteral("set-apps --child NAME [--unblocked ID]... ID..."));
        QJsonArray apps;
        for (const auto &id : rest)
            apps.append(QJsonObject{{QStringLiteral("package_id"), id}, {QStringLiteral("is_blocked"), true}});
        for (const auto &id : parser.values(unblocked))
            apps.append(QJsonObject{{QStringLiteral("package_id"), id}, {QStringLiteral("is_blocked"), false}});
        const QJsonObject o{{QStringLiteral("child"), parser.value(child)}, {QStringLiteral("apps"), apps}};
        return call(base, token, "POST", QStringLiteral("/admin/apps"), &o);
    }
    if (command == QStringLiteral("devices") && rest.isEmpty())
        return call(base, token, "GET", QStringLiteral("/admin/devices"), nullptr);
    if (command == QStringLiteral("overview") && rest.isEmpty())
        return call(base, token, "GET", QStringLiteral("/admin/overview"), nullptr);
    if (command == QStringLiteral("remove-device") && rest.size() == 1)
        return call(base, token, "DELETE",
                    QStringLiteral("/admin/devices/") + QString::fromUtf8(QUrl::toPercentEncoding(rest.first())),
                    nullptr);
    if (command == QStringLiteral("dismiss") && rest.size() == 1) {
        bool ok = false;
        const qint64 id = rest.first().toLongLong(&ok);
        if (!ok)
            return usage(QStringLiteral("dismiss ALERT (the alert's number, as the page shows it)"));
        const QJsonObject o{{QStringLiteral("alert"), id}};
        return call(base, token, "POST", QStringLiteral("/admin/dismiss"), &o);
    }
    if (command == QStringLiteral("fault") && rest.isEmpty()) {
        if (parser.isSet(clear))
            return call(base, token, "DELETE", QStringLiteral("/admin/faults"), nullptr);
        if (!parser.isSet(route) && !parser.isSet(kind))
            return call(base, token, "GET", QStringLiteral("/admin/faults"), nullptr);
        if (!parser.isSet(route) || !parser.isSet(kind))
            return usage(QStringLiteral("fault --route R --kind K [options], fault --clear, or fault to list"));
        QJsonObject o{{QStringLiteral("route"), parser.value(route)}, {QStringLiteral("kind"), parser.value(kind)}};
        // Numbers go over as numbers so that the server's own range checks speak for them.
        for (const auto *option : {&count, &status, &delay, &size}) {
            if (!parser.isSet(*option))
                continue;
            bool ok = false;
            const qint64 n = parser.value(*option).toLongLong(&ok);
            if (!ok)
                return usage(QStringLiteral("--") + option->names().first() + QStringLiteral(" takes a whole number"));
            o.insert(option->names().first().replace(QLatin1Char('-'), QLatin1Char('_')), n);
        }
        for (const auto *option : {&body, &location})
            if (parser.isSet(*option))
                o.insert(option->names().first(), parser.value(*option));
        return call(base, token, "POST", QStringLiteral("/admin/faults"), &o);
    }
    return usage(QStringLiteral("unknown command or wrong arguments: ") + command);
}

}  // namespace fennimar::refbackend::AdminCommand
