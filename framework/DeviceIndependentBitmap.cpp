#include "framework/DeviceIndependentBitmap.h"

#include "framework/BitmapFile.h"
#include "framework/ByteReader.h"
#include "framework/Stream.h"

#include <algorithm>
#include <vector>

size_t DibInfoSize(std::span<const uint8_t> info)
{
    try {
        TByteReader in(info);
        const uint32_t headerSize = in.U32LE();
        if (headerSize == 12) {
            in.Seek(10);
            const unsigned bits = in.U16LE();
            return 12 + (bits <= 8 ? (size_t{1} << bits) * 3 : 0);
        }
        if (headerSize < 16 || headerSize > 4096)
            return 0;
        in.Seek(14);
        const unsigned bits = in.U16LE();
        const uint32_t compression = headerSize >= 20 ? in.U32LE() : 0;
        uint32_t colorsUsed = 0;
        if (headerSize >= 36) {
            in.Seek(32);
            colorsUsed = in.U32LE();
        }
        size_t masks = 0;
        if (headerSize == 40 && compression == 3)
            masks = 12;
        else if (headerSize == 40 && compression == 6)
            masks = 16;
        uint64_t colors = colorsUsed;
        if (bits <= 8)
            colors = colorsUsed ? std::min<uint64_t>(colorsUsed, uint64_t{1} << bits) : uint64_t{1} << bits;
        if (colors > info.size())
            return 0;  // cannot be there; also keeps the sum below from overflowing
        return headerSize + masks + static_cast<size_t>(colors) * 4;
    } catch (const EReadError&) {
        return 0;
    }
}

void ReadDib(std::span<const uint8_t> info, std::span<const uint8_t> bits, TBitmap& bitmap)
{
    // The framework reads .bmp files; give it one: a file header pointing at the bits.
    const uint64_t offset = 14 + uint64_t{info.size()};
    const uint64_t total = offset + bits.size();
    std::vector<uint8_t> file;
    file.reserve(static_cast<size_t>(total));
    const uint32_t fileSize = static_cast<uint32_t>(std::min<uint64_t>(total, UINT32_MAX));
    const uint8_t header[14] = {'B',
                                'M',
                                uint8_t(fileSize),
                                uint8_t(fileSize >> 8),
                                uint8_t(fileSize >> 16),
                                uint8_t(fileSize >> 24),
                                0,
                                0,
                                0,
                                0,
                                uint8_t(offset),
                                uint8_t(offset >> 8),
                                uint8_t(offset >> 16),
                                uint8_t(offset >> 24)};
    file.insert(file.end(), header, header + 14);
    file.insert(file.end(), info.begin(), info.end());
    file.insert(file.end(), bits.begin(), bits.end());
    TMemoryStream stream(std::move(file));
    ReadWindowsBitmap(stream, bitmap);
}
