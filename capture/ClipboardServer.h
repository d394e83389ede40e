#pragma once

#include <string>

class TBitmap;

// A program's clipboard content dies with it on X11 (where nobody runs a clipboard manager) and on Wayland
// alike. The clipboard server kavrel-clipboard keeps offering a capture after the program that took it has
// ended: a detached process of its own, which on X11 serves image/png and image/bmp until another program
// takes the clipboard (or hands the image to a clipboard manager at once, when one runs) and on Wayland
// hands the image to wl-copy. Kavrel starts it at exit and kavrel-cli after every capture. A separate
// executable, because a program whose Qt runs threads cannot fork safely; it reads the image from its
// standard input, a socket on which it answers once the clipboard holds the image.

enum class ClipboardHandOver {
    Held, // the clipboard holds the image
    NoWlCopy, // a Wayland session without wl-copy (wl-clipboard)
    Failed,
};

// Starts the clipboard server with the image and waits until it holds the clipboard. `failure` receives
// why it did not.
ClipboardHandOver ServeClipboardAfterExit(const TBitmap& image, std::string* failure = nullptr);

// For the program at its end, while its Qt application still exists: when the clipboard still holds a
// capture that the program put there, makes it outlive the program: Qt's X11 clipboard hands it to a
// clipboard manager as the application ends, so the server is started only when none runs.
void KeepCaptureOnClipboardAfterExit();

// The clipboard server's own work (kavrel-clipboard's main): reads the image from standard input, detaches
// and serves it. Returns the exit status.
int RunClipboardServer();

// Where the clipboard server is: beside the running program, else in the build tree.
std::string ClipboardServerPath();
