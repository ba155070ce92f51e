// Test entry point of the logic libraries: a QCoreApplication around every
// test, for timers, threads and sockets; no widget can be made here.
#include <QCoreApplication>
#include <gtest/gtest.h>

int main(int argc, char** argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    QCoreApplication app(argc, argv);
    return RUN_ALL_TESTS();
}
