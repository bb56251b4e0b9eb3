// Test entry for suites that need Qt's application object first: event loops for sockets and
// signals, and the SQL drivers, which are plugins loaded through it.
#include <QCoreApplication>

#include <gtest/gtest.h>

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
