#include "framework/VectorPixels.h"

#if KAVREL_X86_DISPATCH

#include <immintrin.h>

// Each loop moves whole 16-byte blocks and stops while a block still fits in source and dest; a
// block may write past the pixels it converts, onto the place of the next block's first ones, which
// that block or the scalar tail writes again.

KAVREL_X86_V3_TARGET void SwapRedAndBlueX86V3(const uint8_t* source, uint8_t* dest, size_t pixels)
{
    // Five pixels of a block; the sixteenth byte, the next pixel's first, stays as it is.
    const __m128i swap = _mm_setr_epi8(2, 1, 0, 5, 4, 3, 8, 7, 6, 11, 10, 9, 14, 13, 12, 15);
    const size_t bytes = pixels * 3;
    size_t i = 0;
    if (bytes >= 16) {
        // Each block is loaded before the block ahead of it is stored: in place, a load that met the
        // byte just stored would wait for that store.
        __m128i block = _mm_loadu_si128(reinterpret_cast<const __m128i*>(source));
        for (; i + 31 <= bytes; i += 15) {
            const __m128i next = _mm_loadu_si128(reinterpret_cast<const __m128i*>(source + i + 15));
            _mm_storeu_si128(reinterpret_cast<__m128i*>(dest + i), _mm_shuffle_epi8(block, swap));
            block = next;
        }
        _mm_storeu_si128(reinterpret_cast<__m128i*>(dest + i), _mm_shuffle_epi8(block, swap));
        i += 15;
    }
    for (; i < bytes; i += 3) {
        const uint8_t first = source[i];
        dest[i] = source[i + 2];
        dest[i + 1] = source[i + 1];
        dest[i + 2] = first;
    }
}

KAVREL_X86_V3_TARGET void BgraToRgbX86V3(const uint8_t* source, uint8_t* dest, size_t pixels)
{
    // Four pixels make 12 bytes; the last four bytes of the block are the next block's place.
    const __m128i pick = _mm_setr_epi8(2, 1, 0, 6, 5, 4, 10, 9, 8, 14, 13, 12, -1, -1, -1, -1);
    size_t x = 0;
    for (; x + 6 <= pixels; x += 4) {
        const __m128i block = _mm_loadu_si128(reinterpret_cast<const __m128i*>(source + 4 * x));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(dest + 3 * x), _mm_shuffle_epi8(block, pick));
    }
    for (; x < pixels; ++x) {
        dest[3 * x] = source[4 * x + 2];
        dest[3 * x + 1] = source[4 * x + 1];
        dest[3 * x + 2] = source[4 * x];
    }
}

KAVREL_X86_V3_TARGET void BgraToRgbaX86V3(const uint8_t* source, uint8_t* dest, size_t pixels)
{
    const __m128i swap = _mm_setr_epi8(2, 1, 0, 3, 6, 5, 4, 7, 10, 9, 8, 11, 14, 13, 12, 15);
    size_t x = 0;
    for (; x + 4 <= pixels; x += 4) {
        const __m128i block = _mm_loadu_si128(reinterpret_cast<const __m128i*>(source + 4 * x));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(dest + 4 * x), _mm_shuffle_epi8(block, swap));
    }
    for (; x < pixels; ++x) {
        dest[4 * x] = source[4 * x + 2];
        dest[4 * x + 1] = source[4 * x + 1];
        dest[4 * x + 2] = source[4 * x];
        dest[4 * x + 3] = source[4 * x + 3];
    }
}

KAVREL_X86_V3_TARGET void BgrToBgraX86V3(const uint8_t* source, uint8_t* dest, size_t pixels)
{
    // Four pixels from each half of a 32-byte register (12 bytes each), spread to four bytes apiece
    // with 255 put in the fourth.
    const __m256i spread = _mm256_setr_epi8(
        0, 1, 2, -1, 3, 4, 5, -1, 6, 7, 8, -1, 9, 10, 11, -1, 0, 1, 2, -1, 3, 4, 5, -1, 6, 7, 8, -1, 9, 10, 11, -1);
    const __m256i opaque = _mm256_set1_epi32(static_cast<int>(0xFF000000u));
    size_t x = 0;
    for (; x + 10 <= pixels; x += 8) {
        const __m128i low = _mm_loadu_si128(reinterpret_cast<const __m128i*>(source + 3 * x));
        const __m128i high = _mm_loadu_si128(reinterpret_cast<const __m128i*>(source + 3 * x + 12));
        const __m256i both = _mm256_inserti128_si256(_mm256_castsi128_si256(low), high, 1);
        _mm256_storeu_si256(
            reinterpret_cast<__m256i*>(dest + 4 * x), _mm256_or_si256(_mm256_shuffle_epi8(both, spread), opaque));
    }
    for (; x < pixels; ++x) {
        dest[4 * x] = source[3 * x];
        dest[4 * x + 1] = source[3 * x + 1];
        dest[4 * x + 2] = source[3 * x + 2];
        dest[4 * x + 3] = 255;
    }
}

#endif
