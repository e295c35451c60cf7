#include <QCoreApplication>

#include <gtest/gtest.h>

// pjctl needs no window system: its tests run under a core application, as pjctl does.
int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
