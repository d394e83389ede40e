// Decoding speed of the LZW and PackBits decoders on a large picture-like stream. Reports bytes of output per
// second; "ratio" is output bytes per packed byte.

#include "codecs/GraphicCompression.h"
#include "tests/support/ReferenceEncoders.h"

#include <benchmark/benchmark.h>
#include <cstdlib>
#include <cstring>
#include <random>

namespace {

using reference::Bytes;

// An 8-bit picture of 2048 x 2048: flat blocks, a gentle gradient with a little noise, and plain noise side by side
// on every row, so that the streams hold long and short strings, runs and literals.
const Bytes& Picture()
{
    static const Bytes picture = [] {
        constexpr int kSize = 2048;
        std::mt19937 rng(2024);
        Bytes p(static_cast<size_t>(kSize) * kSize);
        for (int y = 0; y < kSize; ++y) {
            uint8_t* row = p.data() + static_cast<size_t>(y) * kSize;
            for (int x = 0; x < kSize; ++x) {
                if (x < kSize / 2)
                    row[x] = static_cast<uint8_t>((x / 40 + y / 32) * 23);
                else if (x < kSize * 7 / 8)
                    row[x] = static_cast<uint8_t>((x + y) / 16 + (rng() % 8 == 0 ? rng() % 3 : 0));
                else
                    row[x] = static_cast<uint8_t>(rng());
            }
        }
        return p;
    }();
    return picture;
}

void Run(benchmark::State& state, TDecoder& decoder, const Bytes& packed)
{
    const Bytes& expected = Picture();
    Bytes out(expected.size());
    const auto decode = [&] {
        const uint8_t* source = packed.data();
        decoder.Decode(source, packed.data() + packed.size(), out.data(), static_cast<int32_t>(packed.size()),
            static_cast<int32_t>(out.size()));
    };
    decode();
    if (out != expected) {
        state.SkipWithError("the decoded picture differs");
        return;
    }
    for (auto _ : state) {
        decode();
        benchmark::DoNotOptimize(out.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(out.size()));
    state.counters["ratio"] = static_cast<double>(out.size()) / static_cast<double>(packed.size());
}

void BM_TIFFLZW(benchmark::State& state)
{
    static const Bytes packed = reference::LzwEncode(Picture(), reference::TiffLzw());
    TTIFFLZW decoder;
    Run(state, decoder, packed);
}

void BM_GIFLZW(benchmark::State& state)
{
    static const Bytes packed = reference::LzwEncode(Picture(), reference::GifLzw(8));
    TGIFLZW decoder;
    decoder.InitialCodeSize = 8;
    Run(state, decoder, packed);
}

void BM_PackbitsRLE(benchmark::State& state)
{
    static const Bytes packed = reference::PackBitsEncode(Picture());
    TPackbitsRLE decoder;
    Run(state, decoder, packed);
}

BENCHMARK(BM_TIFFLZW)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_GIFLZW)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PackbitsRLE)->Unit(benchmark::kMillisecond);

} // namespace
