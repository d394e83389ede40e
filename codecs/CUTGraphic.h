#pragma once

#include "framework/Bitmap.h"

#include <string>

// Dr. Halo CUT files: 8-bit palette indices, run-length compressed row by row. The colours come from
// a Dr. Halo palette file of the same name with the extension ".pal" beside the image; without one
// (or when the image comes from a stream alone) the picture is shown in grey.
class TCUTGraphic : public TBitmap {
    KAVREL_DECLARE_GRAPHIC_CLASS(TCUTGraphic)
public:
    // Remembers where the palette file would be, then loads the image from the file.
    void LoadFile(const std::string& fileName) override;
    void LoadStream(TStream& stream) override;

private:
    void LoadPalette();

    // Set only while LoadFile runs, so that a later load from a stream alone never picks up the
    // palette of an earlier file.
    std::string paletteFileName_;
};

// The Dr. Halo palette file beside an image: its name with the extension ".pal" in any letter case
// ("PHOTO.CUT" beside "PHOTO.PAL"), the lower-case one first; empty when there is none.
std::string FindPaletteFile(const std::string& imageFileName);

// The file name with its extension (the part from the last dot of the last path element) replaced
// by `extension`, or with `extension` appended when it has none.
std::string ChangeFileExt(const std::string& fileName, const std::string& extension);
