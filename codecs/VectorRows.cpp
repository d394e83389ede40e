#include "codecs/VectorRows.h"

#if KAVREL_X86_DISPATCH

#include <immintrin.h>

KAVREL_X86_V3_TARGET void RgbDifferencesToBgrX86V3(const uint8_t* source, uint8_t* dest, size_t pixels)
{
    const size_t bytes = pixels * 3;
    // Red and blue trade places; the sixteenth byte, the next pixel's first, is written again by the
    // next block or the tail.
    const __m128i swap = _mm_setr_epi8(2, 1, 0, 5, 4, 3, 8, 7, 6, 11, 10, 9, 14, 13, 12, 15);
    // The sums of each channel over five pixels at a time: shifting by one, two and four pixels and
    // adding gives every pixel the sum of those before it in the block; then the last pixel of the
    // block before is added to all five.
    const __m128i lastPixel = _mm_setr_epi8(12, 13, 14, 12, 13, 14, 12, 13, 14, 12, 13, 14, 12, 13, 14, 12);
    __m128i carry = _mm_setzero_si128();
    size_t i = 0;
    for (; i + 16 <= bytes; i += 15) {
        __m128i sums = _mm_loadu_si128(reinterpret_cast<const __m128i*>(source + i));
        sums = _mm_add_epi8(sums, _mm_slli_si128(sums, 3));
        sums = _mm_add_epi8(sums, _mm_slli_si128(sums, 6));
        sums = _mm_add_epi8(sums, _mm_slli_si128(sums, 12));
        sums = _mm_add_epi8(sums, carry);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(dest + i), _mm_shuffle_epi8(sums, swap));
        carry = _mm_shuffle_epi8(sums, lastPixel);
    }
    auto red = static_cast<uint8_t>(_mm_extract_epi8(carry, 0));
    auto green = static_cast<uint8_t>(_mm_extract_epi8(carry, 1));
    auto blue = static_cast<uint8_t>(_mm_extract_epi8(carry, 2));
    for (; i < bytes; i += 3) {
        red = static_cast<uint8_t>(red + source[i]);
        green = static_cast<uint8_t>(green + source[i + 1]);
        blue = static_cast<uint8_t>(blue + source[i + 2]);
        dest[i] = blue;
        dest[i + 1] = green;
        dest[i + 2] = red;
    }
}

namespace {

// The shuffles that place 16 samples of one channel (0 blue, 1 green, 2 red) into the three 16-byte
// blocks of 16 interleaved pixels; -1 leaves a byte zero.
struct PlaneShuffles {
    alignas(16) int8_t masks[3][3][16]; // [channel][block][byte]
    constexpr PlaneShuffles()
        : masks()
    {
        for (int byte = 0; byte < 48; ++byte)
            for (int channel = 0; channel < 3; ++channel)
                masks[channel][byte / 16][byte % 16] = static_cast<int8_t>(byte % 3 == channel ? byte / 3 : -1);
    }
};
constexpr PlaneShuffles kPlaneShuffles;

} // namespace

KAVREL_X86_V3_TARGET void RgbPlanesToBgrX86V3(
    const uint8_t* red, const uint8_t* green, const uint8_t* blue, uint8_t* dest, size_t pixels)
{
    const auto mask = [](int channel, int block) {
        return _mm_load_si128(reinterpret_cast<const __m128i*>(kPlaneShuffles.masks[channel][block]));
    };
    const __m128i b[3] = { mask(0, 0), mask(0, 1), mask(0, 2) };
    const __m128i g[3] = { mask(1, 0), mask(1, 1), mask(1, 2) };
    const __m128i r[3] = { mask(2, 0), mask(2, 1), mask(2, 2) };
    size_t x = 0;
    for (; x + 16 <= pixels; x += 16) {
        const __m128i blues = _mm_loadu_si128(reinterpret_cast<const __m128i*>(blue + x));
        const __m128i greens = _mm_loadu_si128(reinterpret_cast<const __m128i*>(green + x));
        const __m128i reds = _mm_loadu_si128(reinterpret_cast<const __m128i*>(red + x));
        for (int block = 0; block < 3; ++block) {
            const __m128i pixels16
                = _mm_or_si128(_mm_or_si128(_mm_shuffle_epi8(blues, b[block]), _mm_shuffle_epi8(greens, g[block])),
                    _mm_shuffle_epi8(reds, r[block]));
            _mm_storeu_si128(reinterpret_cast<__m128i*>(dest + 3 * x + 16 * block), pixels16);
        }
    }
    for (; x < pixels; ++x) {
        dest[3 * x] = blue[x];
        dest[3 * x + 1] = green[x];
        dest[3 * x + 2] = red[x];
    }
}

#endif
