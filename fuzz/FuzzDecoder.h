#pragma once

// The body of the decoder fuzz targets. An input is
//   byte 0      an option: the decoder's setting (GIF InitialCodeSize, SGI SampleSize) or how many bytes short of
//               the buffer packedSize falls (the others)
//   bytes 1..3  unpackedSize, little-endian (its low 20 bits: at most 1 MiB)
//   the rest    the packed bytes, in a buffer of exactly their length
// The output buffer is exactly unpackedSize long, so the sanitizers see any access outside either buffer. A
// decoder may raise only its own message (none for the run-length decoders); anything else aborts.

#include "codecs/GraphicCompression.h"
#include "framework/Exception.h"

#include <cstdint>
#include <cstdlib>
#include <memory>
#include <vector>

struct TFuzzDecoderInput {
    uint8_t option = 0;
    std::vector<uint8_t> packed;
    // Left uninitialised: no decoder's result depends on output it has not written (the LZW decoders copy bytes
    // past their output aside and put them back, but never use them).
    std::unique_ptr<uint8_t[]> dest;
    int32_t destSize = 0;
};

inline bool ParseFuzzDecoderInput(const uint8_t* data, size_t size, TFuzzDecoderInput& input)
{
    if (size < 4)
        return false;
    input.option = data[0];
    // Up to 1 MiB: room for long strings and runs without slowing the fuzzer down.
    input.destSize = (data[1] | data[2] << 8 | data[3] << 16) & 0xFFFFF;
    input.packed.assign(data + 4, data + size);
    input.dest.reset(new uint8_t[input.destSize]);
    return true;
}

// packedSize as the option asks: the whole buffer, or `option` bytes fewer.
inline int32_t FuzzPackedSize(const TFuzzDecoderInput& input)
{
    return static_cast<int32_t>(input.packed.size() > input.option ? input.packed.size() - input.option : 0);
}

// One Decode call; the source pointer must stay where it was (every decoder but TCUTRLE).
inline void FuzzDecodeOnce(TDecoder& decoder, TFuzzDecoderInput& input, int32_t packedSize, const char* message)
{
    const uint8_t* const start = input.packed.data();
    const uint8_t* source = start;
    try {
        decoder.Decode(source, start + input.packed.size(), input.dest.get(), packedSize, input.destSize);
    } catch (const Exception& e) {
        if (message == nullptr || e.Message() != message)
            std::abort();
    }
    if (source != start)
        std::abort();
}
