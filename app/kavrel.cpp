// Kavrel: screenshots and pictures in one MDI frame. Takes no arguments, opens nothing at start and
// stores no settings.
#include "app/Application.h"
#include "app/Main.h"
#include "app/QtDialogHooks.h"
#include "app/about.h"
#include "capture/ClipboardServer.h"
#include "codecs/GraphicFormats.h"
#include "framework/FrameworkFormats.h"

#include <QApplication>

int main(int argc, char* argv[])
{
    // The registry is complete before any window exists, so the open dialog sees every format.
    RegisterFrameworkFormats();
    RegisterGraphicFormats();

    int result = 0;
    {
        QApplication application(argc, argv);
        SetUpApplication(application);
        InstallQtDialogHooks();

        TMainForm mainForm;
        auto* aboutBox = new TAboutBox(&mainForm);
        mainForm.SetAboutBox(aboutBox);

        mainForm.show();
        result = QApplication::exec();
        // The last capture stays on the clipboard after the program has ended.
        KeepCaptureOnClipboardAfterExit();
    }
    UnregisterGraphicFormats();
    return result;
}
