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

#endif
