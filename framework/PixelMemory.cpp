#include "framework/PixelMemory.h"

#include <cstdlib>
#include <sys/mman.h>

void TPixelDeleter::operator()(uint8_t* p) const
{
    if (mapped)
        munmap(p, mapped);
    else
        std::free(p);
}

TPixelMemory AllocatePixelMemory(size_t bytes)
{
    constexpr size_t kHugePage = size_t { 2 } << 20;
    if (bytes < kHugePage)
        return TPixelMemory(static_cast<uint8_t*>(std::calloc(bytes, 1)));
    const size_t length = (bytes + kHugePage - 1) & ~(kHugePage - 1);
    void* const area = mmap(nullptr, length + kHugePage, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (area == MAP_FAILED)
        return nullptr;
    auto* const start = static_cast<uint8_t*>(area);
    auto* const aligned
        = reinterpret_cast<uint8_t*>((reinterpret_cast<uintptr_t>(start) + kHugePage - 1) & ~(kHugePage - 1));
    if (aligned > start)
        munmap(start, static_cast<size_t>(aligned - start));
    munmap(aligned + length, static_cast<size_t>(start + kHugePage - aligned));
    return TPixelMemory(aligned, TPixelDeleter { length });
}
