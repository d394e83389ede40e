#pragma once

// Some hot routines come in a second version for x86-64 processors of the x86-64-v3 level (AVX2,
// BMI1, BMI2), chosen at run time, so that the build stays on the distribution's baseline and
// still builds elsewhere with the portable code alone. Both versions give identical results.
//
// The second version is a function compiled for that level, which the portable one calls:
//
//     #if KAVREL_X86_DISPATCH
//     KAVREL_X86_V3_TARGET void ConvertX86V3(...);
//     #endif
//     void Convert(...) { if (UseX86V3()) return ConvertX86V3(...); ...portable code... }

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#define KAVREL_X86_DISPATCH 1
#define KAVREL_X86_V3_TARGET __attribute__((target("avx2,bmi,bmi2")))
#else
#define KAVREL_X86_DISPATCH 0
#endif

#if defined(__GNUC__) || defined(__clang__)
#define KAVREL_ALWAYS_INLINE __attribute__((always_inline))
#else
#define KAVREL_ALWAYS_INLINE
#endif

// True when the second versions are built, the processor runs them, and they are not switched off:
// by ForcePortableCode, or by a non-empty KAVREL_PORTABLE_CODE other than "0" in the environment
// (to time the portable code).
bool UseX86V3();

// The tests run the portable versions too and compare: true switches the second versions off, false
// lets the processor decide again.
void ForcePortableCode(bool force);
