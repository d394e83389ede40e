#pragma once

#include <cstdint>
#include <memory>
#include <vector>

struct TPaletteEntry {
    uint8_t peRed = 0;
    uint8_t peGreen = 0;
    uint8_t peBlue = 0;
    uint8_t peFlags = 0;
    friend bool operator==(const TPaletteEntry&, const TPaletteEntry&) = default;
};

// The logical palette record that readers fill before creating a palette: a version (0x0300), a
// count, and room for 256 entries. Value-initialise it ({}), so uncounted entries stay black.
struct TLogPalette {
    uint16_t palVersion = 0;
    uint16_t palNumEntries = 0;
    TPaletteEntry palPalEntry[256];
};
static_assert(sizeof(TLogPalette) == 1028, "the record is laid out as 4 header bytes and 256 entries");

constexpr uint16_t kPaletteVersion = 0x0300;

// A palette object. A bitmap that is given one owns it from then on.
class TPalette {
public:
    explicit TPalette(std::vector<TPaletteEntry> entries) : entries_(std::move(entries)) {}
    const std::vector<TPaletteEntry>& Entries() const { return entries_; }
    int Count() const { return static_cast<int>(entries_.size()); }

private:
    std::vector<TPaletteEntry> entries_;
};

using HPALETTE = std::unique_ptr<TPalette>;

// Makes a palette from the record's first palNumEntries entries (at most the 256 the record holds).
HPALETTE CreatePalette(const TLogPalette& logPalette);

// a * b / c rounded to the nearest integer, halves away from zero; -1 when c is 0.
int MulDiv(int a, int b, int c);
