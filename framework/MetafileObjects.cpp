#include "framework/MetafileObjects.h"

#include "framework/ByteReader.h"
#include "framework/DeviceIndependentBitmap.h"
#include "framework/Exception.h"

TLogicalPen MakePen(uint32_t style, double width, bool cosmetic, uint32_t color)
{
    TLogicalPen pen;
    switch (style & 0xF) {
    case 1: pen.style = TMetafilePenStyle::Dash; break;
    case 2:
    case 8: pen.style = TMetafilePenStyle::Dot; break;
    case 3: pen.style = TMetafilePenStyle::DashDot; break;
    case 4: pen.style = TMetafilePenStyle::DashDotDot; break;
    case 5: pen.style = TMetafilePenStyle::Null; break;
    default: pen.style = TMetafilePenStyle::Solid; break;  // solid, inside frame, user styles
    }
    switch (style & 0xF00) {
    case 0x100: pen.cap = TMetafileLineCap::Square; break;
    case 0x200: pen.cap = TMetafileLineCap::Flat; break;
    default: pen.cap = TMetafileLineCap::Round; break;
    }
    switch (style & 0xF000) {
    case 0x1000: pen.join = TMetafileLineJoin::Bevel; break;
    case 0x2000: pen.join = TMetafileLineJoin::Miter; break;
    default: pen.join = TMetafileLineJoin::Round; break;
    }
    pen.cosmetic = cosmetic || width == 0;
    pen.width = pen.cosmetic ? 0 : width;
    pen.color = ColorFromRef(color);
    return pen;
}

TMetafileBrush MakeBrush(uint32_t style, uint32_t color, uint32_t hatch)
{
    TMetafileBrush brush;
    brush.color = ColorFromRef(color);
    switch (style) {
    case 1: brush.style = TMetafileBrushStyle::Null; break;
    case 2:
        brush.style = TMetafileBrushStyle::Hatched;
        brush.hatch = hatch <= 5 ? static_cast<TMetafileHatch>(hatch) : TMetafileHatch::Horizontal;
        break;
    default: brush.style = TMetafileBrushStyle::Solid; break;
    }
    return brush;
}

TMetafileBrush MakePatternBrush(std::shared_ptr<const TBitmap> pattern)
{
    TMetafileBrush brush;
    if (pattern && !pattern->Empty()) {
        brush.style = TMetafileBrushStyle::Pattern;
        brush.pattern = std::move(pattern);
    } else {
        brush.style = TMetafileBrushStyle::Solid;
        brush.color = {0, 0, 0};
    }
    return brush;
}

std::shared_ptr<TBitmap> DecodeEmbeddedDib(std::span<const uint8_t> info, std::span<const uint8_t> bits)
{
    try {
        auto bitmap = std::make_shared<TBitmap>();
        ReadDib(info, bits, *bitmap);
        if (bitmap->Empty())
            return nullptr;
        return bitmap;
    } catch (const Exception&) {
        return nullptr;
    }
}

std::shared_ptr<TBitmap> DecodePackedDib(std::span<const uint8_t> dib)
{
    const size_t infoSize = DibInfoSize(dib);
    if (infoSize == 0 || infoSize > dib.size())
        return nullptr;
    return DecodeEmbeddedDib(dib.first(infoSize), dib.subspan(infoSize));
}

bool DibBottomUp(std::span<const uint8_t> info)
{
    try {
        TByteReader in(info);
        if (in.U32LE() == 12)
            return true;
        in.Seek(8);
        return in.S32LE() > 0;
    } catch (const EReadError&) {
        return true;
    }
}

void DibSourceRect(const TBitmap& bitmap, bool bottomUp, double x, double y, double width, double height,
                   double (&source)[4])
{
    source[0] = x;
    source[1] = bottomUp ? bitmap.Height() - y - height : y;
    source[2] = width;
    source[3] = height;
}
