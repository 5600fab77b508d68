#pragma once

#include "measure/ActivitySampler.h"
#include "measure/DayLedger.h"
#include "measure/MonitoredApps.h"
#include "platform/PlatformConstants.h"
#include "platform/VirtualClock.h"
#include "tests/fakes/Fakes.h"

#include <QTemporaryDir>

namespace fennimar::test {

// The measuring half of the agent on a virtual clock: a sampler crediting a ledger from a fake
// desktop whose frontmost app is the monitored editor, an app nobody picked, or a locked screen
// (the user away). The monitored list never fetches: its content is applied directly.
struct MeasuringRig {
    enum class Front { Monitored, Other, Away };

    explicit MeasuringRig(const QDateTime &start, const QTimeZone &zone = QTimeZone::utc()) : clock(start, zone)
    {
        monitored.apply({platform::appPrefix() + QStringLiteral("org.example.Editor")});
        show(Front::Monitored);
        sampler.start();
    }

    void show(Front front)
    {
        desktop.front = RunningApp{
            front == Front::Other ? QStringLiteral("org.example.Game") : QStringLiteral("org.example.Editor"),
            10,
            {},
            {}};
        desktop.locked = front == Front::Away;
    }

    void run(qint64 seconds) { clock.advance(Millis(seconds * 1000)); }

    qint64 dayTotal(const QString &key) const
    {
        const auto it = ledger.days().find(key);
        return it == ledger.days().end() ? 0 : it->second.total();
    }

    QTemporaryDir dir;
    VirtualClock clock;
    DayLedger ledger{dir.filePath(QStringLiteral("ledger.json")), clock};
    MonitoredApps monitored{BackendClient::create(QUrl(QStringLiteral("http://127.0.0.1:9")), clock),
                            QStringLiteral("t"), QStringLiteral("d"), clock};
    FakeDesktop desktop;
    FakeAccessibility accessibility;
    FakeAppCatalog catalog;
    ActivitySampler sampler{clock, ledger, monitored, desktop, accessibility, catalog};
};

}  // namespace fennimar::test
