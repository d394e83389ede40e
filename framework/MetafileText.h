#pragma once

#include <cstdint>
#include <span>
#include <string>

// Text as metafile records store it, turned into UTF-8 for the canvas.

// Single- and double-byte text in the code page of a font's character set (GB2312 is code page
// 936, Shift-JIS 932, Western 1252, ...). Bytes the code page cannot convert become U+FFFD.
std::string AnsiToUtf8(std::span<const uint8_t> text, int charset);

// UTF-16 little-endian code units; unpaired surrogates become U+FFFD.
std::string Utf16ToUtf8(std::span<const uint8_t> text);
