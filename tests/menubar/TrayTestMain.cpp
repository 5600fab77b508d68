#include "tests/support/SkipReport.h"

#include <QApplication>

#include <gtest/gtest.h>

int main(int argc, char **argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    fennimar::test::reportSkips(argv[0]);
    QApplication app(argc, argv);  // the tray needs widgets: not the suite's QCoreApplication main
    QApplication::setQuitOnLastWindowClosed(false);
    return fennimar::test::skipVerdict(RUN_ALL_TESTS());
}
