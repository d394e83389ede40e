#pragma once

#include "framework/RowSink.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

class TBitmap;
class TStream;

// Writes a PAM (P7) file with maxval 255: TUPLTYPE RGB, or RGB_ALPHA for a 32-bit bitmap whose fourth
// byte carries alpha (a fourth byte that is 0 everywhere is taken as unused). Palettes are expanded.
void WritePam(TStream& stream, const TBitmap& bitmap);

// The same file from rows as a reader makes them (TGraphic::StreamRowsTo), written as they come. A
// 32-bit picture is kept until its last row, since whether its fourth byte carries alpha decides the
// header, unless all its rows come at once.
class TPamWriter : public TRowSink {
public:
    // The file goes to the stream given here or later by WriteTo, before the first row comes.
    explicit TPamWriter(TStream* stream = nullptr);
    ~TPamWriter() override;
    void WriteTo(TStream& stream) { stream_ = &stream; }

    bool TakesRgbRows() const override { return true; }
    void Start(
        int width, int height, TPixelFormat format, const std::vector<TPaletteEntry>& colors, bool rgbRows) override;
    void PutRows(int first, int count, const uint8_t* rows, size_t stride) override;
    void Finish() override;

    // Whether a picture was started, and its size.
    bool Started() const { return started_; }
    int Width() const { return width_; }
    int Height() const { return height_; }

private:
    friend void WritePam(TStream& stream, const TBitmap& bitmap);

    void WriteHeader(bool alpha);
    void PutRow(const uint8_t* row);
    void Flush();

    TStream* stream_;
    bool started_ = false;
    int width_ = 0;
    int height_ = 0;
    TPixelFormat format_ = pf24bit;
    std::vector<TPaletteEntry> colors_;
    bool alpha_ = false;
    bool headerWritten_ = false;
    bool rgbRows_ = false; // 24-bit rows come in the file's own order
    // Converted rows gather here and go out about a megabyte at a time.
    std::vector<uint8_t> chunk_;
    size_t used_ = 0;
    std::unique_ptr<TBitmap> kept_; // a 32-bit picture until its last row
};
