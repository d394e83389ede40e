#include "codecs/CUTGraphic.h"

#include "codecs/GraphicCompression.h"
#include "framework/Exception.h"
#include "framework/Palette.h"
#include "framework/Stream.h"

#include <algorithm>
#include <filesystem>
#include <system_error>
#include <vector>

KAVREL_DEFINE_GRAPHIC_CLASS(TCUTGraphic, TBitmap)

namespace {

// Dr. Halo palette files are read in blocks; an entry (red, green, blue as 16-bit little-endian
// values) never crosses a block's end.
constexpr int kPaletteBlockSize = 512;
constexpr int kHighestIndexOffset = 12;
constexpr int kFirstEntryOffset = 40;
constexpr int kEntrySize = 6;
constexpr int kLastEntryOffset = kPaletteBlockSize - kEntrySize;  // 506

}  // namespace

std::string ChangeFileExt(const std::string& fileName, const std::string& extension)
{
    const size_t slash = fileName.find_last_of('/');
    const size_t dot = fileName.find_last_of('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash))
        return fileName + extension;
    return fileName.substr(0, dot) + extension;
}

void TCUTGraphic::LoadFile(const std::string& fileName)
{
    struct ForgetPaletteFile {
        std::string& name;
        ~ForgetPaletteFile() { name.clear(); }
    } forget{paletteFileName_};
    paletteFileName_ = ChangeFileExt(fileName, ".pal");
    TBitmap::LoadFile(fileName);
}

void TCUTGraphic::LoadStream(TStream& stream)
{
    ReleaseHandle();
    SetPixelFormat(pf8bit);
    const int width = stream.ReadWordLE();
    const int height = stream.ReadWordLE();
    stream.ReadWordLE();  // reserved

    // Every row takes at least its length word, one two-byte run per 127 pixels and the terminating
    // zero. A stream that cannot hold that much is cut short, or its header is not a CUT header:
    // either way it must not make a big, empty picture.
    const int64_t leastRowBytes = 2 + 2 * ((int64_t{width} + 126) / 127) + 1;
    if (stream.Remaining() < leastRowBytes * height)
        throw EReadError();
    SetWidth(width);
    SetHeight(height);

    LoadPalette();

    const std::vector<uint8_t> packed = stream.ReadBytes(stream.Remaining());
    const uint8_t* source = packed.data();
    const uint8_t* const sourceEnd = source + packed.size();
    TCUTRLE decoder;
    // Each call consumes one row and leaves `source` at the next row's length. Rows that the data
    // no longer reach stay index 0.
    for (int y = 0; y < Height() && source < sourceEnd; ++y)
        decoder.Decode(source, sourceEnd, ScanLine(y), 0, Width());
}

void TCUTGraphic::LoadPalette()
{
    TLogPalette log{};
    log.palVersion = kPaletteVersion;

    std::error_code error;
    if (!paletteFileName_.empty() && std::filesystem::is_regular_file(paletteFileName_, error)) {
        TFileStream file(paletteFileName_, TFileStream::Mode::OpenRead);
        uint8_t block[kPaletteBlockSize];
        file.ReadBuffer(block, sizeof block);
        // The header may announce more entries than a palette holds.
        const int count = std::min(block[kHighestIndexOffset] + 256 * block[kHighestIndexOffset + 1] + 1, 256);
        int offset = kFirstEntryOffset;
        for (int i = 0; i < count; ++i, offset += kEntrySize) {
            if (offset > kLastEntryOffset) {
                file.ReadBuffer(block, sizeof block);
                offset = 0;
            }
            // Only the low byte of each 16-bit value is used.
            log.palPalEntry[i] = {block[offset], block[offset + 2], block[offset + 4], 0};
        }
        log.palNumEntries = static_cast<uint16_t>(count);
    } else {
        for (int i = 0; i < 256; ++i) {
            const auto v = static_cast<uint8_t>(i);
            log.palPalEntry[i] = {v, v, v, 0};
        }
        log.palNumEntries = 256;
    }
    SetPalette(CreatePalette(log));
}
