#include "framework/ByteReader.h"
#include "framework/MetafileObjects.h"
#include "framework/MetafilePlayer.h"
#include "framework/MetafileText.h"

#include <bit>
#include <vector>

namespace {

// Record types of enhanced metafiles.
enum : uint32_t {
    kHeader = 1,
    kPolyBezier = 2,
    kPolygon = 3,
    kPolyline = 4,
    kPolyBezierTo = 5,
    kPolylineTo = 6,
    kPolyPolyline = 7,
    kPolyPolygon = 8,
    kSetWindowExtEx = 9,
    kSetWindowOrgEx = 10,
    kSetViewportExtEx = 11,
    kSetViewportOrgEx = 12,
    kEof = 14,
    kSetMapMode = 17,
    kSetBkMode = 18,
    kSetPolyFillMode = 19,
    kSetTextAlign = 22,
    kSetTextColor = 24,
    kSetBkColor = 25,
    kMoveToEx = 27,
    kExcludeClipRect = 29,
    kIntersectClipRect = 30,
    kScaleViewportExtEx = 31,
    kScaleWindowExtEx = 32,
    kSaveDC = 33,
    kRestoreDC = 34,
    kSetWorldTransform = 35,
    kModifyWorldTransform = 36,
    kSelectObject = 37,
    kCreatePen = 38,
    kCreateBrushIndirect = 39,
    kDeleteObject = 40,
    kAngleArc = 41,
    kEllipse = 42,
    kRectangle = 43,
    kRoundRect = 44,
    kArc = 45,
    kChord = 46,
    kPie = 47,
    kCreatePalette = 49,
    kLineTo = 54,
    kArcTo = 55,
    kPolyDraw = 56,
    kSetArcDirection = 57,
    kBeginPath = 59,
    kEndPath = 60,
    kCloseFigure = 61,
    kFillPath = 62,
    kStrokeAndFillPath = 63,
    kStrokePath = 64,
    kSelectClipPath = 67,
    kAbortPath = 68,
    kExtSelectClipRgn = 75,
    kBitBlt = 76,
    kStretchBlt = 77,
    kSetDIBitsToDevice = 80,
    kStretchDIBits = 81,
    kExtCreateFontIndirectW = 82,
    kExtTextOutA = 83,
    kExtTextOutW = 84,
    kPolyBezier16 = 85,
    kPolygon16 = 86,
    kPolyline16 = 87,
    kPolyBezierTo16 = 88,
    kPolylineTo16 = 89,
    kPolyPolyline16 = 90,
    kPolyPolygon16 = 91,
    kPolyDraw16 = 92,
    kCreateMonoBrush = 93,
    kCreateDIBPatternBrushPt = 94,
    kExtCreatePen = 95,
    kPolyTextOutA = 96,
    kPolyTextOutW = 97,
    kAlphaBlend = 114,
};

constexpr uint32_t kStockObject = 0x80000000u;

struct Record {
    uint32_t type;
    std::span<const uint8_t> bytes;  // the whole record, type and size included
};

class EnhancedPlayer {
public:
    EnhancedPlayer(TMetafileDC& dc, size_t handles) : dc_(dc), objects_(std::min<size_t>(handles, 65536)) {}

    void Play(const Record& record)
    {
        try {
            TByteReader in(record.bytes);
            in.Skip(8);
            Dispatch(record.type, in, record.bytes);
        } catch (const EReadError&) {
            // A record too short for what it declares draws nothing; the others still play.
        }
    }

private:
    static TPointF PointL(TByteReader& in)
    {
        const double x = in.S32LE();
        const double y = in.S32LE();
        return {x, y};
    }

    static std::vector<TPointF> Points(TByteReader& in, uint64_t count, bool small)
    {
        if (count * (small ? 4 : 8) > in.Remaining())
            throw EReadError();
        std::vector<TPointF> points(static_cast<size_t>(count));
        for (TPointF& p : points) {
            if (small) {
                const double x = in.S16LE();
                p = {x, static_cast<double>(in.S16LE())};
            } else {
                p = PointL(in);
            }
        }
        return points;
    }

    static float Float(TByteReader& in) { return std::bit_cast<float>(in.U32LE()); }

    static TAffine Xform(TByteReader& in)
    {
        TAffine t;
        t.m11 = Float(in);
        t.m12 = Float(in);
        t.m21 = Float(in);
        t.m22 = Float(in);
        t.dx = Float(in);
        t.dy = Float(in);
        return t;
    }

    // The part of the record at an offset the record gives; empty when it lies outside the record.
    static std::span<const uint8_t> Part(std::span<const uint8_t> record, uint32_t offset, uint32_t size)
    {
        if (offset > record.size() || size > record.size() - offset)
            return {};
        return record.subspan(offset, size);
    }

    void Store(uint32_t index, TMetafileObject object)
    {
        if (index > 0 && index < objects_.size())
            objects_[index] = std::move(object);
    }

    void Select(uint32_t index)
    {
        if (index & kStockObject) {
            SelectStock(index & ~kStockObject);
            return;
        }
        if (index >= objects_.size())
            return;
        const TMetafileObject& object = objects_[index];
        if (const auto* pen = std::get_if<TLogicalPen>(&object))
            dc_.SelectPen(*pen);
        else if (const auto* brush = std::get_if<TMetafileBrush>(&object))
            dc_.SelectBrush(*brush);
        else if (const auto* font = std::get_if<TLogicalFont>(&object))
            dc_.SelectFont(*font);
    }

    void SelectStock(uint32_t stock)
    {
        auto solid = [](uint8_t v) { return MakeBrush(0, uint32_t{v} * 0x010101u, 0); };
        switch (stock) {
        case 0: dc_.SelectBrush(solid(255)); break;
        case 1: dc_.SelectBrush(solid(192)); break;
        case 2: dc_.SelectBrush(solid(128)); break;
        case 3: dc_.SelectBrush(solid(64)); break;
        case 4: dc_.SelectBrush(solid(0)); break;
        case 5: dc_.SelectBrush(MakeBrush(1, 0, 0)); break;
        case 6: dc_.SelectPen(MakePen(0, 0, true, 0xFFFFFF)); break;
        case 7: dc_.SelectPen(MakePen(0, 0, true, 0)); break;
        case 8: dc_.SelectPen(MakePen(5, 0, true, 0)); break;
        case 10:
        case 11:
        case 12:
        case 13:
        case 14:
        case 16:
        case 17: dc_.SelectFont(TLogicalFont{}); break;
        case 18: dc_.SelectBrush(solid(255)); break;
        case 19: dc_.SelectPen(MakePen(0, 0, true, 0)); break;
        default: break;
        }
    }

    static TLogicalFont ReadFont(TByteReader& in)
    {
        TLogicalFont font;
        font.height = in.S32LE();
        font.width = in.S32LE();
        font.escapement = in.S32LE();
        in.Skip(4);  // orientation
        font.weight = in.S32LE();
        font.italic = in.U8() != 0;
        font.underline = in.U8() != 0;
        font.strikeOut = in.U8() != 0;
        font.charset = in.U8();
        in.Skip(4);  // precision, quality, pitch and family
        const std::span<const uint8_t> name = in.BytesUpTo(64);
        size_t length = 0;
        while (length + 1 < name.size() && (name[length] | name[length + 1]) != 0)
            length += 2;
        font.faceName = Utf16ToUtf8(name.first(length));
        return font;
    }

    // One EMRTEXT: the reference point, the string (at an offset from the record's start), the
    // options and the rectangle for an opaque box.
    void Text(TByteReader& in, std::span<const uint8_t> record, bool wide)
    {
        const TPointF reference = PointL(in);
        const uint32_t count = in.U32LE();
        const uint32_t offset = in.U32LE();
        const uint32_t options = in.U32LE();
        const double left = in.S32LE(), top = in.S32LE(), right = in.S32LE(), bottom = in.S32LE();
        in.Skip(4);  // offset of the character spacing
        if (options & 2)
            dc_.FillOpaqueRect(left, top, right, bottom);
        const uint64_t bytes = uint64_t{count} * (wide ? 2 : 1);
        if (bytes > UINT32_MAX)
            return;
        std::span<const uint8_t> text = Part(record, offset, static_cast<uint32_t>(bytes));
        const size_t unit = wide ? 2 : 1;
        while (text.size() >= unit && text[text.size() - unit] == 0 && text[text.size() - 1] == 0)
            text = text.first(text.size() - unit);
        dc_.TextOut(reference, wide ? Utf16ToUtf8(text) : AnsiToUtf8(text, dc_.Font().charset));
    }

    // A blit's source bitmap; null when absent or malformed, or not needed.
    std::shared_ptr<TBitmap> Bitmap(std::span<const uint8_t> record, uint32_t offBmi, uint32_t cbBmi, uint32_t offBits,
                                    uint32_t cbBits, bool& bottomUp)
    {
        const auto info = Part(record, offBmi, cbBmi);
        const auto bits = Part(record, offBits, cbBits);
        if (info.empty() || dc_.GeometryOnly())
            return nullptr;
        bottomUp = DibBottomUp(info);
        return DecodeEmbeddedDib(info, bits);
    }

    void Blit(uint32_t type, TByteReader& in, std::span<const uint8_t> record)
    {
        in.Skip(16);  // bounds
        const double xDest = in.S32LE(), yDest = in.S32LE(), cxDest = in.S32LE(), cyDest = in.S32LE();
        const uint32_t rop = in.U32LE();
        const double xSrc = in.S32LE(), ySrc = in.S32LE();
        in.Skip(24 + 4 + 4);  // source transform, background colour, colour usage
        const uint32_t offBmi = in.U32LE(), cbBmi = in.U32LE(), offBits = in.U32LE(), cbBits = in.U32LE();
        double cxSrc = cxDest, cySrc = cyDest;
        if (type != kBitBlt) {
            cxSrc = in.S32LE();
            cySrc = in.S32LE();
        }
        bool bottomUp = true;
        const std::shared_ptr<TBitmap> bitmap = Bitmap(record, offBmi, cbBmi, offBits, cbBits, bottomUp);
        // The source rectangle is in the source device's coordinates, rows top first.
        const double source[4] = {xSrc, ySrc, cxSrc, cySrc};
        if (cbBmi == 0) {
            dc_.PatBlt(xDest, yDest, cxDest, cyDest, rop);
        } else if (type == kAlphaBlend) {
            if (bitmap)
                dc_.AlphaBlendBitmap(xDest, yDest, cxDest, cyDest, *bitmap, source, static_cast<uint8_t>(rop >> 16));
            else if (dc_.GeometryOnly())
                dc_.StretchBitmap(xDest, yDest, cxDest, cyDest, nullptr, source, 0x00CC0020);
        } else if (bitmap || dc_.GeometryOnly()) {
            dc_.StretchBitmap(xDest, yDest, cxDest, cyDest, bitmap.get(), source, rop);
        }
    }

    void DibBlit(uint32_t type, TByteReader& in, std::span<const uint8_t> record)
    {
        in.Skip(16);  // bounds
        const double xDest = in.S32LE(), yDest = in.S32LE();
        const double xSrc = in.S32LE(), ySrc = in.S32LE(), cxSrc = in.S32LE(), cySrc = in.S32LE();
        const uint32_t offBmi = in.U32LE(), cbBmi = in.U32LE(), offBits = in.U32LE(), cbBits = in.U32LE();
        in.Skip(4);  // colour usage
        uint32_t rop = 0x00CC0020;
        double cxDest = cxSrc, cyDest = cySrc;
        if (type == kStretchDIBits) {
            rop = in.U32LE();
            cxDest = in.S32LE();
            cyDest = in.S32LE();
        }
        bool bottomUp = true;
        const std::shared_ptr<TBitmap> bitmap = Bitmap(record, offBmi, cbBmi, offBits, cbBits, bottomUp);
        double source[4] = {xSrc, ySrc, cxSrc, cySrc};
        if (bitmap)
            DibSourceRect(*bitmap, bottomUp, xSrc, ySrc, cxSrc, cySrc, source);
        if (bitmap || dc_.GeometryOnly())
            dc_.StretchBitmap(xDest, yDest, cxDest, cyDest, bitmap.get(), source, rop);
        else
            dc_.PatBlt(xDest, yDest, cxDest, cyDest, rop);  // only operations without a source paint
    }

    void Dispatch(uint32_t type, TByteReader& in, std::span<const uint8_t> record)
    {
        switch (type) {
        case kPolyBezier:
        case kPolygon:
        case kPolyline:
        case kPolyBezierTo:
        case kPolylineTo:
        case kPolyBezier16:
        case kPolygon16:
        case kPolyline16:
        case kPolyBezierTo16:
        case kPolylineTo16: {
            const bool small = type >= kPolyBezier16;
            in.Skip(16);  // bounds
            const std::vector<TPointF> points = Points(in, in.U32LE(), small);
            switch (small ? type - kPolyBezier16 + kPolyBezier : type) {
            case kPolyBezier: dc_.PolyBezier(points); break;
            case kPolygon: {
                const uint32_t count = static_cast<uint32_t>(points.size());
                dc_.PolyPolygon(points, std::span(&count, 1));
                break;
            }
            case kPolyline: dc_.Polyline(points); break;
            case kPolyBezierTo: dc_.PolyBezierTo(points); break;
            default: dc_.PolylineTo(points); break;
            }
            break;
        }
        case kPolyPolyline:
        case kPolyPolygon:
        case kPolyPolyline16:
        case kPolyPolygon16: {
            const bool small = type >= kPolyPolyline16;
            in.Skip(16);
            const uint32_t figures = in.U32LE();
            const uint32_t total = in.U32LE();
            if (uint64_t{figures} * 4 > in.Remaining())
                throw EReadError();
            std::vector<uint32_t> counts(figures);
            for (uint32_t& c : counts)
                c = in.U32LE();
            const std::vector<TPointF> points = Points(in, total, small);
            if (type == kPolyPolygon || type == kPolyPolygon16)
                dc_.PolyPolygon(points, counts);
            else
                dc_.PolyPolyline(points, counts);
            break;
        }
        case kPolyDraw:
        case kPolyDraw16: {
            in.Skip(16);
            const uint32_t count = in.U32LE();
            const std::vector<TPointF> points = Points(in, count, type == kPolyDraw16);
            dc_.PolyDraw(points, in.Bytes(count));
            break;
        }
        case kSetWindowExtEx: {
            const double cx = in.S32LE();
            dc_.SetWindowExt(cx, in.S32LE());
            break;
        }
        case kSetWindowOrgEx: dc_.SetWindowOrg(PointL(in)); break;
        case kSetViewportExtEx: {
            const double cx = in.S32LE();
            dc_.SetViewportExt(cx, in.S32LE());
            break;
        }
        case kSetViewportOrgEx: dc_.SetViewportOrg(PointL(in)); break;
        case kScaleViewportExtEx:
        case kScaleWindowExtEx: {
            const double xNum = in.S32LE(), xDenom = in.S32LE(), yNum = in.S32LE(), yDenom = in.S32LE();
            if (type == kScaleWindowExtEx)
                dc_.ScaleWindowExt(xNum, xDenom, yNum, yDenom);
            else
                dc_.ScaleViewportExt(xNum, xDenom, yNum, yDenom);
            break;
        }
        case kSetMapMode: dc_.SetMapMode(static_cast<int>(in.U32LE())); break;
        case kSetBkMode: dc_.SetBackgroundMode(static_cast<int>(in.U32LE())); break;
        case kSetPolyFillMode: dc_.SetPolyFillMode(static_cast<int>(in.U32LE())); break;
        case kSetTextAlign: dc_.SetTextAlign(in.U32LE()); break;
        case kSetTextColor: dc_.SetTextColor(ColorFromRef(in.U32LE())); break;
        case kSetBkColor: dc_.SetBackgroundColor(ColorFromRef(in.U32LE())); break;
        case kSetArcDirection: dc_.SetArcDirection(static_cast<int>(in.U32LE())); break;
        case kMoveToEx: dc_.MoveTo(PointL(in)); break;
        case kLineTo: dc_.LineTo(PointL(in)); break;
        case kExcludeClipRect:
        case kIntersectClipRect: {
            const double left = in.S32LE(), top = in.S32LE(), right = in.S32LE(), bottom = in.S32LE();
            if (type == kIntersectClipRect)
                dc_.IntersectClipRect(left, top, right, bottom);
            else
                dc_.ExcludeClipRect(left, top, right, bottom);
            break;
        }
        case kExtSelectClipRgn: {
            const uint32_t size = in.U32LE();
            const int mode = static_cast<int>(in.U32LE());
            std::vector<double> rects;
            if (size >= 32) {
                TByteReader region(in.Bytes(size));
                region.Skip(8);  // header size, type
                const uint32_t count = region.U32LE();
                region.Skip(4 + 16);  // size, bounds
                if (uint64_t{count} * 16 > region.Remaining())
                    throw EReadError();
                rects.reserve(size_t{count} * 4);
                for (uint32_t i = 0; i < count * 4; ++i)
                    rects.push_back(region.S32LE());
            }
            dc_.SelectClipRects(rects, mode);
            break;
        }
        case kSaveDC: dc_.SaveDC(); break;
        case kRestoreDC: dc_.RestoreDC(in.S32LE()); break;
        case kSetWorldTransform: dc_.SetWorldTransform(Xform(in)); break;
        case kModifyWorldTransform: {
            const TAffine xform = Xform(in);
            dc_.ModifyWorldTransform(xform, static_cast<int>(in.U32LE()));
            break;
        }
        case kSelectObject: Select(in.U32LE()); break;
        case kDeleteObject: {
            const uint32_t index = in.U32LE();
            if (index < objects_.size())
                objects_[index] = std::monostate{};
            break;
        }
        case kCreatePen: {
            const uint32_t index = in.U32LE();
            const uint32_t style = in.U32LE();
            const double width = std::abs(in.S32LE());
            in.Skip(4);
            Store(index, MakePen(style, width, false, in.U32LE()));
            break;
        }
        case kExtCreatePen: {
            const uint32_t index = in.U32LE();
            in.Skip(16);  // pattern bitmap: drawn as the pen's colour
            const uint32_t style = in.U32LE();
            const uint32_t width = in.U32LE();
            const uint32_t brushStyle = in.U32LE();
            const uint32_t color = in.U32LE();
            const bool geometric = (style & 0xF0000) == 0x10000;
            Store(index, MakePen(brushStyle == 1 ? 5 : style, geometric ? width : 0, !geometric, color));
            break;
        }
        case kCreateBrushIndirect: {
            const uint32_t index = in.U32LE();
            const uint32_t style = in.U32LE();
            const uint32_t color = in.U32LE();
            Store(index, MakeBrush(style, color, in.U32LE()));
            break;
        }
        case kCreateMonoBrush:
        case kCreateDIBPatternBrushPt: {
            const uint32_t index = in.U32LE();
            in.Skip(4);  // colour usage
            const uint32_t offBmi = in.U32LE(), cbBmi = in.U32LE(), offBits = in.U32LE(), cbBits = in.U32LE();
            bool bottomUp = true;
            Store(index, MakePatternBrush(Bitmap(record, offBmi, cbBmi, offBits, cbBits, bottomUp)));
            break;
        }
        case kCreatePalette: Store(in.U32LE(), TOtherObject{}); break;
        case kExtCreateFontIndirectW: {
            const uint32_t index = in.U32LE();
            Store(index, ReadFont(in));
            break;
        }
        case kAngleArc: {
            const TPointF center = PointL(in);
            const double radius = in.U32LE();
            const double start = Float(in);
            dc_.AngleArc(center, radius, start, Float(in));
            break;
        }
        case kEllipse:
        case kRectangle:
        case kRoundRect: {
            const double left = in.S32LE(), top = in.S32LE(), right = in.S32LE(), bottom = in.S32LE();
            if (type == kEllipse) {
                dc_.Ellipse(left, top, right, bottom);
            } else if (type == kRectangle) {
                dc_.Rectangle(left, top, right, bottom);
            } else {
                const double cx = in.S32LE();
                dc_.RoundRect(left, top, right, bottom, cx, in.S32LE());
            }
            break;
        }
        case kArc:
        case kChord:
        case kPie:
        case kArcTo: {
            const double left = in.S32LE(), top = in.S32LE(), right = in.S32LE(), bottom = in.S32LE();
            const TPointF start = PointL(in);
            const TPointF end = PointL(in);
            if (type == kArcTo) {
                dc_.ArcTo(left, top, right, bottom, start, end);
            } else {
                const TArcKind kind = type == kArc ? TArcKind::Arc : type == kChord ? TArcKind::Chord : TArcKind::Pie;
                dc_.ArcShape(kind, left, top, right, bottom, start, end);
            }
            break;
        }
        case kBeginPath: dc_.BeginPath(); break;
        case kEndPath: dc_.EndPath(); break;
        case kCloseFigure: dc_.CloseFigure(); break;
        case kFillPath: dc_.FillPath(); break;
        case kStrokeAndFillPath: dc_.StrokeAndFillPath(); break;
        case kStrokePath: dc_.StrokePath(); break;
        case kAbortPath: dc_.AbortPath(); break;
        case kSelectClipPath: dc_.SelectClipPath(static_cast<int>(in.U32LE())); break;
        case kExtTextOutA:
        case kExtTextOutW:
            in.Skip(16 + 12);  // bounds, graphics mode, scales
            Text(in, record, type == kExtTextOutW);
            break;
        case kPolyTextOutA:
        case kPolyTextOutW: {
            in.Skip(16 + 12);
            const uint32_t strings = in.U32LE();
            for (uint32_t i = 0; i < strings && in.Remaining() >= 40; ++i)
                Text(in, record, type == kPolyTextOutW);
            break;
        }
        case kBitBlt:
        case kStretchBlt:
        case kAlphaBlend: Blit(type, in, record); break;
        case kSetDIBitsToDevice:
        case kStretchDIBits: DibBlit(type, in, record); break;
        default: break;
        }
    }

    TMetafileDC& dc_;
    std::vector<TMetafileObject> objects_;
};

}  // namespace

void PlayEnhancedMetafileRecords(std::span<const uint8_t> emf, TMetafileDC& dc)
{
    const size_t handles = emf.size() >= 58 ? size_t{emf[56]} | size_t{emf[57]} << 8 : 0;
    EnhancedPlayer player(dc, handles);
    size_t position = 0;
    while (position + 8 <= emf.size()) {
        const uint32_t type = emf[position] | emf[position + 1] << 8 | emf[position + 2] << 16 |
                              uint32_t(emf[position + 3]) << 24;
        const uint32_t size = emf[position + 4] | emf[position + 5] << 8 | emf[position + 6] << 16 |
                              uint32_t(emf[position + 7]) << 24;
        if (size < 8 || size > emf.size() - position || type == kEof)
            return;
        if (type != kHeader)
            player.Play(Record{type, emf.subspan(position, size)});
        position += size;
    }
}
