#include "codecs/PPMGraphic.h"

#include "framework/Exception.h"
#include "framework/Palette.h"
#include "framework/PixelConversion.h"
#include "framework/Stream.h"

#include <algorithm>
#include <cstring>
#include <vector>

KAVREL_DEFINE_GRAPHIC_CLASS(TPPMGraphic, TBitmap)

namespace {

const char* const kNotPPM = "Not a valid ppm file.";
const char* const kStreamReadError = "PPM: Stream read error.";
// Binary rows are read about this many bytes at a time.
constexpr size_t kBlockBytes = size_t { 1 } << 20;

bool IsDigit(uint8_t c)
{
    return c >= '0' && c <= '9';
}

HPALETTE BilevelPalette()
{
    TLogPalette log{};
    log.palVersion = kPaletteVersion;
    log.palNumEntries = 2;
    log.palPalEntry[0] = {255, 255, 255, 0};
    log.palPalEntry[1] = {0, 0, 0, 0};
    return CreatePalette(log);
}

HPALETTE GreyPalette()
{
    TLogPalette log{};
    log.palVersion = kPaletteVersion;
    log.palNumEntries = 256;
    for (int i = 0; i < 256; ++i) {
        const auto v = static_cast<uint8_t>(i);
        log.palPalEntry[i] = {v, v, v, 0};
    }
    return CreatePalette(log);
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// Character level

// Loads the next block. Only the bytes the read delivered are data: a short last block ends the
// stream there, instead of handing out whatever the buffer held before.
bool TPPMGraphic::FillBuffer()
{
    if (source_->Position() >= source_->Size())
        return false;
    const int64_t got = source_->Read(buffer_.data(), kBufferSize);
    if (got <= 0)
        return false;
    bufferFill_ = static_cast<int32_t>(got);
    bufferIndex_ = 0;
    return true;
}

uint8_t TPPMGraphic::NextChar()
{
    if (bufferIndex_ >= bufferFill_ && !FillBuffer())
        throw Exception(kStreamReadError);
    return buffer_[bufferIndex_++];
}

bool TPPMGraphic::TryNextChar(uint8_t& c)
{
    if (bufferIndex_ >= bufferFill_ && !FillBuffer())
        return false;
    c = buffer_[bufferIndex_++];
    return true;
}

uint8_t TPPMGraphic::PeekChar() const
{
    return bufferIndex_ < bufferFill_ ? buffer_[bufferIndex_] : 0;
}

int64_t TPPMGraphic::CharsLeft()
{
    return (bufferFill_ - bufferIndex_) + source_->Remaining();
}

void TPPMGraphic::ReadChars(uint8_t* dest, size_t count)
{
    // What the buffer holds first; a large rest (rows of pixels) straight from the stream.
    const size_t held = std::min(count, static_cast<size_t>(bufferFill_ - bufferIndex_));
    std::memcpy(dest, buffer_.data() + bufferIndex_, held);
    bufferIndex_ += static_cast<int32_t>(held);
    dest += held;
    count -= held;
    if (count >= kBufferSize) {
        if (source_->Read(dest, static_cast<int64_t>(count)) != static_cast<int64_t>(count))
            throw Exception(kStreamReadError);
        return;
    }
    while (count > 0) {
        if (bufferIndex_ >= bufferFill_ && !FillBuffer())
            throw Exception(kStreamReadError);
        const size_t n = std::min(count, static_cast<size_t>(bufferFill_ - bufferIndex_));
        std::memcpy(dest, buffer_.data() + bufferIndex_, n);
        bufferIndex_ += static_cast<int32_t>(n);
        dest += n;
        count -= n;
    }
}

std::string TPPMGraphic::ReadHeaderLine()
{
    std::string line;
    for (;;) {
        const uint8_t c = NextChar();
        if (c == '\n')
            break;
        if (c == '\r') {
            if (PeekChar() == '\n')
                NextChar();
            break;
        }
        line += static_cast<char>(c);
    }
    const size_t hash = line.find('#');
    if (hash != std::string::npos)
        line.erase(hash);
    return line;
}

uint8_t TPPMGraphic::NextDigit()
{
    // A "#" straight after the previous number's digits opened a comment; it is read away only now,
    // so that a comment at the very end of the file does not count as a missing character.
    if (commentPending_) {
        commentPending_ = false;
        ReadHeaderLine();
    }
    uint8_t c = NextChar();
    while (!IsDigit(c)) {
        if (c == '#')
            ReadHeaderLine();
        c = NextChar();
    }
    return c;
}

int32_t TPPMGraphic::NextNumber()
{
    uint8_t c = NextDigit();
    // 32-bit arithmetic that wraps: samples only use their low bits, and sizes are checked later.
    uint32_t value = 0;
    for (;;) {
        value = value * 10 + static_cast<uint32_t>(c - '0');
        // The last number of a plain file may end the file.
        if (!TryNextChar(c))
            break;
        if (!IsDigit(c)) {
            commentPending_ = c == '#';
            break;
        }
    }
    return static_cast<int32_t>(value);
}

// ---------------------------------------------------------------------------------------------
// Loading

void TPPMGraphic::LoadStream(TStream& stream)
{
    ReleaseHandle();
    source_ = &stream;
    bufferIndex_ = bufferFill_ = kBufferSize;
    commentPending_ = false;
    struct ForgetSource {
        TPPMGraphic* self;
        ~ForgetSource() { self->source_ = nullptr; }
    } forget{this};

    // The magic is "P" and one digit; any white space or comment then separates the header's
    // numbers, so the whole header may stand on the magic's line.
    if (NextChar() != 'P')
        throw Exception(kNotPPM);
    const char kind = static_cast<char>(NextChar());
    LoadImage(StrToInt(kind == '\n' || kind == '\r' ? std::string() : std::string(1, kind)));
    FinishRows();
}

void TPPMGraphic::LoadImage(int kind)
{
    if (kind < 1 || kind > 6)
        return;  // a variant this reader does not know: an empty picture, not an error

    const TPixelFormat format = kind == 1 || kind == 4 ? pf1bit : kind == 2 || kind == 5 ? pf8bit : pf24bit;
    const int32_t width = NextNumber();
    const int32_t height = NextNumber();
    if (kind != 1 && kind != 4)
        NextNumber();  // the maximum value: samples are not scaled by it
    // The binary data start right after the character that ended the last number. When that was
    // "#", a comment runs to the first carriage return or line feed, as netpbm reads it.
    if (kind >= 4 && commentPending_) {
        commentPending_ = false;
        for (uint8_t c = NextChar(); c != '\n' && c != '\r'; c = NextChar()) { }
    }

    // Refuse sizes that cannot be, and sizes whose pixels the rest of the stream cannot hold, before
    // anything is allocated: such a load would end in the stream read error anyway.
    if (width != 0 && height != 0)
        TBitmap::CheckSize(width, height, format);
    const uint64_t w = static_cast<uint64_t>(width);
    const uint64_t h = static_cast<uint64_t>(height);
    const uint64_t left = static_cast<uint64_t>(CharsLeft());
    bool enough = true;
    switch (kind) {
    case 1: enough = w * h <= left; break;
    case 2:
    case 3: {
        // Every number but the last needs a digit and a character that ends it.
        const uint64_t numbers = w * h * (kind == 3 ? 3 : 1);
        enough = numbers <= (left + 1) / 2;
        break;
    }
    case 4: enough = h * ((w + 7) / 8) <= left; break;
    case 5: enough = w * h <= left; break;
    case 6: enough = w * h * 3 <= left; break;
    }
    if (!enough)
        throw Exception(kStreamReadError);

    SetPixelFormat(format);
    if (format == pf1bit)
        SetPalette(BilevelPalette());
    else if (format == pf8bit)
        SetPalette(GreyPalette());
    // Binary colour rows are red, green, blue, as a sink may take them.
    const bool rgbRows = kind == 6 && UseRgbRows();
    // A picture without rows or without columns is 0 x 0: nobody may ask it for rows of no memory, nor
    // size a row buffer after a width that no row has.
    const bool hasPixels = width > 0 && height > 0;
    SetWidth(hasPixels ? width : 0);
    SetHeight(hasPixels ? height : 0);

    if (Empty())
        return;
    if (kind >= 4) {
        // Binary rows are read as they are, many at a time where the bitmap holds them one after the
        // other, and then turned into blue, green, red where a bitmap wants them so.
        const auto rowBytes = static_cast<size_t>(RowBytes());
        if (rgbRows) {
            // Rows a sink takes as they are may be copied by it from the file, from where the header ends.
            source_->Seek(bufferIndex_ - bufferFill_, TSeekOrigin::Current);
            bufferIndex_ = bufferFill_ = 0;
            if (PassStoredRows(0, height, *source_))
                return;
        }
        const int blockRows
            = static_cast<int>(std::clamp<size_t>(kBlockBytes / rowBytes, 1, static_cast<size_t>(height)));
        for (int y = 0; y < height;) {
            int n = std::min(blockRows, height - y);
            // Every byte is read, or the load fails.
            uint8_t* rows = RowsToFill(y, n);
            if (!rows) {
                n = 1;
                rows = ScanLine(y);
            }
            ReadChars(rows, rowBytes * static_cast<size_t>(n));
            if (kind == 6 && !rgbRows)
                SwapRedAndBlue(rows, rows, static_cast<size_t>(width) * static_cast<size_t>(n));
            y += n;
        }
        return;
    }
    for (int y = 0; y < height; ++y) {
        uint8_t* row = ScanLine(y);
        switch (kind) {
        case 1: {
            uint8_t bits = 0;
            for (int x = 1; x <= width; ++x) {
                // One digit per pixel: plain bitmaps need no white space between them ("0110").
                bits = static_cast<uint8_t>(bits * 2 + ((NextDigit() - '0') & 1));
                if (x % 8 == 0) {
                    *row++ = bits;
                    bits = 0;
                }
            }
            if (width % 8 != 0)
                *row = static_cast<uint8_t>(bits << (8 - width % 8));
            break;
        }
        case 2:
            for (int x = 0; x < width; ++x)
                row[x] = static_cast<uint8_t>(NextNumber());
            break;
        case 3:
            for (int x = 0; x < width; ++x) {
                row[3 * x + 2] = static_cast<uint8_t>(NextNumber());
                row[3 * x + 1] = static_cast<uint8_t>(NextNumber());
                row[3 * x] = static_cast<uint8_t>(NextNumber());
            }
            break;
        }
    }
}
