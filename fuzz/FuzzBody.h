#pragma once

#include <cstddef>
#include <cstdint>

// Loads the bytes through every registered graphic class from a memory stream; a successful load
// is also converted for display and saved again, and a class that can pass rows on as they are made
// loads them once more so. Failures the readers report are expected; anything
// else (a crash, a sanitizer report, a foreign exception) is a bug.
void LoadThroughEveryReader(const uint8_t* data, size_t size);

// Registers every format and lowers the bitmap size cap so that fuzzing stays within memory limits.
void PrepareFuzzing();
