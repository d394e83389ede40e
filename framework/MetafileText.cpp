#include "framework/MetafileText.h"

#include <cerrno>
#include <iconv.h>
#include <vector>

namespace {

const char* CodePageName(int charset)
{
    switch (charset) {
    case 2: return nullptr;  // symbol fonts: the bytes are the glyph numbers
    case 77: return "MACINTOSH";
    case 128: return "CP932";
    case 129: return "CP949";
    case 130: return "JOHAB";
    case 134: return "CP936";
    case 136: return "CP950";
    case 161: return "CP1253";
    case 162: return "CP1254";
    case 163: return "CP1258";
    case 177: return "CP1255";
    case 178: return "CP1256";
    case 186: return "CP1257";
    case 204: return "CP1251";
    case 222: return "CP874";
    case 238: return "CP1250";
    case 255: return "CP437";
    default: return "CP1252";
    }
}

void AppendUtf8(std::string& out, uint32_t c)
{
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | c >> 6);
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | c >> 12);
        out += static_cast<char>(0x80 | (c >> 6 & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | c >> 18);
        out += static_cast<char>(0x80 | (c >> 12 & 0x3F));
        out += static_cast<char>(0x80 | (c >> 6 & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

std::string Latin1ToUtf8(std::span<const uint8_t> text)
{
    std::string out;
    for (uint8_t b : text)
        AppendUtf8(out, b);
    return out;
}

}  // namespace

std::string AnsiToUtf8(std::span<const uint8_t> text, int charset)
{
    const char* codePage = CodePageName(charset);
    if (!codePage)
        return Latin1ToUtf8(text);
    iconv_t cd = iconv_open("UTF-8", codePage);
    if (cd == reinterpret_cast<iconv_t>(-1))
        return Latin1ToUtf8(text);
    std::string out;
    std::vector<char> input(text.begin(), text.end());
    char* in = input.data();
    size_t inLeft = input.size();
    std::vector<char> buffer(input.size() * 4 + 16);
    while (inLeft > 0) {
        char* outPtr = buffer.data();
        size_t outLeft = buffer.size();
        const size_t result = iconv(cd, &in, &inLeft, &outPtr, &outLeft);
        out.append(buffer.data(), static_cast<size_t>(outPtr - buffer.data()));
        if (result == static_cast<size_t>(-1)) {
            if (errno == E2BIG)
                continue;
            // An invalid or cut-off sequence: mark it and go on with the next byte.
            AppendUtf8(out, 0xFFFD);
            ++in;
            --inLeft;
        }
    }
    iconv_close(cd);
    return out;
}

std::string Utf16ToUtf8(std::span<const uint8_t> text)
{
    std::string out;
    const size_t units = text.size() / 2;
    for (size_t i = 0; i < units; ++i) {
        uint32_t c = text[2 * i] | text[2 * i + 1] << 8;
        if (c >= 0xD800 && c < 0xDC00 && i + 1 < units) {
            const uint32_t low = text[2 * i + 2] | text[2 * i + 3] << 8;
            if (low >= 0xDC00 && low < 0xE000) {
                c = 0x10000 + ((c - 0xD800) << 10) + (low - 0xDC00);
                ++i;
            } else {
                c = 0xFFFD;
            }
        } else if (c >= 0xD800 && c < 0xE000) {
            c = 0xFFFD;
        }
        AppendUtf8(out, c);
    }
    return out;
}
