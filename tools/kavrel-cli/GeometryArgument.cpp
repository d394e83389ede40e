#include "tools/kavrel-cli/GeometryArgument.h"

#include <algorithm>
#include <charconv>
#include <cstdint>

namespace {

// Reads digits (with a leading sign when `sign` allows one) from the front of text.
bool ReadNumber(std::string_view& text, bool sign, int& value)
{
    const char* first = text.data();
    const char* last = first + text.size();
    bool negative = false;
    if (sign && first != last && (*first == '+' || *first == '-'))
        negative = *first++ == '-';
    if (first == last || *first < '0' || *first > '9')
        return false;
    const auto [end, error] = std::from_chars(first, last, value);
    if (error != std::errc())
        return false;
    if (negative)
        value = -value;
    text.remove_prefix(static_cast<size_t>(end - text.data()));
    return true;
}

bool ReadOffset(std::string_view& text, int& value, bool& fromFarEdge)
{
    if (text.empty() || (text.front() != '+' && text.front() != '-'))
        return false;
    fromFarEdge = text.front() == '-';
    text.remove_prefix(1);
    return ReadNumber(text, true, value);
}

} // namespace

std::optional<TGeometryArgument> ParseGeometryArgument(std::string_view text)
{
    TGeometryArgument g;
    if (!ReadNumber(text, false, g.width) || text.empty() || (text.front() != 'x' && text.front() != 'X'))
        return std::nullopt;
    text.remove_prefix(1);
    if (!ReadNumber(text, false, g.height) || !ReadOffset(text, g.x, g.xFromRight)
        || !ReadOffset(text, g.y, g.yFromBottom) || !text.empty() || g.width <= 0 || g.height <= 0)
        return std::nullopt;
    return g;
}

TRect PlaceOnScreen(const TGeometryArgument& g, TPoint screenSize)
{
    const int64_t left = g.xFromRight ? int64_t { screenSize.X } - g.width - g.x : g.x;
    const int64_t top = g.yFromBottom ? int64_t { screenSize.Y } - g.height - g.y : g.y;
    const auto clip = [](int64_t v, int limit) { return static_cast<int>(std::clamp<int64_t>(v, 0, limit)); };
    TRect rect { clip(left, screenSize.X), clip(top, screenSize.Y), clip(left + g.width, screenSize.X),
        clip(top + g.height, screenSize.Y) };
    if (rect.Width() <= 0 || rect.Height() <= 0)
        return {};
    return rect;
}
