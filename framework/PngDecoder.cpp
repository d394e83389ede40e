#include "framework/PngDecoder.h"

#include "framework/Bitmap.h"
#include "framework/Exception.h"

#include <csetjmp>
#include <cstring>
#include <png.h>

namespace {

struct Source {
    std::span<const uint8_t> data;
    size_t position = 0;
};

void ReadFromSpan(png_structp png, png_bytep out, png_size_t count)
{
    auto* source = static_cast<Source*>(png_get_io_ptr(png));
    if (count > source->data.size() - source->position)
        png_error(png, "unexpected end of data");
    std::memcpy(out, source->data.data() + source->position, count);
    source->position += count;
}

// libpng's errors jump back to the guarded call (see Guard); its warnings are not shown.
void JumpOnError(png_structp png, png_const_charp) { png_longjmp(png, 1); }
void IgnoreWarning(png_structp, png_const_charp) {}

class PngReader {
public:
    explicit PngReader(const char* message) : message_(message)
    {
        png_ = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, JumpOnError, IgnoreWarning);
        if (png_)
            info_ = png_create_info_struct(png_);
        if (!png_ || !info_) {
            png_destroy_read_struct(png_ ? &png_ : nullptr, nullptr, nullptr);
            throw Exception(message_);
        }
    }
    ~PngReader() { png_destroy_read_struct(&png_, &info_, nullptr); }
    PngReader(const PngReader&) = delete;
    PngReader& operator=(const PngReader&) = delete;

    // Runs one step of libpng; nothing with a destructor lives in the frames its jump skips.
    template <class Step>
    void Guard(Step&& step)
    {
        if (setjmp(png_jmpbuf(png_)))
            throw Exception(message_);
        step();
    }

    png_structp Png() const { return png_; }
    png_infop Info() const { return info_; }

private:
    const char* message_;
    png_structp png_ = nullptr;
    png_infop info_ = nullptr;
};

}  // namespace

bool IsPng(std::span<const uint8_t> data)
{
    return data.size() >= 8 && png_sig_cmp(data.data(), 0, 8) == 0;
}

void DecodePng(std::span<const uint8_t> data, TBitmap& bitmap, const char* message)
{
    PngReader reader(message);
    png_structp png = reader.Png();
    png_infop info = reader.Info();
    Source source{data};
    png_uint_32 width = 0;
    png_uint_32 height = 0;
    int passes = 1;
    reader.Guard([&] {
        png_set_read_fn(png, &source, ReadFromSpan);
        png_read_info(png, info);
        width = png_get_image_width(png, info);
        height = png_get_image_height(png, info);
    });
    TBitmap::CheckSize(width, height, pf32bit);
    reader.Guard([&] {
        png_set_expand(png);
        png_set_scale_16(png);
        png_set_gray_to_rgb(png);
        png_set_bgr(png);
        png_set_filler(png, 0xFF, PNG_FILLER_AFTER);
        passes = png_set_interlace_handling(png);
        png_read_update_info(png, info);
    });
    if (png_get_rowbytes(png, info) != static_cast<size_t>(width) * 4)
        throw Exception(message);

    bitmap.ReleaseHandle();
    bitmap.SetPixelFormat(pf32bit);
    bitmap.SetSize(static_cast<int>(width), static_cast<int>(height));
    // Interlaced images are read pass by pass into the same rows, which libpng completes.
    for (int pass = 0; pass < passes; ++pass)
        for (png_uint_32 y = 0; y < height; ++y) {
            uint8_t* row = bitmap.ScanLine(static_cast<int>(y));
            reader.Guard([&] { png_read_row(png, row, nullptr); });
        }
}
