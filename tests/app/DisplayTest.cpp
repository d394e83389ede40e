// The display adapter: every pixel format and palette shows the colours the picture holds.
#include "AppTestSupport.h"
#include "app/display/GraphicImage.h"
#include "framework/Bitmap.h"
#include "framework/Exception.h"
#include "framework/Palette.h"
#include "framework/Picture.h"
#include "tests/support/TestData.h"

#include <QTest>

namespace {

HPALETTE Palette(std::initializer_list<TPaletteEntry> entries)
{
    TLogPalette log {};
    log.palVersion = kPaletteVersion;
    for (const TPaletteEntry& e : entries)
        log.palPalEntry[log.palNumEntries++] = e;
    return CreatePalette(log);
}

const TPaletteEntry kRed { 0xFF, 0, 0, 0 };
const TPaletteEntry kGreen { 0, 0xFF, 0, 0 };
const TPaletteEntry kBlue { 0, 0, 0xFF, 0 };
const TPaletteEntry kGrey { 0x80, 0x80, 0x80, 0 };

QColor Rgb(int r, int g, int b)
{
    return QColor(r, g, b);
}

} // namespace

class DisplayTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { InitAppTests(); }

    void indexedFormatsUseTheirColourTable()
    {
        TBitmap one;
        one.SetPixelFormat(pf1bit);
        one.SetSize(10, 1);
        one.SetPalette(Palette({ kRed, kBlue }));
        one.ScanLine(0)[0] = 0b1010'0000; // pixels 0 and 2 are index 1
        one.ScanLine(0)[1] = 0b0100'0000; // pixel 9 is index 1
        QImage image = GraphicToImage(one);
        QCOMPARE(image.size(), QSize(10, 1));
        QCOMPARE(image.pixelColor(0, 0), Rgb(0, 0, 255));
        QCOMPARE(image.pixelColor(1, 0), Rgb(255, 0, 0));
        QCOMPARE(image.pixelColor(2, 0), Rgb(0, 0, 255));
        QCOMPARE(image.pixelColor(8, 0), Rgb(255, 0, 0));
        QCOMPARE(image.pixelColor(9, 0), Rgb(0, 0, 255));

        TBitmap four;
        four.SetPixelFormat(pf4bit);
        four.SetSize(3, 2);
        four.SetPalette(Palette({ kRed, kGreen, kBlue, kGrey }));
        four.ScanLine(0)[0] = 0x12; // pixels 1, 2
        four.ScanLine(0)[1] = 0x30; // pixel 3
        four.ScanLine(1)[0] = 0x0F; // pixel 0, then 15: beyond the table, black
        image = GraphicToImage(four);
        QCOMPARE(image.pixelColor(0, 0), Rgb(0, 255, 0));
        QCOMPARE(image.pixelColor(1, 0), Rgb(0, 0, 255));
        QCOMPARE(image.pixelColor(2, 0), Rgb(128, 128, 128));
        QCOMPARE(image.pixelColor(0, 1), Rgb(255, 0, 0));
        QCOMPARE(image.pixelColor(1, 1), Rgb(0, 0, 0));

        TBitmap eight;
        eight.SetPixelFormat(pf8bit);
        eight.SetSize(2, 1);
        eight.SetPalette(Palette({ kRed, kGreen, kBlue }));
        eight.ScanLine(0)[0] = 2;
        eight.ScanLine(0)[1] = 200;
        image = GraphicToImage(eight);
        QCOMPARE(image.pixelColor(0, 0), Rgb(0, 0, 255));
        QCOMPARE(image.pixelColor(1, 0), Rgb(0, 0, 0));
    }

    void directFormats()
    {
        TBitmap b15;
        b15.SetPixelFormat(pf15bit);
        b15.SetSize(2, 1);
        // 0x7C00 is full red, 0x001F full blue, little-endian.
        const uint8_t row15[] = { 0x00, 0x7C, 0x1F, 0x00 };
        std::copy(std::begin(row15), std::end(row15), b15.ScanLine(0));
        QImage image = GraphicToImage(b15);
        QCOMPARE(image.pixelColor(0, 0), Rgb(255, 0, 0));
        QCOMPARE(image.pixelColor(1, 0), Rgb(0, 0, 255));

        TBitmap b16;
        b16.SetPixelFormat(pf16bit);
        b16.SetSize(1, 1);
        b16.ScanLine(0)[0] = 0xE0; // 0x07E0: full green
        b16.ScanLine(0)[1] = 0x07;
        QCOMPARE(GraphicToImage(b16).pixelColor(0, 0), Rgb(0, 255, 0));

        TBitmap b24;
        b24.SetPixelFormat(pf24bit);
        b24.SetSize(1, 2);
        b24.ScanLine(1)[0] = 0x10; // blue
        b24.ScanLine(1)[1] = 0x20;
        b24.ScanLine(1)[2] = 0x30; // red
        image = GraphicToImage(b24);
        QCOMPARE(image.pixelColor(0, 0), Rgb(0, 0, 0));
        QCOMPARE(image.pixelColor(0, 1), Rgb(0x30, 0x20, 0x10));

        // The fourth byte is not transparency: a picture whose alpha is zero still shows.
        for (TPixelFormat format : { pf32bit, pfDevice }) {
            TBitmap b32;
            b32.SetPixelFormat(format);
            b32.SetSize(1, 1);
            b32.ScanLine(0)[0] = 0x01;
            b32.ScanLine(0)[1] = 0x02;
            b32.ScanLine(0)[2] = 0x03;
            b32.ScanLine(0)[3] = 0x00;
            image = GraphicToImage(b32);
            QCOMPARE(image.pixelColor(0, 0), QColor(0x03, 0x02, 0x01, 255));
            QVERIFY(!image.hasAlphaChannel());
        }
    }

    void emptyAndOversizedPictures()
    {
        TBitmap empty;
        QVERIFY(GraphicToImage(empty).isNull());

        // 35 MB as a 1-bit picture, but over a gigabyte at four bytes a pixel: the display copy is refused
        // before anything is allocated, even where the bitmap cap lets such a picture exist.
        const uint64_t cap = TBitmap::MaxImageBytes();
        TBitmap::SetMaxImageBytes(uint64_t { 4 } << 30);
        auto restore = qScopeGuard([cap] { TBitmap::SetMaxImageBytes(cap); });
        TBitmap huge;
        huge.SetPixelFormat(pf1bit);
        huge.SetSize(20000, 14000);
        QVERIFY_THROWS_EXCEPTION(EOutOfResources, GraphicToImage(huge));
    }

    void iconsKeepTransparencyMetafilesArePlayed()
    {
        const auto dir = TestDataDir();
        if (!dir)
            QSKIP("shared test data not found (set KAVREL_TESTDATA)");
        TPicture icon;
        icon.LoadFromFile((*dir / "ico" / "python.ico").string());
        const QImage iconImage = GraphicToImage(*icon.Graphic());
        QCOMPARE(iconImage.size(), QSize(icon.Width(), icon.Height()));
        QVERIFY(iconImage.hasAlphaChannel());
        QCOMPARE(qAlpha(iconImage.pixel(0, 0)), 0);  // the corner of a round logo is transparent

        TPicture metafile;
        metafile.LoadFromFile((*dir / "emf" / "drawing.emf").string());
        const QImage played = GraphicToImage(*metafile.Graphic());
        QCOMPARE(played.size(), QSize(metafile.Width(), metafile.Height()));
        int drawn = 0;
        for (int y = 0; y < played.height(); ++y)
            for (int x = 0; x < played.width(); ++x)
                drawn += played.pixel(x, y) != qRgb(255, 255, 255);
        QVERIFY2(drawn > played.width(), "the metafile drew something onto its white background");
    }

    void conversionIsFastEnoughForCaptures()
    {
        TBitmap desktop;
        desktop.SetPixelFormat(pfDevice);
        desktop.SetSize(1920, 1080);
        QElapsedTimer timer;
        timer.start();
        const QImage image = GraphicToImage(desktop);
        QCOMPARE(image.size(), QSize(1920, 1080));
        // A generous bound that catches per-pixel calls into Qt; typical is a few milliseconds.
        QVERIFY2(timer.elapsed() < 500, qPrintable(QString::number(timer.elapsed())));
    }
};

QTEST_MAIN(DisplayTest)
#include "DisplayTest.moc"
