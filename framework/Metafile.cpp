#include "framework/Metafile.h"

#include "framework/AtomicFile.h"
#include "framework/ByteReader.h"
#include "framework/Exception.h"
#include "framework/FormatRegistry.h"
#include "framework/MetafilePlayer.h"
#include "framework/Picture.h"
#include "framework/PixelConversion.h"
#include "framework/Stream.h"

#include <algorithm>
#include <cmath>
#include <limits>

KAVREL_DEFINE_GRAPHIC_CLASS(TMetafile, TGraphic)

namespace {

const char kInvalidMetafile[] = "Metafile is not valid";

constexpr uint32_t kPlaceableKey = 0x9AC6CDD7u;
constexpr uint32_t kEnhancedSignature = 0x464D4520u;  // " EMF"
constexpr size_t kPlaceableSize = 22;
constexpr size_t kEnhancedHeaderSize = 88;
constexpr double kPixelsPerInch = 96;
// A Windows metafile's coordinates are 16-bit; neither kind shows more than this.
constexpr double kMaxPixels = 32767;
// A standard Windows metafile does not say how large a logical unit is: one unit is one pixel, but
// a picture drawn in fine units is shown no larger than this.
constexpr double kMaxUnscaledSide = 1024;

bool IsWindowsMetafileHeader(std::span<const uint8_t> data)
{
    if (data.size() < 18)
        return false;
    const unsigned type = data[0] | data[1] << 8;
    const unsigned headerWords = data[2] | data[3] << 8;
    return (type == 1 || type == 2) && headerWords == 9;
}

int ToPixels(double size)
{
    const double rounded = std::round(std::fabs(size));
    if (!(rounded <= kMaxPixels))
        throw Exception(kInvalidMetafile);
    return std::max(1, static_cast<int>(rounded));
}

TMetafile::TRasterizer& RasterizerSlot()
{
    static TMetafile::TRasterizer rasterizer;
    return rasterizer;
}

void PutWord(std::vector<uint8_t>& out, uint32_t v)
{
    out.push_back(static_cast<uint8_t>(v));
    out.push_back(static_cast<uint8_t>(v >> 8));
}

void PutLong(std::vector<uint8_t>& out, uint32_t v)
{
    PutWord(out, v & 0xFFFF);
    PutWord(out, v >> 16);
}

}  // namespace

bool IsWindowsMetafileName(const std::string& fileName)
{
    return LowerCaseAscii(FileExtension(fileName)) == "wmf";
}

void TMetafile::SetRasterizer(TRasterizer rasterizer)
{
    RasterizerSlot() = std::move(rasterizer);
}

const TMetafile::TRasterizer& TMetafile::Rasterizer()
{
    return RasterizerSlot();
}

void TMetafile::LoadStream(TStream& stream)
{
    TMetafile loaded;
    loaded.data_ = stream.ReadBytes(stream.Remaining());
    const std::span<const uint8_t> data(loaded.data_);
    if (data.size() >= kPlaceableSize && (data[0] | data[1] << 8 | data[2] << 16 | uint32_t(data[3]) << 24) == kPlaceableKey) {
        loaded.placeable_ = true;
        loaded.LoadWindowsMetafile();
    } else if (data.size() >= kEnhancedHeaderSize && data[0] == 1 && data[1] == 0 && data[2] == 0 && data[3] == 0 &&
               (data[40] | data[41] << 8 | data[42] << 16 | uint32_t(data[43]) << 24) == kEnhancedSignature) {
        loaded.enhanced_ = true;
        loaded.LoadEnhancedMetafile();
    } else if (IsWindowsMetafileHeader(data)) {
        loaded.LoadWindowsMetafile();
    } else {
        throw Exception(kInvalidMetafile);
    }
    *this = std::move(loaded);
}

void TMetafile::LoadWindowsMetafile()
{
    const std::span<const uint8_t> wmf = std::span<const uint8_t>(data_).subspan(RecordsStart());
    if (!IsWindowsMetafileHeader(wmf))
        throw Exception(kInvalidMetafile);
    if (placeable_) {
        TByteReader in(data_);
        in.Seek(6);
        const double left = in.S16LE(), top = in.S16LE(), right = in.S16LE(), bottom = in.S16LE();
        const unsigned inch = in.U16LE();
        if (right != left && bottom != top) {
            frame_[0] = left, frame_[1] = top, frame_[2] = right - left, frame_[3] = bottom - top;
            // Units per inch; 0 would say nothing, so the usual 1440 (twips) stands in for it.
            const double unitsPerInch = inch ? inch : 1440;
            width_ = ToPixels(frame_[2] * kPixelsPerInch / unitsPerInch);
            height_ = ToPixels(frame_[3] * kPixelsPerInch / unitsPerInch);
            return;
        }
    }
    double scale = 1;
    if (!FindWindowsMetafileWindow(wmf, frame_)) {
        // Nothing says what part of the logical plane is the picture: take what is drawn.
        if (!MeasureMetafile(*this, frame_))
            throw Exception(kInvalidMetafile);
    }
    const double side = std::max(std::fabs(frame_[2]), std::fabs(frame_[3]));
    if (side > kMaxUnscaledSide)
        scale = kMaxUnscaledSide / side;
    width_ = ToPixels(frame_[2] * scale);
    height_ = ToPixels(frame_[3] * scale);
}

void TMetafile::LoadEnhancedMetafile()
{
    TByteReader in(data_);
    in.Skip(4);
    const uint32_t headerSize = in.U32LE();
    if (headerSize < kEnhancedHeaderSize || headerSize > data_.size())
        throw Exception(kInvalidMetafile);
    const double bounds[4] = {double(in.S32LE()), double(in.S32LE()), double(in.S32LE()), double(in.S32LE())};
    const double frame[4] = {double(in.S32LE()), double(in.S32LE()), double(in.S32LE()), double(in.S32LE())};
    in.Seek(72);
    const double deviceX = in.S32LE(), deviceY = in.S32LE();
    const double millimetresX = in.S32LE(), millimetresY = in.S32LE();
    if (deviceX > 0 && deviceY > 0 && millimetresX > 0 && millimetresY > 0) {
        pixelsPerMm_[0] = deviceX / millimetresX;
        pixelsPerMm_[1] = deviceY / millimetresY;
    }
    if (frame[2] > frame[0] && frame[3] > frame[1]) {
        // The frame is in hundredths of a millimetre.
        frame_[0] = frame[0] * pixelsPerMm_[0] / 100;
        frame_[1] = frame[1] * pixelsPerMm_[1] / 100;
        frame_[2] = (frame[2] - frame[0]) * pixelsPerMm_[0] / 100;
        frame_[3] = (frame[3] - frame[1]) * pixelsPerMm_[1] / 100;
        width_ = ToPixels((frame[2] - frame[0]) * kPixelsPerInch / 2540);
        height_ = ToPixels((frame[3] - frame[1]) * kPixelsPerInch / 2540);
    } else if (bounds[2] >= bounds[0] && bounds[3] >= bounds[1]) {
        // The bounds are inclusive device pixels.
        frame_[0] = bounds[0];
        frame_[1] = bounds[1];
        frame_[2] = bounds[2] - bounds[0] + 1;
        frame_[3] = bounds[3] - bounds[1] + 1;
        width_ = ToPixels(frame_[2] / pixelsPerMm_[0] * kPixelsPerInch / 25.4);
        height_ = ToPixels(frame_[3] / pixelsPerMm_[1] * kPixelsPerInch / 25.4);
    } else {
        throw Exception(kInvalidMetafile);
    }
}

void TMetafile::SaveStream(TStream& stream)
{
    if (!data_.empty())
        stream.WriteBuffer(data_.data(), static_cast<int64_t>(data_.size()));
}

void TMetafile::SaveToFile(const std::string& fileName)
{
    if (!enhanced_ || !IsWindowsMetafileName(fileName)) {
        TGraphic::SaveToFile(fileName);
        return;
    }
    WriteFileAtomically(fileName, [this](TStream& stream) { SaveAsWindowsMetafile(stream); });
}

void TMetafile::SaveAsWindowsMetafile(TStream& stream) const
{
    if (!enhanced_) {
        if (!data_.empty())
            stream.WriteBuffer(data_.data(), static_cast<int64_t>(data_.size()));
        return;
    }
    if (!Rasterizer())
        throw Exception("Cannot convert an enhanced metafile to a Windows metafile without a display");
    WriteBitmapAsWindowsMetafile(stream, Rasterizer()(*this));
}

void WriteBitmapAsWindowsMetafile(TStream& stream, const TBitmap& bitmap)
{
    const int width = bitmap.Width();
    const int height = bitmap.Height();
    if (bitmap.Empty() || width > kMaxPixels || height > kMaxPixels)
        throw Exception("The picture is too large for a Windows metafile");
    const uint64_t stride = (uint64_t(width) * 3 + 3) & ~uint64_t{3};
    const uint64_t dibBytes = 40 + stride * uint64_t(height);
    const uint64_t stretchWords = 3 + 2 + 1 + 8 + dibBytes / 2;
    const uint64_t totalWords = 9 + 4 + 5 + 5 + stretchWords + 3;
    if (totalWords > UINT32_MAX)
        throw Exception("The picture is too large for a Windows metafile");

    std::vector<uint8_t> head;
    // Placeable header: the picture at 96 units per inch, one unit a pixel.
    PutLong(head, kPlaceableKey);
    PutWord(head, 0);
    PutWord(head, 0), PutWord(head, 0), PutWord(head, uint32_t(width)), PutWord(head, uint32_t(height));
    PutWord(head, static_cast<uint32_t>(kPixelsPerInch));
    PutLong(head, 0);
    uint16_t checksum = 0;
    for (size_t i = 0; i < 20; i += 2)
        checksum ^= static_cast<uint16_t>(head[i] | head[i + 1] << 8);
    PutWord(head, checksum);
    // Windows metafile header.
    PutWord(head, 1);
    PutWord(head, 9);
    PutWord(head, 0x0300);
    PutLong(head, static_cast<uint32_t>(totalWords));
    PutWord(head, 0);
    PutLong(head, static_cast<uint32_t>(stretchWords));
    PutWord(head, 0);
    // SetMapMode(MM_ANISOTROPIC), SetWindowOrg(0, 0), SetWindowExt(width, height).
    PutLong(head, 4), PutWord(head, 0x0103), PutWord(head, 8);
    PutLong(head, 5), PutWord(head, 0x020B), PutWord(head, 0), PutWord(head, 0);
    PutLong(head, 5), PutWord(head, 0x020C), PutWord(head, uint32_t(height)), PutWord(head, uint32_t(width));
    // StretchDIB with SRCCOPY, source and destination the whole picture.
    PutLong(head, static_cast<uint32_t>(stretchWords));
    PutWord(head, 0x0F43);
    PutLong(head, 0x00CC0020);
    PutWord(head, 0);  // DIB_RGB_COLORS
    PutWord(head, uint32_t(height)), PutWord(head, uint32_t(width)), PutWord(head, 0), PutWord(head, 0);
    PutWord(head, uint32_t(height)), PutWord(head, uint32_t(width)), PutWord(head, 0), PutWord(head, 0);
    PutLong(head, 40);
    PutLong(head, uint32_t(width));
    PutLong(head, uint32_t(height));
    PutWord(head, 1);
    PutWord(head, 24);
    PutLong(head, 0);
    PutLong(head, static_cast<uint32_t>(stride * uint64_t(height)));
    PutLong(head, 0), PutLong(head, 0), PutLong(head, 0), PutLong(head, 0);
    stream.WriteBuffer(head.data(), static_cast<int64_t>(head.size()));

    std::vector<uint8_t> bgra(static_cast<size_t>(width) * 4);
    std::vector<uint8_t> row(static_cast<size_t>(stride), 0);
    for (int y = height - 1; y >= 0; --y) {
        RowToBgra(bitmap, y, bgra.data());
        for (int x = 0; x < width; ++x)
            std::copy_n(&bgra[4 * size_t(x)], 3, &row[3 * size_t(x)]);
        stream.WriteBuffer(row.data(), static_cast<int64_t>(row.size()));
    }
    const uint8_t eof[6] = {3, 0, 0, 0, 0, 0};
    stream.WriteBuffer(eof, sizeof eof);
}
