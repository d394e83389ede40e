#pragma once

#include "framework/Bitmap.h"
#include "framework/Graphic.h"

#include <cstdint>
#include <vector>

// A JPEG picture: keeps the file's bytes and shows them decoded by libjpeg. Saving writes the bytes
// exactly as read; nothing is ever re-encoded.
class TJPEGImage : public TGraphic {
    KAVREL_DECLARE_GRAPHIC_CLASS(TJPEGImage)
public:
    TJPEGImage() = default;

    // Reads everything from the stream's position to its end and decodes it. A file that ends early
    // shows what libjpeg could decode (the rest grey); data libjpeg rejects raises its message.
    void LoadStream(TStream& stream) override;
    void SaveStream(TStream& stream) override;
    // libjpeg makes the rows top first.
    bool StreamRowsTo(TRowSink* sink) override
    {
        rowSink_ = sink;
        return true;
    }

    const TBitmap* DisplayBitmap() const override { return &bitmap_; }
    bool Empty() const override { return bitmap_.Empty(); }
    int Width() const override { return bitmap_.Width(); }
    int Height() const override { return bitmap_.Height(); }

    const std::vector<uint8_t>& Data() const { return data_; }
    // True for greyscale files (shown as 8-bit with a grey palette), false for colour ones (24-bit).
    bool Grayscale() const { return bitmap_.PixelFormat() == pf8bit; }

private:
    std::vector<uint8_t> data_;
    TBitmap bitmap_;
    TRowSink* rowSink_ = nullptr; // for the next load only
};

// Decodes JPEG data into a bitmap: pf8bit with a grey palette for one-component files, pf24bit
// otherwise (CMYK and YCCK converted with Adobe's inverted-CMYK convention when the file says so).
// A bitmap with a row sink passes the rows on (TBitmap::SetRowSink).
void DecodeJpeg(const std::vector<uint8_t>& data, TBitmap& bitmap);
