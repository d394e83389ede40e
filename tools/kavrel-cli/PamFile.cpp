#include "tools/kavrel-cli/PamFile.h"

#include "framework/BackgroundWriter.h"
#include "framework/Bitmap.h"
#include "framework/PixelConversion.h"
#include "framework/Stream.h"

#include <algorithm>
#include <cstring>
#include <string>

TPamWriter::TPamWriter(TStream* stream)
    : stream_(stream)
{ }

TPamWriter::~TPamWriter() = default;

TBackgroundWriter& TPamWriter::Output()
{
    if (!output_)
        output_ = std::make_unique<TBackgroundWriter>(*stream_);
    return *output_;
}

void TPamWriter::Start(
    int width, int height, TPixelFormat format, const std::vector<TPaletteEntry>& colors, bool rgbRows)
{
    rgbRows_ = rgbRows && format == pf24bit;
    started_ = true;
    width_ = width;
    height_ = height;
    format_ = format;
    colors_ = colors;
    // The header of a 32-bit picture waits for its rows.
    if (format != pf32bit)
        WriteHeader(false);
}

void TPamWriter::WriteHeader(bool alpha)
{
    alpha_ = alpha;
    headerWritten_ = true;
    const std::string header = "P7\nWIDTH " + std::to_string(width_) + "\nHEIGHT " + std::to_string(height_)
        + "\nDEPTH " + (alpha ? "4" : "3") + "\nMAXVAL 255\nTUPLTYPE " + (alpha ? "RGB_ALPHA" : "RGB") + "\nENDHDR\n";
    Output().Write(header.data(), header.size());
}

uint8_t* TPamWriter::LendBand(size_t bytes)
{
    const size_t rowBytes = static_cast<size_t>(width_) * 3;
    if (!rgbRows_ || rowBytes % 4 != 0)
        return nullptr;
    lent_ = Output().Space(bytes);
    return lent_;
}

bool TPamWriter::PutStoredRows(int first, int count, TStream& source)
{
    if (!rgbRows_)
        return false;
    lent_ = nullptr;
    const int64_t bytes = int64_t { width_ } * 3 * count;
    // Where the source ends, the rows go on as zeros.
    for (int64_t missing = bytes - Output().Transfer(source, bytes); missing > 0;) {
        const auto part = static_cast<size_t>(std::min<int64_t>(missing, int64_t { 1 } << 20));
        std::memset(Output().Space(part), 0, part);
        Output().Commit(part);
        missing -= static_cast<int64_t>(part);
    }
    return true;
}

void TPamWriter::PutRows(int first, int count, const uint8_t* rows, size_t stride)
{
    const size_t rowBytes = static_cast<size_t>(width_) * 3;
    if (lent_ && rows == lent_) {
        // Made where the file's bytes go.
        lent_ = nullptr;
        Output().Commit(rowBytes * static_cast<size_t>(count));
        return;
    }
    if (rgbRows_ && stride == rowBytes) {
        // Rows as the file wants them, one after the other.
        Output().Write(rows, rowBytes * static_cast<size_t>(count));
        return;
    }
    if (format_ == pf32bit && !headerWritten_ && !kept_) {
        if (first == 0 && count == height_) {
            // The whole picture at once (from a reader that keeps it whole): written from where it is.
            bool alpha = false;
            for (int i = 0; i < count && !alpha; ++i)
                alpha = RowCarriesAlpha(rows + stride * static_cast<size_t>(i), width_);
            WriteHeader(alpha);
        } else {
            kept_ = std::make_unique<TBitmap>();
            kept_->SetPixelFormat(pf32bit);
            kept_->SetSize(width_, height_);
        }
    }
    for (int i = 0; i < count; ++i) {
        const uint8_t* row = rows + stride * static_cast<size_t>(i);
        if (kept_)
            std::memcpy(kept_->ScanLine(first + i), row, static_cast<size_t>(kept_->RowBytes()));
        else
            PutRow(row);
    }
}

void TPamWriter::PutRow(const uint8_t* row)
{
    const size_t bytes = static_cast<size_t>(width_) * (alpha_ ? 4 : 3);
    uint8_t* dest = Output().Space(bytes);
    if (rgbRows_)
        std::memcpy(dest, row, bytes);
    else
        PixelsToRgb(row, width_, format_, colors_, alpha_, dest);
    Output().Commit(bytes);
}

void TPamWriter::Finish()
{
    if (kept_) {
        const std::unique_ptr<TBitmap> picture = std::move(kept_);
        WritePam(*stream_, *picture);
        return;
    }
    Output().Finish();
}

void WritePam(TStream& stream, const TBitmap& bitmap)
{
    TPamWriter writer(&stream);
    writer.width_ = bitmap.Width();
    writer.height_ = bitmap.Height();
    writer.format_ = bitmap.PixelFormat();
    writer.colors_ = bitmap.ColorTable();
    writer.WriteHeader(CarriesAlpha(bitmap));
    for (int y = 0; y < bitmap.Height(); ++y)
        writer.PutRow(bitmap.ScanLine(y));
    writer.Output().Finish();
}
