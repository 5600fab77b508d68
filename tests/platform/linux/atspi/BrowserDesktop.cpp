#include "tests/platform/linux/atspi/BrowserDesktop.h"

#include <QDir>
#include <QFile>
#include <QTcpSocket>

#include <atomic>

namespace fennimar::test {

PageServer::PageServer()
{
    m_server.listen(QHostAddress::LocalHost, 0);
    QObject::connect(&m_server, &QTcpServer::newConnection, this, [this] {
        while (QTcpSocket *socket = m_server.nextPendingConnection()) {
            QObject::connect(socket, &QTcpSocket::readyRead, socket, [this, socket] { serve(socket); });
            QObject::connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
        }
    });
}

QString PageServer::url(const QString &path) const
{
    return QStringLiteral("http://127.0.0.1:%1/%2")
        .arg(port())
        .arg(path.startsWith(QLatin1Char('/')) ? path.mid(1) : path);
}

void PageServer::serve(QTcpSocket *socket)
{
    const QByteArray request = socket->readAll();
    const QList<QByteArray> words = request.split(' ');
    const QString path = words.size() > 1 ? QString::fromLatin1(words[1]) : QString();
    const QString title = path.section(QLatin1Char('/'), -1);
    QByteArray body = "<!doctype html><html><head><title>" + title.toUtf8() + "</title></head><body><h1>" +
                      title.toUtf8() + "</h1><p>A page for reading its address.</p><input type=text>";
    if (path.startsWith(QLatin1String("/large/"))) {
        body.reserve(400000);
        for (int i = 0; i < 3000; ++i)
            body += "<p>Paragraph " + QByteArray::number(i) + " <a href=#" + QByteArray::number(i) + ">link</a></p>";
    }
    body += "</body></html>";
    const int status = path.endsWith(QLatin1String("favicon.ico")) ? 404 : 200;
    socket->write("HTTP/1.1 " + QByteArray::number(status) + " OK\r\nContent-Type: text/html\r\nContent-Length: " +
                  QByteArray::number(body.size()) + "\r\nConnection: close\r\n\r\n" + body);
    socket->disconnectFromHost();
}

qint64 launchBrowser(DesktopSession &desktop, Browser browser, const QStringList &urls)
{
    static std::atomic<int> profiles{0};
    QProcess *process = nullptr;
    const QString profile = QDir(desktop.home()).filePath(QStringLiteral("profile-%1").arg(profiles.fetch_add(1)));
    QDir().mkpath(profile);
    if (browser == Browser::Chromium) {
        const QStringList args = QStringLiteral(
                                     "--no-sandbox --disable-gpu --no-first-run --no-default-browser-check "
                                     "--disable-background-networking --disable-component-update "
                                     "--disable-sync --password-store=basic --window-size=1200,800")
                                     .split(QLatin1Char(' ')) +
                                 QStringList{QStringLiteral("--user-data-dir=") + profile};
        process = desktop.spawn(QStringLiteral("chromium"), args + urls);
    } else if (browser == Browser::Epiphany) {
        // Selects the last address's tab; WebKit's sandbox refuses root; GNOME Web 48's default-browser ask eats keys.
        QProcessEnvironment env = desktop.environment();
        env.insert(QStringLiteral("WEBKIT_DISABLE_SANDBOX_THIS_IS_DANGEROUS"), QStringLiteral("1"));
        env.insert(QStringLiteral("GSETTINGS_BACKEND"), QStringLiteral("keyfile"));  // in the private home
        const QString settings = desktop.home() + QStringLiteral("/.config/glib-2.0/settings");
        if (QFile keyfile(settings + QStringLiteral("/keyfile"));
            QDir().mkpath(settings) && keyfile.open(QFile::WriteOnly))
            keyfile.write("[org/gnome/epiphany]\nask-for-default=false\n");
        process = desktop.spawn(QStringLiteral("epiphany"), QStringList(urls.rbegin(), urls.rend()), env);
    } else {
        QFile prefs(profile + QStringLiteral("/user.js"));
        if (prefs.open(QIODevice::WriteOnly)) {
            for (const char *pref :
                 {"browser.shell.checkDefaultBrowser\", false",
                  "browser.startup.homepage_override.mstone\", \"ignore\"",
                  "datareporting.policy.dataSubmissionEnabled\", false",
                  "toolkit.telemetry.reportingpolicy.firstRun\", false", "browser.aboutwelcome.enabled\", false",
                  "app.update.disabledForTesting\", true", "browser.tabs.warnOnClose\", false",
                  "browser.sessionstore.resume_from_crash\", false", "trailhead.firstrun.didSeeAboutWelcome\", true",
                  "browser.newtabpage.enabled\", false"})
                prefs.write(QByteArray("user_pref(\"") + pref + ");\n");
        }
        prefs.close();
        const QStringList args = {"--no-remote", "--new-instance", "--profile", profile};
        QProcessEnvironment env = desktop.environment();
        env.insert(QStringLiteral("MOZ_CRASHREPORTER_DISABLE"), QStringLiteral("1"));
        process = desktop.spawn(QStringLiteral("firefox-esr"), args + urls, env);
    }
    return process ? process->processId() : 0;
}

}  // namespace fennimar::test
