// The composition root: builds the concrete clock and platform and hands them down.
#include "agent/AgentConfig.h"
#include "agent/Log.h"
#include "measure/DayLedger.h"
#include "platform/RealClock.h"

#include <QCoreApplication>

using namespace fennimar;

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setOrganizationName(QStringLiteral("Fennimar"));
    QCoreApplication::setApplicationName(QStringLiteral("Fennimar"));

    const auto backend = AgentConfig::backendURL();
    if (!backend) {
        Log::error(backend.error());
        Log::drain();
        return 78;  // EX_CONFIG
    }
    RealClock clock;
    DayLedger ledger(AgentConfig::supportDirectory() + QStringLiteral("/ledger.json"), clock);
    Log::info(QStringLiteral("agent starting · backend=") + backend->toString());
    const DayRecord today = ledger.today(clock.now());
    Log::info(QStringLiteral("today · %1s counted · %2 day(s) kept").arg(today.total()).arg(ledger.days().size()));
    Log::drain();
    return 0;
}
