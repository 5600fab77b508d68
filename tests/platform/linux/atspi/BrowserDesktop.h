#pragma once

#include "tests/support/DesktopSession.h"

#include <QString>
#include <QStringList>
#include <QTcpServer>

namespace fennimar::test {

// Loopback pages /small/<name> (few elements, title <name>) and /large/<name> (~9,000), served by its thread.
class PageServer : public QObject {
public:
    PageServer();
    quint16 port() const { return m_server.serverPort(); }
    QString url(const QString &path) const;

private:
    void serve(QTcpSocket *socket);
    QTcpServer m_server;
};

enum class Browser { Chromium, Firefox, Epiphany };
inline const char *name(Browser browser)
{
    return browser == Browser::Chromium ? "Chromium" : browser == Browser::Firefox ? "Firefox" : "Epiphany";
}
inline const char *program(Browser browser)
{
    return browser == Browser::Chromium ? "chromium" : browser == Browser::Firefox ? "firefox-esr" : "epiphany";
}

// A browser with these pages, a tab each, the first selected; a fresh profile without first-run screens. Its pid or 0.
qint64 launchBrowser(DesktopSession &desktop, Browser browser, const QStringList &urls);

}  // namespace fennimar::test
