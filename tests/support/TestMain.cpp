#include "tests/support/TempHome.h"

#include <QCoreApplication>

#include <gtest/gtest.h>

int main(int argc, char **argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    // The log file and the settings store fix their paths at first use: every test process runs in
    // a temporary home of its own, so nothing reaches the real one.
    const fennimar::test::TempHome home;
    QCoreApplication app(argc, argv);
    QCoreApplication::setOrganizationName(QStringLiteral("Fennimar"));
    QCoreApplication::setApplicationName(QStringLiteral("Fennimar"));
    return RUN_ALL_TESTS();
}
