// The decompressors against hand-made packets, streams from libtiff and ImageMagick (tests/codecs/fixtures, made by
// make-fixtures.py), and streams of random data from the reference encoders. Every decode reads from a buffer
// exactly as long as its input, so that the sanitizer build sees any read past it, and writes into one with guard
// bytes after the output, which must stay untouched.

#include "codecs/GraphicCompression.h"

#include "framework/Exception.h"
#include "tests/support/ReferenceEncoders.h"
#include "tests/support/TestData.h"

#include <algorithm>
#include <bit>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <gtest/gtest.h>
#include <memory>
#include <random>

namespace {

using reference::Bytes;

constexpr const char* kTiffInvalid = "TIF LZW: invalid opcode.";
constexpr const char* kGifInvalid = "GIF LZW: invalid opcode.";
constexpr size_t kGuard = 64;
constexpr uint8_t kGuardByte = 0xA5;

struct DecodeResult {
    Bytes out; // unpackedSize bytes
    ptrdiff_t consumed = 0; // how far the decoder moved source
};

// Decodes packed (all of it readable) with the given counts into an output that starts as `initial` (or guard
// bytes) and checks that nothing after unpackedSize was written.
DecodeResult DecodeWith(
    TDecoder& decoder, const Bytes& packed, int32_t packedSize, int32_t unpackedSize, const Bytes& initial = {})
{
    const std::unique_ptr<uint8_t[]> input(new uint8_t[std::max<size_t>(packed.size(), 1)]);
    std::copy(packed.begin(), packed.end(), input.get());
    const size_t outputSize = static_cast<size_t>(std::max(unpackedSize, 0));
    Bytes output(outputSize + kGuard, kGuardByte);
    std::copy(initial.begin(), initial.begin() + std::min(initial.size(), outputSize), output.begin());
    const Bytes before = output;
    const uint8_t* source = input.get();
    const size_t written = decoder.Decode(source, input.get() + packed.size(), output.data(), packedSize, unpackedSize);
    EXPECT_LE(written, outputSize);
    EXPECT_TRUE(std::equal(
        output.begin() + std::min(written, outputSize), output.end(), before.begin() + std::min(written, outputSize)))
        << "wrote past what it says it wrote, or past unpackedSize";
    output.resize(outputSize);
    return { output, source - input.get() };
}

Bytes Decode(TDecoder& decoder, const Bytes& packed, int32_t unpackedSize)
{
    return DecodeWith(decoder, packed, static_cast<int32_t>(packed.size()), unpackedSize).out;
}

// Bytes the expected output can never hold at any position: decoded bytes show up as they are.
Bytes Complement(const Bytes& bytes)
{
    Bytes result(bytes);
    for (uint8_t& b : result)
        b = static_cast<uint8_t>(~b);
    return result;
}

constexpr size_t kNotAPrefix = SIZE_MAX;

// How many leading bytes of `out` the decoder produced, given that it started as Complement(expected); kNotAPrefix
// unless out is a correct prefix of expected followed by untouched bytes.
size_t ProducedPrefix(const Bytes& out, const Bytes& expected)
{
    size_t n = 0;
    while (n < out.size() && out[n] == expected[n])
        ++n;
    for (size_t i = n; i < out.size(); ++i) {
        if (out[i] != static_cast<uint8_t>(~expected[i]))
            return kNotAPrefix;
    }
    return n;
}

// Codes of the given widths, most or least significant bit first.
Bytes PackCodes(bool msbFirst, std::initializer_list<std::pair<uint32_t, int>> codes)
{
    reference::BitWriter writer(msbFirst);
    for (const auto& [code, width] : codes)
        writer.Put(code, width);
    return writer.Finish();
}

Bytes Fixture(const std::string& name)
{
    return ReadFileBytes(std::filesystem::path(KAVREL_SOURCE_DIR) / "tests" / "codecs" / "fixtures" / name);
}

// Picture-like bytes: runs of random length between stretches of noise, over an alphabet of `symbols` values.
Bytes MakeData(size_t size, unsigned symbols, double runShare, uint32_t seed)
{
    std::mt19937 rng(seed);
    std::uniform_int_distribution<unsigned> symbol(0, symbols - 1);
    std::uniform_real_distribution<double> coin(0, 1);
    std::uniform_int_distribution<size_t> runLength(2, 300);
    Bytes data;
    while (data.size() < size) {
        if (coin(rng) < runShare)
            data.insert(data.end(), runLength(rng), static_cast<uint8_t>(symbol(rng)));
        else
            data.push_back(static_cast<uint8_t>(symbol(rng)));
    }
    data.resize(size);
    return data;
}

int32_t Size(const Bytes& bytes)
{
    return static_cast<int32_t>(bytes.size());
}

// Decoding every prefix of a stream (from a buffer of exactly that length) gives a correct prefix of the output,
// and never more output for less input.
void ExpectTruncationsDecodePrefixes(
    const std::function<std::unique_ptr<TDecoder>()>& make, const Bytes& packed, const Bytes& expected)
{
    const std::unique_ptr<TDecoder> decoder = make();
    const Bytes initial = Complement(expected);
    size_t previous = 0;
    for (size_t cut = 0; cut <= packed.size(); ++cut) {
        const Bytes head(packed.begin(), packed.begin() + cut);
        const Bytes out = DecodeWith(*decoder, head, Size(head), Size(expected), initial).out;
        const size_t produced = ProducedPrefix(out, expected);
        ASSERT_NE(produced, kNotAPrefix) << "cut at " << cut;
        ASSERT_GE(produced, previous) << "cut at " << cut;
        previous = produced;
    }
    EXPECT_EQ(previous, expected.size());
}

// Random changes to a stream: the decoder either finishes or raises its own message, and stays in bounds.
void ExpectCorruptionsHandled(
    TDecoder& decoder, const Bytes& packed, int32_t unpackedSize, const char* message, uint32_t seed)
{
    std::mt19937 rng(seed);
    size_t raised = 0;
    for (int round = 0; round < 400; ++round) {
        Bytes bad(packed);
        const int changes = 1 + static_cast<int>(rng() % 4);
        for (int c = 0; c < changes; ++c)
            bad[rng() % bad.size()] ^= static_cast<uint8_t>(1 + rng() % 255);
        try {
            DecodeWith(decoder, bad, Size(bad), unpackedSize);
        } catch (const Exception& e) {
            ASSERT_EQ(e.Message(), message);
            ++raised;
        }
    }
    EXPECT_GT(raised, 0u) << "no corruption was noticed: the test does not reach the error path";
}

// An LZW decoder stops after unpackedSize bytes (cutting a string) and after packedSize bytes of input.
void ExpectLzwCountsObeyed(TDecoder& decoder, const Bytes& packed, const Bytes& data)
{
    for (int32_t limit : { 0, 1, 2, 3, 100, 4097, Size(data) - 1 }) {
        const Bytes out = DecodeWith(decoder, packed, Size(packed), limit).out;
        EXPECT_TRUE(std::equal(out.begin(), out.end(), data.begin())) << limit;
    }
    // packedSize below what the buffer holds: the bytes after it are not used, exactly as if absent.
    const Bytes initial = Complement(data);
    for (int32_t limit : { 0, 1, 2, 50, Size(packed) / 2, Size(packed) - 1 }) {
        const Bytes head(packed.begin(), packed.begin() + limit);
        EXPECT_EQ(DecodeWith(decoder, packed, limit, Size(data), initial).out,
            DecodeWith(decoder, head, limit, Size(data), initial).out)
            << limit;
    }
    // Negative counts decode nothing.
    EXPECT_EQ(DecodeWith(decoder, packed, -1, 16, Bytes(16, 1)).out, Bytes(16, 1));
    EXPECT_EQ(DecodeWith(decoder, packed, Size(packed), -5).out, Bytes {});
    // The source pointer is the caller's to move.
    EXPECT_EQ(DecodeWith(decoder, packed, Size(packed), Size(data)).consumed, 0);
}

std::unique_ptr<TDecoder> MakeGif(int initialCodeSize)
{
    auto decoder = std::make_unique<TGIFLZW>();
    decoder->InitialCodeSize = static_cast<uint8_t>(initialCodeSize);
    return decoder;
}

// ---------------------------------------------------------------------------------------------------------------
// TIFF LZW

TEST(TIFFLZWTest, HandMadeCodes)
{
    TTIFFLZW decoder;
    // Clear, 'A', 'B', the entry "AB" just made, end.
    EXPECT_EQ(Decode(decoder, PackCodes(true, { { 256, 9 }, { 65, 9 }, { 66, 9 }, { 258, 9 }, { 257, 9 } }), 4),
        (Bytes { 65, 66, 65, 66 }));
    // KwKwK: 258 is named while it is being made, so it is "A" followed by its own first byte.
    EXPECT_EQ(Decode(decoder, PackCodes(true, { { 256, 9 }, { 65, 9 }, { 258, 9 }, { 259, 9 }, { 257, 9 } }), 6),
        (Bytes { 65, 65, 65, 65, 65, 65 }));
    // A stream without a leading Clear starts with a fresh table all the same.
    EXPECT_EQ(
        Decode(decoder, PackCodes(true, { { 7, 9 }, { 8, 9 }, { 258, 9 }, { 257, 9 } }), 4), (Bytes { 7, 8, 7, 8 }));
    // A Clear in the middle forgets the entries: 258 is made again from what follows.
    EXPECT_EQ(
        Decode(decoder,
            PackCodes(true, { { 256, 9 }, { 1, 9 }, { 2, 9 }, { 256, 9 }, { 3, 9 }, { 4, 9 }, { 258, 9 }, { 257, 9 } }),
            6),
        (Bytes { 1, 2, 3, 4, 3, 4 }));
}

TEST(TIFFLZWTest, CodesWidenOneCodeEarly)
{
    // The first code makes no entry, the next 253 make 258..510; after entry 510 the codes are 10 bits wide.
    Bytes expected;
    std::vector<std::pair<uint32_t, int>> codes { { 256, 9 } };
    for (uint32_t i = 0; i < 254; ++i) {
        codes.push_back({ i, 9 });
        expected.push_back(static_cast<uint8_t>(i));
    }
    codes.push_back({ 300, 10 }); // the string of entry 300: bytes 42, 43
    codes.push_back({ 257, 10 });
    expected.insert(expected.end(), { 42, 43 });
    reference::BitWriter writer(true);
    for (const auto& [code, width] : codes)
        writer.Put(code, width);
    TTIFFLZW decoder;
    EXPECT_EQ(Decode(decoder, writer.Finish(), Size(expected)), expected);
}

TEST(TIFFLZWTest, InvalidCodesRaise)
{
    TTIFFLZW decoder;
    // 260 is two above the next free entry (259).
    const Bytes tooHigh = PackCodes(true, { { 256, 9 }, { 65, 9 }, { 66, 9 }, { 260, 9 }, { 257, 9 } });
    // Room for more than the strings: a decoder that writes ahead of its output must put those bytes back.
    Bytes out(100, 0xEE);
    const uint8_t* source = tooHigh.data();
    try {
        decoder.Decode(source, tooHigh.data() + tooHigh.size(), out.data(), Size(tooHigh), Size(out));
        FAIL() << "no exception";
    } catch (const Exception& e) {
        EXPECT_EQ(e.Message(), kTiffInvalid);
    }
    // What was decoded before the bad code stays; nothing after it changes.
    Bytes expected(100, 0xEE);
    expected[0] = 65;
    expected[1] = 66;
    EXPECT_EQ(out, expected);

    // Right after a Clear there is no previous string, so even the next free entry cannot be named.
    try {
        Decode(decoder, PackCodes(true, { { 256, 9 }, { 258, 9 }, { 257, 9 } }), 8);
        FAIL() << "no exception";
    } catch (const Exception& e) {
        EXPECT_EQ(e.Message(), kTiffInvalid);
    }
    // The same code after an earlier decode that did make entry 258: tables do not carry over.
    Decode(decoder, PackCodes(true, { { 256, 9 }, { 65, 9 }, { 66, 9 }, { 257, 9 } }), 8);
    EXPECT_THROW(Decode(decoder, PackCodes(true, { { 256, 9 }, { 258, 9 }, { 257, 9 } }), 8), Exception);
}

TEST(TIFFLZWTest, ObeysBothCounts)
{
    const Bytes data = MakeData(20000, 256, 0.3, 1);
    TTIFFLZW decoder;
    ExpectLzwCountsObeyed(decoder, reference::LzwEncode(data, reference::TiffLzw()), data);
}

TEST(TIFFLZWTest, ReferenceEncoderRoundTrips)
{
    TTIFFLZW decoder;
    uint32_t seed = 10;
    for (size_t size : { size_t { 1 }, size_t { 2 }, size_t { 5000 }, size_t { 70000 } }) {
        for (unsigned symbols : { 2u, 16u, 256u }) {
            for (double runs : { 0.0, 0.2, 0.9 }) {
                const Bytes data = MakeData(size, symbols, runs, ++seed);
                for (reference::LzwOptions options : { reference::TiffLzw(), reference::LzwOptions { true, 8, 4096, 0 },
                         reference::LzwOptions { true, 8, 0, 0 }, reference::LzwOptions { true, 8, 4094, 700 } }) {
                    const Bytes packed = reference::LzwEncode(data, options);
                    ASSERT_EQ(Decode(decoder, packed, Size(data)), data)
                        << size << " bytes, " << symbols << " symbols, runs " << runs << ", clear at "
                        << options.clearAt << " / every " << options.clearEvery;
                }
            }
        }
    }
    // The longest string there can be: one byte repeated until the table is full.
    const Bytes flat(3000000, 9);
    EXPECT_EQ(Decode(decoder, reference::LzwEncode(flat, reference::LzwOptions { true, 8, 0, 0 }), Size(flat)), flat);
}

TEST(TIFFLZWTest, LibtiffStripDecodes)
{
    TTIFFLZW decoder;
    const Bytes packed = Fixture("tiff-lzw.bin");
    const Bytes expected = Fixture("tiff.raw");
    EXPECT_EQ(Decode(decoder, packed, Size(expected)), expected);
    // A larger output than the strip holds: the end code stops the decoding, the rest stays as it was.
    const Bytes out
        = DecodeWith(decoder, packed, Size(packed), Size(expected) + 10, Bytes(expected.size() + 10, 3)).out;
    EXPECT_TRUE(std::equal(expected.begin(), expected.end(), out.begin()));
    EXPECT_EQ(Bytes(out.end() - 10, out.end()), Bytes(10, 3));
}

TEST(TIFFLZWTest, TruncatedStreamsDecodeTheirPrefix)
{
    ExpectTruncationsDecodePrefixes(
        [] { return std::make_unique<TTIFFLZW>(); }, Fixture("tiff-lzw.bin"), Fixture("tiff.raw"));
}

TEST(TIFFLZWTest, CorruptStreamsFailCleanly)
{
    TTIFFLZW decoder;
    ExpectCorruptionsHandled(decoder, Fixture("tiff-lzw.bin"), 12288, kTiffInvalid, 7);
    const Bytes data = MakeData(30000, 256, 0.5, 3);
    ExpectCorruptionsHandled(decoder, reference::LzwEncode(data, reference::TiffLzw()), Size(data), kTiffInvalid, 8);
}

// ---------------------------------------------------------------------------------------------------------------
// GIF LZW

TEST(GIFLZWTest, HandMadeCodes)
{
    // InitialCodeSize 2: Clear 4, end 5, 3-bit codes. 6 = "1 2"; entry 7 = "2 1" is the last that 3 bits
    // address, so the end code after it is 4 bits wide.
    const auto decoder = MakeGif(2);
    EXPECT_EQ(Decode(*decoder, PackCodes(false, { { 4, 3 }, { 1, 3 }, { 2, 3 }, { 6, 3 }, { 5, 4 } }), 4),
        (Bytes { 1, 2, 1, 2 }));
    // KwKwK.
    EXPECT_EQ(Decode(*decoder, PackCodes(false, { { 4, 3 }, { 3, 3 }, { 6, 3 }, { 5, 3 } }), 3), (Bytes { 3, 3, 3 }));
}

TEST(GIFLZWTest, CodesWidenAfterTheLastEntryOfAWidth)
{
    // InitialCodeSize 8: the first code makes no entry, the next 254 make 258..511; only after entry 511 are the
    // codes 10 bits wide (one code later than in TIFF).
    Bytes expected;
    reference::BitWriter writer(false);
    writer.Put(256, 9);
    for (uint32_t i = 0; i < 255; ++i) {
        writer.Put(i, 9);
        expected.push_back(static_cast<uint8_t>(i));
    }
    writer.Put(511, 10); // bytes 253, 254
    writer.Put(257, 10);
    expected.insert(expected.end(), { 253, 254 });
    const auto decoder = MakeGif(8);
    EXPECT_EQ(Decode(*decoder, writer.Finish(), Size(expected)), expected);
}

TEST(GIFLZWTest, InitialCodeSizeOutsideTheTableFails)
{
    const Bytes data = MakeData(3000, 2, 0.1, 5);
    for (int size : { 0, 1, 12, 13, 255 }) {
        const auto decoder = MakeGif(size);
        // The stream does not matter: the decoder refuses before reading it.
        try {
            Decode(*decoder, reference::LzwEncode(data, reference::GifLzw(2)), Size(data));
            FAIL() << size;
        } catch (const Exception& e) {
            EXPECT_EQ(e.Message(), kGifInvalid) << size;
        }
    }
    // Every size the table can hold decodes; 9 to 11 carry only bytes, as GIF indices are bytes.
    for (int size = 2; size <= 11; ++size) {
        const Bytes sized = MakeData(40000, std::min(1u << size, 256u), 0.2, 100 + size);
        const auto decoder = MakeGif(size);
        EXPECT_EQ(Decode(*decoder, reference::LzwEncode(sized, reference::GifLzw(size)), Size(sized)), sized) << size;
    }
}

TEST(GIFLZWTest, InvalidCodesRaise)
{
    const auto decoder = MakeGif(2);
    // After Clear, 1, 2 and 6 ("1 2", which makes entry 7) the codes are 4 bits wide and the next free entry is 8;
    // 9 does not exist.
    const Bytes tooHigh = PackCodes(false, { { 4, 3 }, { 1, 3 }, { 2, 3 }, { 6, 3 }, { 9, 4 }, { 5, 4 } });
    Bytes out(100, 0xEE);
    const uint8_t* source = tooHigh.data();
    try {
        decoder->Decode(source, tooHigh.data() + tooHigh.size(), out.data(), Size(tooHigh), Size(out));
        FAIL() << "no exception";
    } catch (const Exception& e) {
        EXPECT_EQ(e.Message(), kGifInvalid);
    }
    Bytes expected(100, 0xEE);
    std::copy_n(Bytes { 1, 2, 1, 2 }.begin(), 4, expected.begin());
    EXPECT_EQ(out, expected);
    EXPECT_THROW(Decode(*decoder, PackCodes(false, { { 4, 3 }, { 6, 3 } }), 16), Exception);
}

TEST(GIFLZWTest, FullTableWaitsForTheNextClear)
{
    // A deferred clear by hand, InitialCodeSize 2: after the Clear, 4091 single-byte codes make the entries
    // 6..4095 (entry 5 + k holds bytes k - 1 and k), and the table is full. The codes that follow name entries of
    // the full table: entry 4095 must still hold what it was made with, not be rewritten by every code.
    std::mt19937 rng(12);
    Bytes literals(4091);
    for (uint8_t& b : literals)
        b = static_cast<uint8_t>(rng() % 4);
    literals[4089] = 1;
    literals[4090] = 2;
    reference::BitWriter writer(false);
    writer.Put(4, 3);
    for (size_t k = 0; k < literals.size(); ++k) {
        // GIF widths: once the table holds 2^n entries the codes are n + 1 bits wide, up to 12.
        const uint32_t entries = k < 2 ? 6 : static_cast<uint32_t>(5 + k);
        writer.Put(literals[k], std::min(12, static_cast<int>(std::bit_width(entries))));
    }
    Bytes expected(literals);
    for (uint32_t code : { 4095u, 4095u, 100u, 3u, 4095u }) {
        writer.Put(code, 12);
        if (code < 4)
            expected.push_back(static_cast<uint8_t>(code));
        else
            expected.insert(expected.end(), { literals[code - 6], literals[code - 5] });
    }
    writer.Put(5, 12);
    const auto decoder = MakeGif(2);
    EXPECT_EQ(Decode(*decoder, writer.Finish(), Size(expected)), expected);

    // The reference encoder in the same mode, on data that keeps the table full for long stretches; and with Clears
    // far apart, so that the table fills, waits and starts afresh many times.
    const Bytes data = MakeData(400000, 16, 0.05, 77);
    reference::LzwStats stats;
    const Bytes packed = reference::LzwEncode(data, reference::LzwOptions { false, 4, 0, 0 }, &stats);
    ASSERT_GT(stats.fullTableCodes, 10000u);
    const auto gif = MakeGif(4);
    EXPECT_EQ(Decode(*gif, packed, Size(data)), data);
    reference::LzwStats sparse;
    const Bytes cleared = reference::LzwEncode(data, reference::LzwOptions { false, 4, 0, 6000 }, &sparse);
    ASSERT_GT(sparse.clears, 3u);
    ASSERT_GT(sparse.fullTableCodes, 1000u);
    EXPECT_EQ(Decode(*gif, cleared, Size(data)), data);

    // TIFF stops making entries the same way.
    TTIFFLZW tiff;
    EXPECT_EQ(Decode(tiff, reference::LzwEncode(data, reference::LzwOptions { true, 8, 0, 0 }), Size(data)), data);
}

TEST(GIFLZWTest, ReferenceEncoderRoundTrips)
{
    uint32_t seed = 200;
    for (int codeSize : { 2, 3, 5, 8 }) {
        const auto decoder = MakeGif(codeSize);
        for (size_t size : { size_t { 1 }, size_t { 3 }, size_t { 9000 }, size_t { 60000 } }) {
            for (double runs : { 0.0, 0.5 }) {
                const Bytes data = MakeData(size, 1u << codeSize, runs, ++seed);
                for (reference::LzwOptions options :
                    { reference::GifLzw(codeSize), reference::LzwOptions { false, codeSize, 4096, 333 } }) {
                    ASSERT_EQ(Decode(*decoder, reference::LzwEncode(data, options), Size(data)), data)
                        << "code size " << codeSize << ", " << size << " bytes, runs " << runs;
                }
            }
        }
    }
}

TEST(GIFLZWTest, ImageMagickStreamsDecode)
{
    for (int codeSize : { 2, 4, 8 }) {
        const std::string name = "gif-lzw-" + std::to_string(codeSize);
        const Bytes packed = Fixture(name + ".bin");
        const Bytes expected = Fixture(name + ".raw");
        const auto decoder = MakeGif(codeSize);
        EXPECT_EQ(Decode(*decoder, packed, Size(expected)), expected) << name;
        ExpectTruncationsDecodePrefixes([codeSize] { return MakeGif(codeSize); }, packed, expected);
        ExpectCorruptionsHandled(*decoder, packed, Size(expected), kGifInvalid, 20 + codeSize);
    }
}

TEST(GIFLZWTest, ObeysBothCounts)
{
    const Bytes data = MakeData(20000, 256, 0.3, 4);
    ExpectLzwCountsObeyed(*MakeGif(8), reference::LzwEncode(data, reference::GifLzw(8)), data);
}

// ---------------------------------------------------------------------------------------------------------------
// PackBits

TEST(PackbitsRLETest, Packets)
{
    TPackbitsRLE decoder;
    EXPECT_EQ(DecodeWith(decoder, { 0xFE, 0x41 }, 2, 3).out, (Bytes { 0x41, 0x41, 0x41 }));
    EXPECT_EQ(DecodeWith(decoder, { 0x80 }, 1, 2, Bytes(2, 7)).out, Bytes(2, 7));
    EXPECT_EQ(DecodeWith(decoder, { 0x02, 0x41, 0x42, 0x43 }, 4, 3).out, (Bytes { 0x41, 0x42, 0x43 }));
    // The longest packets: 128 copies, 128 literals; a no-op packet between them.
    Bytes literals(128);
    for (int i = 0; i < 128; ++i)
        literals[i] = static_cast<uint8_t>(i * 7);
    Bytes packed { 0x81, 0x55, 0x80, 0x7F };
    packed.insert(packed.end(), literals.begin(), literals.end());
    Bytes expected(128, 0x55);
    expected.insert(expected.end(), literals.begin(), literals.end());
    EXPECT_EQ(Decode(decoder, packed, 256), expected);
}

TEST(PackbitsRLETest, CutsPacketsAtEitherEnd)
{
    TPackbitsRLE decoder;
    // Output: a run and a literal packet that would pass unpackedSize are cut.
    EXPECT_EQ(DecodeWith(decoder, { 0xF9, 0x41 }, 2, 5).out, Bytes(5, 0x41));
    EXPECT_EQ(DecodeWith(decoder, { 0x05, 1, 2, 3, 4, 5, 6 }, 7, 4).out, (Bytes { 1, 2, 3, 4 }));
    // Input: a literal packet cut by packedSize gives what is there; a run without its byte gives nothing.
    EXPECT_EQ(DecodeWith(decoder, { 0x05, 1, 2, 3, 4, 5, 6 }, 4, 6, Bytes(6, 0)).out, (Bytes { 1, 2, 3, 0, 0, 0 }));
    EXPECT_EQ(DecodeWith(decoder, { 0xFD, 9 }, 1, 4, Bytes(4, 0)).out, Bytes(4, 0));
    // packedSize beyond the buffer: the buffer's end still holds.
    EXPECT_EQ(DecodeWith(decoder, { 0x05, 1, 2 }, 1000, 6, Bytes(6, 0)).out, (Bytes { 1, 2, 0, 0, 0, 0 }));
    EXPECT_EQ(DecodeWith(decoder, { 0xFE, 0x41 }, 2, 3).consumed, 0);
}

TEST(PackbitsRLETest, StreamsDecode)
{
    TPackbitsRLE decoder;
    const Bytes packed = Fixture("tiff-packbits.bin");
    const Bytes expected = Fixture("tiff.raw");
    EXPECT_EQ(Decode(decoder, packed, Size(expected)), expected);
    ExpectTruncationsDecodePrefixes([] { return std::make_unique<TPackbitsRLE>(); }, packed, expected);
    for (uint32_t seed = 0; seed < 20; ++seed) {
        const Bytes data = MakeData(1 + seed * 997, 1 + seed * 13, 0.5, seed);
        ASSERT_EQ(Decode(decoder, reference::PackBitsEncode(data), Size(data)), data) << seed;
    }
}

// ---------------------------------------------------------------------------------------------------------------
// PCX

TEST(PCXRLETest, Packets)
{
    TPCXRLE decoder;
    EXPECT_EQ(Decode(decoder, { 0xC3, 0x41 }, 3), Bytes(3, 0x41));
    EXPECT_EQ(Decode(decoder, { 0x41 }, 1), Bytes { 0x41 });
    // A zero count writes nothing and consumes both bytes.
    EXPECT_EQ(Decode(decoder, { 0xC0, 0x41, 0x42 }, 1), Bytes { 0x42 });
    // Bytes of 0xC0 and above travel as runs of one; the longest run is 63.
    Bytes expected { 0xC5, 0x10 };
    expected.insert(expected.end(), 63, 0x20);
    EXPECT_EQ(Decode(decoder, { 0xC1, 0xC5, 0x10, 0xFF, 0x20 }, 65), expected);
}

TEST(PCXRLETest, StopsAtEitherEnd)
{
    TPCXRLE decoder;
    // It produces unpackedSize bytes: a run that would pass them is cut, and the rest of the input is left.
    EXPECT_EQ(DecodeWith(decoder, { 0xCA, 7, 1, 2 }, 4, 6).out, Bytes(6, 7));
    EXPECT_EQ(DecodeWith(decoder, { 1, 2, 3, 4, 5 }, 5, 3).out, (Bytes { 1, 2, 3 }));
    // Too little input: what there is, no more. packedSize 0 means no count of its own; a positive one bounds.
    EXPECT_EQ(DecodeWith(decoder, { 1, 0xC4 }, 0, 4, Bytes(4, 0)).out, (Bytes { 1, 0, 0, 0 }));
    EXPECT_EQ(DecodeWith(decoder, { 1, 2, 3 }, 2, 4, Bytes(4, 0)).out, (Bytes { 1, 2, 0, 0 }));
    EXPECT_EQ(DecodeWith(decoder, { 1, 2, 3 }, 0, 4, Bytes(4, 0)).out, (Bytes { 1, 2, 3, 0 }));
    EXPECT_EQ(DecodeWith(decoder, { 0xC3, 0x41 }, 2, 3).consumed, 0);
}

TEST(PCXRLETest, StreamsDecode)
{
    TPCXRLE decoder;
    const Bytes packed = Fixture("pcx-rle.bin");
    const Bytes expected = Fixture("pcx-rle.raw");
    EXPECT_EQ(Decode(decoder, packed, Size(expected)), expected);
    ExpectTruncationsDecodePrefixes([] { return std::make_unique<TPCXRLE>(); }, packed, expected);
    for (uint32_t seed = 0; seed < 20; ++seed) {
        const Bytes data = MakeData(1 + seed * 997, 256, 0.3 + seed * 0.03, seed);
        ASSERT_EQ(Decode(decoder, reference::PcxEncode(data), Size(data)), data) << seed;
    }
}

// ---------------------------------------------------------------------------------------------------------------
// SGI

std::unique_ptr<TSGIRLE> MakeSgi(int sampleSize)
{
    auto decoder = std::make_unique<TSGIRLE>();
    decoder->SampleSize = static_cast<uint8_t>(sampleSize);
    return decoder;
}

TEST(SGIRLETest, Packets)
{
    const auto bytes = MakeSgi(1);
    EXPECT_EQ(DecodeWith(*bytes, { 0x83, 1, 2, 3, 0 }, 5, 3).out, (Bytes { 1, 2, 3 }));
    EXPECT_EQ(DecodeWith(*bytes, { 0x03, 7, 0 }, 3, 3).out, (Bytes { 7, 7, 7 }));
    // Count 0 ends the row, also with the literal bit set; what follows is not read.
    EXPECT_EQ(DecodeWith(*bytes, { 0x01, 5, 0x80, 0x02, 9 }, 5, 4, Bytes(4, 0)).out, (Bytes { 5, 0, 0, 0 }));
    const auto words = MakeSgi(2);
    EXPECT_EQ(DecodeWith(*words, { 0x00, 0x82, 0x12, 0x34, 0x56, 0x78, 0x00, 0x00 }, 8, 2).out, (Bytes { 0x12, 0x56 }));
    EXPECT_EQ(DecodeWith(*words, { 0x00, 0x04, 0xAB, 0xCD, 0x00, 0x00 }, 6, 4).out, Bytes(4, 0xAB));
    // The count's high byte carries nothing.
    EXPECT_EQ(DecodeWith(*words, { 0xFF, 0x02, 0x11, 0x22, 0x00, 0x00 }, 6, 2).out, Bytes(2, 0x11));
}

TEST(SGIRLETest, StopsAtEitherEnd)
{
    for (int sampleSize : { 1, 2 }) {
        const auto decoder = MakeSgi(sampleSize);
        std::vector<uint16_t> samples(300);
        for (size_t i = 0; i < samples.size(); ++i)
            samples[i] = static_cast<uint16_t>(i < 150 ? (i * 40503u) : 0x4242);
        const Bytes packed = reference::SgiEncode(samples, sampleSize);
        Bytes expected;
        for (uint16_t s : samples)
            expected.push_back(static_cast<uint8_t>(sampleSize == 2 ? s >> 8 : s));
        // A row given less room than it holds is cut there.
        const Bytes shortRow = DecodeWith(*decoder, packed, 0, 200).out;
        EXPECT_TRUE(std::equal(shortRow.begin(), shortRow.end(), expected.begin()));
        // Every cut of the input (no terminating count) ends the row without reading further.
        ExpectTruncationsDecodePrefixes([sampleSize] { return MakeSgi(sampleSize); }, packed, expected);
        // A positive packedSize bounds the input as well.
        const Bytes initial = Complement(expected);
        for (int32_t limit : { 1, 2, 3, 40, Size(packed) - 2 }) {
            const Bytes head(packed.begin(), packed.begin() + limit);
            EXPECT_EQ(DecodeWith(*decoder, packed, limit, Size(expected), initial).out,
                DecodeWith(*decoder, head, 0, Size(expected), initial).out)
                << limit;
        }
    }
}

TEST(SGIRLETest, StreamsDecode)
{
    // The ImageMagick file: a table of row starts and lengths after the 512-byte header, rows bottom first.
    const Bytes file = Fixture("sgi-rle8.bin");
    const Bytes expected = Fixture("sgi-rle8.raw");
    const int width = file[6] << 8 | file[7];
    const int height = file[8] << 8 | file[9];
    ASSERT_EQ(static_cast<size_t>(width) * height, expected.size());
    const auto decoder = MakeSgi(1);
    auto at = [&](size_t p) { return uint32_t { file[p] } << 24 | file[p + 1] << 16 | file[p + 2] << 8 | file[p + 3]; };
    for (int y = 0; y < height; ++y) {
        const uint32_t start = at(512 + 4 * y);
        const uint32_t length = at(512 + 4 * height + 4 * y);
        ASSERT_LE(size_t { start } + length, file.size());
        const Bytes row(file.begin() + start, file.begin() + start + length);
        const Bytes expectedRow(expected.begin() + y * width, expected.begin() + (y + 1) * width);
        ASSERT_EQ(DecodeWith(*decoder, row, Size(row), width).out, expectedRow) << "row " << y;
        ExpectTruncationsDecodePrefixes([] { return MakeSgi(1); }, row, expectedRow);
    }

    for (int sampleSize : { 1, 2 }) {
        const auto sized = MakeSgi(sampleSize);
        std::mt19937 rng(sampleSize);
        for (int round = 0; round < 20; ++round) {
            const Bytes high = MakeData(1 + rng() % 3000, 1 + rng() % 256, 0.4, rng());
            std::vector<uint16_t> samples;
            for (uint8_t h : high)
                samples.push_back(static_cast<uint16_t>(sampleSize == 2 ? h << 8 | (rng() & 0xFF) : h));
            ASSERT_EQ(DecodeWith(*sized, reference::SgiEncode(samples, sampleSize), 0, Size(high)).out, high);
        }
    }
}

// ---------------------------------------------------------------------------------------------------------------
// Dr. Halo CUT

TEST(CUTRLETest, RowAdvancesSource)
{
    TCUTRLE decoder;
    const Bytes row { 0x05, 0x00, 0x83, 0x09, 0x00, 0xEE };
    const DecodeResult result = DecodeWith(decoder, row, 0, 3);
    EXPECT_EQ(result.out, (Bytes { 9, 9, 9 }));
    EXPECT_EQ(result.consumed, 5);
    // Without any output buffer the row is still walked to its end.
    const Bytes literal { 0x04, 0x00, 0x02, 4, 5, 0x00 };
    const uint8_t* source = row.data();
    decoder.Decode(source, row.data() + row.size(), nullptr, 0, 0);
    EXPECT_EQ(source, row.data() + 5);
    source = literal.data();
    decoder.Decode(source, literal.data() + literal.size(), nullptr, 0, 0);
    EXPECT_EQ(source, literal.data() + literal.size());
    // Literal packets; the row length is not used.
    EXPECT_EQ(DecodeWith(decoder, { 0xFF, 0xFF, 0x02, 4, 5, 0x81, 6, 0x00 }, 0, 3).out, (Bytes { 4, 5, 6 }));
    // A run of zero bytes writes nothing but takes its byte.
    const DecodeResult empty = DecodeWith(decoder, { 0, 0, 0x80, 0x00, 0x00 }, 0, 1, Bytes { 3 });
    EXPECT_EQ(empty.out, Bytes { 3 });
    EXPECT_EQ(empty.consumed, 5);
}

TEST(CUTRLETest, ConsecutiveRows)
{
    std::mt19937 rng(5);
    const int width = 300;
    std::vector<Bytes> rows;
    Bytes file;
    for (int y = 0; y < 40; ++y) {
        rows.push_back(MakeData(width, 1 + rng() % 200, 0.3, rng()));
        const Bytes packed = reference::CutEncodeRow(rows.back());
        file.insert(file.end(), packed.begin(), packed.end());
    }
    TCUTRLE decoder;
    const uint8_t* source = file.data();
    for (const Bytes& row : rows) {
        Bytes out(width);
        decoder.Decode(source, file.data() + file.size(), out.data(), 0, width);
        ASSERT_EQ(out, row);
    }
    EXPECT_EQ(source, file.data() + file.size());

    // Rows that hold more than unpackedSize still end where they end, so that the next row starts right.
    source = file.data();
    for (const Bytes& row : rows) {
        Bytes out(100 + kGuard, kGuardByte);
        decoder.Decode(source, file.data() + file.size(), out.data(), 0, 100);
        ASSERT_TRUE(std::equal(row.begin(), row.begin() + 100, out.begin()));
        ASSERT_EQ(Bytes(out.begin() + 100, out.end()), Bytes(kGuard, kGuardByte));
    }
    EXPECT_EQ(source, file.data() + file.size());
}

TEST(CUTRLETest, TruncatedRows)
{
    const Bytes row = MakeData(500, 40, 0.3, 9);
    const Bytes packed = reference::CutEncodeRow(row);
    TCUTRLE decoder;
    const Bytes initial = Complement(row);
    size_t previous = 0;
    for (size_t cut = 0; cut <= packed.size(); ++cut) {
        const Bytes head(packed.begin(), packed.begin() + cut);
        const DecodeResult result = DecodeWith(decoder, head, 0, Size(row), initial);
        // The source pointer stops at the end of the input, never beyond it.
        EXPECT_EQ(result.consumed, static_cast<ptrdiff_t>(cut));
        const size_t produced = ProducedPrefix(result.out, row);
        ASSERT_NE(produced, kNotAPrefix) << "cut at " << cut;
        ASSERT_GE(produced, previous) << "cut at " << cut;
        previous = produced;
    }
    EXPECT_EQ(previous, row.size());
}

// ---------------------------------------------------------------------------------------------------------------
// Wavefront RLA

TEST(RLADecoderTest, Packets)
{
    TRLADecoder decoder;
    EXPECT_EQ(Decode(decoder, { 0x02, 0x07 }, 3), (Bytes { 7, 7, 7 }));
    EXPECT_EQ(Decode(decoder, { 0xFE, 0x01, 0x02 }, 2), (Bytes { 1, 2 }));
    // Cuts: output, then input (packedSize and the buffer's end).
    EXPECT_EQ(DecodeWith(decoder, { 0x7F, 5 }, 2, 10).out, Bytes(10, 5));
    EXPECT_EQ(DecodeWith(decoder, { 0xFC, 1, 2, 3, 4 }, 3, 4, Bytes(4, 0)).out, (Bytes { 1, 2, 0, 0 }));
    EXPECT_EQ(DecodeWith(decoder, { 0xFC, 1, 2 }, 50, 4, Bytes(4, 0)).out, (Bytes { 1, 2, 0, 0 }));
    EXPECT_EQ(DecodeWith(decoder, { 0x03 }, 1, 4, Bytes(4, 0)).out, Bytes(4, 0));
    EXPECT_EQ(DecodeWith(decoder, { 0x02, 0x07 }, 2, 3).consumed, 0);
}

TEST(RLADecoderTest, StreamsDecode)
{
    TRLADecoder decoder;
    for (uint32_t seed = 0; seed < 20; ++seed) {
        const Bytes data = MakeData(1 + seed * 1231, 1 + seed * 13, 0.5, seed);
        ASSERT_EQ(Decode(decoder, reference::RlaEncode(data), Size(data)), data) << seed;
    }
    const Bytes data = MakeData(3000, 30, 0.4, 99);
    ExpectTruncationsDecodePrefixes([] { return std::make_unique<TRLADecoder>(); }, reference::RlaEncode(data), data);
}

// ---------------------------------------------------------------------------------------------------------------

std::vector<std::unique_ptr<TDecoder>> AllDecoders()
{
    std::vector<std::unique_ptr<TDecoder>> decoders;
    decoders.push_back(std::make_unique<TTIFFLZW>());
    decoders.push_back(std::make_unique<TPackbitsRLE>());
    decoders.push_back(std::make_unique<TPCXRLE>());
    decoders.push_back(MakeSgi(1));
    decoders.push_back(MakeSgi(2));
    decoders.push_back(std::make_unique<TCUTRLE>());
    decoders.push_back(MakeGif(8));
    decoders.push_back(std::make_unique<TRLADecoder>());
    return decoders;
}

TEST(DecoderTest, EncodeDoesNothing)
{
    const Bytes source(64, 0x33);
    for (const auto& decoder : AllDecoders()) {
        Bytes dest(64, 0x77);
        decoder->Encode(source.data(), dest.data(), 64);
        EXPECT_EQ(dest, Bytes(64, 0x77));
    }
}

TEST(DecoderTest, EmptyInputAndOutput)
{
    for (const auto& decoder : AllDecoders()) {
        EXPECT_EQ(DecodeWith(*decoder, {}, 0, 8, Bytes(8, 1)).out, Bytes(8, 1));
        EXPECT_EQ(DecodeWith(*decoder, { 0x81, 0x00, 0x05 }, 3, 0).out, Bytes {});
        // No buffer at all.
        const uint8_t* source = nullptr;
        decoder->Decode(source, nullptr, nullptr, 0, 0);
        EXPECT_EQ(source, nullptr);
    }
}

} // namespace
