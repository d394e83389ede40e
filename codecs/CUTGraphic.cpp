#include "codecs/CUTGraphic.h"

#include "codecs/GraphicCompression.h"
#include "framework/Exception.h"
#include "framework/Palette.h"
#include "framework/Stream.h"

#include <algorithm>
#include <cctype>
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

std::string FindPaletteFile(const std::string& imageFileName)
{
    namespace fs = std::filesystem;
    const fs::path usual = ChangeFileExt(imageFileName, ".pal");
    std::error_code error;
    if (fs::is_regular_file(usual, error))
        return usual.string();

    // Files copied from DOS disks often carry upper-case names: look for the extension in any case.
    const std::string wanted = usual.filename().string();
    const size_t stemLength = wanted.size() - 3;
    const auto isWanted = [&](const std::string& name) {
        if (name.size() != wanted.size() || name.compare(0, stemLength, wanted, 0, stemLength) != 0)
            return false;
        for (size_t i = stemLength; i < name.size(); ++i)
            if (std::tolower(static_cast<unsigned char>(name[i])) != wanted[i])
                return false;
        return true;
    };
    // The first match in name order, so that the choice does not depend on the folder's order.
    std::string foundName;
    const fs::path folder = usual.has_parent_path() ? usual.parent_path() : fs::path(".");
    for (fs::directory_iterator it(folder, error), end; !error && it != end; it.increment(error)) {
        const std::string name = it->path().filename().string();
        std::error_code statError;
        if (isWanted(name) && (foundName.empty() || name < foundName) && it->is_regular_file(statError))
            foundName = name;
    }
    return foundName.empty() ? std::string() : (folder / foundName).string();
}

void TCUTGraphic::LoadFile(const std::string& fileName)
{
    struct ForgetPaletteFile {
        std::string& name;
        ~ForgetPaletteFile() { name.clear(); }
    } forget{paletteFileName_};
    paletteFileName_ = FindPaletteFile(fileName);
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
    // zero. A file cut short shows the rows it holds, but a header alone must not make a big, empty
    // picture: the data must hold a good share of that least size, which bounds the picture by the
    // file (real files, cut almost anywhere, hold far more).
    constexpr int64_t kLeastShare = 16;
    const int64_t leastRowBytes = 2 + 2 * ((int64_t{width} + 126) / 127) + 1;
    if (stream.Remaining() * kLeastShare < leastRowBytes * height)
        throw EReadError();
    SetWidth(width);
    SetHeight(height);

    LoadPalette();

    const std::vector<uint8_t> packed = stream.ReadBytes(stream.Remaining());
    const uint8_t* source = packed.data();
    const uint8_t* const sourceEnd = source + packed.size();
    TCUTRLE decoder;
    // Each call consumes one row and leaves `source` at the next row's length. Rows that the data
    // no longer reach, and the rest of a row cut short, stay index 0.
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
