#pragma once

// What the reader tests share: reading bytes as a file of a reader's format, the message that a
// failed load leaves, and the rows and pixels of the picture read.

#include "framework/Bitmap.h"
#include "framework/Exception.h"
#include "framework/PixelConversion.h"
#include "framework/Stream.h"

#include <array>
#include <cstdint>
#include <functional>
#include <initializer_list>
#include <string>
#include <vector>

inline void LoadInto(TGraphic& graphic, std::vector<uint8_t> bytes)
{
    TMemoryStream stream(std::move(bytes));
    graphic.LoadStream(stream);
}

template <class Graphic> Graphic LoadAs(std::vector<uint8_t> bytes)
{
    Graphic graphic;
    LoadInto(graphic, std::move(bytes));
    return graphic;
}

// The message of the Exception that `action` raises, or "loaded" when it raises none.
inline std::string MessageOf(const std::function<void()>& action)
{
    try {
        action();
    } catch (const Exception& e) {
        return e.Message();
    }
    return "loaded";
}

template <class Graphic> std::string LoadErrorAs(const std::vector<uint8_t>& bytes)
{
    return MessageOf([&] { LoadAs<Graphic>(bytes); });
}

// Row y as stored, padding included.
inline std::vector<uint8_t> Row(const TBitmap& bitmap, int y)
{
    const uint8_t* row = bitmap.ScanLine(y);
    return { row, row + bitmap.RowBytes() };
}

// Pixel (x, y) as blue, green, red, whatever the pixel format.
inline std::array<uint8_t, 3> PixelBgr(const TBitmap& bitmap, int x, int y)
{
    std::vector<uint8_t> row(static_cast<size_t>(bitmap.Width()) * 4);
    RowToBgra(bitmap, y, row.data());
    return { row[4 * x], row[4 * x + 1], row[4 * x + 2] };
}

inline std::vector<uint8_t> Concat(std::initializer_list<std::vector<uint8_t>> parts)
{
    std::vector<uint8_t> all;
    for (const auto& p : parts)
        all.insert(all.end(), p.begin(), p.end());
    return all;
}
