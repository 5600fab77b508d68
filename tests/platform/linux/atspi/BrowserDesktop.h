#pragma once

#include "tests/support/DesktopSession.h"

#include <QString>
#include <QStringList>
#include <QTcpServer>

namespace fennimar::test {

// Serves generated pages on loopback: /small/<name> (a few elements, title <name>) and
// /large/<name> (about 9,000 elements). Answers from the event loop of the thread that owns it.
class PageServer : public QObject {
public:
    PageServer();
    quint16 port() const { return m_server.serverPort(); }
    QString url(const QString &path) const;

private:
    void serve(QTcpSocket *socket);
    QTcpServer m_server;
};

enum class Browser { Chromium, Firefox };
inline const char *name(Browser browser)
{
    return browser == Browser::Chromium ? "Chromium" : "Firefox";
}

// Starts a browser on the desktop with the given pages (one tab each), in a fresh profile with its
// first-run screens turned off; its process id, or 0.
qint64 launchBrowser(DesktopSession &desktop, Browser browser, const QStringList &urls);

}  // namespace fennimar::test
