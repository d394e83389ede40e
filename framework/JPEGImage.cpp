#include "framework/JPEGImage.h"

#include "framework/Exception.h"
#include "framework/Stream.h"

#include <algorithm>
#include <climits>
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <jpeglib.h>
#include <utility>

KAVREL_DEFINE_GRAPHIC_CLASS(TJPEGImage, TGraphic)

namespace {

// A progressive file may hold any number of scans, each one a pass over the whole image; real
// encoders write at most a few dozen. Beyond this a file is treated as hostile.
constexpr int kMaxScans = 500;

// libjpeg reports errors through error_exit, which must not return. It jumps back to the call that
// was guarded, which turns the message into an Exception; nothing with a destructor lives in the
// frames that the jump skips (only libjpeg's own C frames and a small lambda).
struct ErrorManager {
    jpeg_error_mgr pub;  // first: libjpeg sees only this part
    std::jmp_buf jump;
    char message[JMSG_LENGTH_MAX];
};

void ErrorExit(j_common_ptr cinfo)
{
    auto* err = reinterpret_cast<ErrorManager*>(cinfo->err);
    (*cinfo->err->format_message)(cinfo, err->message);
    std::longjmp(err->jump, 1);
}

// Warnings (a premature end, corrupt entropy data) are not shown: libjpeg goes on and the picture
// shows what could be decoded.
void IgnoreMessage(j_common_ptr) {}

void CheckProgress(j_common_ptr cinfo)
{
    const auto* dinfo = reinterpret_cast<j_decompress_ptr>(cinfo);
    if (dinfo->input_scan_number > kMaxScans) {
        auto* err = reinterpret_cast<ErrorManager*>(cinfo->err);
        std::snprintf(err->message, sizeof err->message, "Corrupt JPEG data: more than %d scans", kMaxScans);
        std::longjmp(err->jump, 1);
    }
}

class Decompressor {
public:
    Decompressor()
    {
        cinfo_.err = jpeg_std_error(&err_.pub);
        err_.pub.error_exit = ErrorExit;
        err_.pub.output_message = IgnoreMessage;
        progress_.progress_monitor = CheckProgress;
        Guard([this] { jpeg_create_decompress(&cinfo_); });
        created_ = true;
        cinfo_.progress = &progress_;
    }
    ~Decompressor()
    {
        if (created_)
            jpeg_destroy_decompress(&cinfo_);
    }
    Decompressor(const Decompressor&) = delete;
    Decompressor& operator=(const Decompressor&) = delete;

    // Runs one step of libjpeg; its errors come back here and leave as an Exception.
    template <class Step>
    void Guard(Step&& step)
    {
        if (setjmp(err_.jump))
            throw Exception(err_.message);
        step();
    }

    jpeg_decompress_struct& Info() { return cinfo_; }

private:
    jpeg_decompress_struct cinfo_{};
    ErrorManager err_{};
    jpeg_progress_mgr progress_{};
    bool created_ = false;
};

uint8_t Ink(unsigned value, unsigned black, bool inverted)
{
    // Adobe's files store 255 for "no ink"; others store the ink itself.
    const unsigned v = inverted ? value * black : (255 - value) * (255 - black);
    return static_cast<uint8_t>((v + 127) / 255);
}

}  // namespace

void DecodeJpeg(const std::vector<uint8_t>& data, TBitmap& bitmap)
{
    Decompressor decompressor;
    jpeg_decompress_struct& cinfo = decompressor.Info();
    decompressor.Guard([&] {
        jpeg_mem_src(&cinfo, data.data(), static_cast<unsigned long>(data.size()));
        jpeg_read_header(&cinfo, TRUE);
    });

    const bool cmyk = cinfo.jpeg_color_space == JCS_CMYK || cinfo.jpeg_color_space == JCS_YCCK;
    const bool gray = cinfo.jpeg_color_space == JCS_GRAYSCALE;
    const TPixelFormat format = gray ? pf8bit : pf24bit;
    TBitmap::CheckSize(cinfo.image_width, cinfo.image_height, format);

    bitmap.ReleaseHandle();
    bitmap.SetPixelFormat(format);
    if (gray) {
        TLogPalette log{};
        log.palVersion = kPaletteVersion;
        log.palNumEntries = 256;
        for (int i = 0; i < 256; ++i)
            log.palPalEntry[i] = {uint8_t(i), uint8_t(i), uint8_t(i), 0};
        bitmap.SetPalette(CreatePalette(log));
    }
    // libjpeg makes red, green, blue rows as readily as blue, green, red ones.
    const bool rgbRows = !gray && !cmyk && bitmap.UseRgbRows();
    cinfo.out_color_space = gray ? JCS_GRAYSCALE : cmyk ? JCS_CMYK : rgbRows ? JCS_RGB : JCS_EXT_BGR;
    // libjpeg's own working memory (whole-image coefficient buffers of progressive files) stays
    // within the same budget as the bitmaps.
    cinfo.mem->max_memory_to_use = static_cast<long>(std::min<uint64_t>(TBitmap::MaxImageBytes() * 2, LONG_MAX));
    decompressor.Guard([&] { jpeg_start_decompress(&cinfo); });
    bitmap.SetSize(static_cast<int>(cinfo.output_width), static_cast<int>(cinfo.output_height));

    std::vector<uint8_t> cmykRow(cmyk ? static_cast<size_t>(cinfo.output_width) * 4 : 0);
    const bool inverted = cinfo.saw_Adobe_marker;
    while (cinfo.output_scanline < cinfo.output_height) {
        const int y = static_cast<int>(cinfo.output_scanline);
        // libjpeg writes the whole row.
        JSAMPROW row = cmyk ? cmykRow.data() : bitmap.RowsToFill(y, 1);
        if (!row)
            row = bitmap.ScanLine(y);
        JDIMENSION got = 0;
        decompressor.Guard([&] { got = jpeg_read_scanlines(&cinfo, &row, 1); });
        if (got == 0) {
            // Cannot happen with data in memory; guards against looping forever.
            if (!cmyk)
                std::memset(row, 0, static_cast<size_t>(bitmap.RowBytes()));
            break;
        }
        if (cmyk) {
            uint8_t* dest = bitmap.ScanLine(y);
            for (JDIMENSION x = 0; x < cinfo.output_width; ++x) {
                const uint8_t* p = &cmykRow[4 * x];
                dest[3 * x] = Ink(p[2], p[3], inverted);
                dest[3 * x + 1] = Ink(p[1], p[3], inverted);
                dest[3 * x + 2] = Ink(p[0], p[3], inverted);
            }
        }
    }
    // jpeg_finish_decompress is not called: every row is there, and what follows the last one
    // (trailing markers, garbage) must not turn a shown picture into a failure.
    bitmap.FinishRows();
}

void TJPEGImage::LoadStream(TStream& stream)
{
    std::vector<uint8_t> data = stream.ReadBytes(stream.Remaining());
    TBitmap decoded;
    decoded.SetRowSink(std::exchange(rowSink_, nullptr));
    DecodeJpeg(data, decoded);
    data_ = std::move(data);
    bitmap_ = std::move(decoded);
}

void TJPEGImage::SaveStream(TStream& stream)
{
    if (!data_.empty())
        stream.WriteBuffer(data_.data(), static_cast<int64_t>(data_.size()));
}
