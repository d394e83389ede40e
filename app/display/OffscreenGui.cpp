#include "app/display/OffscreenGui.h"

#include <QGuiApplication>
#include <cstdlib>

void EnsureOffscreenGuiApplication()
{
    if (QCoreApplication::instance())
        return;
    if (!std::getenv("QT_QPA_PLATFORM"))
        setenv("QT_QPA_PLATFORM", "offscreen", 0);
    static int argc = 1;
    static char name[] = "kavrel";
    static char* argv[] = {name, nullptr};
    // Never destroyed: tearing Qt down from a static destructor, after main, is not safe.
    static QGuiApplication* application = new QGuiApplication(argc, argv);
    (void)application;
}
