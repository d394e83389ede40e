#include "fuzz/FuzzBody.h"

#include "codecs/GraphicFormats.h"
#include "framework/Bitmap.h"
#include "framework/Exception.h"
#include "framework/Picture.h"
#include "framework/PixelConversion.h"
#include "framework/RowSink.h"
#include "framework/Stream.h"

#include <cstring>
#include <memory>
#include <set>
#include <vector>

void PrepareFuzzing()
{
    static const bool prepared = [] {
        EnsureAllFormatsRegistered();
        TBitmap::SetMaxImageBytes(16u << 20);  // enough for every real sample, and fast to fill
        return true;
    }();
    (void)prepared;
}

namespace {

// Copies every row it is given, so that the sanitizers see rows handed on out of bounds. It lends the
// first band and then none, so that lent bands and the bitmap's own taking over are both gone through,
// and takes every other offer of stored rows, reading them from the source.
class TouchingSink : public TRowSink {
public:
    uint8_t* LendBand(size_t bytes) override
    {
        if (lends_++ > 0)
            return nullptr;
        lent_.assign(bytes, 0xEE);
        return lent_.data();
    }
    void Start(int width, int, TPixelFormat format, const std::vector<TPaletteEntry>&, bool) override
    {
        row_.resize(TBitmap::RowBytesFor(width, format));
    }
    void PutRows(int, int count, const uint8_t* rows, size_t stride) override
    {
        for (int i = 0; i < count; ++i)
            std::memcpy(row_.data(), rows + stride * static_cast<size_t>(i), row_.size());
    }
    bool PutStoredRows(int, int count, TStream& source) override
    {
        if (offers_++ % 2 == 0)
            return false;
        for (int i = 0; i < count && source.Read(row_.data(), static_cast<int64_t>(row_.size())) > 0; ++i) { }
        return true;
    }
    void Finish() override { }

private:
    std::vector<uint8_t> row_;
    std::vector<uint8_t> lent_;
    int lends_ = 0;
    int offers_ = 0;
};

} // namespace

void LoadThroughEveryReader(const uint8_t* data, size_t size)
{
    PrepareFuzzing();
    std::set<const TGraphicClass*> seen;
    for (const auto& entry : TPicture::Formats().Entries()) {
        if (!seen.insert(entry.graphicClass).second || !entry.graphicClass->create)
            continue;
        std::unique_ptr<TGraphic> graphic = entry.graphicClass->create();
        TMemoryStream stream(data, size);
        try {
            graphic->LoadStream(stream);
        } catch (const Exception&) {
            continue;
        }
        if (const TBitmap* bitmap = graphic->DisplayBitmap()) {
            std::vector<uint8_t> row(static_cast<size_t>(bitmap->Width()) * 4);
            for (int y = 0; y < bitmap->Height(); ++y)
                RowToBgra(*bitmap, y, row.data());
        }
        TMemoryStream out;
        try {
            graphic->SaveStream(out);
        } catch (const Exception&) {
        }
        // Again with the rows passed on as they are made, where the class offers it.
        std::unique_ptr<TGraphic> streamed = entry.graphicClass->create();
        TouchingSink sink;
        if (!streamed->StreamRowsTo(&sink))
            continue;
        TMemoryStream again(data, size);
        try {
            streamed->LoadStream(again);
        } catch (const Exception&) { }
    }
}
