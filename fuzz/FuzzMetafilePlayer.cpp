// Arbitrary bytes loaded as a metafile and played onto a canvas that checks what it is handed:
// the record players and the device context, which loading alone does not reach.

#include "framework/Bitmap.h"
#include "framework/Exception.h"
#include "framework/Metafile.h"
#include "framework/MetafilePlayer.h"
#include "framework/PixelConversion.h"
#include "framework/Stream.h"

#include <cmath>
#include <cstdlib>
#include <vector>

namespace {

class CheckingCanvas : public TMetafileCanvas {
public:
    void DrawPath(const TMetafileDrawState& state, const TMetafilePath& path, bool, bool) override
    {
        Check(state);
        size_t needed = 0;
        for (TMetafilePath::Op op : path.Ops())
            needed += op == TMetafilePath::Op::CubicTo ? 3 : op == TMetafilePath::Op::Close ? 0 : 1;
        if (needed != path.Points().size())
            std::abort();
        for (const TPointF& p : path.Points())
            Check(p);
    }
    void DrawText(const TMetafileDrawState& state, TPointF reference, const std::string&) override
    {
        Check(state);
        Check(reference);
    }
    void DrawBitmap(const TMetafileDrawState& state, const TPointF (&corners)[3], const TBitmap& bitmap,
                    const double (&)[4], TMetafileBlend, uint8_t) override
    {
        Check(state);
        for (const TPointF& p : corners)
            Check(p);
        std::vector<uint8_t> row(static_cast<size_t>(bitmap.Width()) * 4);
        for (int y = 0; y < bitmap.Height(); ++y)
            RowToBgra(bitmap, y, row.data());
    }

private:
    static void Check(TPointF p)
    {
        if (!std::isfinite(p.x) || !std::isfinite(p.y))
            std::abort();
    }
    static void Check(const TMetafileDrawState& state)
    {
        if (!std::isfinite(state.pen.width) || !std::isfinite(state.font.height) || !std::isfinite(state.font.angle))
            std::abort();
        for (const TMetafilePath& area : state.clip)
            for (const TPointF& p : area.Points())
                Check(p);
    }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static const bool capped = [] {
        TBitmap::SetMaxImageBytes(64u << 20);
        return true;
    }();
    (void)capped;
    TMetafile metafile;
    TMemoryStream stream(data, size);
    try {
        metafile.LoadStream(stream);
    } catch (const Exception&) {
        return 0;
    }
    CheckingCanvas canvas;
    PlayMetafile(metafile, canvas, metafile.Width(), metafile.Height());
    return 0;
}
