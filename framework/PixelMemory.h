#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

// Zero-filled memory for pixels. Blocks of 2 MB and more get anonymous pages of their own (freshly
// mapped pages are zero already), aligned to 2 MB so that a system that gives huge pages to every
// mapping can use them. They are not asked for: on the usual setting an asked-for huge page is made by
// compacting memory on the spot, which stalled opening a 36 MB picture for 100 to 300 ms.
struct TPixelDeleter {
    size_t mapped = 0; // bytes of pages of its own; 0 for heap memory
    void operator()(uint8_t* p) const;
};
using TPixelMemory = std::unique_ptr<uint8_t, TPixelDeleter>;

// Null when there is none to be had.
TPixelMemory AllocatePixelMemory(size_t bytes);
