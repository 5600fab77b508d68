#include <QApplication>

#include <gtest/gtest.h>

// The tray tests need widgets, hence a QApplication rather than the suite's QCoreApplication main.
int main(int argc, char **argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    QApplication app(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    return RUN_ALL_TESTS();
}
