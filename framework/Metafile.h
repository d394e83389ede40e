#pragma once

#include "framework/Bitmap.h"
#include "framework/Graphic.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

// A picture made of drawing records: a Windows metafile (.wmf, standard or with the placeable
// header) or an enhanced metafile (.emf). Keeps the file's bytes; the records are played onto a
// TMetafileCanvas (framework/MetafilePlayer.h), which the application implements, so the picture
// has no raster of its own.
//
// Saving: a picture read from a Windows metafile is written as read. One read from an enhanced
// metafile is written as read, except under a name ending in ".wmf" (any letter case): then it
// becomes a Windows metafile holding the rendered picture as one device-independent bitmap record,
// since the enhanced records have no Windows metafile equivalent in general.
class TMetafile : public TGraphic {
    KAVREL_DECLARE_GRAPHIC_CLASS(TMetafile)
public:
    // Renders a metafile at its own size on white; installed by the application's display layer.
    using TRasterizer = std::function<TBitmap(const TMetafile&)>;

    TMetafile() = default;

    // Reads everything from the stream's position to its end. Raises "Metafile is not valid" when
    // the header is neither of the two kinds or the picture has no extent.
    void LoadStream(TStream& stream) override;
    // Writes the bytes as read.
    void SaveStream(TStream& stream) override;
    // As SaveStream, but an enhanced metafile saved under a ".wmf" name is converted (see above).
    void SaveToFile(const std::string& fileName) override;

    bool Empty() const override { return data_.empty(); }
    // The size in pixels at 96 pixels per inch.
    int Width() const override { return width_; }
    int Height() const override { return height_; }

    bool Enhanced() const { return enhanced_; }
    bool Placeable() const { return placeable_; }
    const std::vector<uint8_t>& Data() const { return data_; }
    // Where the records start (after a placeable header).
    size_t RecordsStart() const { return placeable_ ? 22 : 0; }
    // The rectangle that the picture shows: for Windows metafiles in logical units (the placeable
    // header's bounding box, or the window the records set up, or the extent of what they draw),
    // for enhanced metafiles in pixels of the reference device (the header's frame).
    double FrameLeft() const { return frame_[0]; }
    double FrameTop() const { return frame_[1]; }
    double FrameWidth() const { return frame_[2]; }
    double FrameHeight() const { return frame_[3]; }
    // The reference device of an enhanced metafile, for the metric map modes.
    double DevicePixelsPerMmX() const { return pixelsPerMm_[0]; }
    double DevicePixelsPerMmY() const { return pixelsPerMm_[1]; }

    // Writes a Windows metafile: the bytes as read, or for an enhanced metafile the rendered
    // picture as one bitmap record (needs the rasterizer; raises when none is installed).
    void SaveAsWindowsMetafile(TStream& stream) const;

    static void SetRasterizer(TRasterizer rasterizer);
    static const TRasterizer& Rasterizer();

private:
    void LoadWindowsMetafile();
    void LoadEnhancedMetafile();

    std::vector<uint8_t> data_;
    bool enhanced_ = false;
    bool placeable_ = false;
    int width_ = 0;
    int height_ = 0;
    double frame_[4] = {0, 0, 0, 0};
    double pixelsPerMm_[2] = {96 / 25.4, 96 / 25.4};
};

// A Windows metafile with a placeable header that shows the bitmap at its own size (96 pixels per
// inch) through one StretchDIB record. Raises when the bitmap is larger than such a file can say.
void WriteBitmapAsWindowsMetafile(TStream& stream, const TBitmap& bitmap);

// True when the name's extension is "wmf" in any letter case.
bool IsWindowsMetafileName(const std::string& fileName);
