#include "tests/support/SkipReport.h"
#include "tests/support/TempHome.h"

#include <QCoreApplication>

#include <gtest/gtest.h>

int main(int argc, char **argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    fennimar::test::reportSkips(argv[0]);
    // Log file and settings fix their paths at first use: every test process gets a temporary home first.
    const fennimar::test::TempHome home;
    QCoreApplication app(argc, argv);
    QCoreApplication::setOrganizationName(QStringLiteral("Fennimar"));
    QCoreApplication::setApplicationName(QStringLiteral("Fennimar"));
    const int failed = RUN_ALL_TESTS();
    // A request's timers are deleted later; the last test's would outlive the application otherwise.
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    return fennimar::test::skipVerdict(failed);
}
