#pragma once

#include "framework/CpuDispatch.h"

#include <cstddef>
#include <cstdint>

// Versions of the row routines for x86-64-v3 processors, which the portable routines in
// GraphicFormats hand their rows to when UseX86V3() says so. Same results, byte for byte.
#if KAVREL_X86_DISPATCH
// RgbToBgr on 8-bit samples; source and dest may be the same row.
void RgbToBgr8X86V3(const uint8_t* source, uint8_t* dest, size_t pixels);
// RgbDifferencesToBgr.
void RgbDifferencesToBgrX86V3(const uint8_t* source, uint8_t* dest, size_t pixels);
#endif
