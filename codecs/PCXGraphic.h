#pragma once

#include "framework/Bitmap.h"

class TStream;

// ZSoft PCX files and the Word 5.x screen captures of the same layout: monochrome, 16-colour
// planar, 256-colour and 24-bit planar images, raw or run-length compressed.
class TPCXGraphic : public TBitmap {
    KAVREL_DECLARE_GRAPHIC_CLASS(TPCXGraphic)
public:
    void LoadStream(TStream& stream) override;
    // Rows come top row first.
    bool StreamRowsTo(TRowSink* sink) override
    {
        SetRowSink(sink);
        return true;
    }
    // Saving a PCX picture writes nothing.
    void SaveStream(TStream& stream) override;
    // A file is never left empty: the picture is saved as a Windows bitmap.
    void SaveToFile(const std::string& fileName) override { SaveToFileAsBitmap(fileName); }
};
