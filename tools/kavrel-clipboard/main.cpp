// kavrel-clipboard: keeps a capture on the clipboard after the program that took it has ended. Kavrel and
// kavrel-cli start it with the image on its standard input (capture/ClipboardServer.h).
#include "capture/ClipboardServer.h"

int main()
{
    return RunClipboardServer();
}
