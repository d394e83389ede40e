#pragma once

#include "framework/Exception.h"

#include <cstddef>
#include <cstdint>
#include <span>

// Bounded reads from bytes in memory: every read checks what is left and raises EReadError instead
// of running past the end. Readers parse headers and tables of file data through it.
class TByteReader {
public:
    explicit TByteReader(std::span<const uint8_t> data) : data_(data) {}

    size_t Size() const { return data_.size(); }
    size_t Position() const { return position_; }
    size_t Remaining() const { return data_.size() - position_; }

    void Seek(size_t position)
    {
        if (position > data_.size())
            throw EReadError();
        position_ = position;
    }
    void Skip(size_t count) { Seek(Need(count) + count); }

    uint8_t U8() { return data_[Advance(1)]; }
    int8_t S8() { return static_cast<int8_t>(U8()); }
    uint16_t U16LE()
    {
        const size_t p = Advance(2);
        return static_cast<uint16_t>(data_[p] | data_[p + 1] << 8);
    }
    uint16_t U16BE()
    {
        const size_t p = Advance(2);
        return static_cast<uint16_t>(data_[p] << 8 | data_[p + 1]);
    }
    uint32_t U32LE()
    {
        const size_t p = Advance(4);
        return uint32_t(data_[p]) | uint32_t(data_[p + 1]) << 8 | uint32_t(data_[p + 2]) << 16 | uint32_t(data_[p + 3]) << 24;
    }
    uint32_t U32BE()
    {
        const size_t p = Advance(4);
        return uint32_t(data_[p]) << 24 | uint32_t(data_[p + 1]) << 16 | uint32_t(data_[p + 2]) << 8 | uint32_t(data_[p + 3]);
    }
    int16_t S16LE() { return static_cast<int16_t>(U16LE()); }
    int16_t S16BE() { return static_cast<int16_t>(U16BE()); }
    int32_t S32LE() { return static_cast<int32_t>(U32LE()); }
    int32_t S32BE() { return static_cast<int32_t>(U32BE()); }

    // The next `count` bytes, consumed.
    std::span<const uint8_t> Bytes(size_t count) { return data_.subspan(Advance(count), count); }
    // Up to `count` bytes, fewer at the end; consumed.
    std::span<const uint8_t> BytesUpTo(size_t count) { return Bytes(count < Remaining() ? count : Remaining()); }
    std::span<const uint8_t> Rest() const { return data_.subspan(position_); }

private:
    size_t Need(size_t count) const
    {
        if (count > Remaining())
            throw EReadError();
        return position_;
    }
    size_t Advance(size_t count)
    {
        const size_t p = Need(count);
        position_ += count;
        return p;
    }

    std::span<const uint8_t> data_;
    size_t position_ = 0;
};
