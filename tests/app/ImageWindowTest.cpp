// The image window: scroll ranges and their bars, where the picture is drawn, what shows beyond it,
// and release on close; the pure geometry behind the window commands.
#include "AppTestSupport.h"
#include "app/Childwin.h"
#include "app/ImageControl.h"
#include "app/ScrollBox.h"
#include "app/WindowLayout.h"
#include "framework/Bitmap.h"

#include <QMdiArea>
#include <QPointer>
#include <QScrollBar>
#include <QTest>

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
