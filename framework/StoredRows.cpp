#include "framework/StoredRows.h"

#include "framework/Bitmap.h"
#include "framework/PixelConversion.h"
#include "framework/Stream.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace {
// Rows are read about this many bytes at a time (at least one row): few system calls, and the rows
// still in the processor's cache when they are handed on.
constexpr size_t kChunkBytes = size_t { 256 } << 10;
} // namespace

void ReadStoredRows(TStream& stream, TBitmap& bitmap, int64_t dataStart, size_t storedBytes, bool topFirst,
    bool swapRedAndBlue, const TStoredRowConversion& convert)
{
    const int height = bitmap.Height();
    const auto rowBytes = static_cast<size_t>(bitmap.RowBytes());
    const auto pixels = static_cast<size_t>(bitmap.Width());
    const int chunkRows = static_cast<int>(std::clamp<size_t>(
        kChunkBytes / std::max<size_t>(storedBytes, 1), 1, static_cast<size_t>(std::max(height, 1))));
    std::vector<uint8_t> chunk;
    for (int y = 0; y < height;) {
        const int n = std::min(chunkRows, height - y);
        const auto bytes = static_cast<int64_t>(storedBytes) * n;
        stream.SetPosition(dataStart + static_cast<int64_t>(storedBytes) * (topFirst ? y : height - y - n));
        if (!convert && topFirst && storedBytes == rowBytes) {
            if (uint8_t* rows = bitmap.RowsToFill(y, n)) {
                stream.ReadBuffer(rows, bytes);
                if (swapRedAndBlue)
                    SwapRedAndBlue(rows, rows, pixels * static_cast<size_t>(n));
                y += n;
                continue;
            }
        }
        chunk.resize(static_cast<size_t>(bytes));
        stream.ReadBuffer(chunk.data(), bytes);
        for (int i = 0; i < n; ++i, ++y) {
            const uint8_t* stored = chunk.data() + storedBytes * static_cast<size_t>(topFirst ? i : n - 1 - i);
            uint8_t* row = bitmap.ScanLine(y);
            if (convert)
                convert(stored, row);
            else if (swapRedAndBlue)
                SwapRedAndBlue(stored, row, pixels);
            else
                std::memcpy(row, stored, rowBytes);
        }
    }
    stream.SetPosition(dataStart + static_cast<int64_t>(storedBytes) * height);
}
