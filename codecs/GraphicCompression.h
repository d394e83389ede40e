#pragma once

#include <cstddef>
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
    // Returns how many bytes it wrote, from dest on; the bytes after them stay as they were.
    virtual size_t Decode(
        const uint8_t*& source, const uint8_t* sourceEnd, uint8_t* dest, int32_t packedSize, int32_t unpackedSize)
        = 0;
    // The packed formats exist only on the reading side: encoding does nothing.
    virtual void Encode(const uint8_t* source, uint8_t* dest, uint32_t count) = 0;
};

// The string table of the LZW decoders. A code's string is either a single byte (kept in
// `literals`, so that single bytes are ordinary entries) or an earlier string plus the first byte of
// the one after it, which stand side by side in the output: an entry is just where such a copy starts
// and how long it is. Expanding a code is one block move, and no corrupt table can overrun a stack.
// Strings are moved in blocks of kBlock bytes that may run past their end; `saved` keeps what such
// moves overwrite beyond the output so far, so that bytes the decoder does not produce stay as they
// were. Entries are made anew by every Decode call.
struct TLZWTable {
    static constexpr uint32_t kCodes = 4096;
    static constexpr uint32_t kBlock = 16;
    static constexpr uint32_t kWindow = 512;

    TLZWTable();

    const uint8_t* start[kCodes + 1]; // the extra slot takes the entries made once the table is full
    uint16_t length[kCodes + 1];
    uint8_t literals[256 + kBlock];
    uint8_t saved[kWindow];
};

// LZW as in TIFF: codes most significant bit first, 9 to 12 bits wide, the width growing one code
// early; Clear 256, end 257. Stops at the end code, after packedSize bytes or with unpackedSize bytes
// out. A code naming an entry that does not exist yet raises "TIF LZW: invalid opcode.".
class TTIFFLZW : public TDecoder {
public:
    size_t Decode(const uint8_t*& source, const uint8_t* sourceEnd, uint8_t* dest, int32_t packedSize,
        int32_t unpackedSize) override;
    void Encode(const uint8_t* source, uint8_t* dest, uint32_t count) override;

private:
    TLZWTable table_;
};

// LZW as in GIF: codes least significant bit first, from InitialCodeSize + 1 bits wide up to 12,
// Clear 1 shl InitialCodeSize. Stops as TTIFFLZW does; its failures raise "GIF LZW: invalid opcode.",
// also for an InitialCodeSize outside 2..11. Once the table is full no entry is made until the next
// Clear, so streams that keep sending 12-bit codes without clearing ("deferred clear") decode.
class TGIFLZW : public TDecoder {
public:
    size_t Decode(const uint8_t*& source, const uint8_t* sourceEnd, uint8_t* dest, int32_t packedSize,
        int32_t unpackedSize) override;
    void Encode(const uint8_t* source, uint8_t* dest, uint32_t count) override;

    // The LZW minimum code size from the file; set by the reader before the first Decode.
    uint8_t InitialCodeSize = 8;

private:
    TLZWTable table_;
};

// PackBits (TIFF, Photoshop): n >= 0 copies n + 1 bytes, -127..-1 repeats the next byte 1 - n times,
// -128 does nothing. Reads packets until packedSize bytes are used.
class TPackbitsRLE : public TDecoder {
public:
    size_t Decode(const uint8_t*& source, const uint8_t* sourceEnd, uint8_t* dest, int32_t packedSize,
        int32_t unpackedSize) override;
    void Encode(const uint8_t* source, uint8_t* dest, uint32_t count) override;
};

// PCX: a byte with both top bits set repeats the next byte (its low six bits times), any other byte
// stands for itself. Produces unpackedSize bytes.
class TPCXRLE : public TDecoder {
public:
    size_t Decode(const uint8_t*& source, const uint8_t* sourceEnd, uint8_t* dest, int32_t packedSize,
        int32_t unpackedSize) override;
    void Encode(const uint8_t* source, uint8_t* dest, uint32_t count) override;
};

// The PCX run-length scheme in pieces, for readers that decode a picture a few rows at a time: a
// run that goes on past one piece of output continues in the next, and the packed bytes may come in
// chunks. TPCXRLE decodes with it in one piece.
class TPCXRunReader {
public:
    // The packed bytes to go on with. Unused() bytes of the previous chunk (a count without its
    // byte) must be given again at the start of this one.
    void SetInput(const uint8_t* in, const uint8_t* inEnd);
    // Decodes up to `count` bytes into dest and returns how many; fewer once the input runs out.
    size_t Read(uint8_t* dest, size_t count);
    // The first packed byte not used: the input's end, or a count at its end whose byte is missing.
    const uint8_t* Unused() const { return in_; }
    const uint8_t* End() const { return inEnd_; }

private:
    const uint8_t* in_ = nullptr;
    const uint8_t* inEnd_ = nullptr;
    size_t runLeft_ = 0; // bytes of a run that the last piece had no room for
    uint8_t runValue_ = 0;
};

// SGI, one row of one channel: a count (a byte, or a big-endian word when SampleSize is 2) with the
// top bit set copies that many samples, without it repeats the next sample; count 0 ends the row.
// One byte comes out per sample (the high byte of 16-bit ones).
class TSGIRLE : public TDecoder {
public:
    size_t Decode(const uint8_t*& source, const uint8_t* sourceEnd, uint8_t* dest, int32_t packedSize,
        int32_t unpackedSize) override;
    void Encode(const uint8_t* source, uint8_t* dest, uint32_t count) override;

    // Bytes per sample: 2 for 16-bit files; any other value is taken as 1.
    uint8_t SampleSize = 1;
};

// Dr. Halo CUT, one row: a 2-byte row length, then packets (top bit set: repeat the next byte, else
// copy that many bytes) up to a zero byte. Leaves source just past that zero byte, so consecutive
// calls walk the rows; a row longer than unpackedSize is still read to its end.
class TCUTRLE : public TDecoder {
public:
    size_t Decode(const uint8_t*& source, const uint8_t* sourceEnd, uint8_t* dest, int32_t packedSize,
        int32_t unpackedSize) override;
    void Encode(const uint8_t* source, uint8_t* dest, uint32_t count) override;
};

// Wavefront RLA: n >= 0 repeats the next byte n + 1 times, n < 0 copies -n bytes. Reads packets until
// packedSize bytes are used.
class TRLADecoder : public TDecoder {
public:
    size_t Decode(const uint8_t*& source, const uint8_t* sourceEnd, uint8_t* dest, int32_t packedSize,
        int32_t unpackedSize) override;
    void Encode(const uint8_t* source, uint8_t* dest, uint32_t count) override;
};
