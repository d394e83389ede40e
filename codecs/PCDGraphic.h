#pragma once

#include "framework/Bitmap.h"

#include <array>
#include <cstdint>

// Kodak Photo-CD image packs: one of the three uncompressed resolutions (192 x 128, 384 x 256,
// 768 x 512), PhotoYCC luminance rows with half-resolution chroma, converted to 24-bit colour and
// turned to the image's stored orientation.
class TPCDGraphic : public TBitmap {
    KAVREL_DECLARE_GRAPHIC_CLASS(TPCDGraphic)
public:
    TPCDGraphic();

    // Loading needs no heap memory beyond the bitmap itself: the lines live in fixed buffers.
    void LoadStream(TStream& stream) override;
    // Photo-CD pictures are not written: saving leaves the stream as it is.
    void SaveStream(TStream& stream) override;
    // A file is never left empty: the picture is saved as a Windows bitmap.
    void SaveToFile(const std::string& fileName) override { SaveToFileAsBitmap(fileName); }

    // Which resolution to read: 0 (192 x 128), 1 (384 x 256) or 2 (768 x 512, the default).
    int Resolution() const { return resolution_; }
    void SetResolution(int resolution) { resolution_ = resolution; }

private:
    static constexpr int kMaxLineWidth = 768;
    static constexpr int kMaxChroma = kMaxLineWidth / 2 + 1;  // one more for the rightmost odd column

    using LumaLine = std::array<uint8_t, kMaxLineWidth>;
    using ChromaLine = std::array<uint8_t, kMaxChroma>;

    void StoreLine(const LumaLine& luma, const LumaLine& c1, const LumaLine& c2, int line, int lineWidth,
                   int lineCount, int orientation);

    int64_t startPosition_ = 0;
    int resolution_ = 2;

    LumaLine lumaA_{};
    LumaLine lumaB_{};
    // The chroma of the current pair and of the next one.
    ChromaLine c1_{};
    ChromaLine c2_{};
    ChromaLine nextC1_{};
    ChromaLine nextC2_{};
    // Chroma upsampled to full width for the first (A) and the second (B) line of the pair.
    LumaLine c1A_{};
    LumaLine c1B_{};
    LumaLine c2A_{};
    LumaLine c2B_{};
};

// One PhotoYCC sample as blue, green, red.
void PhotoYccToBgr(uint8_t luma, uint8_t c1, uint8_t c2, uint8_t* bgr);
