// The image window: scroll ranges and their bars, where the picture is drawn, what shows beyond it,
// zoom, and release on close; the pure geometry behind the window commands and the zoom.
#include "AppTestSupport.h"
#include "app/Childwin.h"
#include "app/ImageControl.h"
#include "app/ImageZoom.h"
#include "app/ScrollBox.h"
#include "app/WindowLayout.h"
#include "framework/Bitmap.h"

#include <QMdiArea>
#include <QPointer>
#include <QScrollBar>
#include <QTest>
#include <QWheelEvent>

namespace {

// A picture whose every pixel says where it is: blue = x, green = y, red = 0x40.
TBitmap PositionBitmap(int width, int height)
{
    TBitmap bitmap;
    bitmap.SetPixelFormat(pf24bit);
    bitmap.SetSize(width, height);
    for (int y = 0; y < height; ++y) {
        uint8_t* row = bitmap.ScanLine(y);
        for (int x = 0; x < width; ++x) {
            row[3 * x] = static_cast<uint8_t>(x);
            row[3 * x + 1] = static_cast<uint8_t>(y);
            row[3 * x + 2] = 0x40;
        }
    }
    return bitmap;
}

} // namespace

class ImageWindowTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { InitAppTests(); }

    void scrollBarLayoutRule_data()
    {
        QTest::addColumn<QSize>("outer");
        QTest::addColumn<int>("hRange");
        QTest::addColumn<int>("vRange");
        QTest::addColumn<bool>("hBar");
        QTest::addColumn<bool>("vBar");
        QTest::addColumn<int>("hMax");
        QTest::addColumn<int>("vMax");
        // Bars 16 thick.
        QTest::newRow("fits") << QSize(300, 200) << 300 << 200 << false << false << 0 << 0;
        QTest::newRow("automatic, no ranges") << QSize(300, 200) << 0 << 0 << false << false << 0 << 0;
        QTest::newRow("both larger") << QSize(300, 200) << 900 << 700 << true << true << 900 - 284 << 700 - 184;
        QTest::newRow("wide only") << QSize(300, 200) << 900 << 100 << true << false << 600 << 0;
        // The horizontal bar takes 16 rows, so a 190-row picture no longer fits a 200-row box.
        QTest::newRow("one bar brings the other") << QSize(300, 200) << 900 << 190 << true << true << 616 << 6;
        QTest::newRow("exactly the client after a bar") << QSize(300, 200) << 900 << 184 << true << false << 600 << 0;
        QTest::newRow("tall only") << QSize(300, 200) << 290 << 500 << true << true << 6 << 316;
    }

    void scrollBarLayoutRule()
    {
        QFETCH(QSize, outer);
        QFETCH(int, hRange);
        QFETCH(int, vRange);
        QFETCH(bool, hBar);
        QFETCH(bool, vBar);
        QFETCH(int, hMax);
        QFETCH(int, vMax);
        const ScrollBarLayout layout = ComputeScrollBarLayout(outer, hRange, vRange, 16);
        QCOMPARE(layout.horizontal, hBar);
        QCOMPARE(layout.vertical, vBar);
        QCOMPARE(layout.horizontalMax, hMax);
        QCOMPARE(layout.verticalMax, vMax);
        QCOMPARE(layout.client, QSize(outer.width() - (vBar ? 16 : 0), outer.height() - (hBar ? 16 : 0)));
    }

    void automaticRangingShowsNoBars()
    {
        TMDIChild window;
        window.resize(300, 240);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        QVERIFY(window.ScrollBox->AutoRange());
        const TBitmap big = PositionBitmap(800, 600);
        window.Image->AssignGraphic(&big);
        QVERIFY(!window.ScrollBox->horizontalScrollBar()->isVisible());
        QVERIFY(!window.ScrollBox->verticalScrollBar()->isVisible());
        // The picture control fills the box; the picture is clipped at its edges.
        QCOMPARE(window.Image->geometry(), window.ScrollBox->viewport()->rect());
    }

    void rangesScrollThePicture()
    {
        TMDIChild window;
        window.resize(320, 260);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        const TBitmap big = PositionBitmap(200, 150);
        window.Image->AssignGraphic(&big);
        window.ScrollBox->SetHorzRange(700);
        window.ScrollBox->SetVertRange(500);
        QVERIFY(!window.ScrollBox->AutoRange());
        QScrollBar* h = window.ScrollBox->horizontalScrollBar();
        QScrollBar* v = window.ScrollBox->verticalScrollBar();
        QVERIFY(h->isVisible());
        QVERIFY(v->isVisible());
        const QSize client = window.ScrollBox->viewport()->size();
        QCOMPARE(h->maximum(), 700 - client.width());
        QCOMPARE(v->maximum(), 500 - client.height());
        QCOMPARE(window.Image->size(), QSize(700, 500));

        h->setValue(37);
        v->setValue(11);
        QCOMPARE(window.Image->pos(), QPoint(-37, -11));
        // What the box shows at its top-left is picture pixel (37, 11), drawn unscaled.
        const QImage shown = window.ScrollBox->viewport()->grab().toImage();
        QCOMPARE(shown.pixelColor(0, 0), QColor(0x40, 11, 37));
        QCOMPARE(shown.pixelColor(5, 3), QColor(0x40, 14, 42));
    }

    void largerWindowDropsBarsAndShowsBackground()
    {
        TMDIChild window;
        window.resize(200, 160);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        const TBitmap picture = PositionBitmap(240, 180);
        window.Image->AssignGraphic(&picture);
        window.ScrollBox->SetHorzRange(240);
        window.ScrollBox->SetVertRange(180);
        QVERIFY(window.ScrollBox->horizontalScrollBar()->isVisible());
        window.ScrollBox->horizontalScrollBar()->setValue(20);

        window.resize(500, 400);
        QTest::qWait(20);
        QVERIFY(!window.ScrollBox->horizontalScrollBar()->isVisible());
        QVERIFY(!window.ScrollBox->verticalScrollBar()->isVisible());
        QCOMPARE(window.Image->pos(), QPoint(0, 0));
        QCOMPARE(window.Image->size(), window.ScrollBox->viewport()->size());
        const QImage shown = window.ScrollBox->viewport()->grab().toImage();
        QCOMPARE(shown.pixelColor(239, 179), QColor(0x40, 179, 239));
        const QColor background = window.ScrollBox->viewport()->palette().color(QPalette::Window);
        QCOMPARE(shown.pixelColor(260, 10), background);
        QCOMPARE(shown.pixelColor(10, 200), background);
    }

    void ctrlWheelZoomsAboutTheMouse()
    {
        TMDIChild window;
        window.setWindowTitle(QStringLiteral("shot"));
        window.resize(320, 260);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        const TBitmap picture = PositionBitmap(400, 300);
        window.Image->AssignGraphic(&picture);
        window.ScrollBox->SetHorzRange(400);
        window.ScrollBox->SetVertRange(300);
        window.ScrollBox->horizontalScrollBar()->setValue(37);
        window.ScrollBox->verticalScrollBar()->setValue(11);
        QWidget* view = window.ScrollBox->viewport();
        const QPoint mouse(100, 80);
        const QColor underMouse = view->grab().toImage().pixelColor(mouse);
        QCOMPARE(underMouse, QColor(0x40, 91, 137));

        // Two notches at once, as a fast wheel sends them; the event reaches the picture first.
        auto turn = [&](int delta, Qt::KeyboardModifiers modifiers, QWidget* target) {
            const QPointF at = target->mapFrom(view, QPointF(mouse));
            QWheelEvent wheel(at, view->mapToGlobal(QPointF(mouse)), QPoint(), QPoint(0, delta), Qt::NoButton,
                modifiers, Qt::NoScrollPhase, false);
            QCoreApplication::sendEvent(target, &wheel);
        };
        turn(2 * 120, Qt::ControlModifier, window.Image);
        QCOMPARE(window.Zoom(), 2.0);
        QCOMPARE(window.windowTitle(), QStringLiteral("shot (200%)"));
        QCOMPARE(window.ScrollBox->HorzRange(), 800);
        QCOMPARE(window.ScrollBox->VertRange(), 600);
        // The same picture pixel is under the mouse, drawn as a sharp two-by-two block.
        QImage shown = view->grab().toImage();
        QCOMPARE(shown.pixelColor(mouse), underMouse);
        const QPoint block((window.ScrollBox->HorzPosition() + mouse.x()) / 2 * 2 - window.ScrollBox->HorzPosition(),
            (window.ScrollBox->VertPosition() + mouse.y()) / 2 * 2 - window.ScrollBox->VertPosition());
        for (const QPoint& d : { QPoint(0, 0), QPoint(1, 0), QPoint(0, 1), QPoint(1, 1) })
            QCOMPARE(shown.pixelColor(block + d), underMouse);

        // Without Ctrl the wheel scrolls; back down to 100 % the title is the plain one again.
        const int before = window.ScrollBox->VertPosition();
        turn(-120, Qt::NoModifier, view);
        QCOMPARE(window.Zoom(), 2.0);
        QVERIFY(window.ScrollBox->VertPosition() > before);
        turn(2 * -120, Qt::ControlModifier, view);
        QCOMPARE(window.Zoom(), 1.0);
        QCOMPARE(window.windowTitle(), QStringLiteral("shot"));
        QCOMPARE(window.ScrollBox->HorzRange(), 400);
    }

    void reducedPicturesAreSmoothed()
    {
        // One-pixel black and white checks average to grey; sampling would show black or white.
        TBitmap checks;
        checks.SetPixelFormat(pf24bit);
        checks.SetSize(64, 64);
        for (int y = 0; y < 64; ++y)
            for (int x = 0; x < 64; ++x)
                std::fill_n(checks.ScanLine(y) + 3 * x, 3, (x + y) % 2 ? 0xFF : 0x00);
        TMDIChild window;
        window.resize(300, 300);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        window.Image->AssignGraphic(&checks);
        window.SetZoom(0.5);
        const QImage shown = window.ScrollBox->viewport()->grab().toImage();
        QVERIFY2(qAbs(qGray(shown.pixel(10, 10)) - 128) < 16, qPrintable(shown.pixelColor(10, 10).name()));
        // Fitting a small picture magnifies it to the window, no further than 1600 %.
        QCOMPARE(
            window.FitZoom(), std::min(double(window.ScrollBox->width()), double(window.ScrollBox->height())) / 64);
    }

    void stretchedPictureFillsControl()
    {
        TImage image;
        image.resize(40, 20);
        const TBitmap picture = PositionBitmap(4, 2);
        image.AssignGraphic(&picture);
        image.SetStretch(true);
        const QImage shown = image.grab().toImage();
        // Smooth scaling blends neighbours; the corners keep their own pixels' colours.
        QCOMPARE(shown.pixelColor(0, 0), QColor(0x40, 0, 0));
        QCOMPARE(shown.pixelColor(39, 19), QColor(0x40, 1, 3));
    }

    void closeReleasesTheWindowLater()
    {
        QMdiArea area;
        area.resize(400, 300);
        area.show();
        auto* window = new TMDIChild;
        area.addSubWindow(window);
        window->show();
        QCOMPARE(window->windowTitle(), QStringLiteral("MDI Child"));
        TCloseAction action = TCloseAction::caMinimize;
        window->FormClose(window, action);
        QCOMPARE(action, TCloseAction::caFree);

        QPointer<TMDIChild> watch(window);
        QVERIFY(window->close());
        QVERIFY(watch); // released, not yet destroyed
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QVERIFY(!watch);
    }

    void tileRectsShareTheAreaExactly()
    {
        const QRect area(0, 0, 100, 50);
        QList<QRect> rects = TileRects(area, 3, TileMode::Horizontal);
        QCOMPARE(rects, (QList<QRect> { QRect(0, 0, 100, 17), QRect(0, 17, 100, 17), QRect(0, 34, 100, 16) }));
        rects = TileRects(area, 3, TileMode::Vertical);
        QCOMPARE(rects, (QList<QRect> { QRect(0, 0, 34, 50), QRect(34, 0, 33, 50), QRect(67, 0, 33, 50) }));
        QVERIFY(TileRects(area, 0, TileMode::Vertical).isEmpty());
        QVERIFY(TileRects(QRect(), 2, TileMode::Vertical).isEmpty());
        // More windows than rows: none gets a negative size.
        for (const QRect& r : TileRects(QRect(0, 0, 10, 3), 5, TileMode::Horizontal))
            QVERIFY(r.height() >= 0);
    }

    void iconsFillRowsFromTheBottomLeft()
    {
        const QRect area(0, 0, 100, 80);
        const QList<QPoint> positions = ArrangeIconPositions(area, { QSize(40, 20), QSize(40, 20), QSize(40, 20) });
        QCOMPARE(positions, (QList<QPoint> { QPoint(0, 60), QPoint(40, 60), QPoint(0, 40) }));
        // An icon wider than the area still gets a row of its own.
        QCOMPARE(ArrangeIconPositions(area, { QSize(150, 20) }), (QList<QPoint> { QPoint(0, 60) }));
        QCOMPARE(TileArea(area, true, 20), QRect(0, 0, 100, 60));
        QCOMPARE(TileArea(area, false, 20), area);
    }

    void cascadeKeepsEveryTitleInSight()
    {
        const QRect area(0, 0, 560, 400);
        const QSize newWindow(420, 300);
        // One window fills the area; a stack that fits ends at the bottom-right corner.
        QCOMPARE(CascadeRects(area, 1, 25, newWindow), QList<QRect> { area });
        QCOMPARE(CascadeRects(area, 3, 25, newWindow),
            (QList<QRect> { QRect(0, 0, 510, 350), QRect(25, 25, 510, 350), QRect(50, 50, 510, 350) }));
        // Six would be 275 rows high, below a new window's 300: they keep 300 and the sixth starts over.
        const QList<QRect> six = CascadeRects(area, 6, 25, newWindow);
        QCOMPARE(six[4], QRect(100, 100, 435, 300));
        QCOMPARE(six[5], QRect(0, 0, 435, 300));
        for (const QRect& r : CascadeRects(area, 12, 25, newWindow)) {
            QCOMPARE(r.size(), newWindow);
            QVERIFY(area.contains(r));
        }
        // A minimum larger than the area is capped by it.
        QCOMPARE(CascadeRects(QRect(10, 20, 100, 80), 2, 25, QSize(500, 500)),
            (QList<QRect> { QRect(10, 20, 100, 80), QRect(10, 20, 100, 80) }));
        QVERIFY(CascadeRects(area, 0, 25, newWindow).isEmpty());
    }

    void zoomArithmetic()
    {
        QCOMPARE(StepZoom(1.0, 1), 1.5);
        QCOMPARE(StepZoom(1.0, -1), 2.0 / 3.0);
        QCOMPARE(StepZoom(1.0, -4), 0.25);
        QCOMPARE(StepZoom(StepZoom(1.0, -3), 3), 1.0);
        QCOMPARE(StepZoom(1.0, 20), 16.0);
        QCOMPARE(StepZoom(0.25, -1), 0.25);
        // From a fitted scale the next step in either direction; below the smallest step stays.
        QCOMPARE(StepZoom(0.37, 1), 0.5);
        QCOMPARE(StepZoom(0.37, -1), 1.0 / 3.0);
        QCOMPARE(StepZoom(0.1, -1), 0.1);
        QCOMPARE(StepZoom(0.1, 1), 0.25);

        // A 4000 x 3000 photo fits a 400 x 400 view at 10 %, 100 x 300 rows; a 20 x 10 icon at 1600 %.
        QCOMPARE(FitZoom(QSize(4000, 3000), QSize(400, 400)), 0.1);
        QCOMPARE(ZoomedSize(QSize(4000, 3000), 0.1), QSize(400, 300));
        QCOMPARE(FitZoom(QSize(20, 10), QSize(800, 600)), 16.0);
        QCOMPARE(FitZoom(QSize(), QSize(800, 600)), 1.0);
        QCOMPARE(ZoomedSize(QSize(3, 1), 1.0 / 3.0), QSize(1, 1));
        QCOMPARE(ZoomedSize(QSize(1, 1), 0.01), QSize(1, 1));
        QCOMPARE(ZoomPercent(2.0 / 3.0), 67);

        // Zooming about a point and back returns to the same scroll position.
        const QPoint scroll(137, 52);
        const QPointF anchor(90.5, 40);
        QCOMPARE(AnchoredScroll(AnchoredScroll(scroll, anchor, 1.0, 4.0), anchor, 4.0, 1.0), scroll);
        QCOMPARE(AnchoredScroll(QPoint(0, 0), QPointF(0, 0), 1.0, 8.0), QPoint(0, 0));

        // The source pixels of a paint cover the painted area at every scale, and only just.
        for (const double scale : { 0.25, 2.0 / 3.0, 1.5, 3.0, 16.0 }) {
            const QRect target(13, 7, 50, 31);
            const QRect source = SourceRect(target, scale, QSize(1000, 1000), 0);
            const QRectF covered(
                source.x() * scale, source.y() * scale, source.width() * scale, source.height() * scale);
            QVERIFY2(covered.contains(QRectF(target)), qPrintable(QString::number(scale)));
            QVERIFY(covered.width() < target.width() + 2 * scale + 1);
        }
        QCOMPARE(SourceRect(QRect(0, 0, 64, 64), 16.0, QSize(2, 2), 1), QRect(0, 0, 2, 2));
    }

    void newWindowsStepDownAndStartOver()
    {
        const QRect workspace(0, 0, 400, 300);
        QCOMPARE(DefaultChildPlacement(workspace, 0, 20), QRect(0, 0, 300, 225));
        QCOMPARE(DefaultChildPlacement(workspace, 1, 20), QRect(20, 20, 300, 225));
        // 75 rows are free below a window, so four steps fit; the fifth starts over.
        QCOMPARE(DefaultChildPlacement(workspace, 3, 20).topLeft(), QPoint(60, 60));
        QCOMPARE(DefaultChildPlacement(workspace, 4, 20).topLeft(), QPoint(0, 0));
        QVERIFY(workspace.contains(DefaultChildPlacement(workspace, 1000, 20)));
        QVERIFY(!DefaultChildPlacement(QRect(0, 0, 0, 0), 3, 20).isEmpty());
    }
};

QTEST_MAIN(ImageWindowTest)
#include "ImageWindowTest.moc"
