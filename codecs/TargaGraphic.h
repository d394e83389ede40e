#pragma once

#include "framework/Bitmap.h"

#include <string>

class TStream;

// Truevision Targa files: colour-mapped, true-colour and grey-scale images, raw or run-length
// compressed, at 8, 15, 16, 24 and 32 bits per pixel. The one reader that also writes its format.
class TTargaGraphic : public TBitmap {
    KAVREL_DECLARE_GRAPHIC_CLASS(TTargaGraphic)
public:
    void LoadStream(TStream& stream) override;
    // The rows are written once each, top row first (kept whole when packed bottom row first).
    bool StreamRowsTo(TRowSink* sink) override
    {
        SetRowSink(sink);
        return true;
    }
    // Writes a run-length compressed Targa file.
    void SaveStream(TStream& stream) override;
    // Writes image type 9 or 10 when compressed, 1 or 2 otherwise. 1- and 4-bit pictures are
    // converted to 8 bits once the user agrees; otherwise nothing is written.
    void SaveTarga(TStream& stream, bool compressed);

    // The image identification text of the file last read; written back on save (at most 255 bytes).
    const std::string& Identification() const { return identification_; }
    void SetIdentification(std::string text) { identification_ = std::move(text); }

private:
    std::string identification_;
};
