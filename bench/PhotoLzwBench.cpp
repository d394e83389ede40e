// The LZW decoder against libtiff's on the strips of a real photograph: every strip of an LZW TIFF
// (no predictor) decoded into one buffer, by TTIFFLZW and by libtiff's TIFFReadEncodedStrip on the
// memory-mapped file. Both must give the same bytes. The file is named by KAVREL_BENCH_LZW_TIFF
// (bench/compare-peers.sh makes one: photo-lzw.tif in its folder).

#include "codecs/GraphicCompression.h"

#include <algorithm>
#include <benchmark/benchmark.h>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <tiffio.h>
#include <vector>

namespace {

struct Strip {
    size_t offset; // in the file
    size_t packedSize;
    size_t unpackedSize;
};

struct PhotoFile {
    std::string path;
    std::vector<uint8_t> bytes;
    std::vector<Strip> strips;
    size_t unpackedSize = 0;
    std::string problem;
};

const PhotoFile& Photo()
{
    static const PhotoFile photo = [] {
        PhotoFile p;
        const char* path = std::getenv("KAVREL_BENCH_LZW_TIFF");
        if (!path) {
            p.problem = "set KAVREL_BENCH_LZW_TIFF to an LZW TIFF (bench/compare-peers.sh tif-lzw makes one)";
            return p;
        }
        p.path = path;
        TIFFSetWarningHandler(nullptr);
        TIFF* tif = TIFFOpen(path, "r");
        uint16_t compression = 0, predictor = 1;
        if (!tif || !TIFFGetField(tif, TIFFTAG_COMPRESSION, &compression) || compression != COMPRESSION_LZW) {
            p.problem = std::string(path) + " is not an LZW TIFF";
            if (tif)
                TIFFClose(tif);
            return p;
        }
        TIFFGetFieldDefaulted(tif, TIFFTAG_PREDICTOR, &predictor);
        if (predictor != 1) {
            p.problem = std::string(path) + " uses a predictor; libtiff would undo it, TTIFFLZW does not";
            TIFFClose(tif);
            return p;
        }
        uint64_t* offsets = nullptr;
        uint64_t* counts = nullptr;
        TIFFGetField(tif, TIFFTAG_STRIPOFFSETS, &offsets);
        TIFFGetField(tif, TIFFTAG_STRIPBYTECOUNTS, &counts);
        for (uint32_t s = 0; s < TIFFNumberOfStrips(tif); ++s)
            p.strips.push_back({ static_cast<size_t>(offsets[s]), static_cast<size_t>(counts[s]), 0 });
        // The rows of each strip: RowsPerStrip, fewer in the last one.
        uint32_t height = 0, rowsPerStrip = 0;
        TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &height);
        TIFFGetFieldDefaulted(tif, TIFFTAG_ROWSPERSTRIP, &rowsPerStrip);
        const auto rowBytes = static_cast<size_t>(TIFFScanlineSize64(tif));
        for (size_t s = 0; s < p.strips.size(); ++s) {
            const uint64_t first = s * uint64_t { rowsPerStrip };
            p.strips[s].unpackedSize = static_cast<size_t>(std::min<uint64_t>(rowsPerStrip, height - first)) * rowBytes;
            p.unpackedSize += p.strips[s].unpackedSize;
        }
        TIFFClose(tif);
        std::ifstream in(path, std::ios::binary);
        p.bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
        return p;
    }();
    return photo;
}

void DecodeWithKavrel(TTIFFLZW& decoder, const PhotoFile& photo, uint8_t* out)
{
    for (const Strip& strip : photo.strips) {
        const uint8_t* source = photo.bytes.data() + strip.offset;
        decoder.Decode(source, source + strip.packedSize, out, static_cast<int32_t>(strip.packedSize),
            static_cast<int32_t>(strip.unpackedSize));
        out += strip.unpackedSize;
    }
}

void DecodeWithLibtiff(TIFF* tif, const PhotoFile& photo, uint8_t* out)
{
    for (size_t s = 0; s < photo.strips.size(); ++s) {
        TIFFReadEncodedStrip(tif, static_cast<uint32_t>(s), out, static_cast<tmsize_t>(photo.strips[s].unpackedSize));
        out += photo.strips[s].unpackedSize;
    }
}

void BM_PhotoLZW_Kavrel(benchmark::State& state)
{
    const PhotoFile& photo = Photo();
    if (!photo.problem.empty()) {
        state.SkipWithError(photo.problem.c_str());
        return;
    }
    std::vector<uint8_t> out(photo.unpackedSize);
    std::vector<uint8_t> expected(photo.unpackedSize);
    TIFF* tif = TIFFOpen(photo.path.c_str(), "r");
    DecodeWithLibtiff(tif, photo, expected.data());
    TIFFClose(tif);
    auto decoder = std::make_unique<TTIFFLZW>();
    DecodeWithKavrel(*decoder, photo, out.data());
    if (out != expected) {
        state.SkipWithError("TTIFFLZW and libtiff decode differently");
        return;
    }
    for (auto _ : state) {
        DecodeWithKavrel(*decoder, photo, out.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * photo.unpackedSize));
}

void BM_PhotoLZW_Libtiff(benchmark::State& state)
{
    const PhotoFile& photo = Photo();
    if (!photo.problem.empty()) {
        state.SkipWithError(photo.problem.c_str());
        return;
    }
    std::vector<uint8_t> out(photo.unpackedSize);
    TIFF* tif = TIFFOpen(photo.path.c_str(), "r");
    for (auto _ : state) {
        DecodeWithLibtiff(tif, photo, out.data());
        benchmark::ClobberMemory();
    }
    TIFFClose(tif);
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * photo.unpackedSize));
}

BENCHMARK(BM_PhotoLZW_Kavrel)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PhotoLZW_Libtiff)->Unit(benchmark::kMillisecond);

} // namespace
