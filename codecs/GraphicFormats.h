#pragma once

#include <cstdint>

// Start-up registration of the program's readers in the picture container's format registry, and
// their removal at shut-down. Call after RegisterFrameworkFormats().
void RegisterGraphicFormats();
void UnregisterGraphicFormats();
// Registers the framework's formats and then the readers, once per process, for tools and tests that
// have no start-up sequence of their own.
void EnsureAllFormatsRegistered();

// Row routines shared by the readers. They work in place or from Source to Dest, never allocate and
// never fail. Count is the number of samples (pixels x samples per pixel) unless stated otherwise.

// Reverses the byte order of Count 16-bit / 32-bit values in place.
void SwapWords(void* data, int count);
void SwapLongs(void* data, int count);
uint32_t SwapLongValue(uint32_t value);

// Dest[i] = high byte of the little-endian 16-bit sample i.
void Samples16To8(const void* source, void* dest, int bitsPerSample, int count);

// Interleaved samples of 8 or 16 bits (16-bit samples little-endian, their high byte is used) to
// blue, green, red (and alpha). Other sample sizes write nothing.
void RgbToBgr(const void* source, void* dest, int bitsPerSample, int count);
void RgbaToBgra(const void* source, void* dest, int bitsPerSample, int count);
void CmykToBgr(const void* source, void* dest, int bitsPerSample, int count);
// 8-bit CIE L*a*b* (a* and b* signed) to blue, green, red; bitsPerSample is not used.
void LabToBgr(const void* source, void* dest, int bitsPerSample, int count);

// The same conversions with each channel in a row of its own; Count is still pixels x channels.
void RgbPlanesToBgr(const void* red, const void* green, const void* blue, void* dest, int bitsPerSample, int count);
void CmykPlanesToBgr(const void* cyan, const void* magenta, const void* yellow, const void* black, void* dest,
                     int bitsPerSample, int count);
void LabPlanesToBgr(const void* l, const void* a, const void* b, void* dest, int bitsPerSample, int count);

// Undoes horizontal differencing on bytes with a stride of 1, 3 or 4; Count is the row width in
// pixels minus 1.
void UndoDifferencing1(void* row, int count);
void UndoDifferencing3(void* row, int count);
void UndoDifferencing4(void* row, int count);

// UndoDifferencing3 followed by RgbToBgr on 8-bit samples, in one pass that leaves Source as it was;
// Count is the number of samples, as for RgbToBgr.
void RgbDifferencesToBgr(const void* source, void* dest, int count);
