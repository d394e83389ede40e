#pragma once

#include "framework/Bitmap.h"
#include "framework/Graphic.h"

#include <cstdint>
#include <span>
#include <vector>

// One image of an icon file as its directory and its own header describe it.
struct TIconImageInfo {
    uint32_t offset = 0;  // of the image data in the file
    uint32_t size = 0;    // bytes of image data (cut to the end of the file)
    int width = 0;        // from the image's own header, not from the directory
    int height = 0;
    int bitsPerPixel = 0;
    bool png = false;  // PNG-encoded rather than a BMP with an AND mask
};

// An icon file (.ico): several images of different sizes and depths. Keeps the file's bytes and
// shows the largest, deepest image as a 32-bit bitmap whose alpha comes from the image's alpha
// channel or from its AND mask. Saving writes the data as read.
class TIcon : public TGraphic {
    KAVREL_DECLARE_GRAPHIC_CLASS(TIcon)
public:
    TIcon() = default;

    // Raises "Icon image is not valid" for a damaged directory or when no image can be decoded.
    void LoadStream(TStream& stream) override;
    void SaveStream(TStream& stream) override;

    const TBitmap* DisplayBitmap() const override { return &bitmap_; }
    bool Empty() const override { return bitmap_.Empty(); }
    int Width() const override { return bitmap_.Width(); }
    int Height() const override { return bitmap_.Height(); }

    const std::vector<uint8_t>& Data() const { return data_; }
    // The images of the directory whose data could be located, in directory order.
    const std::vector<TIconImageInfo>& Images() const { return images_; }
    // The index into Images() of the image shown.
    int DisplayIndex() const { return displayIndex_; }
    // Decodes one image (as DisplayBitmap() shows it).
    TBitmap DecodeImage(int index) const;

private:
    std::vector<uint8_t> data_;
    std::vector<TIconImageInfo> images_;
    int displayIndex_ = -1;
    TBitmap bitmap_;
};

// Decodes one icon image, a BMP with an AND mask or a PNG, into a pf32bit bitmap.
void DecodeIconImage(std::span<const uint8_t> image, TBitmap& bitmap);
