#pragma once

#include "framework/Bitmap.h"
#include "framework/MetafileDeviceContext.h"

#include <cstdint>
#include <memory>
#include <span>
#include <variant>

// The graphics objects that metafile records create and select, shared by both players.

// Palettes and regions take a place in the object table but are not drawn with.
struct TOtherObject {};
using TMetafileObject = std::variant<std::monostate, TLogicalPen, TMetafileBrush, TLogicalFont, TOtherObject>;

// A COLORREF: red in the low byte. Palette-index forms are taken as plain colours.
inline TMetafileColor ColorFromRef(uint32_t ref)
{
    return {static_cast<uint8_t>(ref), static_cast<uint8_t>(ref >> 8), static_cast<uint8_t>(ref >> 16)};
}

// A pen from a GDI pen style (line style, end cap and join bits), width in logical units (0 or a
// cosmetic style: one device pixel) and colour.
TLogicalPen MakePen(uint32_t style, double width, bool cosmetic, uint32_t color);
// A brush from a LOGBRUSH's style, colour and hatch; pattern brushes come from MakePatternBrush.
TMetafileBrush MakeBrush(uint32_t style, uint32_t color, uint32_t hatch);
TMetafileBrush MakePatternBrush(std::shared_ptr<const TBitmap> pattern);

// Decodes an embedded DIB; null when it is malformed (the record is then skipped).
std::shared_ptr<TBitmap> DecodeEmbeddedDib(std::span<const uint8_t> info, std::span<const uint8_t> bits);
// Decodes a DIB whose colour table and bits follow the header directly.
std::shared_ptr<TBitmap> DecodePackedDib(std::span<const uint8_t> dib);
// True when the DIB's rows are stored bottom first (a positive height).
bool DibBottomUp(std::span<const uint8_t> info);

// The source rectangle (x, y from the top, width, height) for coordinates that count y from the
// bottom when the DIB is stored bottom first.
void DibSourceRect(const TBitmap& bitmap, bool bottomUp, double x, double y, double width, double height,
                   double (&source)[4]);
