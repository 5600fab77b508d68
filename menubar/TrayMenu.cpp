#include "menubar/TrayMenu.h"

#include "core/Log.h"
#include "platform/PlatformTraits.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QCursor>
#include <QFontDatabase>
#include <QMenu>
#include <QMessageBox>
#include <QPainter>
#include <QPalette>
#include <QPixmap>
#include <QPushButton>
#include <QScreen>
#include <QSvgRenderer>
#include <QSystemTrayIcon>

#include <array>

namespace fennimar {

namespace {

constexpr Millis kHostPollInterval{5000};

// Menu texts come partly from outside (a child's name, an error description): an "&" must show
// as itself rather than turn the next letter into a keyboard mnemonic.
QString literal(QString text)
{
    return text.replace(QLatin1Char('&'), QStringLiteral("&&"));
}

QString resourceName(MenuIcon icon, bool darkPanel)
{
    const char *shape = icon == MenuIcon::Filled ? "filled" : icon == MenuIcon::Alert ? "alert" : "outline";
    return QStringLiteral(":/fennimar/icons/%1-%2.svg").arg(QLatin1String(shape), darkPanel ? "dark" : "light");
}

// The panel a tray icon sits on takes its colours from the desktop theme; the application palette
// is the only hint Qt gives of it.
bool darkPanel()
{
    return QApplication::palette().color(QPalette::Window).lightness() < 128;
}

}  // namespace

TrayMenu::TrayMenu(Clock &clock, ReadingsSource readings, MenuActions actions, QObject *parent)
    : QObject(parent),
      m_clock(clock),
      m_readings(std::move(readings)),
      m_actions(std::move(actions)),
      m_menu(std::make_unique<QMenu>())
{
    // The agent has no main window: closing the unpair question, its only window, must not end it.
    QApplication::setQuitOnLastWindowClosed(false);
    m_menu->setToolTipsVisible(true);
    connect(m_menu.get(), &QMenu::aboutToShow, this, &TrayMenu::rebuild);

    m_tray = new QSystemTrayIcon(this);
    // No tooltip on the icon: the menu says everything, and a stale tooltip would not.
    m_tray->setContextMenu(m_menu.get());
    // A left click opens the same menu, as the status item of a menu bar does; the context click is
    // handled by the tray itself, and so is every click on a real status item (opening it here too
    // would show the menu twice).
    connect(m_tray, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason reason) {
        if (reason == QSystemTrayIcon::Trigger && !platform::trayIsStatusItem() && !m_menu->isVisible())
            openBesideIcon();
    });
    refreshIcon();

    if (QSystemTrayIcon::isSystemTrayAvailable()) {
        m_tray->show();
    } else {
        Log::warn(QStringLiteral("tray · no system tray host · the icon appears when one starts"));
        m_hostPoll = m_clock.callEvery(kHostPollInterval, [this] { lookForTrayHost(); });
    }
}

TrayMenu::~TrayMenu()
{
    m_hostPoll.cancel();
    // The icon refers to the menu: it goes first.
    delete m_tray;
}

bool TrayMenu::iconShown() const
{
    return m_tray->isVisible();
}

QMenu *TrayMenu::menu() const
{
    return m_menu.get();
}

QSystemTrayIcon *TrayMenu::trayIcon() const
{
    return m_tray;
}

void TrayMenu::openBesideIcon()
{
    // Below an icon in a top panel, like a menu bar's menu, so that the icon stays in sight. In any
    // other place Qt's own placement at the pointer keeps the menu on the screen.
    const QRect icon = m_tray->geometry();
    const QScreen *screen = icon.isValid() ? QGuiApplication::screenAt(icon.center()) : nullptr;
    if (screen && icon.center().y() < screen->geometry().center().y())
        m_menu->popup(icon.bottomLeft() + QPoint(0, 1));
    else
        m_menu->popup(QCursor::pos());
}

void TrayMenu::lookForTrayHost()
{
    if (!QSystemTrayIcon::isSystemTrayAvailable())
        return;
    m_hostPoll.cancel();
    Log::info(QStringLiteral("tray · system tray host found · showing the icon"));
    m_tray->show();
}

QIcon TrayMenu::iconImage(MenuIcon icon, bool dark)
{
    QSvgRenderer svg(resourceName(icon, dark));
    if (!svg.isValid())
        return {};
    QIcon out;
    static constexpr std::array<int, 6> sizes{16, 22, 24, 32, 48, 64};
    for (const int size : sizes) {
        QPixmap pixmap(size, size);
        pixmap.fill(Qt::transparent);
        QPainter painter(&pixmap);
        painter.setRenderHint(QPainter::Antialiasing);
        svg.render(&painter);
        painter.end();
        out.addPixmap(pixmap);
    }
    return out;
}

void TrayMenu::refreshIcon()
{
    const MenuIcon which = MenuBarController::icon(m_readings());
    const bool dark = darkPanel();
    // Six small pictures in all: render each once.
    QIcon &icon = m_icons[static_cast<std::size_t>(which) * 2 + (dark ? 1 : 0)];
    if (icon.isNull()) {
        icon = iconImage(which, dark);
        icon.setIsMask(platform::trayIsStatusItem());
    }
    m_tray->setIcon(icon);
}

void TrayMenu::rebuild()
{
    m_menu->clear();
    const QFont menuFont = m_menu->font();
    QFont small = menuFont;
    if (menuFont.pointSizeF() > 0)
        small.setPointSizeF(std::max(7.0, menuFont.pointSizeF() - 2.0));
    QFont code = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    code.setPointSize(20);
    code.setWeight(QFont::DemiBold);

    for (const MenuEntry &entry : MenuBarController::menu(m_readings())) {
        if (entry.kind == MenuEntry::Kind::Separator) {
            m_menu->addSeparator();
            continue;
        }
        QAction *action = m_menu->addAction(literal(entry.shown));
        // Only the entries that explain themselves carry a tooltip (the code, the two fixes).
        if (!entry.toolTip.isEmpty())
            action->setToolTip(entry.toolTip);
        switch (entry.kind) {
            case MenuEntry::Kind::Label:
                action->setEnabled(false);
                break;
            case MenuEntry::Kind::Dimmed:
                action->setEnabled(false);
                action->setFont(small);
                break;
            case MenuEntry::Kind::Code:
                action->setFont(code);
                [[fallthrough]];
            case MenuEntry::Kind::Action: {
                const MenuAction what = entry.action;
                connect(action, &QAction::triggered, this, [this, what] { run(what); });
                break;
            }
            case MenuEntry::Kind::Separator:
                break;
        }
    }
}

void TrayMenu::run(MenuAction action)
{
    const auto call = [](const std::function<void()> &fn) {
        if (fn)
            fn();
    };
    switch (action) {
        case MenuAction::None:
            break;
        case MenuAction::Pair:
            call(m_actions.pair);
            break;
        case MenuAction::Cancel:
            call(m_actions.cancelPairing);
            break;
        case MenuAction::CopyCode:
            copyCode();
            break;
        case MenuAction::Unpair:
            confirmUnpair();
            break;
        case MenuAction::Quit:
            if (m_actions.quit)
                m_actions.quit();
            else
                QCoreApplication::quit();
            break;
        case MenuAction::RequestAccessibility:
            call(m_actions.turnOnWebsiteCounting);
            break;
        case MenuAction::OpenLoginItems:
            call(m_actions.fixLoginItem);
            break;
    }
}

void TrayMenu::copyCode()
{
    // The menu may have been opened before the pairing ended; only a code still being offered is
    // copied.
    const MenuReadings now = m_readings();
    if (const auto *pairing = std::get_if<AgentStates::Pairing>(&now.state))
        QApplication::clipboard()->setText(pairing->code, QClipboard::Clipboard);
}

std::unique_ptr<QMessageBox> TrayMenu::makeUnpairConfirmation()
{
    auto box = std::make_unique<QMessageBox>();
    box->setIcon(QMessageBox::Warning);
    box->setWindowTitle(QStringLiteral("Fennimar"));
    box->setText(MenuBarController::unpairQuestion());
    box->setInformativeText(MenuBarController::unpairExplanation());
    QPushButton *unpair = box->addButton(QStringLiteral("Unpair"), QMessageBox::AcceptRole);
    QPushButton *keep = box->addButton(QStringLiteral("Keep Paired"), QMessageBox::RejectRole);
    box->setDefaultButton(unpair);
    box->setEscapeButton(keep);
    return box;
}

void TrayMenu::confirmUnpair()
{
    const std::unique_ptr<QMessageBox> box = makeUnpairConfirmation();
    const QAbstractButton *unpair = box->defaultButton();
    // A background agent's dialog would otherwise open behind the window the user is working in.
    box->show();
    box->raise();
    box->activateWindow();
    box->exec();
    if (box->clickedButton() == unpair && m_actions.unpair)
        m_actions.unpair();
}

}  // namespace fennimar
