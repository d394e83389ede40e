#include <QApplication>

#include <gtest/gtest.h>

// The overlay forms as widgets on Qt's offscreen platform, with the scripted capture platform: no X
// display is needed or touched.
int main(int argc, char** argv)
{
    testing::InitGoogleTest(&argc, argv);
    if (GTEST_FLAG_GET(list_tests))
        return RUN_ALL_TESTS();
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    return RUN_ALL_TESTS();
}
