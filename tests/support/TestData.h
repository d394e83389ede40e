#pragma once

#include "framework/Bitmap.h"

#include <cstdint>
#include <filesystem>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

// The shared sample pictures beside the project; nullopt when the folder is absent.
std::optional<std::filesystem::path> TestDataDir();

// Skips the current test with a clear message when the shared sample pictures are absent.
#define KAVREL_REQUIRE_TESTDATA(dir)                                                                        \
    const auto dir##Optional = TestDataDir();                                                               \
    if (!dir##Optional)                                                                                     \
        GTEST_SKIP() << "shared test data not found at " KAVREL_TESTDATA_DIR " (set KAVREL_TESTDATA)";       \
    const std::filesystem::path& dir = *dir##Optional

struct ManifestRow {
    std::string path;  // relative to the test data folder
    std::string source;
    std::string howMade;
    std::string oracle;
    int width = -1;  // -1: no reference
    int height = -1;
    std::string expect;  // exact, approx, fail, none
    std::string note;

    std::string Folder() const { return path.substr(0, path.find('/')); }
    bool ByDesign() const { return note.find("by design") != std::string::npos; }
};

// Keeps test listings readable: a row prints as its path.
inline void PrintTo(const ManifestRow& row, std::ostream* os) { *os << row.path; }

std::vector<ManifestRow> ReadManifest(const std::filesystem::path& dir);

// An 8-bit image with 4 channels per pixel (R, G, B, A), rows top first.
struct RgbaImage {
    int width = 0;
    int height = 0;
    bool hasAlpha = false;
    std::vector<uint8_t> pixels;

    const uint8_t* At(int x, int y) const { return pixels.data() + (static_cast<size_t>(y) * width + x) * 4; }
};

// Reads a PAM (P7) reference decode: RGB or RGB_ALPHA, maxval 255.
RgbaImage ReadPam(const std::filesystem::path& file);
// The bitmap as R, G, B, A.
RgbaImage BitmapToRgba(const TBitmap& bitmap);

struct ImageDifference {
    int maxDiff = 0;          // largest difference of one R, G or B sample
    double meanDiff = 0;      // mean absolute difference over all R, G, B samples
    double fractionOver = 0;  // share of pixels with a sample differing by more than the threshold
};
// Compares R, G and B of two images of the same size.
ImageDifference CompareRgb(const RgbaImage& a, const RgbaImage& b, int threshold);

std::vector<uint8_t> ReadFileBytes(const std::filesystem::path& file);
