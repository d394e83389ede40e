#include "framework/ByteReader.h"
#include "framework/MetafileObjects.h"
#include "framework/MetafilePlayer.h"
#include "framework/MetafileText.h"

#include <vector>

namespace {

// Record functions of Windows metafiles.
enum : uint16_t {
    kEof = 0x0000,
    kSaveDC = 0x001E,
    kSetBkMode = 0x0102,
    kSetPolyFillMode = 0x0106,
    kRestoreDC = 0x0127,
    kSelectClipRegion = 0x012C,
    kSelectObject = 0x012D,
    kSetTextAlign = 0x012E,
    kDeleteObject = 0x01F0,
    kSetBkColor = 0x0201,
    kSetTextColor = 0x0209,
    kSetWindowOrg = 0x020B,
    kSetWindowExt = 0x020C,
    kOffsetWindowOrg = 0x020F,
    kLineTo = 0x0213,
    kMoveTo = 0x0214,
    kCreatePenIndirect = 0x02FA,
    kCreateFontIndirect = 0x02FB,
    kCreateBrushIndirect = 0x02FC,
    kPolygon = 0x0324,
    kPolyline = 0x0325,
    kScaleWindowExt = 0x0410,
    kExcludeClipRect = 0x0415,
    kIntersectClipRect = 0x0416,
    kEllipse = 0x0418,
    kRectangle = 0x041B,
    kTextOut = 0x0521,
    kPolyPolygon = 0x0538,
    kPatBlt = 0x061D,
    kRoundRect = 0x061C,
    kArc = 0x0817,
    kPie = 0x081A,
    kChord = 0x0830,
    kDibBitBlt = 0x0940,
    kExtTextOut = 0x0A32,
    kDibStretchBlt = 0x0B41,
    kSetDibToDev = 0x0D33,
    kStretchDib = 0x0F43,
    kDibCreatePatternBrush = 0x0142,
    kCreatePalette = 0x00F7,
    kCreatePatternBrush = 0x01F9,
    kCreateRegion = 0x06FF,
};

struct Record {
    uint16_t function;
    std::span<const uint8_t> params;
};

// Walks the records after the header; stops at the end-of-file record or at a record that does not
// fit in the data.
template <class Visit>
void ForEachRecord(std::span<const uint8_t> wmf, Visit&& visit)
{
    if (wmf.size() < 18)
        return;
    const size_t headerWords = wmf[2] | wmf[3] << 8;
    size_t position = headerWords * 2 >= 18 ? headerWords * 2 : 18;
    while (position + 6 <= wmf.size()) {
        const uint64_t words = uint64_t(wmf[position]) | uint64_t(wmf[position + 1]) << 8 |
                               uint64_t(wmf[position + 2]) << 16 | uint64_t(wmf[position + 3]) << 24;
        const uint16_t function = static_cast<uint16_t>(wmf[position + 4] | wmf[position + 5] << 8);
        if (words < 3 || words * 2 > wmf.size() - position || function == kEof)
            return;
        if (!visit(Record{function, wmf.subspan(position + 6, static_cast<size_t>(words * 2 - 6))}))
            return;
        position += static_cast<size_t>(words * 2);
    }
}

class WindowsPlayer {
public:
    WindowsPlayer(TMetafileDC& dc, bool followWindow, size_t objectCount) : dc_(dc), followWindow_(followWindow)
    {
        objects_.reserve(std::min<size_t>(objectCount, 1024));
    }

    void Play(const Record& record)
    {
        try {
            TByteReader in(record.params);
            Dispatch(record.function, in, record.params);
        } catch (const EReadError&) {
            // A record too short for its parameters draws nothing; the others still play.
        }
    }

private:
    static TPointF Point(TByteReader& in)
    {
        const double x = in.S16LE();
        const double y = in.S16LE();
        return {x, y};
    }

    static std::vector<TPointF> Points(TByteReader& in, size_t count)
    {
        if (count * 4 > in.Remaining())
            throw EReadError();
        std::vector<TPointF> points(count);
        for (TPointF& p : points)
            p = Point(in);
        return points;
    }

    // Objects take the lowest free place in the table. Every place below firstFree_ is taken, so
    // a file that creates many objects does not make each creation search the whole table.
    void Create(TMetafileObject object)
    {
        while (firstFree_ < objects_.size() && !std::holds_alternative<std::monostate>(objects_[firstFree_]))
            ++firstFree_;
        if (firstFree_ < objects_.size()) {
            objects_[firstFree_++] = std::move(object);
        } else if (objects_.size() < 65535) {
            objects_.push_back(std::move(object));
            firstFree_ = objects_.size();
        }
    }

    void Delete(size_t index)
    {
        if (index < objects_.size()) {
            objects_[index] = std::monostate{};
            firstFree_ = std::min(firstFree_, index);
        }
    }

    void Select(size_t index)
    {
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

    static TLogicalFont ReadFont(TByteReader& in)
    {
        TLogicalFont font;
        font.height = in.S16LE();
        font.width = in.S16LE();
        font.escapement = in.S16LE();
        in.Skip(2);  // orientation
        font.weight = in.S16LE();
        font.italic = in.U8() != 0;
        font.underline = in.U8() != 0;
        font.strikeOut = in.U8() != 0;
        font.charset = in.U8();
        in.Skip(4);  // precision, quality, pitch and family
        const std::span<const uint8_t> name = in.BytesUpTo(32);
        size_t length = 0;
        while (length < name.size() && name[length] != 0)
            ++length;
        font.faceName = AnsiToUtf8(name.first(length), font.charset);
        return font;
    }

    std::string Text(std::span<const uint8_t> bytes) const
    {
        size_t length = bytes.size();
        while (length > 0 && bytes[length - 1] == 0)
            --length;
        return AnsiToUtf8(bytes.first(length), dc_.Font().charset);
    }

    void Blit(TByteReader& in, std::span<const uint8_t> params, uint16_t function)
    {
        const uint32_t rop = in.U32LE();
        double src[4] = {0, 0, 0, 0};  // x, y, width, height
        double dest[4] = {0, 0, 0, 0};
        // Without a bitmap the record has one reserved word more than its function's size says.
        const bool withBitmap = params.size() / 2 + 3 != static_cast<size_t>((function >> 8) + 3);
        if (!withBitmap && function != kStretchDib)
            in.Skip(2);  // reserved
        if (function == kStretchDib) {
            in.Skip(2);  // colour usage
            src[3] = in.S16LE(), src[2] = in.S16LE(), src[1] = in.S16LE(), src[0] = in.S16LE();
            dest[3] = in.S16LE(), dest[2] = in.S16LE(), dest[1] = in.S16LE(), dest[0] = in.S16LE();
        } else if (function == kDibStretchBlt) {
            src[3] = in.S16LE(), src[2] = in.S16LE(), src[1] = in.S16LE(), src[0] = in.S16LE();
            dest[3] = in.S16LE(), dest[2] = in.S16LE(), dest[1] = in.S16LE(), dest[0] = in.S16LE();
        } else {  // DibBitBlt
            src[1] = in.S16LE(), src[0] = in.S16LE();
            dest[3] = in.S16LE(), dest[2] = in.S16LE(), dest[1] = in.S16LE(), dest[0] = in.S16LE();
            src[2] = dest[2], src[3] = dest[3];
        }
        if (!withBitmap && function != kStretchDib) {
            dc_.PatBlt(dest[0], dest[1], dest[2], dest[3], rop);
            return;
        }
        DrawDib(in.Rest(), dest, src, rop);
    }

    void DrawDib(std::span<const uint8_t> dib, const double (&dest)[4], const double (&src)[4], uint32_t rop)
    {
        if (dc_.GeometryOnly()) {
            const double none[4] = {0, 0, 0, 0};
            dc_.StretchBitmap(dest[0], dest[1], dest[2], dest[3], nullptr, none, rop);
            return;
        }
        const std::shared_ptr<TBitmap> bitmap = DecodePackedDib(dib);
        if (!bitmap)
            return;
        double source[4];
        DibSourceRect(*bitmap, DibBottomUp(dib), src[0], src[1], src[2], src[3], source);
        dc_.StretchBitmap(dest[0], dest[1], dest[2], dest[3], bitmap.get(), source, rop);
    }

    void Dispatch(uint16_t function, TByteReader& in, std::span<const uint8_t> params)
    {
        switch (function) {
        case kSaveDC: dc_.SaveDC(); break;
        case kRestoreDC: dc_.RestoreDC(in.S16LE()); break;
        case kSetBkMode: dc_.SetBackgroundMode(in.U16LE()); break;
        case kSetPolyFillMode: dc_.SetPolyFillMode(in.U16LE()); break;
        case kSetTextAlign: dc_.SetTextAlign(in.U16LE()); break;
        case kSetBkColor: dc_.SetBackgroundColor(ColorFromRef(in.U32LE())); break;
        case kSetTextColor: dc_.SetTextColor(ColorFromRef(in.U32LE())); break;
        // The target picture is the viewport, so only the window is followed; map modes and
        // viewport records describe the device the metafile was made for.
        case kSetWindowOrg:
            if (followWindow_) {
                const double y = in.S16LE();
                dc_.SetWindowOrg({static_cast<double>(in.S16LE()), y});
            }
            break;
        case kSetWindowExt:
            if (followWindow_) {
                const double y = in.S16LE();
                dc_.SetWindowExt(in.S16LE(), y);
            }
            break;
        case kOffsetWindowOrg:
            if (followWindow_) {
                const double y = in.S16LE();
                dc_.OffsetWindowOrg(in.S16LE(), y);
            }
            break;
        case kScaleWindowExt:
            if (followWindow_) {
                const double yDenom = in.S16LE();
                const double yNum = in.S16LE();
                const double xDenom = in.S16LE();
                const double xNum = in.S16LE();
                dc_.ScaleWindowExt(xNum, xDenom, yNum, yDenom);
            }
            break;
        case kMoveTo: {
            const double y = in.S16LE();
            dc_.MoveTo({static_cast<double>(in.S16LE()), y});
            break;
        }
        case kLineTo: {
            const double y = in.S16LE();
            dc_.LineTo({static_cast<double>(in.S16LE()), y});
            break;
        }
        case kIntersectClipRect:
        case kExcludeClipRect: {
            const double bottom = in.S16LE(), right = in.S16LE(), top = in.S16LE(), left = in.S16LE();
            if (function == kIntersectClipRect)
                dc_.IntersectClipRect(left, top, right, bottom);
            else
                dc_.ExcludeClipRect(left, top, right, bottom);
            break;
        }
        case kSelectClipRegion: dc_.ResetClip(); break;
        case kRectangle:
        case kEllipse: {
            const double bottom = in.S16LE(), right = in.S16LE(), top = in.S16LE(), left = in.S16LE();
            if (function == kRectangle)
                dc_.Rectangle(left, top, right, bottom);
            else
                dc_.Ellipse(left, top, right, bottom);
            break;
        }
        case kRoundRect: {
            const double height = in.S16LE(), width = in.S16LE();
            const double bottom = in.S16LE(), right = in.S16LE(), top = in.S16LE(), left = in.S16LE();
            dc_.RoundRect(left, top, right, bottom, width, height);
            break;
        }
        case kArc:
        case kPie:
        case kChord: {
            const double yEnd = in.S16LE(), xEnd = in.S16LE(), yStart = in.S16LE(), xStart = in.S16LE();
            const double bottom = in.S16LE(), right = in.S16LE(), top = in.S16LE(), left = in.S16LE();
            const TArcKind kind = function == kArc ? TArcKind::Arc : function == kPie ? TArcKind::Pie : TArcKind::Chord;
            dc_.ArcShape(kind, left, top, right, bottom, {xStart, yStart}, {xEnd, yEnd});
            break;
        }
        case kPolygon:
        case kPolyline: {
            const std::vector<TPointF> points = Points(in, in.U16LE());
            if (function == kPolygon) {
                const uint32_t count = static_cast<uint32_t>(points.size());
                dc_.PolyPolygon(points, std::span(&count, 1));
            } else {
                dc_.Polyline(points);
            }
            break;
        }
        case kPolyPolygon: {
            const size_t polygons = in.U16LE();
            if (polygons * 2 > in.Remaining())
                throw EReadError();
            std::vector<uint32_t> counts(polygons);
            size_t total = 0;
            for (uint32_t& c : counts)
                total += c = in.U16LE();
            dc_.PolyPolygon(Points(in, total), counts);
            break;
        }
        case kTextOut: {
            const size_t length = in.U16LE();
            const std::string text = Text(in.Bytes(length));
            in.Skip(length & 1);
            const double y = in.S16LE();
            dc_.TextOut({static_cast<double>(in.S16LE()), y}, text);
            break;
        }
        case kExtTextOut: {
            const double y = in.S16LE();
            const double x = in.S16LE();
            const size_t length = static_cast<uint16_t>(in.S16LE());
            const unsigned options = in.U16LE();
            // The rectangle is there only for the options that use it.
            if ((options & 6) && in.Remaining() >= 8 + length) {
                const double left = in.S16LE(), top = in.S16LE(), right = in.S16LE(), bottom = in.S16LE();
                if (options & 2)
                    dc_.FillOpaqueRect(left, top, right, bottom);
            }
            dc_.TextOut({x, y}, Text(in.BytesUpTo(length)));
            break;
        }
        case kPatBlt: {
            const uint32_t rop = in.U32LE();
            const double height = in.S16LE(), width = in.S16LE(), y = in.S16LE(), x = in.S16LE();
            dc_.PatBlt(x, y, width, height, rop);
            break;
        }
        case kStretchDib:
        case kDibStretchBlt:
        case kDibBitBlt: Blit(in, params, function); break;
        case kSetDibToDev: {
            in.Skip(2);  // colour usage
            in.Skip(4);  // scan count, start scan: the DIB holds the lines it has
            const double ySrc = in.S16LE(), xSrc = in.S16LE();
            const double height = in.S16LE(), width = in.S16LE(), y = in.S16LE(), x = in.S16LE();
            const double dest[4] = {x, y, width, height};
            const double src[4] = {xSrc, ySrc, width, height};
            DrawDib(in.Rest(), dest, src, 0x00CC0020);
            break;
        }
        case kCreatePenIndirect: {
            const uint16_t style = in.U16LE();
            const double width = in.S16LE();
            in.Skip(2);
            Create(MakePen(style, std::abs(width), false, in.U32LE()));
            break;
        }
        case kCreateBrushIndirect: {
            const uint16_t style = in.U16LE();
            const uint32_t color = in.U32LE();
            const uint16_t hatch = in.U16LE();
            Create(MakeBrush(style, color, hatch));
            break;
        }
        case kDibCreatePatternBrush: {
            in.Skip(4);  // style, colour usage
            Create(MakePatternBrush(dc_.GeometryOnly() ? nullptr : DecodePackedDib(in.Rest())));
            break;
        }
        case kCreateFontIndirect: Create(ReadFont(in)); break;
        case kCreatePatternBrush: Create(MakeBrush(0, 0x808080, 0)); break;
        case kCreatePalette:
        case kCreateRegion: Create(TOtherObject{}); break;
        case kSelectObject: Select(in.U16LE()); break;
        case kDeleteObject: Delete(in.U16LE()); break;
        default: break;
        }
    }

    TMetafileDC& dc_;
    bool followWindow_;
    std::vector<TMetafileObject> objects_;
    size_t firstFree_ = 0;
};

}  // namespace

void PlayWindowsMetafileRecords(std::span<const uint8_t> wmf, TMetafileDC& dc, bool followWindow)
{
    const size_t objectCount = wmf.size() >= 12 ? size_t{wmf[10]} | size_t{wmf[11]} << 8 : 0;
    WindowsPlayer player(dc, followWindow, objectCount);
    ForEachRecord(wmf, [&](const Record& record) {
        player.Play(record);
        return true;
    });
}

bool FindWindowsMetafileWindow(std::span<const uint8_t> wmf, double (&frame)[4])
{
    bool haveOrigin = false;
    bool haveExtent = false;
    frame[0] = frame[1] = 0;
    ForEachRecord(wmf, [&](const Record& record) {
        if (record.params.size() >= 4 && (record.function == kSetWindowOrg || record.function == kSetWindowExt)) {
            TByteReader in(record.params);
            const double y = in.S16LE();
            const double x = in.S16LE();
            if (record.function == kSetWindowOrg && !haveOrigin) {
                frame[0] = x, frame[1] = y;
                haveOrigin = true;
            } else if (record.function == kSetWindowExt && !haveExtent && x != 0 && y != 0) {
                frame[2] = x, frame[3] = y;
                haveExtent = true;
            }
        }
        return !(haveOrigin && haveExtent);
    });
    return haveExtent;
}
