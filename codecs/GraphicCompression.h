#pragma once

#include <cstdint>

// Decompressors shared by the readers: two LZW variants and five run-length schemes. They turn
// bytes into bytes and know nothing of streams, bitmaps or rows.
//
// Decode(source, sourceEnd, dest, packedSize, unpackedSize):
//   source      the packed bytes; only TCUTRLE moves the caller's pointer (past what it consumed)
//   sourceEnd   the end of the caller's input buffer; no decoder reads at or beyond it
//   dest        room for unpackedSize bytes; no decoder writes more
//   packedSize  the count the LZW, PackBits and RLA decoders consume at most (PCX and SGI take it as
//               a further bound on their input; CUT is given 0 and stops at sourceEnd)
// Input that ends before a decoder's stop condition ends the decoding; bytes not produced stay as
// they were in dest.
class TDecoder {
public:
    virtual ~TDecoder() = default;
    virtual void Decode(const uint8_t*& source, const uint8_t* sourceEnd, uint8_t* dest, int32_t packedSize,
                        int32_t unpackedSize) = 0;
    // The packed formats exist only on the reading side: encoding does nothing.
    virtual void Encode(const uint8_t* source, uint8_t* dest, uint32_t count) = 0;
};
