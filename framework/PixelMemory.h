#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

// Zero-filled memory for pixels. Blocks of 2 MB and more get anonymous pages of their own, aligned to
// 2 MB and, where the system allows, backed by huge pages: a 36 MB picture then costs some 20 page
// faults on first touch instead of 9,000, and freshly mapped pages are zero already.
struct TPixelDeleter {
    size_t mapped = 0; // bytes of pages of its own; 0 for heap memory
    void operator()(uint8_t* p) const;
};
using TPixelMemory = std::unique_ptr<uint8_t, TPixelDeleter>;

// Null when there is none to be had.
TPixelMemory AllocatePixelMemory(size_t bytes);
