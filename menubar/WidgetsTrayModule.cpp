// The tray module's implementation with Qt Widgets: the only file that makes the widgets
// application. Built as the loadable module on Linux, linked into the executable elsewhere.
#include "menubar/TrayMenu.h"
#include "menubar/TrayModule.h"

#include <QApplication>
#include <QClipboard>

namespace fennimar {
namespace {

class WidgetsTrayModule final : public TrayModule {
public:
    std::unique_ptr<QCoreApplication> createApplication(int &argc, char **argv) override
    {
        return std::make_unique<QApplication>(argc, argv);
    }

    std::unique_ptr<TrayIcon> createTray(Clock &clock, ReadingsSource readings, MenuActions actions) override
    {
        return std::make_unique<TrayMenu>(clock, std::move(readings), std::move(actions));
    }

    void copyToClipboard(const QString &text) override
    {
        if (qobject_cast<QGuiApplication *>(QCoreApplication::instance()))
            QGuiApplication::clipboard()->setText(text);
    }
};

}  // namespace
}  // namespace fennimar

fennimar::TrayModule *fennimar_tray_module()
{
    static fennimar::WidgetsTrayModule module;
    return &module;
}
