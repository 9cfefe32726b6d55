// The main of the GUI tests: widgets need a QApplication before the first test runs. Without
// QT_QPA_PLATFORM the tests draw offscreen.
#include <QApplication>

#include <gtest/gtest.h>

int main(int argc, char** argv)
{
    // ctest sets the platform, but the listing of the tests at build time runs without it,
    // perhaps without a display.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
