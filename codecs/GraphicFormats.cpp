#include "codecs/GraphicFormats.h"

#include "codecs/AutodeskGraphic.h"
#include "codecs/CUTGraphic.h"
#include "codecs/GIFGraphic.h"
#include "codecs/PCDGraphic.h"
#include "codecs/PCXGraphic.h"
#include "codecs/PPMGraphic.h"
#include "codecs/PSDGraphic.h"
#include "codecs/RLAGraphic.h"
#include "codecs/SGIGraphic.h"
#include "codecs/TIFFGraphic.h"
#include "codecs/TargaGraphic.h"
#include "codecs/VectorRows.h"
#include "framework/Bitmap.h"
#include "framework/FrameworkFormats.h"
#include "framework/Palette.h"
#include "framework/Picture.h"
#include "framework/PixelConversion.h"

#include <algorithm>
#include <cmath>
#include <cstring>

void RegisterGraphicFormats()
{
    TPicture::RegisterFormat("win", "Truevision images", TTargaGraphic::StaticClass());
    TPicture::RegisterFormat("vst", "Truevision images", TTargaGraphic::StaticClass());
    TPicture::RegisterFormat("vda", "Truevision images", TTargaGraphic::StaticClass());
    TPicture::RegisterFormat("tiff", "TIFF images", TTIFFGraphic::StaticClass());
    TPicture::RegisterFormat("tif", "TIFF images", TTIFFGraphic::StaticClass());
    TPicture::RegisterFormat("tga", "Truevision images", TTargaGraphic::StaticClass());
    TPicture::RegisterFormat("sgi", "SGI true color images", TSGIGraphic::StaticClass());
    TPicture::RegisterFormat("scr", "Word 5.x screen capture images", TPCXGraphic::StaticClass());
    TPicture::RegisterFormat("rpf", "SGI Wavefront images", TRLAGraphic::StaticClass());
    TPicture::RegisterFormat("rle", "Windows bitmap", TBitmap::StaticClass());
    TPicture::RegisterFormat("rla", "SGI Wavefront images", TRLAGraphic::StaticClass());
    TPicture::RegisterFormat("rgba", "SGI true color images", TSGIGraphic::StaticClass());
    TPicture::RegisterFormat("rgb", "SGI true color images", TSGIGraphic::StaticClass());
    TPicture::RegisterFormat("psd", "Photoshop images", TPSDGraphic::StaticClass());
    TPicture::RegisterFormat("ppm", "Portable pixel map images", TPPMGraphic::StaticClass());
    TPicture::RegisterFormat("pgm", "Portable grayscale images", TPPMGraphic::StaticClass());
    TPicture::RegisterFormat("pbm", "Portable b&w images", TPPMGraphic::StaticClass());
    TPicture::RegisterFormat("pic", "Autodesk images", TAutodeskGraphic::StaticClass());
    TPicture::RegisterFormat("pcx", "ZSoft PCX images", TPCXGraphic::StaticClass());
    TPicture::RegisterFormat("pdd", "Photoshop images", TPSDGraphic::StaticClass());
    TPicture::RegisterFormat("pcd", "Kodak Photo-CD images", TPCDGraphic::StaticClass());
    TPicture::RegisterFormat("pcc", "ZSoft PCC images", TPCXGraphic::StaticClass());
    TPicture::RegisterFormat("icb", "Truevision images", TTargaGraphic::StaticClass());
    TPicture::RegisterFormat("gif", "CompuServe images", TGIFGraphic::StaticClass());
    TPicture::RegisterFormat("dib", "Windows bitmap", TBitmap::StaticClass());
    TPicture::RegisterFormat("cut", "Dr. Halo images", TCUTGraphic::StaticClass());
    TPicture::RegisterFormat("cel", "Autodesk images", TAutodeskGraphic::StaticClass());
    TPicture::RegisterFormat("bw", "SGI black/white images", TSGIGraphic::StaticClass());
}

void EnsureAllFormatsRegistered()
{
    static const bool registered = [] {
        RegisterFrameworkFormats();
        RegisterGraphicFormats();
        return true;
    }();
    (void)registered;
}

void UnregisterGraphicFormats()
{
    TPicture::UnregisterFormatClass(TTargaGraphic::StaticClass());
    TPicture::UnregisterFormatClass(TTIFFGraphic::StaticClass());
    TPicture::UnregisterFormatClass(TSGIGraphic::StaticClass());
    TPicture::UnregisterFormatClass(TPCXGraphic::StaticClass());
    TPicture::UnregisterFormatClass(TAutodeskGraphic::StaticClass());
    TPicture::UnregisterFormatClass(TPCDGraphic::StaticClass());
    TPicture::UnregisterFormatClass(TPPMGraphic::StaticClass());
    TPicture::UnregisterFormatClass(TCUTGraphic::StaticClass());
    TPicture::UnregisterFormatClass(TGIFGraphic::StaticClass());
    TPicture::UnregisterFormatClass(TRLAGraphic::StaticClass());
    TPicture::UnregisterFormatClass(TPSDGraphic::StaticClass());
}

// ---------------------------------------------------------------------------------------------
// Byte order

void SwapWords(void* data, int count)
{
    auto* p = static_cast<uint8_t*>(data);
    for (int i = 0; i < count; ++i, p += 2)
        std::swap(p[0], p[1]);
}

void SwapLongs(void* data, int count)
{
    auto* p = static_cast<uint8_t*>(data);
    for (int i = 0; i < count; ++i, p += 4) {
        std::swap(p[0], p[3]);
        std::swap(p[1], p[2]);
    }
}

uint32_t SwapLongValue(uint32_t value)
{
    return (value >> 24) | ((value >> 8) & 0xFF00) | ((value << 8) & 0xFF0000) | (value << 24);
}

void Samples16To8(const void* source, void* dest, int, int count)
{
    const auto* s = static_cast<const uint8_t*>(source);
    auto* d = static_cast<uint8_t*>(dest);
    for (int i = 0; i < count; ++i)
        d[i] = s[2 * i + 1];
}

// ---------------------------------------------------------------------------------------------
// Colour conversion

namespace {

// The i-th sample of a row of 8-bit or 16-bit samples, reduced to its high byte.
inline uint8_t Sample8(const uint8_t* row, int bitsPerSample, int i)
{
    return bitsPerSample == 8 ? row[i] : row[2 * i + 1];
}

// The i-th sample at full precision.
inline int SampleFull(const uint8_t* row, int bitsPerSample, int i)
{
    return bitsPerSample == 8 ? row[i] : row[2 * i] | row[2 * i + 1] << 8;
}

inline uint8_t ClampByte(long long v)
{
    return static_cast<uint8_t>(std::clamp<long long>(v, 0, 255));
}

inline uint8_t CmykChannel(int x, int k, int bitsPerSample)
{
    if (bitsPerSample == 8)
        return ClampByte(255 - (x + k - MulDiv(x, k, 255)));
    return ClampByte(255 - ((x + k - MulDiv(x, k, 65535)) >> 8));
}

// The matrix gives linear light; screens show sRGB-encoded values, so the standard transfer curve
// comes before rounding. Black (0) and white (1) stay where they are.
inline uint8_t SrgbByte(long double linear)
{
    const long double v = std::clamp(linear, 0.0L, 1.0L);
    const long double encoded = v <= 0.0031308L ? 12.92L * v : 1.055L * std::pow(v, 1 / 2.4L) - 0.055L;
    // nearbyint rounds ties to even in the default rounding mode.
    return ClampByte(static_cast<long long>(std::nearbyint(encoded * 255)));
}

inline void LabPixel(uint8_t lByte, uint8_t aByte, uint8_t bByte, uint8_t* out)
{
    const long double l = lByte / 2.55L;
    const long double a = static_cast<int8_t>(aByte);
    const long double b = static_cast<int8_t>(bByte);
    const long double fy = (l + 16) / 116;
    long double x, y, z;
    if (l < 7.9996L) {
        y = l / 903.3L;
        x = a / 3893.5L + y;
        z = y - b / 1557.4L;
    } else {
        x = std::pow(a / 500 + fy, 3.0L);
        y = fy * fy * fy;
        z = std::pow(fy - b / 200, 3.0L);
    }
    out[0] = SrgbByte(0.099L * x - 0.198L * y + 1.099L * z);
    out[1] = SrgbByte(-0.952L * x + 1.893L * y + 0.059L * z);
    out[2] = SrgbByte(2.998L * x - 1.458L * y - 0.541L * z);
}

inline bool SupportedDepth(int bitsPerSample)
{
    return bitsPerSample == 8 || bitsPerSample == 16;
}

}  // namespace

void RgbToBgr(const void* source, void* dest, int bitsPerSample, int count)
{
    if (!SupportedDepth(bitsPerSample))
        return;
    const auto* s = static_cast<const uint8_t*>(source);
    auto* d = static_cast<uint8_t*>(dest);
    if (bitsPerSample == 8) {
        SwapRedAndBlue(s, d, static_cast<size_t>(std::max(count, 0) / 3));
        return;
    }
    for (int i = 0; i < count / 3; ++i) {
        const uint8_t r = Sample8(s, bitsPerSample, 3 * i);
        const uint8_t g = Sample8(s, bitsPerSample, 3 * i + 1);
        const uint8_t b = Sample8(s, bitsPerSample, 3 * i + 2);
        d[3 * i] = b;
        d[3 * i + 1] = g;
        d[3 * i + 2] = r;
    }
}

void RgbaToBgra(const void* source, void* dest, int bitsPerSample, int count)
{
    if (!SupportedDepth(bitsPerSample))
        return;
    const auto* s = static_cast<const uint8_t*>(source);
    auto* d = static_cast<uint8_t*>(dest);
    for (int i = 0; i < count / 4; ++i) {
        const uint8_t r = Sample8(s, bitsPerSample, 4 * i);
        const uint8_t g = Sample8(s, bitsPerSample, 4 * i + 1);
        const uint8_t b = Sample8(s, bitsPerSample, 4 * i + 2);
        const uint8_t a = Sample8(s, bitsPerSample, 4 * i + 3);
        d[4 * i] = b;
        d[4 * i + 1] = g;
        d[4 * i + 2] = r;
        d[4 * i + 3] = a;
    }
}

void CmykToBgr(const void* source, void* dest, int bitsPerSample, int count)
{
    if (!SupportedDepth(bitsPerSample))
        return;
    const auto* s = static_cast<const uint8_t*>(source);
    auto* d = static_cast<uint8_t*>(dest);
    for (int i = 0; i < count / 4; ++i) {
        const int c = SampleFull(s, bitsPerSample, 4 * i);
        const int m = SampleFull(s, bitsPerSample, 4 * i + 1);
        const int y = SampleFull(s, bitsPerSample, 4 * i + 2);
        const int k = SampleFull(s, bitsPerSample, 4 * i + 3);
        d[3 * i] = CmykChannel(y, k, bitsPerSample);
        d[3 * i + 1] = CmykChannel(m, k, bitsPerSample);
        d[3 * i + 2] = CmykChannel(c, k, bitsPerSample);
    }
}

void LabToBgr(const void* source, void* dest, int, int count)
{
    const auto* s = static_cast<const uint8_t*>(source);
    auto* d = static_cast<uint8_t*>(dest);
    for (int i = 0; i < count / 3; ++i) {
        const uint8_t l = s[3 * i], a = s[3 * i + 1], b = s[3 * i + 2];
        LabPixel(l, a, b, d + 3 * i);
    }
}

void RgbPlanesToBgr(const void* red, const void* green, const void* blue, void* dest, int bitsPerSample, int count)
{
    if (!SupportedDepth(bitsPerSample))
        return;
    const auto* r = static_cast<const uint8_t*>(red);
    const auto* g = static_cast<const uint8_t*>(green);
    const auto* b = static_cast<const uint8_t*>(blue);
    auto* d = static_cast<uint8_t*>(dest);
#if KAVREL_X86_DISPATCH
    if (bitsPerSample == 8 && count > 0 && UseX86V3()) {
        RgbPlanesToBgrX86V3(r, g, b, d, static_cast<size_t>(count / 3));
        return;
    }
#endif
    for (int i = 0; i < count / 3; ++i) {
        d[3 * i] = Sample8(b, bitsPerSample, i);
        d[3 * i + 1] = Sample8(g, bitsPerSample, i);
        d[3 * i + 2] = Sample8(r, bitsPerSample, i);
    }
}

void CmykPlanesToBgr(const void* cyan, const void* magenta, const void* yellow, const void* black, void* dest,
                     int bitsPerSample, int count)
{
    if (!SupportedDepth(bitsPerSample))
        return;
    const auto* c = static_cast<const uint8_t*>(cyan);
    const auto* m = static_cast<const uint8_t*>(magenta);
    const auto* y = static_cast<const uint8_t*>(yellow);
    const auto* k = static_cast<const uint8_t*>(black);
    auto* d = static_cast<uint8_t*>(dest);
    for (int i = 0; i < count / 4; ++i) {
        const int kv = SampleFull(k, bitsPerSample, i);
        d[3 * i] = CmykChannel(SampleFull(y, bitsPerSample, i), kv, bitsPerSample);
        d[3 * i + 1] = CmykChannel(SampleFull(m, bitsPerSample, i), kv, bitsPerSample);
        d[3 * i + 2] = CmykChannel(SampleFull(c, bitsPerSample, i), kv, bitsPerSample);
    }
}

void LabPlanesToBgr(const void* l, const void* a, const void* b, void* dest, int, int count)
{
    const auto* lp = static_cast<const uint8_t*>(l);
    const auto* ap = static_cast<const uint8_t*>(a);
    const auto* bp = static_cast<const uint8_t*>(b);
    auto* d = static_cast<uint8_t*>(dest);
    for (int i = 0; i < count / 3; ++i)
        LabPixel(lp[i], ap[i], bp[i], d + 3 * i);
}

// ---------------------------------------------------------------------------------------------
// Differencing

namespace {
void UndoDifferencing(uint8_t* row, int stride, int count)
{
    for (int i = 0; i < stride * count; ++i)
        row[i + stride] = static_cast<uint8_t>(row[i + stride] + row[i]);
}
}  // namespace

void UndoDifferencing1(void* row, int count)
{
    UndoDifferencing(static_cast<uint8_t*>(row), 1, count);
}

void UndoDifferencing3(void* row, int count)
{
    UndoDifferencing(static_cast<uint8_t*>(row), 3, count);
}

void UndoDifferencing4(void* row, int count)
{
    UndoDifferencing(static_cast<uint8_t*>(row), 4, count);
}

void RgbDifferencesToBgr(const void* source, void* dest, int count)
{
    if (count <= 0)
        return;
    const auto* s = static_cast<const uint8_t*>(source);
    auto* d = static_cast<uint8_t*>(dest);
#if KAVREL_X86_DISPATCH
    if (UseX86V3()) {
        RgbDifferencesToBgrX86V3(s, d, static_cast<size_t>(count / 3));
        return;
    }
#endif
    uint8_t red = 0, green = 0, blue = 0;
    for (int i = 0; i < count / 3; ++i) {
        red = static_cast<uint8_t>(red + s[3 * i]);
        green = static_cast<uint8_t>(green + s[3 * i + 1]);
        blue = static_cast<uint8_t>(blue + s[3 * i + 2]);
        d[3 * i] = blue;
        d[3 * i + 1] = green;
        d[3 * i + 2] = red;
    }
}
