#include "framework/Icon.h"

#include "framework/ByteReader.h"
#include "framework/DeviceIndependentBitmap.h"
#include "framework/Exception.h"
#include "framework/PixelConversion.h"
#include "framework/PngDecoder.h"
#include "framework/Stream.h"

#include <algorithm>
#include <vector>

KAVREL_DEFINE_GRAPHIC_CLASS(TIcon, TGraphic)

namespace {

const char kInvalidIcon[] = "Icon image is not valid";

// A damaged image is passed over for the next best one, but not endlessly: each attempt may cost
// a full decode.
constexpr int kMaxDecodeAttempts = 8;

// Width, height and depth from the image's own header; false when it cannot be an icon image.
bool ReadImageHeader(std::span<const uint8_t> image, TIconImageInfo& info)
{
    try {
        TByteReader in(image);
        if (IsPng(image)) {
            in.Seek(16);  // signature, IHDR length and type
            const uint32_t width = in.U32BE();
            const uint32_t height = in.U32BE();
            const unsigned depth = in.U8();
            const unsigned colorType = in.U8();
            const unsigned channels = colorType == 2 ? 3 : colorType == 4 ? 2 : colorType == 6 ? 4 : 1;
            if (width == 0 || height == 0 || width > INT32_MAX || height > INT32_MAX)
                return false;
            info.png = true;
            info.width = static_cast<int>(width);
            info.height = static_cast<int>(height);
            info.bitsPerPixel = static_cast<int>(depth * channels);
            return true;
        }
        const uint32_t headerSize = in.U32LE();
        if (headerSize < 40)
            return false;
        const int32_t width = in.S32LE();
        const int32_t height = in.S32LE();  // the image and its mask
        in.Skip(2);
        const int bits = in.U16LE();
        if (width <= 0 || height < 2)
            return false;
        info.png = false;
        info.width = width;
        info.height = height / 2;
        info.bitsPerPixel = bits;
        return true;
    } catch (const EReadError&) {
        return false;
    }
}

void DecodeMaskedBitmap(std::span<const uint8_t> image, TBitmap& result)
{
    TByteReader in(image);
    const uint32_t headerSize = in.U32LE();
    const int32_t width = in.S32LE();
    const int32_t doubleHeight = in.S32LE();
    in.Skip(2);
    const unsigned bits = in.U16LE();
    const uint32_t compression = in.U32LE();
    if (headerSize < 40 || width <= 0 || doubleHeight < 2)
        throw Exception(kInvalidIcon);
    const int32_t height = doubleHeight / 2;

    const size_t infoSize = DibInfoSize(image);
    if (infoSize == 0 || infoSize > image.size())
        throw Exception(kInvalidIcon);
    // The header counts the image and its mask; the bitmap reader gets the image alone.
    std::vector<uint8_t> info(image.begin(), image.begin() + static_cast<ptrdiff_t>(infoSize));
    for (int i = 0; i < 4; ++i)
        info[8 + i] = static_cast<uint8_t>(static_cast<uint32_t>(height) >> (8 * i));
    const std::span<const uint8_t> pixels = image.subspan(infoSize);
    TBitmap picture;
    ReadDib(info, pixels, picture);

    const uint64_t pictureBytes = ((uint64_t{static_cast<uint32_t>(width)} * bits + 31) / 32) * 4 * height;
    const uint64_t maskStride = ((uint64_t{static_cast<uint32_t>(width)} + 31) / 32) * 4;
    // Compressed pictures do not say where they end, so their mask cannot be found.
    const bool hasMask = compression == 0 || compression == 3;

    result.ReleaseHandle();
    result.SetPixelFormat(pf32bit);
    result.SetSize(width, height);
    bool anyAlpha = false;
    for (int y = 0; y < height; ++y) {
        uint8_t* row = result.ScanLine(y);
        RowToBgra(picture, y, row);
        if (bits == 32)
            for (int x = 0; x < width && !anyAlpha; ++x)
                anyAlpha = row[4 * x + 3] != 0;
    }
    if (anyAlpha)
        return;  // the alpha channel says everything; the mask is only for old displays
    for (int y = 0; y < height; ++y) {
        uint8_t* row = result.ScanLine(y);
        const uint64_t maskRow = pictureBytes + maskStride * static_cast<uint64_t>(height - 1 - y);
        for (int x = 0; x < width; ++x) {
            const uint64_t at = maskRow + static_cast<uint64_t>(x) / 8;
            // A mask cut short leaves the rest opaque.
            const bool transparent = hasMask && at < pixels.size() && (pixels[at] >> (7 - x % 8) & 1);
            row[4 * x + 3] = transparent ? 0 : 255;
        }
    }
}

}  // namespace

void DecodeIconImage(std::span<const uint8_t> image, TBitmap& bitmap)
{
    if (IsPng(image))
        DecodePng(image, bitmap, kInvalidIcon);
    else
        DecodeMaskedBitmap(image, bitmap);
}

void TIcon::LoadStream(TStream& stream)
{
    std::vector<uint8_t> data = stream.ReadBytes(stream.Remaining());
    std::vector<TIconImageInfo> images;
    try {
        TByteReader in(data);
        const unsigned reserved = in.U16LE();
        const unsigned type = in.U16LE();
        const unsigned count = in.U16LE();
        // Type 1 is an icon; 2, a cursor, has the same layout.
        if (reserved != 0 || (type != 1 && type != 2) || count == 0)
            throw Exception(kInvalidIcon);
        for (unsigned i = 0; i < count; ++i) {
            in.Skip(8);  // width, height, colours, reserved, planes, bits: the image's header says better
            const uint32_t size = in.U32LE();
            const uint32_t offset = in.U32LE();
            if (offset >= data.size() || size == 0)
                continue;
            TIconImageInfo info;
            info.offset = offset;
            info.size = static_cast<uint32_t>(std::min<uint64_t>(size, data.size() - offset));
            if (ReadImageHeader(std::span(data).subspan(offset, info.size), info))
                images.push_back(info);
        }
    } catch (const EReadError&) {
        throw Exception(kInvalidIcon);
    }
    if (images.empty())
        throw Exception(kInvalidIcon);

    // Largest first, then deepest; the directory's order among equals.
    std::vector<int> order(images.size());
    for (size_t i = 0; i < order.size(); ++i)
        order[i] = static_cast<int>(i);
    std::stable_sort(order.begin(), order.end(), [&](int a, int b) {
        const int64_t areaA = int64_t{images[a].width} * images[a].height;
        const int64_t areaB = int64_t{images[b].width} * images[b].height;
        if (areaA != areaB)
            return areaA > areaB;
        return images[a].bitsPerPixel > images[b].bitsPerPixel;
    });

    TBitmap shown;
    int shownIndex = -1;
    for (size_t k = 0; k < order.size() && k < kMaxDecodeAttempts && shownIndex < 0; ++k) {
        const TIconImageInfo& info = images[order[k]];
        try {
            DecodeIconImage(std::span(data).subspan(info.offset, info.size), shown);
            shownIndex = order[k];
        } catch (const Exception&) {
            // damaged or too large: try the next best image
        }
    }
    if (shownIndex < 0)
        throw Exception(kInvalidIcon);

    data_ = std::move(data);
    images_ = std::move(images);
    displayIndex_ = shownIndex;
    bitmap_ = std::move(shown);
}

void TIcon::SaveStream(TStream& stream)
{
    if (!data_.empty())
        stream.WriteBuffer(data_.data(), static_cast<int64_t>(data_.size()));
}

TBitmap TIcon::DecodeImage(int index) const
{
    const TIconImageInfo& info = images_.at(static_cast<size_t>(index));
    TBitmap bitmap;
    DecodeIconImage(std::span(data_).subspan(info.offset, info.size), bitmap);
    return bitmap;
}
