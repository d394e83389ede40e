#pragma once

#include "framework/CpuDispatch.h"

#include <cstddef>
#include <cstdint>

// Versions of the row routines for x86-64-v3 processors, which the portable routines in
// GraphicFormats hand their rows to when UseX86V3() says so. Same results, byte for byte. (RgbToBgr
// on 8-bit samples is SwapRedAndBlue of framework/PixelConversion.)
#if KAVREL_X86_DISPATCH
// RgbDifferencesToBgr.
void RgbDifferencesToBgrX86V3(const uint8_t* source, uint8_t* dest, size_t pixels);
// RgbPlanesToBgr on 8-bit samples.
void RgbPlanesToBgrX86V3(const uint8_t* red, const uint8_t* green, const uint8_t* blue, uint8_t* dest, size_t pixels);
#endif
