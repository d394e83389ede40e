#pragma once

#include "framework/RowSink.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

class TBackgroundWriter;
class TBitmap;
class TStream;

// Writes a PAM (P7) file with maxval 255: TUPLTYPE RGB, or RGB_ALPHA for a 32-bit bitmap whose fourth
// byte carries alpha (a fourth byte that is 0 everywhere is taken as unused). Palettes are expanded.
void WritePam(TStream& stream, const TBitmap& bitmap);

// The same file from rows as a reader makes them (TGraphic::StreamRowsTo), written as they come, on a
// thread of its own (TBackgroundWriter): the stream must outlive the writer. A 32-bit picture is kept
// until its last row, since whether its fourth byte carries alpha decides the header, unless all its
// rows come at once.
class TPamWriter : public TRowSink {
public:
    // Without a stream the writer can only be offered to a graphic, to learn whether it takes one.
    explicit TPamWriter(TStream* stream = nullptr);
    ~TPamWriter() override;

    bool TakesRgbRows() const override { return true; }
    void Start(
        int width, int height, TPixelFormat format, const std::vector<TPaletteEntry>& colors, bool rgbRows) override;
    void PutRows(int first, int count, const uint8_t* rows, size_t stride) override;
    // Rows that go into the file as they are (red, green, blue, unpadded) are made in the writer's
    // own blocks.
    uint8_t* LendBand(size_t bytes) override;
    // Such rows stored in a file are copied from there.
    bool PutStoredRows(int first, int count, TStream& source) override;
    void Finish() override;

    // Whether a picture was started, and its size.
    bool Started() const { return started_; }
    int Width() const { return width_; }
    int Height() const { return height_; }

private:
    friend void WritePam(TStream& stream, const TBitmap& bitmap);

    TBackgroundWriter& Output();
    void WriteHeader(bool alpha);
    void PutRow(const uint8_t* row);

    TStream* stream_;
    bool started_ = false;
    int width_ = 0;
    int height_ = 0;
    TPixelFormat format_ = pf24bit;
    std::vector<TPaletteEntry> colors_;
    bool alpha_ = false;
    bool headerWritten_ = false;
    bool rgbRows_ = false; // 24-bit rows come in the file's own order
    uint8_t* lent_ = nullptr; // the band last lent
    std::unique_ptr<TBackgroundWriter> output_;
    std::unique_ptr<TBitmap> kept_; // a 32-bit picture until its last row
};
