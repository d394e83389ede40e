#pragma once

#include "framework/CpuDispatch.h"

#include <cstddef>
#include <cstdint>

// Versions of pixel conversions for x86-64-v3 processors (framework/CpuDispatch.h), which the portable
// ones in PixelConversion hand their pixels to when UseX86V3() says so. Same results, byte for byte.
#if KAVREL_X86_DISPATCH
// 3-byte pixels with their first and third bytes exchanged; source and dest may be the same.
void SwapRedAndBlueX86V3(const uint8_t* source, uint8_t* dest, size_t pixels);
// B,G,R,A pixels to R,G,B (alpha dropped) or R,G,B,A.
void BgraToRgbX86V3(const uint8_t* source, uint8_t* dest, size_t pixels);
void BgraToRgbaX86V3(const uint8_t* source, uint8_t* dest, size_t pixels);
// B,G,R pixels to B,G,R,255.
void BgrToBgraX86V3(const uint8_t* source, uint8_t* dest, size_t pixels);
#endif
