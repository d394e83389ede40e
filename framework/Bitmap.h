#pragma once

#include "framework/Graphic.h"
#include "framework/Palette.h"
#include "framework/PixelMemory.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

class TRowSink;
// How the pixels of a row are laid out.
//   pf1bit, pf4bit: palette indices, leftmost pixel in the most significant bits of a byte
//   pf8bit: one palette index per byte
//   pf15bit: 16-bit little-endian, blue bits 0-4, green 5-9, red 10-14
//   pf16bit: 16-bit little-endian, blue bits 0-4, green 5-10, red 11-15
//   pf24bit: blue, green, red
//   pf32bit: blue, green, red, alpha
//   pfDevice: the display's own format, here blue, green, red and an unused byte
enum TPixelFormat { pfDevice, pf1bit, pf4bit, pf8bit, pf15bit, pf16bit, pf24bit, pf32bit };

const char* PixelFormatName(TPixelFormat format);
int BitsPerPixel(TPixelFormat format);
inline bool IsIndexed(TPixelFormat format) { return format == pf1bit || format == pf4bit || format == pf8bit; }

// A raster picture. Row 0 is the top row. Rows are zero-filled when made, so nothing ever shows
// uninitialised memory; a size beyond MaxImageBytes() is refused before anything is allocated.
class TBitmap : public TGraphic {
    KAVREL_DECLARE_GRAPHIC_CLASS(TBitmap)
public:
    TBitmap() = default;
    TBitmap(const TBitmap& other);
    TBitmap& operator=(const TBitmap& other);
    TBitmap(TBitmap&&) noexcept = default;
    TBitmap& operator=(TBitmap&&) noexcept = default;
    ~TBitmap() override = default;

    void Assign(const TBitmap& source) { *this = source; }

    // The Windows bitmap file format.
    void LoadStream(TStream& stream) override;
    // Rows are written top row first (those stored bottom row first are read from the end), except
    // in run-length packed files, which the bitmap keeps whole before passing them on. Only for this
    // class: the derived classes read other formats and answer for themselves.
    bool StreamRowsTo(TRowSink* sink) override;
    void SaveStream(TStream& stream) override;
    // Saves the picture as a Windows bitmap file whatever its class, in the way SaveToFile saves.
    // For readers of formats that are not written (TIFF, PCX, Photo-CD): their pictures are saved as
    // what they also are, bitmaps.
    void SaveToFileAsBitmap(const std::string& fileName) const;

    const TBitmap* DisplayBitmap() const override { return this; }

    bool Empty() const override { return width_ == 0 || height_ == 0; }
    int Width() const override { return width_; }
    int Height() const override { return height_; }
    // Changing the size keeps the overlapping top-left part of the picture; new pixels are zero.
    virtual void SetWidth(int width);
    virtual void SetHeight(int height);
    void SetSize(int width, int height);

    TPixelFormat PixelFormat() const { return pixelFormat_; }
    // Converts the existing pixels to the new layout (palette indices are kept between indexed
    // formats when they fit; colours are mapped to the nearest colour-table entry otherwise).
    void SetPixelFormat(TPixelFormat format);
    int BitsPerPixel() const { return ::BitsPerPixel(pixelFormat_); }

    // Bytes of one row that belong to the picture: (Width * bits + 7) / 8.
    int RowBytes() const { return static_cast<int>(RowBytesFor(width_, pixelFormat_)); }
    uint8_t* ScanLine(int y);
    const uint8_t* ScanLine(int y) const;
    // Rows y .. y + count - 1 as one block, for a reader that fills several rows at once: when they lie
    // one after the other without padding (RowBytes a multiple of 4) and, while rows are passed on,
    // none of them has been asked for yet and the band can hold them all. Null otherwise; the reader
    // then goes row by row.
    uint8_t* ScanLines(int y, int count);
    // ScanLines for a reader that writes every byte of these rows: while rows are passed on, they are
    // not cleared first.
    uint8_t* RowsToFill(int y, int count);
    // For a reader whose rows y .. y + count - 1 stand in `source` from its position as the bitmap would
    // hold them, one after the other: while rows are passed on and none of these was asked for, the
    // sink may copy them from there itself (TRowSink::PutStoredRows). True when it did, with the
    // source's position past them; false, with nothing read, and the reader reads them as usual.
    bool PassStoredRows(int y, int count, TStream& source);

    // The bitmap takes ownership of the palette; its entries become the colour table.
    void SetPalette(HPALETTE palette);
    const TPalette* Palette() const { return palette_.get(); }
    // The colours that palette indices stand for (indexed formats only; empty otherwise).
    const std::vector<TPaletteEntry>& ColorTable() const { return colorTable_; }

    // "Handle := 0": the image, its size and its palette are gone and the format reads pfDevice.
    void ReleaseHandle();

    // Passes the rows on to the sink instead of keeping them, for a reader that sets the format and
    // palette before the size and then writes each row once, top row first. The bitmap holds a band
    // of rows: SetSize starts the sink, asking for a row below the band passes the band on, and
    // FinishRows, at the end of the load, passes on the rest (rows never asked for are zero), finishes
    // the sink and leaves the bitmap empty. Asking again for a row passed on, resizing, changing the
    // format or copying meanwhile raises. Without a sink FinishRows does nothing.
    void SetRowSink(TRowSink* sink);
    void FinishRows();
    // For a reader that cannot write this picture's rows top row first (rows stored bottom row first
    // and packed, so that they cannot be read from the end): the bitmap then holds every row and
    // passes them all on at FinishRows. Asked before the size is set; without a sink nothing changes.
    void KeepAllRows();
    // For a reader whose 24-bit rows are red, green, blue in the file: true when they go to a sink
    // that takes them so (TRowSink::TakesRgbRows), and the rows the reader writes are then red, green,
    // blue. Asked after the pixel format is set and before the size; false for every other bitmap,
    // whose rows are blue, green, red as always.
    bool UseRgbRows();

    static size_t RowBytesFor(int width, TPixelFormat format);
    // The central cap on the pixel memory of one bitmap.
    static uint64_t MaxImageBytes();
    static void SetMaxImageBytes(uint64_t bytes);
    // Raises the framework's failure when a bitmap of this size and format would be refused.
    static void CheckSize(int64_t width, int64_t height, TPixelFormat format);

private:
    using PixelBuffer = TPixelMemory;

    void Reallocate(int width, int height);
    void ApplyDefaultColorTable();
    // Passes on the band's rows before `row` and the zero rows after the band up to `row`, where the
    // band then starts; rows of the band from `row` on have not been asked for.
    void MoveBandTo(int row);
    // The band in memory the sink lends; false, with nothing lent, when it lends none.
    bool BorrowBand();
    // Zero rows for the band's next rows: lent anew while the sink lends, else the bitmap's own.
    void RenewBand();
    uint8_t* RowBlock(int y, int count, bool filled);
    // Rows y .. y + count - 1 of the band, which is renewed first if the sink copied rows meanwhile
    // (PassStoredRows); cleared first, with any before them never handed out, unless `filled`.
    uint8_t* BandRows(int y, int count, bool filled);
    // Clears the band's rows from the first not yet cleared or handed out up to `end`.
    void ClearBandRows(int end);
    uint8_t* BandMemory() const { return band_.lent ? band_.lent : pixels_.get(); }
    size_t Stride() const { return (RowBytes() + size_t{3}) & ~size_t{3}; }

    int width_ = 0;
    int height_ = 0;
    TPixelFormat pixelFormat_ = pfDevice;
    PixelBuffer pixels_;
    HPALETTE palette_;
    std::vector<TPaletteEntry> colorTable_;
    // While rows are passed on: where to, and the rows that the band holds (`rows` from `first`; no
    // rows before the sink was started), in pixels_ or in memory the sink lent.
    struct RowBand {
        TRowSink* sink = nullptr;
        int first = 0;
        int rows = 0;
        int asked = 0; // the rows before it have been asked for
        bool rgb = false;
        bool whole = false; // KeepAllRows
        uint8_t* lent = nullptr; // the sink's memory that holds the band (TRowSink::LendBand)
        bool lending = false; // the sink lends the band's memory
        bool stale = false; // the band's memory must be renewed before its rows are used
        int cleared = 0; // the band's first rows that are zero or were handed out; the rest hold anything
    } band_;
};

// The colours an indexed bitmap gets when no palette was given.
std::vector<TPaletteEntry> DefaultColorTable(TPixelFormat format);
