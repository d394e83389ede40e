#pragma once

#include "framework/Bitmap.h"

#include <cstddef>
#include <cstdint>
#include <vector>

// Takes a picture's rows as a reader makes them, top row first, so that a picture that is only
// passed on (kavrel-cli convert to a PAM file) need not be held whole. A bitmap hands its rows to a
// sink when given one (TBitmap::SetRowSink); a graphic class whose reader writes each row once, in
// order, offers that through TGraphic::StreamRowsTo.
class TRowSink {
public:
    virtual ~TRowSink() = default;
    // Whether the sink takes 24-bit rows as red, green, blue, the order of many files, rather than the
    // bitmap's blue, green, red: a reader that has them so then hands them over as they are instead
    // of turning them round for the sink to turn back (TBitmap::UseRgbRows).
    virtual bool TakesRgbRows() const { return false; }
    // Before any row: the picture's size, its pixel format, the colours of its palette indices, and
    // whether 24-bit rows come as red, green, blue.
    virtual void Start(
        int width, int height, TPixelFormat format, const std::vector<TPaletteEntry>& colors, bool rgbRows)
        = 0;
    // Rows first .. first + count - 1 in the layout of the format, `stride` bytes apart; rows the reader
    // left alone are zero, as in a bitmap.
    virtual void PutRows(int first, int count, const uint8_t* rows, size_t stride) = 0;
    // Memory of `bytes` bytes in which the bitmap may make the next band of rows, from a sink that can
    // keep rows where they were made: PutRows then passes rows in this memory, which the sink takes as
    // they are, and the band moves on to memory lent anew. Null (the default): the bitmap's own memory.
    virtual uint8_t* LendBand(size_t bytes) { return nullptr; }
    // Rows first .. first + count - 1 as `source` holds them from its position: in the layout of
    // PutRows, one after the other without padding. A sink that would write them as they are copies
    // them itself (from one file into another the system does that), with zeros for what the source
    // lacks, and says true; the source's position is then past what was copied. False (the default):
    // the reader reads them as usual.
    virtual bool PutStoredRows(int first, int count, TStream& source) { return false; }
    // After the last row.
    virtual void Finish() = 0;
};
