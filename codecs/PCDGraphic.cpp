#include "codecs/PCDGraphic.h"

#include "framework/Exception.h"
#include "framework/Stream.h"

#include <algorithm>
#include <cmath>
#include <cstring>

KAVREL_DEFINE_GRAPHIC_CLASS(TPCDGraphic, TBitmap)

namespace {

constexpr int64_t kSignatureOffset = 2048;
constexpr char kSignature[7] = {'P', 'C', 'D', '_', 'I', 'P', 'I'};
constexpr int64_t kOrientationOffset = 194635;

struct ResolutionLayout {
    int64_t dataOffset;
    int lineWidth;
    int lineCount;
};
constexpr ResolutionLayout kResolutions[3] = {{8192, 192, 128}, {0xB800, 384, 256}, {0x30000, 768, 512}};

uint8_t RoundToByte(long double value)
{
    // nearbyint rounds ties to even in the default rounding mode.
    return static_cast<uint8_t>(std::clamp(std::nearbyint(value), 0.0L, 255.0L));
}

// Spreads one chroma channel of a line pair over both lines. `current` and `next` hold half + 1
// samples, the last one a copy of the one before.
void Upsample(const uint8_t* current, const uint8_t* next, int half, uint8_t* lineA, uint8_t* lineB)
{
    for (int k = 0; k < half; ++k) {
        const int x0 = current[k], x1 = current[k + 1], n0 = next[k], n1 = next[k + 1];
        lineA[2 * k] = static_cast<uint8_t>(x0);
        lineA[2 * k + 1] = static_cast<uint8_t>((x0 + x1) >> 1);
        lineB[2 * k] = static_cast<uint8_t>((x0 + n0) >> 1);
        lineB[2 * k + 1] = static_cast<uint8_t>((x0 + x1 + n0 + n1) >> 2);
    }
}

}  // namespace

void PhotoYccToBgr(uint8_t luma, uint8_t c1, uint8_t c2, uint8_t* bgr)
{
    const long double y = 1.3584L * luma;
    const long double d1 = static_cast<int>(c1) - 156;
    const long double d2 = static_cast<int>(c2) - 137;
    bgr[0] = RoundToByte(y + 2.2179L * d1);
    bgr[1] = RoundToByte(y - 0.9271435L * d2 - 0.4302726L * d1);
    bgr[2] = RoundToByte(y + 1.8215L * d2);
}

TPCDGraphic::TPCDGraphic() : resolution_(2) {}

void TPCDGraphic::LoadStream(TStream& stream)
{
    ReleaseHandle();
    startPosition_ = stream.Position();

    char signature[sizeof kSignature];
    stream.SetPosition(startPosition_ + kSignatureOffset);
    stream.ReadBuffer(signature, sizeof signature);
    if (std::memcmp(signature, kSignature, sizeof kSignature) != 0)
        throw Exception("PCD: wrong image format.");

    stream.SetPosition(startPosition_ + kOrientationOffset);
    const int orientation = stream.ReadByte() & 3;

    SetPixelFormat(pf24bit);
    if (resolution_ < 0 || resolution_ > 2)
        throw Exception("PCD: image size currently not supported");
    const ResolutionLayout& r = kResolutions[resolution_];
    const int width = r.lineWidth, height = r.lineCount, half = width / 2;
    const int64_t pairBytes = 3 * int64_t{width};

    // A stream too short for the image fails now rather than after the bitmap is made.
    if (stream.Size() < startPosition_ + r.dataOffset + (height / 2) * pairBytes)
        throw EReadError();
    if (orientation % 2 == 0)
        SetSize(width, height);
    else
        SetSize(height, width);

    for (int line = 0; line < height; line += 2) {
        const int64_t pairStart = startPosition_ + r.dataOffset + (line / 2) * pairBytes;
        stream.SetPosition(pairStart);
        stream.ReadBuffer(lumaA_.data(), width);
        stream.ReadBuffer(lumaB_.data(), width);
        stream.ReadBuffer(c1_.data(), half);
        stream.ReadBuffer(c2_.data(), half);
        if (line < height - 2) {
            stream.SetPosition(pairStart + pairBytes + 2 * width);
            stream.ReadBuffer(nextC1_.data(), half);
            stream.ReadBuffer(nextC2_.data(), half);
        } else {
            // The last pair has no successor: both its lines share its own chroma.
            nextC1_ = c1_;
            nextC2_ = c2_;
        }
        for (ChromaLine* chroma : {&c1_, &c2_, &nextC1_, &nextC2_})
            (*chroma)[half] = (*chroma)[half - 1];

        Upsample(c1_.data(), nextC1_.data(), half, c1A_.data(), c1B_.data());
        Upsample(c2_.data(), nextC2_.data(), half, c2A_.data(), c2B_.data());
        StoreLine(lumaA_, c1A_, c2A_, line, width, height, orientation);
        StoreLine(lumaB_, c1B_, c2B_, line + 1, width, height, orientation);
    }
}

void TPCDGraphic::StoreLine(const LumaLine& luma, const LumaLine& c1, const LumaLine& c2, int line, int lineWidth,
                            int lineCount, int orientation)
{
    // The orientation says how far the stored picture is turned: 1 a quarter turn anticlockwise,
    // 2 a half turn, 3 a quarter turn clockwise. Turning never mirrors the picture.
    switch (orientation) {
    case 0:
    case 2: {
        const bool halfTurn = orientation == 2;
        uint8_t* row = ScanLine(halfTurn ? lineCount - 1 - line : line);
        for (int x = 0; x < lineWidth; ++x)
            PhotoYccToBgr(luma[x], c1[x], c2[x], row + 3 * (halfTurn ? lineWidth - 1 - x : x));
        break;
    }
    default: {
        // The stored line becomes a column: the left one read upwards for 1, the right one read
        // downwards for 3.
        const bool anticlockwise = orientation == 1;
        const int column = anticlockwise ? line : lineCount - 1 - line;
        for (int x = 0; x < lineWidth; ++x) {
            const int row = anticlockwise ? lineWidth - 1 - x : x;
            PhotoYccToBgr(luma[x], c1[x], c2[x], ScanLine(row) + 3 * column);
        }
        break;
    }
    }
}

void TPCDGraphic::SaveStream(TStream&) {}
