#include <QApplication>

#include <gtest/gtest.h>

#include <cstdlib>

// One Qt application for every test: on the X display when there is one (the X11 tests need it), and
// offscreen otherwise, where the X11 tests skip. KAVREL_TEST_QPA chooses the platform explicitly.
int main(int argc, char** argv)
{
    testing::InitGoogleTest(&argc, argv);
    if (GTEST_FLAG_GET(list_tests))
        return RUN_ALL_TESTS();
    const char* chosen = std::getenv("KAVREL_TEST_QPA");
    const char* display = std::getenv("DISPLAY");
    if (chosen && *chosen)
        qputenv("QT_QPA_PLATFORM", chosen);
    else
        qputenv("QT_QPA_PLATFORM", display && *display ? "xcb" : "offscreen");
    QApplication app(argc, argv);
    return RUN_ALL_TESTS();
}
