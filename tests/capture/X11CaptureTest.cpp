#include "X11TestSupport.h"
#include "capture/OxaCapture.h"
#include "capture/X11CapturePlatform.h"
#include "framework/Stream.h"
#include "tests/support/TestData.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QImage>
#include <QStandardPaths>
#include <QWidget>
#include <QWindow>

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <unistd.h>

// The X11 platform on the display that scripts/test starts (Xvfb 1920 x 1080 x 24 with openbox).

namespace fs = std::filesystem;

namespace {

bool Installed(const char* program)
{
    return !QStandardPaths::findExecutable(program).isEmpty();
}

// A PPM (P6, maxval 255) as written by ImageMagick, as display-format pixels.
bool ParsePpm(const QByteArray& bytes, TBitmap& bitmap)
{
    int width = 0, height = 0, maxval = 0, consumed = 0;
    if (std::sscanf(bytes.constData(), "P6 %d %d %d%n", &width, &height, &maxval, &consumed) != 3 || maxval != 255)
        return false;
    const qsizetype start = consumed + 1;
    if (width <= 0 || height <= 0 || bytes.size() - start < qsizetype{3} * width * height)
        return false;
    bitmap.SetSize(width, height);
    const auto* p = reinterpret_cast<const uint8_t*>(bytes.constData()) + start;
    for (int y = 0; y < height; ++y) {
        uint8_t* row = bitmap.ScanLine(y);
        for (int x = 0; x < width; ++x, p += 3) {
            row[4 * x] = p[2];
            row[4 * x + 1] = p[1];
            row[4 * x + 2] = p[0];
        }
    }
    return true;
}

void ExpectSamePixels(const TBitmap& actual, const TBitmap& expected)
{
    ASSERT_EQ(actual.Width(), expected.Width());
    ASSERT_EQ(actual.Height(), expected.Height());
    long different = 0;
    int firstX = -1, firstY = -1;
    for (int y = 0; y < actual.Height(); ++y) {
        for (int x = 0; x < actual.Width(); ++x) {
            if (Rgb(actual, x, y) != Rgb(expected, x, y)) {
                if (different++ == 0)
                    firstX = x, firstY = y;
            }
        }
    }
    EXPECT_EQ(different, 0) << "first difference at " << firstX << ", " << firstY;
}

// The part of a bitmap inside the rectangle.
TBitmap Crop(const TBitmap& bitmap, const TRect& rect)
{
    TBitmap part;
    part.SetSize(rect.Width(), rect.Height());
    for (int y = 0; y < rect.Height(); ++y)
        std::copy_n(bitmap.ScanLine(rect.Top + y) + 4 * rect.Left, 4 * rect.Width(), part.ScanLine(y));
    return part;
}

class PickOverlay : public IObjectOverlay {
public:
    explicit PickOverlay(std::function<void()> pick) : pick_(std::move(pick)) {}
    int ShowModal() override
    {
        pick_();
        return mrOk;
    }

private:
    std::function<void()> pick_;
};

class PickOverlays : public ICaptureOverlays {
public:
    std::function<void()> pick;
    std::unique_ptr<IObjectOverlay> CreateObjectOverlay() override { return std::make_unique<PickOverlay>(pick); }
    std::unique_ptr<IAreaOverlay> CreateAreaOverlay() override { return nullptr; }
};

// A top-level Qt window filled with one colour.
std::unique_ptr<QWidget> ColouredWidget(uint32_t rgb, const QRect& geometry, Qt::WindowFlags flags = {})
{
    auto widget = std::make_unique<QWidget>(nullptr, flags);
    widget->setAutoFillBackground(true);
    QPalette palette = widget->palette();
    palette.setColor(QPalette::Window, QColor::fromRgb(rgb));
    widget->setPalette(palette);
    widget->setGeometry(geometry);
    return widget;
}

class X11CaptureTest : public testing::Test {
protected:
    void SetUp() override
    {
        if (!X11TestDisplay::Available())
            GTEST_SKIP() << "no X display (DISPLAY is not set); scripts/test runs these tests under Xvfb and openbox";
        display_ = std::make_unique<X11TestDisplay>();
        platform_ = std::make_unique<X11CapturePlatform>();
        capture_ = std::make_unique<TOxaScreenCapture>(*platform_, &overlays_);
        capture_->SetDelay(0);
        capture_->SetMinimize(false);
        capture_->SetAuto(false);
    }

    bool WindowManager() { return platform_->WindowManagerRunning(); }

    // The desktop as it is, whatever the settings of capture_.
    std::unique_ptr<TBitmap> PlainDesktop()
    {
        TOxaScreenCapture plain(*platform_);
        plain.SetDelay(0);
        plain.SetMinimize(false);
        plain.SetAuto(false);
        return plain.CaptureDesktop();
    }

    // Shows the widget and waits until the screen shows all of it.
    bool ShowAndWaitUntilPainted(QWidget& widget, uint32_t rgb, long pixels)
    {
        widget.show();
        return WaitUntil([&] {
            const std::unique_ptr<TBitmap> desktop = PlainDesktop();
            return CountColor(*desktop, rgb, {0, 0, desktop->Width(), desktop->Height()}) == pixels;
        });
    }

    std::unique_ptr<X11TestDisplay> display_;
    std::unique_ptr<X11CapturePlatform> platform_;
    PickOverlays overlays_;
    std::unique_ptr<TOxaScreenCapture> capture_;
};

TEST_F(X11CaptureTest, DesktopPixelsAreExact)
{
    const uint32_t colours[] = {0x123456, 0xFF0000, 0x00FF7F, 0xABCDEF};
    const TRect rects[] = {{100, 100, 300, 250}, {1500, 800, 1700, 1000}, {250, 200, 400, 300}, {1850, 1000, 2050, 1200}};
    for (int i = 0; i < 4; ++i)
        display_->CreateWindow(rects[i], colours[i], true);

    for (const bool sharedMemory : {true, false}) {
        SCOPED_TRACE(sharedMemory ? "MIT-SHM" : "xcb_get_image");
        platform_->SetSharedMemoryAllowed(sharedMemory);
        const std::unique_ptr<TBitmap> desktop = capture_->CaptureDesktop();
        EXPECT_EQ(platform_->LastGrabUsedSharedMemory(), sharedMemory);
        ASSERT_EQ(desktop->Width(), display_->Screen()->width_in_pixels);
        ASSERT_EQ(desktop->Height(), display_->Screen()->height_in_pixels);
        EXPECT_EQ(desktop->PixelFormat(), pfDevice);
        // The first window is partly covered by the third; the fourth reaches beyond the screen.
        EXPECT_EQ(CountColor(*desktop, colours[0], rects[0]), 200L * 150 - 50 * 50);
        EXPECT_EQ(CountColor(*desktop, colours[1], rects[1]), 200L * 200);
        EXPECT_EQ(CountColor(*desktop, colours[2], rects[2]), 150L * 100);
        EXPECT_EQ(CountColor(*desktop, colours[3], {0, 0, 1920, 1080}), 70L * 80);
        EXPECT_EQ(Rgb(*desktop, 100, 100), colours[0]);
        EXPECT_EQ(Rgb(*desktop, 399, 299), colours[2]);
        EXPECT_NE(Rgb(*desktop, 400, 299), colours[2]);
        EXPECT_NE(Rgb(*desktop, 99, 100), colours[0]);
        EXPECT_EQ(desktop->ScanLine(120)[4 * 120 + 3], 0) << "the unused byte is cleared";
    }
    EXPECT_EQ(platform_->OpenContexts(), 0);
}

TEST_F(X11CaptureTest, DesktopMatchesImageMagick)
{
    if (!Installed("import"))
        GTEST_SKIP() << "ImageMagick's import is not installed";
    display_->CreateWindow({10, 20, 400, 300}, 0x8040C0, true);
    display_->CreateWindow({900, 500, 1000, 1080}, 0x0102FE, true);
    const std::unique_ptr<TBitmap> desktop = capture_->CaptureDesktop();
    int status = 0;
    const QByteArray ppm = RunPumping("import", {"-window", "root", "-depth", "8", "ppm:-"}, &status);
    ASSERT_EQ(status, 0);
    TBitmap reference;
    ASSERT_TRUE(ParsePpm(ppm, reference));
    ExpectSamePixels(*desktop, reference);
}

TEST_F(X11CaptureTest, ActiveWindowIncludesTheFrame)
{
    if (!WindowManager())
        GTEST_SKIP() << "no window manager: no frames";
    const uint32_t colour = 0x3366CC;
    const xcb_window_t window = display_->CreateWindow({400, 300, 700, 500}, colour, false);
    ASSERT_TRUE(display_->WaitUntilManagedAndActive(window));
    EXPECT_EQ(platform_->GetForegroundWindow(), window);

    const std::unique_ptr<TBitmap> image = capture_->CaptureActiveWindow();
    // The frame as the window manager announces it, independent of how the platform finds it.
    const TRect inside = display_->InsideRect(window);
    const std::vector<uint32_t> extents = display_->FrameExtents(window);
    ASSERT_EQ(extents.size(), 4u);
    const TRect outer{inside.Left - int(extents[0]), inside.Top - int(extents[2]), inside.Right + int(extents[1]),
                      inside.Bottom + int(extents[3])};
    EXPECT_GT(extents[2], 0u) << "openbox draws a title bar";
    ASSERT_EQ(image->Width(), outer.Width());
    ASSERT_EQ(image->Height(), outer.Height());
    EXPECT_EQ(platform_->GetWindowRect(window), outer);
    EXPECT_EQ(CountColor(*image, colour, {int(extents[0]), int(extents[2]), int(extents[0]) + 300, int(extents[2]) + 200}),
              300L * 200);

    // The same pixels as the desktop shows there.
    const std::unique_ptr<TBitmap> desktop = capture_->CaptureDesktop();
    ExpectSamePixels(*image, Crop(*desktop, outer));
}

TEST_F(X11CaptureTest, WindowFromPointFindsControlsFramesAndTheDesktop)
{
    if (!WindowManager())
        GTEST_SKIP() << "no window manager: no frames";
    const xcb_window_t window = display_->CreateWindow({300, 200, 700, 500}, 0x204060, false);
    ASSERT_TRUE(display_->WaitUntilManagedAndActive(window));
    const xcb_window_t control = display_->CreateWindow({50, 40, 150, 90}, 0xE0C0A0, true, window);
    const TRect inside = display_->InsideRect(window);
    const TRect controlRect{inside.Left + 50, inside.Top + 40, inside.Left + 150, inside.Top + 90};
    const std::vector<uint32_t> extents = display_->FrameExtents(window);
    ASSERT_EQ(extents.size(), 4u);

    EXPECT_EQ(platform_->WindowFromPoint({controlRect.Left + 3, controlRect.Top + 3}), control);
    EXPECT_EQ(platform_->GetWindowRect(control), controlRect);
    EXPECT_EQ(platform_->WindowFromPoint({inside.Left + 5, inside.Top + 5}), window);
    // The title bar belongs to the window it carries.
    EXPECT_EQ(platform_->WindowFromPoint({inside.Left + 100, inside.Top - int(extents[2]) / 2}), window);
    const HWND desktop = platform_->GetDesktopWindow();
    EXPECT_EQ(platform_->WindowFromPoint({1910, 1070}), desktop);
    EXPECT_EQ(platform_->WindowFromPoint({-5, 20}), desktop);
    EXPECT_EQ(platform_->WindowFromPoint({5000, 20}), desktop);

    // The object capture of the control, picked where the mouse is after the overlay.
    overlays_.pick = [&] { display_->WarpPointer({controlRect.Left + 10, controlRect.Top + 10}); };
    const std::unique_ptr<TBitmap> object = capture_->CaptureObject();
    ASSERT_TRUE(object);
    ASSERT_EQ(object->Width(), 100);
    ASSERT_EQ(object->Height(), 50);
    EXPECT_EQ(CountColor(*object, 0xE0C0A0, {0, 0, 100, 50}), 100L * 50);
}

TEST_F(X11CaptureTest, FramesDrawnAroundAWindowAreAnnounced)
{
    // A window manager that does not put windows into frames of their own says how wide its frame is.
    const xcb_window_t window = display_->CreateWindow({200, 100, 300, 160}, 0x999999, true);
    const uint32_t extents[] = {4, 5, 20, 6};  // left, right, top, bottom
    xcb_intern_atom_reply_t* atom = xcb_intern_atom_reply(
        display_->Connection(), xcb_intern_atom(display_->Connection(), 0, 18, "_NET_FRAME_EXTENTS"), nullptr);
    ASSERT_TRUE(atom);
    xcb_change_property(display_->Connection(), XCB_PROP_MODE_REPLACE, window, atom->atom, XCB_ATOM_CARDINAL, 32, 4,
                        extents);
    std::free(atom);
    display_->Sync();
    EXPECT_EQ(platform_->GetWindowRect(window), (TRect{196, 80, 305, 166}));
    // Absurd widths are bounded rather than trusted.
    const uint32_t absurd[] = {0xFFFFFFFF, 0, 0, 0};
    atom = xcb_intern_atom_reply(display_->Connection(),
                                 xcb_intern_atom(display_->Connection(), 0, 18, "_NET_FRAME_EXTENTS"), nullptr);
    xcb_change_property(display_->Connection(), XCB_PROP_MODE_REPLACE, window, atom->atom, XCB_ATOM_CARDINAL, 32, 4,
                        absurd);
    std::free(atom);
    display_->Sync();
    EXPECT_EQ(platform_->GetWindowRect(window), (TRect{200 - 4096, 100, 300, 160}));
}

TEST_F(X11CaptureTest, WindowsDrawingTheirOwnDecorationsWithoutTheirShadow)
{
    if (!WindowManager())
        GTEST_SKIP() << "no window manager";
    // As GTK draws a dialog with client-side decorations: no frame from the window manager, and a
    // transparent margin for the shadow around what the user sees as the window.
    const uint32_t margin[] = {20, 24, 12, 30};  // left, right, top, bottom
    const uint32_t noDecorations[] = {2, 0, 0, 0, 0};  // _MOTIF_WM_HINTS: decorations given, none
    const TRect outer{400, 300, 700, 500};
    const xcb_window_t window = display_->CreateWindow(
        outer, 0x000000, false, 0,
        {{"_MOTIF_WM_HINTS", display_->Atom("_MOTIF_WM_HINTS"), {noDecorations, noDecorations + 5}},
         {"_GTK_FRAME_EXTENTS", XCB_ATOM_CARDINAL, {margin, margin + 4}}});
    const uint32_t colour = 0x5B8C2A;
    const xcb_window_t shown =
        display_->CreateWindow({20, 12, 300 - 24, 200 - 30}, colour, true, window);
    ASSERT_TRUE(display_->WaitUntilManagedAndActive(window));
    const TRect visible = display_->InsideRect(shown);

    EXPECT_EQ(platform_->GetWindowRect(window), visible);
    const std::unique_ptr<TBitmap> image = capture_->CaptureActiveWindow();
    ASSERT_EQ(image->Width(), visible.Width());
    ASSERT_EQ(image->Height(), visible.Height());
    EXPECT_EQ(CountColor(*image, colour, {0, 0, visible.Width(), visible.Height()}), long{visible.Width()} * visible.Height());

    // A margin that leaves nothing is not believed.
    const uint32_t absurd[] = {300, 0, 0, 0};
    xcb_change_property(display_->Connection(), XCB_PROP_MODE_REPLACE, window, display_->Atom("_GTK_FRAME_EXTENTS"),
                        XCB_ATOM_CARDINAL, 32, 4, absurd);
    display_->Sync();
    EXPECT_EQ(platform_->GetWindowRect(window).Width(), 300);
}

TEST_F(X11CaptureTest, VanishedWindowsAreHarmless)
{
    const xcb_window_t window = display_->CreateWindow({10, 10, 60, 60}, 0x00FF00, true);
    display_->Destroy(window);
    EXPECT_EQ(platform_->GetWindowRect(window), TRect{});
    const HDC dc = platform_->GetWindowDC(window);
    TBitmap bitmap;
    bitmap.SetSize(4, 4);
    platform_->BitBlt(bitmap, dc, 0, 0);
    EXPECT_EQ(platform_->ReleaseDC(window, dc), 1);
    EXPECT_EQ(platform_->ReleaseDC(window, dc), 0) << "released once only";
    EXPECT_EQ(platform_->GetWindowRect(0x7FFFFFF0), TRect{});
    EXPECT_EQ(platform_->WindowFromPoint({30, 30}), platform_->GetDesktopWindow());
    // The connection survived the errors.
    EXPECT_EQ(platform_->GetScreenSize(), (TPoint{display_->Screen()->width_in_pixels, display_->Screen()->height_in_pixels}));
}

TEST_F(X11CaptureTest, OwnWindowsLeaveTheScreenOnlyWithMinimize)
{
    if (!X11TestDisplay::QtOnX11())
        GTEST_SKIP() << "Qt does not run on the X display here";
    const uint32_t magenta = 0xFF00FF;
    const auto widget = ColouredWidget(magenta, QRect(600, 400, 320, 240));
    ASSERT_TRUE(ShowAndWaitUntilPainted(*widget, magenta, 320L * 240));
    widget->activateWindow();
    const HWND id = static_cast<HWND>(widget->winId());

    // Present without minimising, in the desktop and as the active window (frame included).
    std::unique_ptr<TBitmap> desktop = capture_->CaptureDesktop();
    EXPECT_EQ(CountColor(*desktop, magenta, {0, 0, 1920, 1080}), 320L * 240);
    if (WindowManager()) {
        ASSERT_TRUE(WaitUntil([&] { return platform_->GetForegroundWindow() == id; }));
        const std::unique_ptr<TBitmap> active = capture_->CaptureActiveWindow();
        EXPECT_EQ(CountColor(*active, magenta, {0, 0, active->Width(), active->Height()}), 320L * 240);
        EXPECT_GT(active->Height(), 240) << "the title bar is part of the window";
    }

    // Absent while minimised, back afterwards; gone from the screen before the wait, however short.
    capture_->SetMinimize(true);
    for (const int delay : {0, 150}) {
        SCOPED_TRACE("Delay " + std::to_string(delay));
        capture_->SetDelay(delay);
        desktop = capture_->CaptureDesktop();
        EXPECT_EQ(CountColor(*desktop, magenta, {0, 0, 1920, 1080}), 0);
        EXPECT_FALSE(platform_->IsApplicationMinimized());
        EXPECT_TRUE(WaitUntil([&] { return platform_->IsWindowShown(id) && !widget->isMinimized(); }));
        EXPECT_TRUE(widget->isVisible());
        ASSERT_TRUE(WaitUntil([&] {
            const std::unique_ptr<TBitmap> back = platform_->IsWindowShown(id) ? PlainDesktop() : nullptr;
            return back && CountColor(*back, magenta, {0, 0, 1920, 1080}) == 320L * 240;
        })) << "the window shows again";
    }

    // With Minimize True the active window is not ours.
    if (WindowManager()) {
        const std::unique_ptr<TBitmap> active = capture_->CaptureActiveWindow();
        EXPECT_EQ(CountColor(*active, magenta, {0, 0, active->Width(), active->Height()}), 0);
        EXPECT_TRUE(WaitUntil([&] { return platform_->IsWindowShown(id); }));
    }
}

TEST_F(X11CaptureTest, AnApplicationMinimisedBeforeComesBack)
{
    if (!X11TestDisplay::QtOnX11() || !WindowManager())
        GTEST_SKIP() << "needs Qt on the X display and a window manager";
    const uint32_t colour = 0x00FFFF;
    const auto widget = ColouredWidget(colour, QRect(200, 150, 200, 100));
    ASSERT_TRUE(ShowAndWaitUntilPainted(*widget, colour, 200L * 100));
    const HWND id = static_cast<HWND>(widget->winId());
    widget->showMinimized();
    ASSERT_TRUE(WaitUntil([&] { return !platform_->IsWindowShown(id) && widget->isMinimized(); }));
    EXPECT_TRUE(platform_->IsApplicationMinimized());

    capture_->SetMinimize(true);
    const std::unique_ptr<TBitmap> desktop = capture_->CaptureDesktop();
    EXPECT_EQ(CountColor(*desktop, colour, {0, 0, 1920, 1080}), 0);
    EXPECT_TRUE(WaitUntil([&] { return platform_->IsWindowShown(id) && !widget->isMinimized(); }));
}

TEST_F(X11CaptureTest, ClipboardHoldsExactlyTheCapture)
{
    if (!X11TestDisplay::QtOnX11() || !Installed("xclip"))
        GTEST_SKIP() << "needs Qt on the X display and xclip";
    display_->CreateWindow({0, 0, 64, 32}, 0xC08040, true);
    display_->CreateWindow({64, 0, 128, 32}, 0x10F020, true);

    // Auto False leaves the clipboard alone.
    QGuiApplication::clipboard()->setText("before");
    capture_->CaptureDesktop();
    EXPECT_EQ(RunPumping("xclip", {"-selection", "clipboard", "-o"}), QByteArray("before"));

    capture_->SetAuto(true);
    const std::unique_ptr<TBitmap> desktop = capture_->CaptureDesktop();
    const QByteArray targets = RunPumping("xclip", {"-selection", "clipboard", "-o", "-t", "TARGETS"});
    EXPECT_TRUE(targets.contains("image/png")) << targets.constData();
    EXPECT_TRUE(targets.contains("image/bmp")) << targets.constData();
    for (const char* format : {"image/png", "image/bmp"}) {
        SCOPED_TRACE(format);
        int status = -1;
        const QByteArray bytes = RunPumping("xclip", {"-selection", "clipboard", "-o", "-t", format}, &status);
        ASSERT_EQ(status, 0);
        const QImage image = QImage::fromData(bytes).convertToFormat(QImage::Format_RGB32);
        ASSERT_EQ(image.width(), desktop->Width());
        ASSERT_EQ(image.height(), desktop->Height());
        TBitmap pasted;
        pasted.SetSize(image.width(), image.height());
        for (int y = 0; y < image.height(); ++y)
            std::copy_n(image.constScanLine(y), 4 * image.width(), pasted.ScanLine(y));
        for (int y = 0; y < pasted.Height(); ++y)
            for (int x = 0; x < pasted.Width(); ++x)
                pasted.ScanLine(y)[4 * x + 3] = 0;
        ExpectSamePixels(pasted, *desktop);
    }
}

TEST_F(X11CaptureTest, CommandLineCapture)
{
    const fs::path dir = fs::temp_directory_path() / ("kavrel-capture-" + std::to_string(::getpid()));
    fs::create_directories(dir);
    display_->CreateWindow({500, 500, 600, 560}, 0x5A6B7C, true);
    const QString cli = QString::fromUtf8(KAVREL_CLI_PATH);

    int status = -1;
    const QString pam = QString::fromStdString((dir / "desktop.pam").string());
    const QByteArray output = RunPumping(cli, {"capture", "desktop", "-o", pam, "--no-clipboard"}, &status);
    EXPECT_EQ(status, 0);
    EXPECT_EQ(output, pam.toUtf8() + ": 1920x1080\n");
    const RgbaImage file = ReadPam(pam.toStdString());
    const std::unique_ptr<TBitmap> desktop = capture_->CaptureDesktop();
    ASSERT_EQ(file.width, desktop->Width());
    ASSERT_EQ(file.height, desktop->Height());
    long different = 0;
    for (int y = 0; y < file.height; ++y)
        for (int x = 0; x < file.width; ++x) {
            const uint8_t* p = file.At(x, y);
            different += (uint32_t{p[0]} << 16 | uint32_t{p[1]} << 8 | p[2]) != Rgb(*desktop, x, y);
        }
    EXPECT_EQ(different, 0);

    // The active window to a bitmap file, and to the clipboard, which outlives the command.
    if (WindowManager() && Installed("xclip")) {
        const xcb_window_t window = display_->CreateWindow({700, 200, 900, 300}, 0x446688, false);
        ASSERT_TRUE(display_->WaitUntilManagedAndActive(window));
        const QString bmp = QString::fromStdString((dir / "active.bmp").string());
        RunPumping(cli, {"capture", "active", "-o", bmp, "--delay", "10"}, &status);
        EXPECT_EQ(status, 0);
        TBitmap saved;
        TFileStream stream(bmp.toStdString(), TFileStream::Mode::OpenRead);
        saved.LoadStream(stream);
        EXPECT_EQ(saved.Width(), platform_->GetWindowRect(window).Width());
        EXPECT_EQ(saved.Height(), platform_->GetWindowRect(window).Height());
        const QImage pasted = QImage::fromData(RunPumping("xclip", {"-selection", "clipboard", "-o", "-t", "image/png"}));
        ASSERT_EQ(pasted.width(), saved.Width());
        ASSERT_EQ(pasted.height(), saved.Height());
        for (int y = 0; y < saved.Height(); y += 7)
            for (int x = 0; x < saved.Width(); x += 5)
                ASSERT_EQ(pasted.pixel(x, y) & 0xFFFFFF, Rgb(saved, x, y)) << x << ", " << y;
        // Another program takes the clipboard; the command's clipboard server ends.
        RunPumping("sh", {"-c", "printf taken | xclip -selection clipboard -i"});
        EXPECT_TRUE(WaitUntil([&] { return RunPumping("xclip", {"-selection", "clipboard", "-o"}) == "taken"; }));
    }

    // Usage errors end with status 2, a failure with 1; neither writes a file.
    const QString never = QString::fromStdString((dir / "never.pam").string());
    const std::vector<QStringList> wrong = { { "capture" }, { "capture", "window", "-o", never },
        { "capture", "desktop" }, { "capture", "desktop", "-o" }, { "capture", "desktop", "-o", "x.gif" },
        { "capture", "desktop", "-o", never, "--delay", "-1" },
        { "capture", "desktop", "-o", never, "--delay", "soon" }, { "capture", "desktop", "-o", never, "--bogus" },
        { "capture", "area", "-o", never }, { "capture", "area", "--geometry", "10x10", "-o", never },
        { "capture", "desktop", "--geometry", "10x10+0+0", "-o", never } };
    for (const QStringList& args : wrong) {
        RunPumping(cli, args, &status);
        EXPECT_EQ(status, 2) << args.join(' ').toStdString();
    }
    RunPumping(cli, { "capture", "area", "--geometry", "10x10+1920+0", "-o", never, "--no-clipboard" }, &status);
    EXPECT_EQ(status, 1) << "an area beside the screen";
    EXPECT_FALSE(fs::exists(never.toStdString()));
    fs::remove_all(dir);
}

// kavrel-cli capture area --geometry against ImageMagick's crop of the same screen, written as PNG.
TEST_F(X11CaptureTest, CommandLineAreaMatchesImageMagickCrop)
{
    if (!Installed("import"))
        GTEST_SKIP() << "ImageMagick's import is not installed";
    const fs::path dir = fs::temp_directory_path() / ("kavrel-area-" + std::to_string(::getpid()));
    fs::create_directories(dir);
    display_->CreateWindow({ 0, 80, 200, 300 }, 0x8040C0, true);
    display_->CreateWindow({ 120, 150, 420, 260 }, 0x10E070, true);
    display_->CreateWindow({ 1800, 1000, 1920, 1080 }, 0xFFEE01, true);
    const QString png = QString::fromStdString((dir / "area.png").string());
    // Inside the screen, over its top-left corner and over its bottom-right corner.
    for (const QString geometry : { "300x200+40+100", "300x200+-50+100", "300x200+1800+950" }) {
        SCOPED_TRACE(geometry.toStdString());
        int status = -1;
        RunPumping(QString::fromUtf8(KAVREL_CLI_PATH),
            { "capture", "area", "--geometry", geometry, "-o", png, "--no-clipboard" }, &status);
        ASSERT_EQ(status, 0);
        const QByteArray ppm = RunPumping(
            "import", { "-window", "root", "-crop", geometry, "+repage", "-depth", "8", "ppm:-" }, &status);
        ASSERT_EQ(status, 0);
        TBitmap reference;
        ASSERT_TRUE(ParsePpm(ppm, reference));

        const QImage image = QImage(png).convertToFormat(QImage::Format_RGB32);
        TBitmap written;
        written.SetSize(image.width(), image.height());
        for (int y = 0; y < image.height(); ++y)
            std::memcpy(written.ScanLine(y), image.constScanLine(y), static_cast<size_t>(image.width()) * 4);
        ExpectSamePixels(written, reference);
    }
    fs::remove_all(dir);
}

}  // namespace
