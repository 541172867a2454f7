#include <QCoreApplication>

#include <gtest/gtest.h>

// An application object lets the network calls wait in an event loop as they do in the program.
int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
