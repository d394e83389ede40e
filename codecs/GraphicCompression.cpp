#include "codecs/GraphicCompression.h"

#include "framework/Exception.h"

#include <algorithm>
#include <cstddef>
#include <cstring>

namespace {

// What a decoder may read from source: never beyond sourceEnd, and no more than limit unless the
// limit is negative (no limit).
const uint8_t* InputEnd(const uint8_t* source, const uint8_t* sourceEnd, int64_t limit)
{
    size_t available = source && sourceEnd > source ? static_cast<size_t>(sourceEnd - source) : 0;
    if (limit >= 0)
        available = std::min(available, static_cast<size_t>(limit));
    return source + available;
}

// Decoders that consume exactly packedSize bytes at most.
const uint8_t* PackedEnd(const uint8_t* source, const uint8_t* sourceEnd, int32_t packedSize)
{
    return InputEnd(source, sourceEnd, std::max<int32_t>(packedSize, 0));
}

// Decoders that stop by their own markers; a positive packedSize still bounds them.
const uint8_t* MarkedEnd(const uint8_t* source, const uint8_t* sourceEnd, int32_t packedSize)
{
    return InputEnd(source, sourceEnd, packedSize > 0 ? packedSize : -1);
}

uint8_t* OutputEnd(uint8_t* dest, int32_t unpackedSize)
{
    return dest && unpackedSize > 0 ? dest + unpackedSize : dest;
}

size_t Span(const void* from, const void* to)
{
    return static_cast<size_t>(static_cast<const uint8_t*>(to) - static_cast<const uint8_t*>(from));
}

constexpr uint32_t kMaxCodeWidth = 12;

enum class BitOrder { MostSignificantFirst, LeastSignificantFirst };

// The LZW decoding both variants share. initialWidth is the code width after a Clear; Clear is
// 1 shl (initialWidth - 1) and the end code follows it. The width grows once FreeCode reaches
// 2^width - earlyChange: TIFF writers switch one code early (earlyChange 1), GIF writers do not.
template <BitOrder order>
void DecodeLZW(TLZWTable& table, const uint8_t* in, const uint8_t* inEnd, uint8_t* dest, uint8_t* destEnd,
    uint32_t initialWidth, uint32_t earlyChange, const char* invalidCode)
{
    if (dest == destEnd)
        return;
    const uint32_t clearCode = 1u << (initialWidth - 1);
    const uint32_t endCode = clearCode + 1;
    uint32_t width = initialWidth;
    uint32_t widthLimit = (1u << width) - earlyChange;
    uint32_t freeCode = clearCode + 2;
    bool havePrevious = false; // false right after a Clear: the next code must be a single byte
    uint8_t* previous = dest; // the previous code's string, as written to the output
    uint32_t previousLength = 0;
    uint8_t* target = dest;
    uint32_t data = 0; // MSB first: the pending bits at the top; LSB first: at the bottom
    uint32_t bits = 0;

    while (in < inEnd) {
        if constexpr (order == BitOrder::MostSignificantFirst)
            data |= static_cast<uint32_t>(*in++) << (24 - bits);
        else
            data |= static_cast<uint32_t>(*in++) << bits;
        bits += 8;
        while (bits >= width) {
            uint32_t code;
            if constexpr (order == BitOrder::MostSignificantFirst) {
                code = data >> (32 - width);
                data <<= width;
            } else {
                code = data & ((1u << width) - 1);
                data >>= width;
            }
            bits -= width;

            if (code == endCode)
                return;
            if (code == clearCode) {
                width = initialWidth;
                widthLimit = (1u << width) - earlyChange;
                freeCode = clearCode + 2;
                havePrevious = false;
                continue;
            }
            const size_t room = Span(target, destEnd);
            uint32_t length;
            if (code < clearCode) {
                *target = static_cast<uint8_t>(std::min(code, 255u)); // above 255: past any colour table
                length = 1;
            } else if (!havePrevious || code > freeCode) {
                throw Exception(invalidCode);
            } else if (code < freeCode) {
                length = table.length[code];
                std::memcpy(target, dest + table.offset[code], std::min<size_t>(length, room));
            } else {
                // The code about to be made: the previous string followed by its own first byte.
                length = previousLength + 1;
                std::memcpy(target, previous, std::min<size_t>(previousLength, room));
                if (room > previousLength)
                    target[previousLength] = *previous;
            }
            // The new entry is the previous string plus this string's first byte, which now stand
            // side by side in the output. A full table takes no entries until the next Clear.
            if (havePrevious && freeCode < TLZWTable::kCodes) {
                table.offset[freeCode] = static_cast<uint32_t>(previous - dest);
                table.length[freeCode] = static_cast<uint16_t>(previousLength + 1);
                if (++freeCode >= widthLimit && width < kMaxCodeWidth) {
                    ++width;
                    widthLimit = (1u << width) - earlyChange;
                }
            }
            if (length >= room)
                return;
            havePrevious = true;
            previous = target;
            previousLength = length;
            target += length;
        }
    }
}

} // namespace

void TTIFFLZW::Decode(
    const uint8_t*& source, const uint8_t* sourceEnd, uint8_t* dest, int32_t packedSize, int32_t unpackedSize)
{
    DecodeLZW<BitOrder::MostSignificantFirst>(table_, source, PackedEnd(source, sourceEnd, packedSize), dest,
        OutputEnd(dest, unpackedSize), 9, 1, "TIF LZW: invalid opcode.");
}

void TTIFFLZW::Encode(const uint8_t*, uint8_t*, uint32_t) { }

void TGIFLZW::Decode(
    const uint8_t*& source, const uint8_t* sourceEnd, uint8_t* dest, int32_t packedSize, int32_t unpackedSize)
{
    static constexpr const char* kInvalidCode = "GIF LZW: invalid opcode.";
    // Above 11 the Clear code would lie outside the table. Below 2 the width could never grow (the
    // first entry already lies past what the first width addresses), and GIF itself asks for 2 at
    // least, so such a stream cannot be decoded correctly.
    if (InitialCodeSize < 2 || InitialCodeSize > kMaxCodeWidth - 1)
        throw Exception(kInvalidCode);
    DecodeLZW<BitOrder::LeastSignificantFirst>(table_, source, PackedEnd(source, sourceEnd, packedSize), dest,
        OutputEnd(dest, unpackedSize), InitialCodeSize + 1u, 0, kInvalidCode);
}

void TGIFLZW::Encode(const uint8_t*, uint8_t*, uint32_t) { }

void TPackbitsRLE::Decode(
    const uint8_t*& source, const uint8_t* sourceEnd, uint8_t* dest, int32_t packedSize, int32_t unpackedSize)
{
    const uint8_t* in = source;
    const uint8_t* const inEnd = PackedEnd(source, sourceEnd, packedSize);
    uint8_t* out = dest;
    uint8_t* const outEnd = OutputEnd(dest, unpackedSize);
    while (in < inEnd && out < outEnd) {
        const int n = static_cast<int8_t>(*in++);
        if (n >= 0) {
            const size_t count = std::min({ static_cast<size_t>(n) + 1, Span(in, inEnd), Span(out, outEnd) });
            std::memcpy(out, in, count);
            in += count;
            out += count;
        } else if (n != -128) {
            if (in == inEnd)
                break;
            const size_t count = std::min(static_cast<size_t>(1 - n), Span(out, outEnd));
            std::memset(out, *in++, count);
            out += count;
        }
    }
}

void TPackbitsRLE::Encode(const uint8_t*, uint8_t*, uint32_t) { }

void TPCXRLE::Decode(
    const uint8_t*& source, const uint8_t* sourceEnd, uint8_t* dest, int32_t packedSize, int32_t unpackedSize)
{
    const uint8_t* in = source;
    const uint8_t* const inEnd = MarkedEnd(source, sourceEnd, packedSize);
    uint8_t* out = dest;
    uint8_t* const outEnd = OutputEnd(dest, unpackedSize);
    while (in < inEnd && out < outEnd) {
        if (*in >= 0xC0) {
            const size_t count = std::min(static_cast<size_t>(*in++ & 0x3F), Span(out, outEnd));
            if (in == inEnd)
                break;
            std::memset(out, *in++, count);
            out += count;
        } else {
            // A stretch of bytes that stand for themselves goes out in one move.
            const uint8_t* const literals = in;
            const uint8_t* const stop = in + std::min(Span(in, inEnd), Span(out, outEnd));
            do
                ++in;
            while (in < stop && *in < 0xC0);
            std::memcpy(out, literals, Span(literals, in));
            out += Span(literals, in);
        }
    }
}

void TPCXRLE::Encode(const uint8_t*, uint8_t*, uint32_t) { }

void TSGIRLE::Decode(
    const uint8_t*& source, const uint8_t* sourceEnd, uint8_t* dest, int32_t packedSize, int32_t unpackedSize)
{
    const uint8_t* in = source;
    const uint8_t* const inEnd = MarkedEnd(source, sourceEnd, packedSize);
    uint8_t* out = dest;
    uint8_t* const outEnd = OutputEnd(dest, unpackedSize);
    if (SampleSize == 2) {
        // Big-endian 16-bit samples; only their high (first) byte goes out.
        while (out < outEnd && Span(in, inEnd) >= 2) {
            const uint32_t header = static_cast<uint32_t>(in[0] << 8 | in[1]);
            in += 2;
            const size_t n = header & 0x7F;
            if (n == 0)
                break;
            if (header & 0x80) {
                const size_t count = std::min({ n, Span(in, inEnd) / 2, Span(out, outEnd) });
                for (size_t i = 0; i < count; ++i)
                    out[i] = in[2 * i];
                in += 2 * count;
                out += count;
                if (count < n)
                    break;
            } else {
                if (Span(in, inEnd) < 2)
                    break;
                const size_t count = std::min(n, Span(out, outEnd));
                std::memset(out, *in, count);
                in += 2;
                out += count;
            }
        }
        return;
    }
    while (out < outEnd && in < inEnd) {
        const uint8_t header = *in++;
        const size_t n = header & 0x7F;
        if (n == 0)
            break;
        if (header & 0x80) {
            const size_t count = std::min({ n, Span(in, inEnd), Span(out, outEnd) });
            std::memcpy(out, in, count);
            in += count;
            out += count;
        } else {
            if (in == inEnd)
                break;
            const size_t count = std::min(n, Span(out, outEnd));
            std::memset(out, *in++, count);
            out += count;
        }
    }
}

void TSGIRLE::Encode(const uint8_t*, uint8_t*, uint32_t) { }

void TCUTRLE::Decode(const uint8_t*& source, const uint8_t* sourceEnd, uint8_t* dest, int32_t, int32_t unpackedSize)
{
    // The row is read to its terminating zero even when it holds more than unpackedSize bytes, so
    // that source ends at the next row whatever this one held.
    const uint8_t* in = source;
    const uint8_t* const inEnd = InputEnd(source, sourceEnd, -1);
    uint8_t* out = dest;
    uint8_t* const outEnd = OutputEnd(dest, unpackedSize);
    in += std::min<size_t>(2, Span(in, inEnd)); // the row's length, which the packets make redundant
    while (in < inEnd) {
        const uint8_t header = *in++;
        if (header == 0)
            break;
        const size_t n = header & 0x7F;
        const size_t room = Span(out, outEnd);
        if (header & 0x80) {
            if (in == inEnd)
                break;
            const uint8_t value = *in++;
            if (room > 0) {
                std::memset(out, value, std::min(n, room));
                out += std::min(n, room);
            }
        } else {
            const size_t present = std::min(n, Span(in, inEnd));
            if (room > 0) {
                std::memcpy(out, in, std::min(present, room));
                out += std::min(present, room);
            }
            in += present;
        }
    }
    source = in;
}

void TCUTRLE::Encode(const uint8_t*, uint8_t*, uint32_t) { }

void TRLADecoder::Decode(
    const uint8_t*& source, const uint8_t* sourceEnd, uint8_t* dest, int32_t packedSize, int32_t unpackedSize)
{
    const uint8_t* in = source;
    const uint8_t* const inEnd = PackedEnd(source, sourceEnd, packedSize);
    uint8_t* out = dest;
    uint8_t* const outEnd = OutputEnd(dest, unpackedSize);
    while (in < inEnd && out < outEnd) {
        const int n = static_cast<int8_t>(*in++);
        if (n >= 0) {
            if (in == inEnd)
                break;
            const size_t count = std::min(static_cast<size_t>(n) + 1, Span(out, outEnd));
            std::memset(out, *in++, count);
            out += count;
        } else {
            const size_t count = std::min({ static_cast<size_t>(-n), Span(in, inEnd), Span(out, outEnd) });
            std::memcpy(out, in, count);
            in += count;
            out += count;
        }
    }
}

void TRLADecoder::Encode(const uint8_t*, uint8_t*, uint32_t) { }
