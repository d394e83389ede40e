#pragma once

#include "framework/Bitmap.h"

#include <cstdint>
#include <memory>
#include <vector>

class TStream;

// What a picture becomes in PNG. Pictures keep their kind: grey stays grey, a palette stays a palette.
enum class TPngKind { Grey, Palette, Rgb, Rgba };

struct TPngHeader {
    int width = 0;
    int height = 0;
    // The layout of the rows handed to the writer: TBitmap's row layouts.
    TPixelFormat rowFormat = pfDevice;
    TPngKind kind = TPngKind::Rgb;
    // Grey and Palette: the bits per sample (1, 4 or 8); those of rowFormat unless greyLevels is given.
    int bitDepth = 8;
    // Palette: the entries written, at most 1 << bitDepth.
    std::vector<TPaletteEntry> palette;
    // Grey from indexed rows whose indices are not the grey levels themselves: the 8-bit level of each
    // index (indices beyond it are black). Empty when the indices are written as they are.
    std::vector<uint8_t> greyLevels;
};

// The header that keeps the bitmap's kind. An indexed bitmap whose colour table is exactly the grey ramp
// of its depth becomes grey of that depth, one whose colours are all grey otherwise 8-bit grey; any
// other indexed bitmap a palette of its colour table (cut to what its depth can index, and padded with
// black up to the highest index a pixel uses, since PNG readers refuse indices beyond the palette); a
// pf32bit bitmap that carries alpha RGBA; the rest RGB.
TPngHeader PngHeaderFor(const TBitmap& bitmap);

// Writes a PNG row by row with libpng at settings chosen for speed (a screenshot must not wait on
// maximum compression). Raises Exception for anything libpng refuses; failures of the stream pass
// through unchanged.
class TPngWriter {
public:
    // Writes the signature and the chunks before the image data.
    TPngWriter(TStream& stream, const TPngHeader& header);
    ~TPngWriter();
    TPngWriter(const TPngWriter&) = delete;
    TPngWriter& operator=(const TPngWriter&) = delete;

    // The rows from the top, each in the header's rowFormat (as TBitmap::ScanLine gives them).
    void WriteRow(const uint8_t* row);
    // After the last row: ends the image data and the file.
    void Finish();

private:
    struct State;
    template <class Step> void Guard(Step&& step);

    std::unique_ptr<State> state_;
    TPngHeader header_;
    std::vector<uint8_t> converted_; // rows that libpng cannot take as they are, converted
    int rowsWritten_ = 0;
};

// Writes the bitmap as a PNG file (see PngHeaderFor for the kind). An empty bitmap raises Exception.
void WritePng(TStream& stream, const TBitmap& bitmap);
