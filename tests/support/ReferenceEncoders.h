#pragma once

// Plain encoders for the packed formats that codecs/GraphicCompression reads, so that tests and benchmarks can
// make streams of any size and shape. They follow the writers that define each format (libtiff's LZW writer for
// TIFF, Unix compress for GIF) rather than the decoders, and favour being obviously right over being fast.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace reference {

using Bytes = std::vector<uint8_t>;

// Collects codes of a given width, most or least significant bit first.
class BitWriter {
public:
    explicit BitWriter(bool mostSignificantFirst)
        : msbFirst_(mostSignificantFirst)
    { }

    void Put(uint32_t code, int width)
    {
        if (msbFirst_) {
            pending_ = pending_ << width | code;
            bits_ += width;
            while (bits_ >= 8) {
                bits_ -= 8;
                out_.push_back(static_cast<uint8_t>(pending_ >> bits_));
            }
            pending_ &= (uint64_t { 1 } << bits_) - 1;
        } else {
            pending_ |= static_cast<uint64_t>(code) << bits_;
            bits_ += width;
            while (bits_ >= 8) {
                out_.push_back(static_cast<uint8_t>(pending_));
                pending_ >>= 8;
                bits_ -= 8;
            }
        }
    }

    // The last partial byte, padded with zero bits.
    Bytes Finish()
    {
        if (bits_ > 0)
            out_.push_back(static_cast<uint8_t>(msbFirst_ ? pending_ << (8 - bits_) : pending_));
        bits_ = 0;
        pending_ = 0;
        return std::move(out_);
    }

private:
    bool msbFirst_;
    uint64_t pending_ = 0;
    int bits_ = 0;
    Bytes out_;
};

struct LzwOptions {
    bool tiff = true; // TIFF: MSB first, Clear 256; GIF: LSB first, Clear 1 shl minCodeSize
    int minCodeSize = 8; // GIF only; every data byte must be below 1 shl minCodeSize
    // The table size at which a Clear is sent: libtiff clears at 4094, compress at 4096. 0: never clear; once the
    // table is full the codes go on at 12 bits with no new entries ("deferred clear").
    uint32_t clearAt = 0;
    size_t clearEvery = 0; // > 0: also send a Clear after this many data codes
};

struct LzwStats {
    size_t codes = 0; // data codes written
    size_t clears = 0; // Clear codes written, the first included
    size_t fullTableCodes = 0; // data codes written while the table was full
};

inline LzwOptions TiffLzw()
{
    return { true, 8, 4094, 0 };
}
inline LzwOptions GifLzw(int minCodeSize)
{
    return { false, minCodeSize, 4096, 0 };
}

inline Bytes LzwEncode(std::span<const uint8_t> data, const LzwOptions& options, LzwStats* stats = nullptr)
{
    LzwStats localStats;
    LzwStats& s = stats ? *stats : localStats;
    const bool tiff = options.tiff;
    const uint32_t clearCode = tiff ? 256 : 1u << options.minCodeSize;
    const uint32_t endCode = clearCode + 1;
    const int initialWidth = tiff ? 9 : options.minCodeSize + 1;
    constexpr uint32_t kTableSize = 4096;

    BitWriter writer(tiff);
    std::vector<uint16_t> next(kTableSize * 256); // (code, byte) -> entry; 0 = none (no entry is ever 0)
    int width = initialWidth;
    uint32_t freeEntry = clearCode + 2;
    size_t codesSinceClear = 0;

    auto clear = [&] {
        writer.Put(clearCode, width);
        ++s.clears;
        std::fill(next.begin(), next.end(), 0);
        width = initialWidth;
        freeEntry = clearCode + 2;
        codesSinceClear = 0;
    };
    auto put = [&](uint32_t code) {
        s.fullTableCodes += freeEntry >= kTableSize;
        writer.Put(code, width);
        ++s.codes;
        ++codesSinceClear;
    };
    auto widen = [&] {
        if (freeEntry > (1u << width) - 1 && width < 12)
            ++width;
    };

    clear();
    if (data.empty()) {
        writer.Put(endCode, width);
        return writer.Finish();
    }
    uint32_t current = data[0];
    for (size_t i = 1; i <= data.size(); ++i) {
        const bool last = i == data.size();
        if (!last && next[current * 256 + data[i]] != 0) {
            current = next[current * 256 + data[i]];
            continue;
        }
        put(current);
        if (tiff) {
            // libtiff counts an entry for the last code too, then clears or widens for the next code.
            if (freeEntry < kTableSize) {
                if (!last)
                    next[current * 256 + data[i]] = static_cast<uint16_t>(freeEntry);
                ++freeEntry;
            }
            if (freeEntry == options.clearAt)
                clear();
            else
                widen();
        } else {
            // compress widens before it makes the entry, and clears instead of making one into a full table.
            widen();
            if (!last) {
                if (freeEntry < kTableSize)
                    next[current * 256 + data[i]] = static_cast<uint16_t>(freeEntry++);
                else if (options.clearAt == kTableSize)
                    clear();
            }
        }
        if (!last && options.clearEvery > 0 && codesSinceClear >= options.clearEvery)
            clear();
        if (!last)
            current = data[i];
    }
    writer.Put(endCode, width);
    return writer.Finish();
}

// PackBits: runs of 2 to 128 equal bytes as repeat packets, everything else as literal packets of up to 128.
inline Bytes PackBitsEncode(std::span<const uint8_t> data)
{
    Bytes out;
    size_t i = 0;
    while (i < data.size()) {
        size_t run = 1;
        while (i + run < data.size() && run < 128 && data[i + run] == data[i])
            ++run;
        if (run >= 2) {
            out.push_back(static_cast<uint8_t>(1 - static_cast<int>(run)));
            out.push_back(data[i]);
            i += run;
            continue;
        }
        size_t literal = 1;
        while (i + literal < data.size() && literal < 128
            && !(i + literal + 1 < data.size() && data[i + literal] == data[i + literal + 1]))
            ++literal;
        out.push_back(static_cast<uint8_t>(literal - 1));
        out.insert(out.end(), data.begin() + i, data.begin() + i + literal);
        i += literal;
    }
    return out;
}

// PCX: runs of up to 63 as (0xC0 | n, byte); single bytes below 0xC0 as themselves, others as a run of one.
inline Bytes PcxEncode(std::span<const uint8_t> data)
{
    Bytes out;
    size_t i = 0;
    while (i < data.size()) {
        size_t run = 1;
        while (i + run < data.size() && run < 63 && data[i + run] == data[i])
            ++run;
        if (run > 1 || data[i] >= 0xC0) {
            out.push_back(static_cast<uint8_t>(0xC0 | run));
            out.push_back(data[i]);
        } else {
            out.push_back(data[i]);
        }
        i += run;
    }
    return out;
}

// SGI, one row: counts of up to 127 (top bit: literal samples follow), a zero count at the end. Samples are one
// byte, or two bytes big-endian when sampleSize is 2 (counts too).
inline Bytes SgiEncode(std::span<const uint16_t> samples, int sampleSize)
{
    Bytes out;
    auto put = [&](uint16_t value) {
        if (sampleSize == 2)
            out.push_back(static_cast<uint8_t>(value >> 8));
        out.push_back(static_cast<uint8_t>(value));
    };
    size_t i = 0;
    while (i < samples.size()) {
        size_t run = 1;
        while (i + run < samples.size() && run < 127 && samples[i + run] == samples[i])
            ++run;
        if (run >= 3) {
            put(static_cast<uint16_t>(run));
            put(samples[i]);
            i += run;
            continue;
        }
        size_t literal = 1;
        while (i + literal < samples.size() && literal < 127
            && !(i + literal + 2 < samples.size() && samples[i + literal] == samples[i + literal + 1]
                && samples[i + literal] == samples[i + literal + 2]))
            ++literal;
        put(static_cast<uint16_t>(0x80 | literal));
        for (size_t k = 0; k < literal; ++k)
            put(samples[i + k]);
        i += literal;
    }
    put(0);
    return out;
}

// Dr. Halo CUT, one row: its length (little-endian, the packets and the final zero), packets of up to 127
// (top bit: a run of the next byte), a zero byte.
inline Bytes CutEncodeRow(std::span<const uint8_t> row)
{
    Bytes packets;
    size_t i = 0;
    while (i < row.size()) {
        size_t run = 1;
        while (i + run < row.size() && run < 127 && row[i + run] == row[i])
            ++run;
        if (run >= 3) {
            packets.push_back(static_cast<uint8_t>(0x80 | run));
            packets.push_back(row[i]);
            i += run;
            continue;
        }
        size_t literal = std::min<size_t>(run, 127);
        while (i + literal < row.size() && literal < 127
            && !(i + literal + 2 < row.size() && row[i + literal] == row[i + literal + 1]
                && row[i + literal] == row[i + literal + 2]))
            ++literal;
        packets.push_back(static_cast<uint8_t>(literal));
        packets.insert(packets.end(), row.begin() + i, row.begin() + i + literal);
        i += literal;
    }
    packets.push_back(0);
    Bytes out { static_cast<uint8_t>(packets.size()), static_cast<uint8_t>(packets.size() >> 8) };
    out.insert(out.end(), packets.begin(), packets.end());
    return out;
}

// Wavefront RLA: n >= 0 repeats the next byte n + 1 times (runs of 2 to 128), n < 0 copies -n bytes (1 to 128).
inline Bytes RlaEncode(std::span<const uint8_t> data)
{
    Bytes out;
    size_t i = 0;
    while (i < data.size()) {
        size_t run = 1;
        while (i + run < data.size() && run < 128 && data[i + run] == data[i])
            ++run;
        if (run >= 2) {
            out.push_back(static_cast<uint8_t>(run - 1));
            out.push_back(data[i]);
            i += run;
            continue;
        }
        size_t literal = 1;
        while (i + literal < data.size() && literal < 128
            && !(i + literal + 1 < data.size() && data[i + literal] == data[i + literal + 1]))
            ++literal;
        out.push_back(static_cast<uint8_t>(-static_cast<int>(literal)));
        out.insert(out.end(), data.begin() + i, data.begin() + i + literal);
        i += literal;
    }
    return out;
}

} // namespace reference
