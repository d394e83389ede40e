#pragma once

#include "capture/CapturePlatform.h"
#include "framework/Bitmap.h"

#include <QImage>
#include <QProcess>
#include <QStringList>

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <vector>

// Skips the test unless it runs inside a Wayland session with sway's IPC (run-on-sway.sh starts one).
#define KAVREL_REQUIRE_SWAY()                                                                                  \
    if (!WaylandScene::Available())                                                                            \
    GTEST_SKIP() << "no sway session (WAYLAND_DISPLAY, SWAYSOCK); run-on-sway.sh starts one"

// Windows of other programs, of one colour each, placed on the session's desktop, and the session's
// tools. The windows end with the object.
class WaylandScene {
public:
    ~WaylandScene();
    static bool Available();

    // A window filled with a colour ("RRGGBB") or "pattern", at the logical position and size; through
    // Xwayland when asked.
    void AddWindow(const QString& title, const QString& fill, int x, int y, int width, int height, bool xwayland = false);
    // Where the compositor shows the window of the title (logical; empty when it shows none).
    static TRect PlaceOf(const QString& title);
    // Waits until the compositor shows no window of the title.
    static void WaitUntilGone(const QString& title);
    // Gives the window the focus and waits until the compositor says so.
    static void Focus(const QString& title);
    // Runs sway commands.
    static void Sway(const std::string& commands);
    // The seat's pointer (kavrel-test-input): to a logical position of the layout, and the left button.
    static void PointerTo(int x, int y);
    static void Press();
    static void Release();
    // grim's picture of the whole desktop now: the outputs at the highest output scale, those of a lower
    // scale magnified smoothly (as the screenshot service gives it).
    static QImage Grim();
    // grim's pictures of each output at its own scale, in the compositor's order of outputs.
    static std::vector<QImage> GrimOutputs();

private:
    std::vector<std::unique_ptr<QProcess>> windows_;
    QStringList titles_;
};

bool WaitUntil(const std::function<bool()>& condition, std::chrono::milliseconds timeout = std::chrono::seconds(5));
// Runs a program to its end while the caller's events are served; its standard output.
QByteArray RunPumping(const QString& program, const QStringList& arguments, int* status = nullptr,
                      const QByteArray& input = {});
// The bitmap's pixel as 0xRRGGBB.
uint32_t Rgb(const TBitmap& bitmap, int x, int y);
// How many pixels of the bitmap differ from the picture's at the offset (pixels outside it count).
long DifferentPixels(const TBitmap& bitmap, const QImage& picture, int left = 0, int top = 0);
// How many pixels of each output differ between a desktop picture and the outputs' own pictures
// (GrimOutputs), each output's pixel compared with the desktop's pixel at its top-left corner.
long DifferentFromOutputs(const TBitmap& desktop, const std::vector<QImage>& outputs);
