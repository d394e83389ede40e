#include "capture/ClipboardImage.h"

#include <QClipboard>
#include <QGuiApplication>

#include <gtest/gtest.h>

// What the clipboard offers for a captured image, on whichever Qt platform the tests run.

namespace {

TBitmap Pattern(int width, int height)
{
    TBitmap bitmap;
    bitmap.SetSize(width, height);
    for (int y = 0; y < height; ++y) {
        uint8_t* row = bitmap.ScanLine(y);
        for (int x = 0; x < width; ++x) {
            row[4 * x] = static_cast<uint8_t>(x * 3);      // blue
            row[4 * x + 1] = static_cast<uint8_t>(y * 5);  // green
            row[4 * x + 2] = static_cast<uint8_t>(x ^ y);  // red
        }
    }
    return bitmap;
}

void ExpectSameImage(const QImage& image, const TBitmap& bitmap)
{
    ASSERT_EQ(image.width(), bitmap.Width());
    ASSERT_EQ(image.height(), bitmap.Height());
    for (int y = 0; y < bitmap.Height(); ++y) {
        for (int x = 0; x < bitmap.Width(); ++x) {
            const uint8_t* p = bitmap.ScanLine(y) + 4 * x;
            ASSERT_EQ(image.pixel(x, y), qRgb(p[2], p[1], p[0])) << "at " << x << ", " << y;
        }
    }
}

TEST(ClipboardImage, FormatsAreMadeOnlyWhenAskedFor)
{
    const TBitmap bitmap = Pattern(37, 11);
    CaptureMimeData data(bitmap);
    EXPECT_EQ(data.formats(), (QStringList{"image/bmp", "image/png", "application/x-qt-image"}));
    EXPECT_TRUE(data.hasImage());
    EXPECT_FALSE(data.hasFormat("text/plain"));
    EXPECT_TRUE(data.EncodedFormats().isEmpty());

    const QByteArray bmp = data.data("image/bmp");
    EXPECT_EQ(data.EncodedFormats(), QStringList{"image/bmp"}) << "a bitmap paste waits for no PNG encoder";
    ExpectSameImage(QImage::fromData(bmp, "BMP"), bitmap);
    ASSERT_GT(bmp.size(), 30);
    EXPECT_EQ(bmp[28], 24) << "bits per pixel";

    const QByteArray png = data.data("image/png");
    ExpectSameImage(QImage::fromData(png, "PNG"), bitmap);
    ExpectSameImage(qvariant_cast<QImage>(data.imageData()), bitmap);
    const QStringList encoded = data.EncodedFormats();
    EXPECT_EQ(data.data("image/png"), png);
    EXPECT_EQ(data.data("image/bmp"), bmp);
    EXPECT_EQ(data.EncodedFormats(), encoded) << "each format is made once";
}

TEST(ClipboardImage, ConvertsEveryBitmapLayout)
{
    TBitmap indexed;
    indexed.SetPixelFormat(pf8bit);
    indexed.SetSize(2, 1);
    TLogPalette log{};
    log.palVersion = kPaletteVersion;
    log.palNumEntries = 2;
    log.palPalEntry[1] = {200, 100, 50, 0};
    indexed.SetPalette(CreatePalette(log));
    indexed.ScanLine(0)[1] = 1;
    const QImage image = ImageFromBitmap(indexed);
    EXPECT_EQ(image.pixel(0, 0), qRgb(0, 0, 0));
    EXPECT_EQ(image.pixel(1, 0), qRgb(200, 100, 50));

    TBitmap alpha;
    alpha.SetPixelFormat(pf32bit);
    alpha.SetSize(1, 1);
    alpha.ScanLine(0)[3] = 0x80;
    EXPECT_EQ(qAlpha(ImageFromBitmap(alpha).pixel(0, 0)), 0x80);
    EXPECT_EQ(qAlpha(ImageFromBitmap(Pattern(1, 1)).pixel(0, 0)), 255) << "the display format has no alpha";
    EXPECT_TRUE(ImageFromBitmap(TBitmap()).isNull());
}

TEST(ClipboardImage, ThePutImageReplacesTheClipboard)
{
    QGuiApplication::clipboard()->setText("before");
    const TBitmap bitmap = Pattern(5, 4);
    PutImageOnClipboard(bitmap);
    const QMimeData* data = QGuiApplication::clipboard()->mimeData();
    ASSERT_TRUE(data);
    EXPECT_FALSE(data->hasText());
    ExpectSameImage(QGuiApplication::clipboard()->image(), bitmap);
}

}  // namespace
