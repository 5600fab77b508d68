#include <QApplication>

#include <gtest/gtest.h>

int main(int argc, char **argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    QApplication app(argc, argv);  // the tray needs widgets: not the suite's QCoreApplication main
    QApplication::setQuitOnLastWindowClosed(false);
    return RUN_ALL_TESTS();
}
