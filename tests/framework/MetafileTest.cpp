// Metafiles: what the records hand to the drawing interface (through a recording canvas), the
// picture's size, the saving rules, and damaged files.

#include "framework/Bitmap.h"
#include "framework/Exception.h"
#include "framework/Metafile.h"
#include "framework/MetafilePlayer.h"
#include "framework/Picture.h"
#include "framework/Stream.h"
#include "tests/support/TestData.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

// Remembers every call with the state it was made with.
class RecordingCanvas : public TMetafileCanvas {
public:
    struct Call {
        enum Kind { Path, Text, Bitmap } kind = Path;
        TMetafileDrawState state;
        TMetafilePath path;
        bool fill = false;
        bool stroke = false;
        TPointF at;
        std::string text;
        TPointF corners[3];
        double source[4] = {};
        int bitmapWidth = 0;
        int bitmapHeight = 0;
        std::vector<uint8_t> firstRow;  // BGRA
        TMetafileBlend blend = TMetafileBlend::Copy;
    };

    void DrawPath(const TMetafileDrawState& state, const TMetafilePath& path, bool fill, bool stroke) override
    {
        Call c;
        c.kind = Call::Path;
        c.state = state;
        c.path = path;
        c.fill = fill;
        c.stroke = stroke;
        calls.push_back(std::move(c));
    }
    void DrawText(const TMetafileDrawState& state, TPointF reference, const std::string& text) override
    {
        Call c;
        c.kind = Call::Text;
        c.state = state;
        c.at = reference;
        c.text = text;
        calls.push_back(std::move(c));
    }
    void DrawBitmap(const TMetafileDrawState& state, const TPointF (&corners)[3], const TBitmap& bitmap,
                    const double (&source)[4], TMetafileBlend blend, uint8_t) override
    {
        Call c;
        c.kind = Call::Bitmap;
        c.state = state;
        std::copy(corners, corners + 3, c.corners);
        std::copy(source, source + 4, c.source);
        c.bitmapWidth = bitmap.Width();
        c.bitmapHeight = bitmap.Height();
        c.firstRow.resize(size_t(bitmap.Width()) * 4);
        for (int x = 0; x < bitmap.Width(); ++x) {
            const auto& table = bitmap.ColorTable();
            const uint8_t* p = bitmap.ScanLine(0) + (bitmap.PixelFormat() == pf24bit ? 3 * x : 0);
            if (bitmap.PixelFormat() == pf24bit)
                std::memcpy(&c.firstRow[4 * size_t(x)], p, 3);
            else if (!table.empty())
                c.firstRow[4 * size_t(x)] = table[bitmap.ScanLine(0)[x]].peBlue;
        }
        c.blend = blend;
        calls.push_back(std::move(c));
    }

    std::vector<Call> calls;
};

void Put16(std::vector<uint8_t>& out, uint32_t v)
{
    out.push_back(uint8_t(v)), out.push_back(uint8_t(v >> 8));
}
void Put32(std::vector<uint8_t>& out, uint32_t v)
{
    Put16(out, v & 0xFFFF), Put16(out, v >> 16);
}

// A 2 x 2 24-bit DIB, bottom row first: top row red, green; bottom row blue, white.
std::vector<uint8_t> SmallDib()
{
    std::vector<uint8_t> dib;
    Put32(dib, 40), Put32(dib, 2), Put32(dib, 2), Put16(dib, 1), Put16(dib, 24);
    for (int i = 0; i < 6; ++i)
        Put32(dib, 0);
    dib.insert(dib.end(), {255, 0, 0, 255, 255, 255, 0, 0});  // bottom: blue, white, padding
    dib.insert(dib.end(), {0, 0, 255, 0, 255, 0, 0, 0});      // top: red, green, padding
    return dib;
}

class WmfBuilder {
public:
    WmfBuilder& Record(uint16_t function, std::initializer_list<int> words)
    {
        Put32(records_, uint32_t(3 + words.size()));
        Put16(records_, function);
        for (int w : words)
            Put16(records_, uint32_t(w));
        return *this;
    }
    WmfBuilder& Raw(uint16_t function, const std::vector<uint8_t>& params)
    {
        Put32(records_, uint32_t(3 + (params.size() + 1) / 2));
        Put16(records_, function);
        records_.insert(records_.end(), params.begin(), params.end());
        if (params.size() % 2)
            records_.push_back(0);
        return *this;
    }
    // A placeable file when inch is not 0.
    std::vector<uint8_t> Build(int right = 0, int bottom = 0, int inch = 0) const
    {
        std::vector<uint8_t> out;
        if (inch) {
            Put32(out, 0x9AC6CDD7), Put16(out, 0), Put16(out, 0), Put16(out, 0), Put16(out, uint32_t(right));
            Put16(out, uint32_t(bottom)), Put16(out, uint32_t(inch)), Put32(out, 0), Put16(out, 0);
        }
        Put16(out, 1), Put16(out, 9), Put16(out, 0x300), Put32(out, uint32_t(9 + records_.size() / 2 + 3));
        Put16(out, 8), Put32(out, 0), Put16(out, 0);
        out.insert(out.end(), records_.begin(), records_.end());
        Put32(out, 3), Put16(out, 0);
        return out;
    }

private:
    std::vector<uint8_t> records_;
};

class EmfBuilder {
public:
    EmfBuilder& Record(uint32_t type, std::initializer_list<int32_t> values)
    {
        std::vector<uint8_t> payload;
        for (int32_t v : values)
            Put32(payload, uint32_t(v));
        return Raw(type, payload);
    }
    EmfBuilder& Raw(uint32_t type, std::vector<uint8_t> payload)
    {
        while (payload.size() % 4)
            payload.push_back(0);
        Put32(records_, type);
        Put32(records_, uint32_t(8 + payload.size()));
        records_.insert(records_.end(), payload.begin(), payload.end());
        ++count_;
        return *this;
    }
    // Frame in hundredths of a millimetre; the reference device has 96 pixels per inch
    // (960 pixels on 254 millimetres).
    std::vector<uint8_t> Build(int frameRight = 2540, int frameBottom = 2540) const
    {
        std::vector<uint8_t> out;
        Put32(out, 1), Put32(out, 88);
        for (int v : {0, 0, 95, 95, 0, 0, frameRight, frameBottom})
            Put32(out, uint32_t(v));
        Put32(out, 0x464D4520), Put32(out, 0x10000), Put32(out, uint32_t(88 + records_.size() + 20));
        Put32(out, count_ + 2), Put16(out, 16), Put16(out, 0), Put32(out, 0), Put32(out, 0), Put32(out, 0);
        Put32(out, 960), Put32(out, 960), Put32(out, 254), Put32(out, 254);
        out.insert(out.end(), records_.begin(), records_.end());
        for (uint32_t v : {14u, 20u, 0u, 0u, 20u})
            Put32(out, v);
        return out;
    }

private:
    std::vector<uint8_t> records_;
    uint32_t count_ = 0;
};

TMetafile Load(const std::vector<uint8_t>& bytes)
{
    TMetafile metafile;
    TMemoryStream stream(bytes);
    metafile.LoadStream(stream);
    return metafile;
}

std::vector<RecordingCanvas::Call> Play(const TMetafile& metafile, double width, double height)
{
    RecordingCanvas canvas;
    PlayMetafile(metafile, canvas, width, height);
    return canvas.calls;
}

void ExpectPoint(TPointF actual, double x, double y)
{
    EXPECT_NEAR(actual.x, x, 1e-6);
    EXPECT_NEAR(actual.y, y, 1e-6);
}

// Record functions used below.
constexpr uint16_t kSetWindowOrg = 0x020B, kSetWindowExt = 0x020C, kCreatePen = 0x02FA, kCreateBrush = 0x02FC,
                   kCreateFont = 0x02FB, kSelectObject = 0x012D, kDeleteObject = 0x01F0, kRectangle = 0x041B,
                   kEllipse = 0x0418, kPolygon = 0x0324, kPolyline = 0x0325, kTextOut = 0x0521,
                   kExtTextOut = 0x0A32, kStretchDib = 0x0F43, kSaveDC = 0x001E, kRestoreDC = 0x0127,
                   kPie = 0x081A, kSetTextColor = 0x0209, kIntersectClipRect = 0x0416;

TEST(MetafileTest, WindowsMetafileShapesArriveScaledWithTheirPenAndBrush)
{
    const std::vector<uint8_t> bytes =
        WmfBuilder()
            .Record(kSetWindowOrg, {0, 0})
            .Record(kSetWindowExt, {50, 100})                      // y, x
            .Record(kCreatePen, {0, 3, 0, 0x00FF, 0x0000})          // solid, width 3, red
            .Record(kCreateBrush, {0, 0x0000, 0x00FF, 0})           // solid blue
            .Record(kSelectObject, {0})
            .Record(kSelectObject, {1})
            .Record(kRectangle, {20, 30, 10, 10})                  // bottom, right, top, left
            .Record(0x0999, {1, 2, 3})                             // unknown: skipped
            .Record(kPolyline, {3, 0, 0, 10, 0, 10, 10})
            .Record(kPolygon, {3, 0, 0, 10, 0, 10, 10})
            .Record(kEllipse, {50, 100, 0, 0})
            .Build(100, 50, 96);
    const TMetafile metafile = Load(bytes);
    EXPECT_FALSE(metafile.Enhanced());
    EXPECT_TRUE(metafile.Placeable());
    EXPECT_EQ(metafile.Width(), 100);
    EXPECT_EQ(metafile.Height(), 50);

    const auto calls = Play(metafile, 200, 100);  // twice the size
    ASSERT_EQ(calls.size(), 4u);

    const auto& rect = calls[0];
    EXPECT_TRUE(rect.fill && rect.stroke);
    ASSERT_EQ(rect.path.Points().size(), 4u);
    ExpectPoint(rect.path.Points()[0], 20, 20);
    ExpectPoint(rect.path.Points()[2], 60, 40);
    EXPECT_EQ(rect.path.Ops().back(), TMetafilePath::Op::Close);
    EXPECT_DOUBLE_EQ(rect.state.pen.width, 6);
    EXPECT_EQ(rect.state.pen.color, (TMetafileColor{255, 0, 0}));
    EXPECT_EQ(rect.state.brush.color, (TMetafileColor{0, 0, 255}));

    EXPECT_TRUE(!calls[1].fill && calls[1].stroke) << "a polyline is only stroked";
    EXPECT_EQ(calls[1].path.Ops().back(), TMetafilePath::Op::LineTo);
    EXPECT_TRUE(calls[2].fill && calls[2].stroke) << "a polygon is filled and outlined";

    // The ellipse: four quarter curves through the extreme points of the box (0,0)-(200,100).
    const auto& ellipse = calls[3];
    ASSERT_EQ(std::count(ellipse.path.Ops().begin(), ellipse.path.Ops().end(), TMetafilePath::Op::CubicTo), 4);
    ExpectPoint(ellipse.path.Points()[0], 200, 50);
    ExpectPoint(ellipse.path.Points()[3], 100, 0);
    ExpectPoint(ellipse.path.Points()[6], 0, 50);
    ExpectPoint(ellipse.path.Points()[9], 100, 100);
}

TEST(MetafileTest, WindowsMetafileObjectTableReusesFreedPlaces)
{
    const std::vector<uint8_t> bytes = WmfBuilder()
                                           .Record(kSetWindowExt, {100, 100})
                                           .Record(kCreateBrush, {0, 0x00FF, 0x0000, 0})  // 0: red
                                           .Record(kCreateBrush, {0, 0xFF00, 0x0000, 0})  // 1: green
                                           .Record(kDeleteObject, {0})
                                           .Record(kCreateBrush, {0, 0x0000, 0x00FF, 0})  // 0 again: blue
                                           .Record(kCreatePen, {5, 0, 0, 0, 0})            // 2: null pen
                                           .Record(kSelectObject, {0})
                                           .Record(kSelectObject, {2})
                                           .Record(kSelectObject, {7})  // nothing there
                                           .Record(kRectangle, {10, 10, 0, 0})
                                           .Record(kSaveDC, {})
                                           .Record(kSelectObject, {1})
                                           .Record(kRestoreDC, {-1})
                                           .Record(kRectangle, {10, 10, 0, 0})
                                           .Build();
    const auto calls = Play(Load(bytes), 100, 100);
    ASSERT_EQ(calls.size(), 2u);
    for (const auto& call : calls) {
        EXPECT_EQ(call.state.brush.color, (TMetafileColor{0, 0, 255}));
        EXPECT_TRUE(call.fill);
        EXPECT_FALSE(call.stroke) << "the null pen draws no outline";
    }
}

TEST(MetafileTest, WindowsMetafileTextUsesTheFontsCodePage)
{
    // A GB2312 font (character set 134), 20 units high, then "中文" in GB2312 at (10, 20).
    std::vector<uint8_t> font;
    for (int v : {-20, 0, 0, 0, 700})
        Put16(font, uint32_t(v));
    font.insert(font.end(), {0, 0, 0, 134, 0, 0, 0, 0});
    for (char c : std::string("SimSun"))
        font.push_back(uint8_t(c));
    font.push_back(0);
    std::vector<uint8_t> text;
    Put16(text, 4);
    text.insert(text.end(), {0xD6, 0xD0, 0xCE, 0xC4});
    Put16(text, 20), Put16(text, 10);  // y, x
    std::vector<uint8_t> ext;
    Put16(ext, 30), Put16(ext, 5), Put16(ext, 3), Put16(ext, 2);  // y, x, length, options: opaque
    for (int v : {0, 25, 40, 35})
        Put16(ext, uint32_t(v));
    ext.insert(ext.end(), {'a', 'b', 'c'});

    const std::vector<uint8_t> bytes = WmfBuilder()
                                           .Record(kSetWindowExt, {100, 100})
                                           .Raw(kCreateFont, font)
                                           .Record(kSelectObject, {0})
                                           .Record(kSetTextColor, {0x3412, 0x56})
                                           .Raw(kTextOut, text)
                                           .Raw(kExtTextOut, ext)
                                           .Build();
    const auto calls = Play(Load(bytes), 100, 100);
    ASSERT_EQ(calls.size(), 3u);
    EXPECT_EQ(calls[0].kind, RecordingCanvas::Call::Text);
    EXPECT_EQ(calls[0].text, "中文");
    ExpectPoint(calls[0].at, 10, 20);
    EXPECT_DOUBLE_EQ(calls[0].state.font.height, 20);
    EXPECT_FALSE(calls[0].state.font.cellHeight);
    EXPECT_EQ(calls[0].state.font.weight, 700);
    EXPECT_EQ(calls[0].state.font.faceName, "SimSun");
    EXPECT_EQ(calls[0].state.textColor, (TMetafileColor{0x12, 0x34, 0x56}));
    EXPECT_EQ(calls[1].kind, RecordingCanvas::Call::Path) << "the opaque box comes first";
    EXPECT_TRUE(calls[1].fill);
    EXPECT_EQ(calls[2].text, "abc");
}

TEST(MetafileTest, StretchDibHandsOverTheBitmapAndItsPlace)
{
    std::vector<uint8_t> params;
    Put32(params, 0x00CC0020);
    for (int v : {0, 2, 2, 0, 0, 20, 40, 10, 5})  // usage, src h, w, y, x, dest h, w, y, x
        Put16(params, uint32_t(v));
    const std::vector<uint8_t> dib = SmallDib();
    params.insert(params.end(), dib.begin(), dib.end());
    const std::vector<uint8_t> bytes =
        WmfBuilder().Record(kSetWindowExt, {100, 100}).Raw(kStretchDib, params).Build();
    const auto calls = Play(Load(bytes), 100, 100);
    ASSERT_EQ(calls.size(), 1u);
    const auto& blit = calls[0];
    EXPECT_EQ(blit.kind, RecordingCanvas::Call::Bitmap);
    EXPECT_EQ(blit.bitmapWidth, 2);
    ExpectPoint(blit.corners[0], 5, 10);
    ExpectPoint(blit.corners[1], 45, 10);
    ExpectPoint(blit.corners[2], 5, 30);
    EXPECT_EQ(blit.source[1], 0) << "the whole picture, counted from the top";
    EXPECT_EQ(blit.source[3], 2);
    EXPECT_EQ(blit.firstRow[0], 0) << "top-left pixel is red: blue byte 0";
    EXPECT_EQ(blit.firstRow[2], 255);
}

TEST(MetafileTest, PieAndClipFollowTheDeviceContext)
{
    const std::vector<uint8_t> bytes =
        WmfBuilder()
            .Record(kSetWindowExt, {100, 100})
            .Record(kIntersectClipRect, {60, 70, 10, 20})                 // bottom, right, top, left
            .Record(kPie, {100, 50, 50, 100, 100, 100, 0, 0})  // end (50,100) south, start (100,50) east
            .Build();
    const auto calls = Play(Load(bytes), 100, 100);
    ASSERT_EQ(calls.size(), 1u);
    const auto& pie = calls[0];
    ASSERT_EQ(pie.state.clip.size(), 1u);
    ExpectPoint(pie.state.clip[0].Points()[0], 20, 10);
    ExpectPoint(pie.state.clip[0].Points()[2], 70, 60);
    // From the centre to the start ray (east), counterclockwise on the screen to the south ray.
    ExpectPoint(pie.path.Points()[0], 50, 50);
    ExpectPoint(pie.path.Points()[1], 100, 50);
    const TPointF end = pie.path.Points().back();
    EXPECT_NEAR(end.x, 50, 1e-6);
    EXPECT_NEAR(end.y, 100, 1e-6) << "counterclockwise from east through north and west to south";
    EXPECT_EQ(pie.path.Ops().back(), TMetafilePath::Op::Close);
}

TEST(MetafileTest, StandardWindowsMetafileSizeComesFromItsWindowOrItsDrawing)
{
    const TMetafile windowed = Load(WmfBuilder().Record(kSetWindowOrg, {-5, -10}).Record(kSetWindowExt, {30, 40}).Build());
    EXPECT_EQ(windowed.Width(), 40);
    EXPECT_EQ(windowed.Height(), 30);
    EXPECT_EQ(windowed.FrameLeft(), -10);

    const TMetafile drawn = Load(WmfBuilder().Record(kRectangle, {70, 50, 20, 10}).Build());
    EXPECT_EQ(drawn.Width(), 40);
    EXPECT_EQ(drawn.Height(), 50);
    const auto calls = Play(drawn, 40, 50);
    ASSERT_EQ(calls.size(), 1u);
    ExpectPoint(calls[0].path.Points()[0], 0, 0);
    ExpectPoint(calls[0].path.Points()[2], 40, 50);

    const TMetafile fine = Load(WmfBuilder().Record(kSetWindowExt, {10000, 20000}).Build());
    EXPECT_EQ(fine.Width(), 1024) << "fine logical units are shown at a usable size";
    EXPECT_EQ(fine.Height(), 512);
}

// Enhanced metafile record types used below.
constexpr uint32_t kEmrSetMapMode = 17, kEmrSetWindowExtEx = 9, kEmrSetViewportExtEx = 11, kEmrMoveToEx = 27,
                   kEmrLineTo = 54, kEmrBeginPath = 59, kEmrEndPath = 60, kEmrCloseFigure = 61, kEmrFillPath = 62,
                   kEmrSelectObject = 37, kEmrSaveDC = 33, kEmrRestoreDC = 34, kEmrSetWorldTransform = 35,
                   kEmrRectangle = 43, kEmrExtTextOutW = 84, kEmrPolyline16 = 87, kEmrStretchDIBits = 81,
                   kEmrCreatePen = 38, kEmrSetMapModeLoMetric = 2;

uint32_t FloatBits(float f)
{
    uint32_t bits;
    std::memcpy(&bits, &f, 4);
    return bits;
}

TEST(MetafileTest, EnhancedMetafileMapsThroughPageAndWorldTransforms)
{
    const std::vector<uint8_t> bytes =
        EmfBuilder()
            .Record(kEmrSetMapMode, {8})
            .Record(kEmrSetWindowExtEx, {1000, 1000})
            .Record(kEmrSetViewportExtEx, {96, 96})
            .Record(kEmrSelectObject, {int32_t(0x80000005)})  // NULL_BRUSH
            .Record(kEmrRectangle, {0, 0, 500, 250})
            .Record(kEmrSaveDC, {})
            .Record(kEmrSetWorldTransform,
                    {int32_t(FloatBits(1)), 0, 0, int32_t(FloatBits(1)), int32_t(FloatBits(100)), int32_t(FloatBits(0))})
            .Record(kEmrCreatePen, {1, 1, 20, 0, 0x00FF00})  // dashed, 20 units, green
            .Record(kEmrSelectObject, {1})
            .Record(kEmrRectangle, {0, 0, 500, 250})
            .Record(kEmrRestoreDC, {-1})
            .Record(kEmrRectangle, {0, 0, 500, 250})
            .Build();
    const TMetafile metafile = Load(bytes);
    EXPECT_TRUE(metafile.Enhanced());
    EXPECT_EQ(metafile.Width(), 96);  // one inch at 96 pixels per inch
    EXPECT_EQ(metafile.Height(), 96);

    const auto calls = Play(metafile, 96, 96);
    ASSERT_EQ(calls.size(), 3u);
    ExpectPoint(calls[0].path.Points()[2], 48, 24);
    EXPECT_FALSE(calls[0].fill) << "the stock null brush";
    EXPECT_DOUBLE_EQ(calls[0].state.pen.width, 0) << "the default pen is one pixel";
    ExpectPoint(calls[1].path.Points()[0], 9.6, 0);
    ExpectPoint(calls[1].path.Points()[2], 57.6, 24);
    EXPECT_NEAR(calls[1].state.pen.width, 20 * 0.096, 1e-9);
    EXPECT_EQ(calls[1].state.pen.color, (TMetafileColor{0, 255, 0}));
    EXPECT_EQ(calls[1].state.pen.style, TMetafilePenStyle::Dash);
    ExpectPoint(calls[2].path.Points()[0], 0, 0);
    EXPECT_DOUBLE_EQ(calls[2].state.pen.width, 0) << "RestoreDC brings back the pen";
}

TEST(MetafileTest, EnhancedMetafilePathsTextAndMetricMapping)
{
    std::vector<uint8_t> text;
    for (int v : {0, 0, 0, 0, 1, 0, 0})  // bounds, graphics mode, x and y scale
        Put32(text, uint32_t(v));
    const uint32_t stringOffset = 8 + 28 + 40;
    for (uint32_t v : {100u, 200u, 2u, stringOffset, 0u, 0u, 0u, 0u, 0u, 0u})
        Put32(text, v);
    text.insert(text.end(), {0x49, 0x6C, 0x57, 0x5B});  // "汉字" in UTF-16LE

    std::vector<uint8_t> polyline;
    for (int v : {0, 0, 0, 0, 2})
        Put32(polyline, uint32_t(v));
    for (int v : {0, 0, 254, -254})  // (0,0) and (254,-254): tenths of a millimetre, y growing upwards
        Put16(polyline, uint32_t(v));

    const std::vector<uint8_t> bytes = EmfBuilder()
                                           .Record(kEmrBeginPath, {})
                                           .Record(kEmrMoveToEx, {10, 10})
                                           .Record(kEmrLineTo, {50, 10})
                                           .Record(kEmrLineTo, {50, 50})
                                           .Record(kEmrCloseFigure, {})
                                           .Record(kEmrEndPath, {})
                                           .Record(kEmrFillPath, {})
                                           .Raw(kEmrExtTextOutW, text)
                                           .Record(kEmrSetMapMode, {kEmrSetMapModeLoMetric})
                                           .Raw(kEmrPolyline16, polyline)
                                           .Build();
    const auto calls = Play(Load(bytes), 96, 96);
    ASSERT_EQ(calls.size(), 3u);
    EXPECT_TRUE(calls[0].fill);
    EXPECT_FALSE(calls[0].stroke);
    EXPECT_EQ(calls[0].path.Points().size(), 3u);
    EXPECT_EQ(calls[0].path.Ops().back(), TMetafilePath::Op::Close);
    EXPECT_EQ(calls[1].text, "汉字");
    ExpectPoint(calls[1].at, 100, 200);
    // 25.4 mm to the right and 25.4 mm down: one inch, 96 pixels, each way.
    ExpectPoint(calls[2].path.Points()[1], 96, 96);
}

TEST(MetafileTest, EnhancedStretchDIBitsCountsSourceRowsFromTheBottom)
{
    std::vector<uint8_t> record;
    for (int v : {0, 0, 0, 0, 10, 20, 0, 1, 2, 1})  // bounds, dest x y, src x y cx cy
        Put32(record, uint32_t(v));
    const std::vector<uint8_t> dib = SmallDib();
    const uint32_t offBmi = 8 + 72;  // after the record's 18 fields
    for (uint32_t v : {offBmi, 40u, offBmi + 40, uint32_t(dib.size() - 40), 0u, 0x00CC0020u, 20u, 10u})
        Put32(record, v);
    record.insert(record.end(), dib.begin(), dib.end());
    const auto calls = Play(Load(EmfBuilder().Raw(kEmrStretchDIBits, record).Build()), 96, 96);
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].source[1], 0) << "source y 1 from the bottom of a 2-row picture is its top row";
    ExpectPoint(calls[0].corners[1], 30, 20);
    ExpectPoint(calls[0].corners[2], 10, 30);
}

TEST(MetafileTest, DamagedMetafilesFailCleanlyOrPlayWhatIsThere)
{
    for (const std::vector<uint8_t>& junk : {std::vector<uint8_t>{}, std::vector<uint8_t>{1, 2, 3},
                                             std::vector<uint8_t>(100, 0xAB)}) {
        try {
            Load(junk);
            ADD_FAILURE() << "junk loaded";
        } catch (const Exception& e) {
            EXPECT_EQ(e.Message(), "Metafile is not valid");
        }
    }
    // Records whose sizes lie: zero, past the end, huge counts inside a small record.
    const std::vector<uint8_t> lying = WmfBuilder()
                                           .Record(kSetWindowExt, {100, 100})
                                           .Record(kRectangle, {10, 10, 0, 0})
                                           .Record(kPolygon, {30000, 1, 2})
                                           .Record(kSelectObject, {60000})
                                           .Raw(0x0538, {0xFF, 0xFF, 1, 0})  // poly-polygon, 65535 polygons
                                           .Raw(kStretchDib, std::vector<uint8_t>(30, 0xFF))
                                           .Build();
    std::vector<uint8_t> cut = lying;
    cut.resize(cut.size() - 9);
    for (const auto& bytes : {lying, cut}) {
        const auto calls = Play(Load(bytes), 100, 100);
        EXPECT_EQ(calls.size(), 1u) << "only the rectangle is drawable";
    }
    std::vector<uint8_t> emf = EmfBuilder().Record(kEmrRectangle, {0, 0, 10, 10}).Record(kEmrRectangle, {0, 0, 5, 5}).Build();
    emf[88 + 24 + 4] = 0xFF;  // the second rectangle's size runs past the end
    EXPECT_EQ(Play(Load(emf), 96, 96).size(), 1u);
    emf[4] = 0xFF, emf[5] = 0xFF;  // the header's size runs past the end
    EXPECT_THROW(Load(emf), Exception);
}

// Saving rules.
class MetafileSavingTest : public testing::Test {
protected:
    void SetUp() override
    {
        folder_ = fs::temp_directory_path() / ("kavrel-metafile-" + std::to_string(getpid()));
        fs::create_directories(folder_);
    }
    void TearDown() override
    {
        TMetafile::SetRasterizer(nullptr);
        fs::remove_all(folder_);
    }
    std::string Path(const char* name) const { return (folder_ / name).string(); }

    fs::path folder_;
};

TEST_F(MetafileSavingTest, WindowsMetafileStaysAWindowsMetafile)
{
    const std::vector<uint8_t> bytes = WmfBuilder().Record(kRectangle, {10, 10, 0, 0}).Build(10, 10, 1440);
    TMetafile metafile = Load(bytes);
    for (const char* name : {"a.wmf", "b.emf", "c.bmp"}) {
        metafile.SaveToFile(Path(name));
        EXPECT_EQ(ReadFileBytes(Path(name)), bytes) << name;
    }
}

TEST_F(MetafileSavingTest, EnhancedMetafileIsWrittenAsReadUnlessTheNameEndsInWmf)
{
    const std::vector<uint8_t> bytes = EmfBuilder().Record(kEmrRectangle, {0, 0, 10, 10}).Build();
    TMetafile metafile = Load(bytes);
    for (const char* name : {"a.emf", "b.EMF", "c.jpg", "noextension", "d.wmf.emf"}) {
        metafile.SaveToFile(Path(name));
        EXPECT_EQ(ReadFileBytes(Path(name)), bytes) << name;
    }

    // Without a display nothing can render it: the save fails and leaves no file.
    EXPECT_THROW(metafile.SaveToFile(Path("e.wmf")), Exception);
    EXPECT_FALSE(fs::exists(Path("e.wmf")));

    // With one, the .WMF file holds the rendered picture as one bitmap record.
    TMetafile::SetRasterizer([](const TMetafile& m) {
        TBitmap bitmap;
        bitmap.SetPixelFormat(pf24bit);
        bitmap.SetSize(m.Width(), m.Height());
        for (int x = 0; x < m.Width(); ++x)
            bitmap.ScanLine(0)[3 * x] = uint8_t(x);  // blue ramp on the top row
        return bitmap;
    });
    metafile.SaveToFile(Path("F.WMF"));
    const TMetafile converted = Load(ReadFileBytes(Path("F.WMF")));
    EXPECT_FALSE(converted.Enhanced());
    EXPECT_TRUE(converted.Placeable());
    EXPECT_EQ(converted.Width(), metafile.Width());
    EXPECT_EQ(converted.Height(), metafile.Height());
    const auto calls = Play(converted, converted.Width(), converted.Height());
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].kind, RecordingCanvas::Call::Bitmap);
    EXPECT_EQ(calls[0].bitmapWidth, 96);
    ExpectPoint(calls[0].corners[1], 96, 0);
    ExpectPoint(calls[0].corners[2], 0, 96);
    for (int x = 0; x < 96; ++x)
        ASSERT_EQ(calls[0].firstRow[4 * size_t(x)], x);

    // The picture container saves the same way.
    TPicture picture;
    picture.SetGraphic(&metafile);
    picture.SaveToFile(Path("g.Wmf"));
    EXPECT_EQ(ReadFileBytes(Path("g.Wmf")), ReadFileBytes(Path("F.WMF")));
}

}  // namespace

namespace {

// Every fuzz seed and shared sample that loads as a metafile plays without fault (run under the
// sanitizers by the test script).
TEST(MetafileTest, SeedsAndSamplesPlay)
{
    std::vector<fs::path> folders = {fs::path(KAVREL_SOURCE_DIR) / "fuzz" / "seeds"};
    if (const auto dir = TestDataDir())
        folders.push_back(*dir);
    size_t played = 0;
    for (const fs::path& folder : folders)
        for (const auto& entry : fs::recursive_directory_iterator(folder)) {
            if (!entry.is_regular_file())
                continue;
            TMetafile metafile;
            try {
                metafile.LoadFile(entry.path().string());
            } catch (const Exception&) {
                continue;
            }
            RecordingCanvas canvas;
            PlayMetafile(metafile, canvas, metafile.Width(), metafile.Height());
            EXPECT_FALSE(canvas.calls.empty()) << entry.path();
            ++played;
        }
    EXPECT_GE(played, 3u);
}

}  // namespace
