#include <QCoreApplication>

#include <gtest/gtest.h>

// The links deliver through the event loop, so the tests need an application.
int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    QCoreApplication app(argc, argv);
    return RUN_ALL_TESTS();
}
