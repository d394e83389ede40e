#include "tests/support/TestData.h"

#include "framework/PixelConversion.h"

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace fs = std::filesystem;

std::optional<fs::path> TestDataDir()
{
    const char* fromEnvironment = std::getenv("KAVREL_TESTDATA");
    const fs::path dir = fromEnvironment ? fs::path(fromEnvironment) : fs::path(KAVREL_TESTDATA_DIR);
    if (fs::exists(dir / "MANIFEST.tsv"))
        return fs::weakly_canonical(dir);
    return std::nullopt;
}

std::vector<ManifestRow> ReadManifest(const fs::path& dir)
{
    std::ifstream in(dir / "MANIFEST.tsv");
    std::vector<ManifestRow> rows;
    std::string line;
    std::getline(in, line);  // column names
    while (std::getline(in, line)) {
        std::vector<std::string> fields;
        std::stringstream split(line);
        std::string field;
        while (std::getline(split, field, '\t'))
            fields.push_back(field);
        if (fields.size() < 7)
            continue;
        ManifestRow row;
        row.path = fields[0];
        row.source = fields[1];
        row.howMade = fields[2];
        row.oracle = fields[3];
        row.width = fields[4] == "-" ? -1 : std::stoi(fields[4]);
        row.height = fields[5] == "-" ? -1 : std::stoi(fields[5]);
        row.expect = fields[6];
        row.note = fields.size() > 7 ? fields[7] : "";
        rows.push_back(row);
    }
    return rows;
}

std::vector<uint8_t> ReadFileBytes(const fs::path& file)
{
    std::ifstream in(file, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

RgbaImage ReadPam(const fs::path& file)
{
    const std::vector<uint8_t> bytes = ReadFileBytes(file);
    const std::string text(bytes.begin(), bytes.end());
    const size_t end = text.find("ENDHDR\n");
    if (text.rfind("P7\n", 0) != 0 || end == std::string::npos)
        throw std::runtime_error("not a PAM file: " + file.string());
    std::istringstream header(text.substr(3, end - 3));
    RgbaImage image;
    int depth = 0, maxval = 0;
    std::string key, tupleType;
    while (header >> key) {
        if (key == "WIDTH") header >> image.width;
        else if (key == "HEIGHT") header >> image.height;
        else if (key == "DEPTH") header >> depth;
        else if (key == "MAXVAL") header >> maxval;
        else if (key == "TUPLTYPE") header >> tupleType;
    }
    if (maxval != 255 || (depth != 3 && depth != 4))
        throw std::runtime_error("unexpected PAM layout: " + file.string());
    image.hasAlpha = depth == 4;
    const size_t dataStart = end + 7;
    const size_t count = static_cast<size_t>(image.width) * image.height;
    if (bytes.size() < dataStart + count * depth)
        throw std::runtime_error("PAM file cut short: " + file.string());
    image.pixels.resize(count * 4);
    for (size_t i = 0; i < count; ++i) {
        const uint8_t* in = bytes.data() + dataStart + i * depth;
        uint8_t* out = image.pixels.data() + i * 4;
        out[0] = in[0];
        out[1] = in[1];
        out[2] = in[2];
        out[3] = depth == 4 ? in[3] : 255;
    }
    return image;
}

RgbaImage BitmapToRgba(const TBitmap& bitmap)
{
    RgbaImage image;
    image.width = bitmap.Width();
    image.height = bitmap.Height();
    image.hasAlpha = bitmap.PixelFormat() == pf32bit;
    image.pixels.resize(static_cast<size_t>(image.width) * image.height * 4);
    std::vector<uint8_t> row(static_cast<size_t>(image.width) * 4);
    for (int y = 0; y < image.height; ++y) {
        RowToBgra(bitmap, y, row.data());
        uint8_t* out = image.pixels.data() + static_cast<size_t>(y) * image.width * 4;
        for (int x = 0; x < image.width; ++x) {
            out[4 * x] = row[4 * x + 2];
            out[4 * x + 1] = row[4 * x + 1];
            out[4 * x + 2] = row[4 * x];
            out[4 * x + 3] = row[4 * x + 3];
        }
    }
    return image;
}

ImageDifference CompareRgb(const RgbaImage& a, const RgbaImage& b, int threshold)
{
    ImageDifference d;
    const size_t count = static_cast<size_t>(a.width) * a.height;
    if (a.width != b.width || a.height != b.height || count == 0)
        return d;
    uint64_t sum = 0;
    size_t over = 0;
    for (size_t i = 0; i < count; ++i) {
        int pixelMax = 0;
        for (int c = 0; c < 3; ++c) {
            const int diff = std::abs(a.pixels[i * 4 + c] - b.pixels[i * 4 + c]);
            sum += diff;
            pixelMax = std::max(pixelMax, diff);
        }
        d.maxDiff = std::max(d.maxDiff, pixelMax);
        if (pixelMax > threshold)
            ++over;
    }
    d.meanDiff = static_cast<double>(sum) / (count * 3.0);
    d.fractionOver = static_cast<double>(over) / count;
    return d;
}

