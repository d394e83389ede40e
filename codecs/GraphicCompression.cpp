#include "codecs/GraphicCompression.h"

#include "framework/CpuDispatch.h"
#include "framework/Exception.h"

#include <algorithm>
#include <bit>
#include <climits>
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

// The codes of an LZW stream from a 64-bit buffer, refilled eight bytes at a time while eight
// remain (enough for four codes), then byte by byte. A code is read only when all its bits are
// there, so trailing bits that make no whole code are left, whatever the input's length.
template <BitOrder order> class CodeReader {
public:
    CodeReader(const uint8_t* in, const uint8_t* inEnd)
        : in_(in)
        , inEnd_(inEnd)
        , wholeLoadsEnd_(inEnd - in >= 8 ? inEnd - 7 : in)
    { }

    // Fills the buffer; returns how many codes of up to 12 bits can be taken before the next fill:
    // 4 while whole loads last, then 1, and 0 when the input holds no further code of this width.
    int Fill(uint32_t width)
    {
        if (in_ < wholeLoadsEnd_) [[likely]] {
            // The bytes counted in are the whole ones that fit; the partial byte after them lands on
            // the same bits again at the next fill, so OR-ing it in early does no harm.
            uint64_t next;
            std::memcpy(&next, in_, 8);
            if constexpr (order == BitOrder::MostSignificantFirst) {
                if constexpr (std::endian::native == std::endian::little)
                    next = __builtin_bswap64(next);
                buffer_ |= next >> count_;
            } else {
                if constexpr (std::endian::native == std::endian::big)
                    next = __builtin_bswap64(next);
                buffer_ |= next << count_;
            }
            in_ += (63 - count_) >> 3;
            count_ |= 56;
            return 4;
        }
        while (count_ <= 56 && in_ < inEnd_) {
            if constexpr (order == BitOrder::MostSignificantFirst)
                buffer_ |= uint64_t { *in_++ } << (56 - count_);
            else
                buffer_ |= uint64_t { *in_++ } << count_;
            count_ += 8;
        }
        return count_ >= width ? 1 : 0;
    }

    uint32_t Take(uint32_t width)
    {
        uint32_t code;
        if constexpr (order == BitOrder::MostSignificantFirst) {
            code = static_cast<uint32_t>(buffer_ >> (64 - width));
            buffer_ <<= width;
        } else {
            code = static_cast<uint32_t>(buffer_ & ((uint64_t { 1 } << width) - 1));
            buffer_ >>= width;
        }
        count_ -= width;
        return code;
    }

private:
    const uint8_t* in_;
    const uint8_t* const inEnd_;
    const uint8_t* const wholeLoadsEnd_; // eight bytes can be loaded before it
    uint64_t buffer_ = 0; // MSB first: the pending bits at the top; LSB first: at the bottom
    uint32_t count_ = 0;
};

inline void MoveBlock(uint8_t* to, const uint8_t* from)
{
    uint8_t block[TLZWTable::kBlock];
    std::memcpy(block, from, sizeof block);
    std::memcpy(to, block, sizeof block);
}

// Moves the window of kept originals on to [target, windowEnd): the originals it already holds from
// target on stay, those beyond it are still in the output.
[[gnu::noinline]] void SlideWindow(
    uint8_t* saved, const uint8_t* oldStart, uint8_t* oldEnd, uint8_t* target, uint8_t* windowEnd)
{
    uint8_t* const known = std::max(oldEnd, target);
    const size_t kept = Span(target, known);
    std::memmove(saved, saved + (target - oldStart), kept);
    std::memcpy(saved + kept, known, Span(known, windowEnd));
}

// The LZW decoding both variants share. initialWidth is the code width after a Clear; Clear is
// 1 shl (initialWidth - 1) and the end code follows it. The width grows once FreeCode reaches
// 2^width - earlyChange: TIFF writers switch one code early (earlyChange 1), GIF writers do not.
// The loop is written with small lambdas that must melt into it (KAVREL_ALWAYS_INLINE), or the
// compiler keeps the decoder's state in memory.
//
// A length of 0 marks the codes that need more than a table lookup: Clear, the end code, the code
// about to be made (the previous string followed by its own first byte) and codes beyond it.
template <BitOrder order>
size_t DecodeLZW(TLZWTable& table, const uint8_t* in, const uint8_t* inEnd, uint8_t* dest, uint8_t* destEnd,
    uint32_t initialWidth, uint32_t earlyChange, const char* invalidCode)
{
    if (dest == destEnd)
        return 0;
    const uint32_t clearCode = 1u << (initialWidth - 1);
    const uint32_t endCode = clearCode + 1;
    // Codes for bytes above 255 (GIF code sizes above 8) name an index past any colour table: 255.
    for (uint32_t code = 0; code < clearCode; ++code) {
        table.start[code] = table.literals + std::min(code, 255u);
        table.length[code] = 1;
    }
    std::fill(table.length + clearCode, std::end(table.length), uint16_t { 0 });

    uint32_t width = 0;
    uint32_t widthLimit = 0; // FreeCode at which the width grows
    uint32_t freeCode = 0;
    uint8_t* target = dest;
    // The previous code's string, as written to the output: it ends where the next one starts, at
    // the output position, so the next entry's length is Span(previous, target) + 1.
    const uint8_t* previous = dest;
    const auto setWidth = [&](uint32_t bits) KAVREL_ALWAYS_INLINE {
        width = bits;
        // At the widest, the limit catches FreeCode stepping past the spare slot instead.
        widthLimit = bits < kMaxCodeWidth ? (1u << bits) - earlyChange : TLZWTable::kCodes + 1;
    };
    // After a Clear the next code has no previous string to make an entry with. It makes one all the
    // same, in the end code's slot, with length 0 (the previous string "ends" one byte before it
    // starts), so that the slot stays marked; FreeCode then stands where it should.
    const auto clear = [&]() KAVREL_ALWAYS_INLINE {
        setWidth(initialWidth);
        freeCode = endCode;
        previous = target + 1;
    };
    clear();

    // Strings are written with block moves that may run up to a block past their end, so they stay
    // inside a window after the output position whose original bytes are kept in table.saved; the
    // bytes after the output are put back from there when the decoding stops. A string that would
    // leave the window moves it on; near the end of the output, and for strings longer than the
    // window, strings are moved exactly.
    uint8_t* windowStart = dest;
    uint8_t* windowEnd = dest;
    uint8_t* blockEnd = dest; // a string ending before it can be written with block moves
    const auto restoreAfterOutput = [&]() KAVREL_ALWAYS_INLINE {
        if (windowEnd > target)
            std::memcpy(target, table.saved + (target - windowStart), Span(target, windowEnd));
    };
    // Writes a string; false once the output is full (the string may have been cut). Block moves
    // never fill the output. `from` lies wholly before the output position or in the literal bytes,
    // except for a string that repeats its own first byte: that one overlaps the output by a byte.
    const auto put = [&](const uint8_t* from, size_t length) KAVREL_ALWAYS_INLINE {
        // Compared as addresses: a long string may point past the end of the output.
        if (reinterpret_cast<uintptr_t>(target) + length >= reinterpret_cast<uintptr_t>(blockEnd)) [[unlikely]] {
            const size_t room = Span(target, destEnd);
            const size_t window = std::min<size_t>(room, TLZWTable::kWindow);
            if (length + TLZWTable::kBlock > window) {
                const size_t count = std::min(length, room);
                std::memmove(target, from, count);
                target += count;
                if (windowEnd < target)
                    windowStart = windowEnd = target;
                blockEnd = std::max(blockEnd, target);
                return target != destEnd;
            }
            SlideWindow(table.saved, windowStart, windowEnd, target, target + window);
            windowStart = target;
            windowEnd = target + window;
            blockEnd = windowEnd - TLZWTable::kBlock;
        }
        MoveBlock(target, from);
        for (size_t i = TLZWTable::kBlock; i < length; i += TLZWTable::kBlock)
            [[unlikely]] MoveBlock(target + i, from + i);
        target += length;
        return true;
    };
    // The new entry is the previous string plus this string's first byte, which will stand side by
    // side in the output. A full table takes no entries until the next Clear: they go to the spare
    // slot.
    const auto makeEntry = [&]() KAVREL_ALWAYS_INLINE {
        table.start[freeCode] = previous;
        table.length[freeCode] = static_cast<uint16_t>(target - previous + 1);
        if (++freeCode >= widthLimit) [[unlikely]] {
            if (width < kMaxCodeWidth)
                setWidth(width + 1);
            else
                freeCode = TLZWTable::kCodes;
        }
    };
    // One code; false when the decoding stops.
    CodeReader<order> codes(in, inEnd);
    const auto step = [&]() KAVREL_ALWAYS_INLINE {
        const uint32_t code = codes.Take(width);
        const uint8_t* from = table.start[code];
        size_t length = table.length[code];
        if (length == 0) [[unlikely]] {
            if (code == clearCode) {
                // The entries made since the last Clear; right after one there are none.
                std::fill(table.length + endCode + 1,
                    table.length + std::clamp(freeCode, endCode + 1, TLZWTable::kCodes), uint16_t { 0 });
                clear();
                return true;
            }
            if (code == endCode)
                return false;
            if (code != freeCode) {
                restoreAfterOutput();
                throw Exception(invalidCode);
            }
            // The code about to be made: the previous string followed by its own first byte, which
            // the move from the previous string does not reach.
            from = previous;
            length = Span(previous, target) + 1;
            makeEntry();
            uint8_t* const at = target;
            const bool room = put(from, length);
            if (target == at + length)
                at[length - 1] = *from;
            previous = at;
            return room;
        }
        makeEntry();
        previous = target;
        return put(from, length);
    };

    while (const int ready = codes.Fill(width)) {
        const bool going = ready == 4 ? step() && step() && step() && step() : step();
        if (!going)
            break;
    }
    restoreAfterOutput();
    return Span(dest, target);
}

// Exact copies and fills of packets, at most a few hundred bytes, with plain moves: for short packets
// a call to memcpy or memset, or the string instructions a compiler puts in for a bounded one, costs
// more than the moves. The last move may overlap the one before it.
template <size_t size> KAVREL_ALWAYS_INLINE inline void MoveBytes(uint8_t* to, const uint8_t* from)
{
    uint8_t bytes[size];
    std::memcpy(bytes, from, size);
    std::memcpy(to, bytes, size);
}

KAVREL_ALWAYS_INLINE inline void CopyPacket(uint8_t* to, const uint8_t* from, size_t count)
{
    if (count >= 16) {
        for (size_t i = 0; i + 16 < count; i += 16)
            MoveBytes<16>(to + i, from + i);
        MoveBytes<16>(to + count - 16, from + count - 16);
    } else if (count >= 8) {
        MoveBytes<8>(to, from);
        MoveBytes<8>(to + count - 8, from + count - 8);
    } else if (count >= 4) {
        MoveBytes<4>(to, from);
        MoveBytes<4>(to + count - 4, from + count - 4);
    } else if (count > 0) {
        to[0] = from[0];
        to[count / 2] = from[count / 2];
        to[count - 1] = from[count - 1];
    }
}

KAVREL_ALWAYS_INLINE inline void FillPacket(uint8_t* to, uint8_t value, size_t count)
{
    uint8_t bytes[16];
    std::memset(bytes, value, sizeof bytes);
    CopyPacket(to, bytes, std::min<size_t>(count, 16));
    for (size_t i = 16; i < count; i += 16)
        MoveBytes<16>(to + std::min(i, count - 16), bytes);
}

// The low n bytes of a word.
constexpr uint64_t kLowBytes[9]
    = { 0, 0xFF, 0xFFFF, 0xFFFFFF, 0xFFFFFFFF, 0xFFFFFFFFFF, 0xFFFFFFFFFFFF, 0xFFFFFFFFFFFFFF, ~uint64_t { 0 } };

} // namespace

TLZWTable::TLZWTable()
{
    for (uint32_t i = 0; i < 256; ++i)
        literals[i] = static_cast<uint8_t>(i);
}

size_t TTIFFLZW::Decode(
    const uint8_t*& source, const uint8_t* sourceEnd, uint8_t* dest, int32_t packedSize, int32_t unpackedSize)
{
    return DecodeLZW<BitOrder::MostSignificantFirst>(table_, source, PackedEnd(source, sourceEnd, packedSize), dest,
        OutputEnd(dest, unpackedSize), 9, 1, "TIF LZW: invalid opcode.");
}

void TTIFFLZW::Encode(const uint8_t*, uint8_t*, uint32_t) { }

size_t TGIFLZW::Decode(
    const uint8_t*& source, const uint8_t* sourceEnd, uint8_t* dest, int32_t packedSize, int32_t unpackedSize)
{
    static constexpr const char* kInvalidCode = "GIF LZW: invalid opcode.";
    // Above 11 the Clear code would lie outside the table. Below 2 the width could never grow (the
    // first entry already lies past what the first width addresses), and GIF itself asks for 2 at
    // least, so such a stream cannot be decoded correctly.
    if (InitialCodeSize < 2 || InitialCodeSize > kMaxCodeWidth - 1)
        throw Exception(kInvalidCode);
    return DecodeLZW<BitOrder::LeastSignificantFirst>(table_, source, PackedEnd(source, sourceEnd, packedSize), dest,
        OutputEnd(dest, unpackedSize), InitialCodeSize + 1u, 0, kInvalidCode);
}

void TGIFLZW::Encode(const uint8_t*, uint8_t*, uint32_t) { }

size_t TPackbitsRLE::Decode(
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
            CopyPacket(out, in, count);
            in += count;
            out += count;
        } else if (n != -128) {
            if (in == inEnd)
                break;
            const size_t count = std::min(static_cast<size_t>(1 - n), Span(out, outEnd));
            FillPacket(out, *in++, count);
            out += count;
        }
    }
    return Span(dest, out);
}

void TPackbitsRLE::Encode(const uint8_t*, uint8_t*, uint32_t) { }

void TPCXRunReader::SetInput(const uint8_t* in, const uint8_t* inEnd)
{
    in_ = in;
    inEnd_ = in ? inEnd : in;
}

size_t TPCXRunReader::Read(uint8_t* dest, size_t count)
{
    uint8_t* out = dest;
    uint8_t* const outEnd = dest + count;
    const uint8_t* in = in_;
    const uint8_t* const inEnd = inEnd_;
    const auto run = [&](size_t length, uint8_t value) KAVREL_ALWAYS_INLINE {
        const size_t written = std::min(length, Span(out, outEnd));
        FillPacket(out, value, written);
        out += written;
        runLeft_ = length - written;
        runValue_ = value;
    };
    if (runLeft_ > 0)
        run(runLeft_, runValue_);
    while (in < inEnd) {
        if constexpr (std::endian::native == std::endian::little) {
            // Runs of literal bytes and counts that repeat a byte up to eight times, the bulk of a
            // photograph, in steps without branches: output bytes gather in a word that goes out
            // eight at a time. While ten packed bytes are there and 24 have room.
            if (Span(in, inEnd) >= 10 && Span(out, outEnd) >= 24) {
                uint64_t word = 0;
                size_t held = 0; // bytes of `word`, which belong at `out`
                // What the output held where the word goes, for the bytes the word does not fill.
                uint64_t saved;
                std::memcpy(&saved, out, 8);
                const auto put = [&](uint64_t bytes, size_t n) KAVREL_ALWAYS_INLINE {
                    bytes &= kLowBytes[n];
                    word |= bytes << 8 * held;
                    std::memcpy(out, &word, 8);
                    const size_t total = held + n;
                    const bool full = total >= 8;
                    word = full ? bytes >> 8 * (7 - held) >> 8 : word;
                    out += full ? 8 : 0;
                    held = full ? total - 8 : total;
                    uint64_t next;
                    std::memcpy(&next, out, 8);
                    saved = full ? next : saved;
                };
                size_t longRun = 0;
                uint8_t longValue = 0;
                do {
                    // The bytes up to the first count (both top bits set) stand for themselves.
                    uint64_t bytes;
                    std::memcpy(&bytes, in, 8);
                    const uint64_t counts = bytes & bytes << 1 & 0x8080808080808080u;
                    const size_t literals = counts ? static_cast<size_t>(std::countr_zero(counts)) / 8 : 8;
                    put(bytes, literals);
                    in += literals;
                    // The count after them, if any.
                    const size_t length = counts ? in[0] & 0x3Fu : 0;
                    const uint8_t value = in[1];
                    in += counts ? 2 : 0;
                    if (length > 8) [[unlikely]] {
                        longRun = length;
                        longValue = value;
                        break;
                    }
                    put(value * 0x0101010101010101u, length);
                } while (Span(in, inEnd) >= 10 && Span(out + held, outEnd) >= 24);
                const uint64_t merged = (word & kLowBytes[held]) | (saved & ~kLowBytes[held]);
                std::memcpy(out, &merged, 8);
                out += held;
                if (longRun > 0)
                    run(longRun, longValue);
                continue;
            }
        }
        if (out >= outEnd)
            break;
        if (*in < 0xC0) {
            *out++ = *in++;
            continue;
        }
        if (Span(in, inEnd) < 2)
            break; // a count without its byte: left for the next chunk
        run(in[0] & 0x3Fu, in[1]);
        in += 2;
    }
    in_ = in;
    return Span(dest, out);
}

size_t TPCXRLE::Decode(
    const uint8_t*& source, const uint8_t* sourceEnd, uint8_t* dest, int32_t packedSize, int32_t unpackedSize)
{
    TPCXRunReader reader;
    reader.SetInput(source, MarkedEnd(source, sourceEnd, packedSize));
    return reader.Read(dest, Span(dest, OutputEnd(dest, unpackedSize)));
}

void TPCXRLE::Encode(const uint8_t*, uint8_t*, uint32_t) { }

size_t TSGIRLE::Decode(
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
        return Span(dest, out);
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
    return Span(dest, out);
}

void TSGIRLE::Encode(const uint8_t*, uint8_t*, uint32_t) { }

size_t TCUTRLE::Decode(const uint8_t*& source, const uint8_t* sourceEnd, uint8_t* dest, int32_t, int32_t unpackedSize)
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
    return Span(dest, out);
}

void TCUTRLE::Encode(const uint8_t*, uint8_t*, uint32_t) { }

size_t TRLADecoder::Decode(
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
    return Span(dest, out);
}

void TRLADecoder::Encode(const uint8_t*, uint8_t*, uint32_t) { }
