#include "framework/Stream.h"

#include "framework/BackgroundWriter.h"
#include "framework/ByteReader.h"
#include "framework/Exception.h"

#include <array>
#include <filesystem>
#include <gtest/gtest.h>
#include <numeric>
#include <random>

namespace fs = std::filesystem;

namespace {

fs::path TempPath(const std::string& name)
{
    return fs::temp_directory_path() / ("kavrel-stream-" + std::to_string(::getpid()) + "-" + name);
}

TEST(MemoryStreamTest, ReadWriteSeekAndCheckedReads)
{
    TMemoryStream s;
    const uint8_t bytes[] = {1, 2, 3, 4, 5};
    s.WriteBuffer(bytes, 5);
    EXPECT_EQ(s.Size(), 5);
    EXPECT_EQ(s.Position(), 5);

    s.SetPosition(1);
    uint8_t out[8] = {};
    EXPECT_EQ(s.Read(out, 8), 4);  // unchecked: returns what it could
    EXPECT_EQ(out[0], 2);
    EXPECT_EQ(out[3], 5);

    s.SetPosition(3);
    try {
        s.ReadBuffer(out, 3);
        FAIL() << "a short checked read must raise";
    } catch (const EReadError& e) {
        EXPECT_EQ(e.Message(), "Stream read error");
    }

    // Writing past the end grows the stream and fills the gap with zeros.
    s.Seek(2, TSeekOrigin::End);
    s.WriteBuffer(bytes, 1);
    EXPECT_EQ(s.Size(), 8);
    EXPECT_EQ(s.Bytes()[6], 0);
    EXPECT_EQ(s.Bytes()[7], 1);
}

TEST(MemoryStreamTest, TypedReadsAndByteCounts)
{
    const uint8_t bytes[] = {0x12, 0x34, 0x56, 0x78, 0x9A};
    TMemoryStream s(bytes, sizeof bytes);
    EXPECT_EQ(s.ReadWordLE(), 0x3412);
    s.SetPosition(0);
    EXPECT_EQ(s.ReadWordBE(), 0x1234);
    s.SetPosition(0);
    EXPECT_EQ(s.ReadLongLE(), 0x78563412u);
    s.SetPosition(0);
    EXPECT_EQ(s.ReadLongBE(), 0x12345678u);
    EXPECT_EQ(s.ReadByte(), 0x9A);
    EXPECT_THROW(s.ReadByte(), EReadError);

    // A huge count from a file never allocates more than the stream holds.
    s.SetPosition(3);
    EXPECT_EQ(s.ReadBytes(int64_t{1} << 40).size(), 2u);
    EXPECT_EQ(s.Remaining(), 0);
}

TEST(FileStreamTest, MissingFileAndUncreatableFileCarryTheirNames)
{
    try {
        TFileStream s("/nonexistent/kavrel/x.bmp", TFileStream::Mode::OpenRead);
        FAIL();
    } catch (const EFOpenError& e) {
        EXPECT_EQ(e.Message(), "Cannot open file /nonexistent/kavrel/x.bmp");
    }
    try {
        TFileStream s("/nonexistent/kavrel/y.bmp", TFileStream::Mode::Create);
        FAIL();
    } catch (const EFCreateError& e) {
        EXPECT_EQ(e.Message(), "Cannot create file /nonexistent/kavrel/y.bmp");
    }
    EXPECT_THROW(TFileStream(fs::temp_directory_path().string(), TFileStream::Mode::OpenRead), EFOpenError);
}

// The file stream buffers reads; any mix of reads and seeks must see the file's true bytes.
TEST(FileStreamTest, BufferedReadsAgreeWithTheFileUnderRandomSeeks)
{
    const fs::path path = TempPath("random.bin");
    std::vector<uint8_t> data(300 * 1024);
    std::iota(data.begin(), data.end(), 0);
    for (size_t i = 0; i < data.size(); i += 7)
        data[i] = static_cast<uint8_t>(i * 31 >> 3);
    {
        TFileStream out(path.string(), TFileStream::Mode::Create);
        out.WriteBuffer(data.data(), static_cast<int64_t>(data.size()));
    }
    TFileStream in(path.string(), TFileStream::Mode::OpenRead);
    ASSERT_EQ(in.Size(), static_cast<int64_t>(data.size()));
    std::mt19937 random(42);
    std::vector<uint8_t> chunk(200 * 1024);
    for (int i = 0; i < 500; ++i) {
        const int64_t position = random() % (data.size() + 10);
        const int64_t count = (i % 10 == 0) ? random() % chunk.size() : random() % 300;
        if (i % 3 == 0)
            in.SetPosition(position);
        else
            in.Seek(static_cast<int64_t>(random() % 200) - 100, TSeekOrigin::Current);
        const int64_t at = in.Position();
        const int64_t got = in.Read(chunk.data(), count);
        const int64_t expected = std::clamp<int64_t>(static_cast<int64_t>(data.size()) - at, 0, count);
        ASSERT_EQ(got, expected) << "at " << at;
        ASSERT_TRUE(std::equal(chunk.begin(), chunk.begin() + got, data.begin() + at)) << "at " << at;
        ASSERT_EQ(in.Position(), at + got);
    }
    fs::remove(path);
}

TEST(FileStreamTest, ReadWriteModeSeesItsOwnWrites)
{
    const fs::path path = TempPath("rw.bin");
    {
        TFileStream out(path.string(), TFileStream::Mode::Create);
        const char text[] = "abcdefgh";
        out.WriteBuffer(text, 8);
    }
    TFileStream s(path.string(), TFileStream::Mode::OpenReadWrite);
    char two[2];
    s.ReadBuffer(two, 2);
    s.WriteBuffer("XY", 2);  // after a buffered read, the write lands at the logical position
    s.SetPosition(0);
    char all[8];
    s.ReadBuffer(all, 8);
    EXPECT_EQ(std::string(all, 8), "abXYefgh");
    fs::remove(path);
}

// Bytes move between any two streams from where each stands, the system copying them between files;
// a source that ends early gives what it has, and both positions move on by what was moved.
TEST(FileStreamTest, TransfersMoveBytesFromEachPosition)
{
    const fs::path from = TempPath("from.bin"), to = TempPath("to.bin");
    std::vector<uint8_t> data(200 * 1024);
    for (size_t i = 0; i < data.size(); ++i)
        data[i] = static_cast<uint8_t>(i * 7 + (i >> 9));
    TFileStream(from.string(), TFileStream::Mode::Create).WriteBuffer(data.data(), static_cast<int64_t>(data.size()));
    TMemoryStream memorySource(data.data(), data.size());
    for (const bool fileSource : { true, false }) {
        SCOPED_TRACE(fileSource ? "from a file" : "from memory");
        TFileStream file(from.string(), TFileStream::Mode::OpenRead);
        TStream& source = fileSource ? static_cast<TStream&>(file) : memorySource;
        source.SetPosition(0);
        TFileStream out(to.string(), TFileStream::Mode::Create);
        out.WriteBuffer("head", 4);
        source.ReadBuffer(std::array<uint8_t, 10> {}.data(), 10); // a buffered read first
        EXPECT_EQ(out.Transfer(source, 150000), 150000);
        EXPECT_EQ(source.Position(), 150010);
        EXPECT_EQ(source.ReadByte(), data[150010]);
        EXPECT_EQ(out.Transfer(source, 100000), static_cast<int64_t>(data.size()) - 150011);
        EXPECT_EQ(source.Position(), source.Size());
        out.WriteBuffer("tail", 4);
        std::vector<uint8_t> expected = { 'h', 'e', 'a', 'd' };
        expected.insert(expected.end(), data.begin() + 10, data.begin() + 150010);
        expected.insert(expected.end(), data.begin() + 150011, data.end());
        expected.insert(expected.end(), { 't', 'a', 'i', 'l' });
        out.SetPosition(0);
        EXPECT_TRUE(out.ReadBytes(out.Size()) == expected);
    }
    TMemoryStream memory;
    TFileStream file(from.string(), TFileStream::Mode::OpenRead);
    EXPECT_THROW(memory.CopyFrom(file, static_cast<int64_t>(data.size()) + 1), EReadError);
    fs::remove(from);
    fs::remove(to);
}

TEST(ByteReaderTest, BoundedReadsNeverRunPastTheEnd)
{
    const uint8_t bytes[] = {0xFF, 0xFE, 0x01, 0x02, 0x03};
    TByteReader r(bytes);
    EXPECT_EQ(r.S16LE(), -257);
    EXPECT_EQ(r.U16BE(), 0x0102);
    EXPECT_THROW(r.U16LE(), EReadError);
    EXPECT_EQ(r.Position(), 4u);  // a failed read consumes nothing
    EXPECT_EQ(r.U8(), 3);
    EXPECT_THROW(r.Skip(1), EReadError);
    EXPECT_THROW(r.Seek(6), EReadError);
    r.Seek(1);
    EXPECT_EQ(r.BytesUpTo(100).size(), 4u);
}

TEST(StrToIntTest, AcceptsDecimalNumbersAndReportsTheText)
{
    EXPECT_EQ(StrToInt("42"), 42);
    EXPECT_EQ(StrToInt("-7"), -7);
    EXPECT_EQ(StrToInt("+5"), 5);
    for (const char* bad : {"", "P", "4x", " 4", "+-3", "99999999999"}) {
        try {
            StrToInt(bad);
            FAIL() << bad;
        } catch (const EConvertError& e) {
            EXPECT_EQ(e.Message(), std::string("'") + bad + "' is not a valid integer value");
        }
    }
}

}  // namespace

#include "framework/AtomicFile.h"

#include <sys/stat.h>

namespace {

TEST(AtomicFileTest, AFailedWriteLeavesTheOldFileAndNoTemporaryFile)
{
    const fs::path dir = TempPath("atomic");
    fs::create_directories(dir);
    const std::string target = (dir / "picture.bmp").string();
    WriteFileAtomically(target, [](TStream& s) { s.WriteBuffer("old", 3); });
    ::chmod(target.c_str(), 0640);

    EXPECT_THROW(WriteFileAtomically(target,
                                     [](TStream& s) {
                                         s.WriteBuffer("partial", 7);
                                         throw EWriteError();
                                     }),
                 EWriteError);
    EXPECT_EQ(fs::file_size(target), 3u);

    WriteFileAtomically(target, [](TStream& s) { s.WriteBuffer("new!", 4); });
    EXPECT_EQ(fs::file_size(target), 4u);
    EXPECT_EQ(fs::status(target).permissions() & fs::perms::all,
              fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
    EXPECT_EQ(std::distance(fs::directory_iterator(dir), fs::directory_iterator()), 1);

    try {
        WriteFileAtomically((dir / "missing" / "x.bmp").string(), [](TStream&) {});
        FAIL();
    } catch (const EFCreateError& e) {
        EXPECT_EQ(e.Message(), "Cannot create file " + (dir / "missing" / "x.bmp").string());
    }
    fs::remove_all(dir);
}

// What the thread writes arrives whole and in order, however the bytes were given (small writes,
// room asked for and partly used, writes larger than a block); a stream that fails makes a later
// call or Finish raise, and a writer dropped midway stops without writing on.
TEST(BackgroundWriterTest, BytesArriveInOrderAndFailuresComeBack)
{
    class LimitedStream : public TMemoryStream {
    public:
        explicit LimitedStream(int64_t limit) : limit_(limit) {}
        int64_t Write(const void* buffer, int64_t count) override
        {
            if (Size() + count > limit_)
                return 0;
            return TMemoryStream::Write(buffer, count);
        }

    private:
        int64_t limit_;
    };
    std::mt19937 random(7);
    for (const size_t total : {size_t{10}, size_t{5} << 20, size_t{3} << 20}) {
        SCOPED_TRACE(total);
        std::vector<uint8_t> expected;
        LimitedStream stream(INT64_MAX);
        {
            // The last one on the caller's thread.
            TBackgroundWriter writer(stream, total != size_t{3} << 20);
            while (expected.size() < total) {
                const size_t n = std::min<size_t>(total - expected.size(), random() % 3 == 0 ? random() % 3000000 : random() % 5000);
                std::vector<uint8_t> bytes(n);
                for (uint8_t& b : bytes)
                    b = static_cast<uint8_t>(random());
                const int way = static_cast<int>(random() % 5);
                if (way == 0) {
                    // From a stream that may end before the bytes asked for.
                    TMemoryStream source(bytes.data(), bytes.size());
                    ASSERT_EQ(writer.Transfer(source, static_cast<int64_t>(n + random() % 2)), static_cast<int64_t>(n));
                } else if (way < 3) {
                    writer.Write(bytes.data(), n);
                } else {
                    uint8_t* room = writer.Space(n + 100);
                    std::copy(bytes.begin(), bytes.end(), room);
                    writer.Commit(n);
                }
                expected.insert(expected.end(), bytes.begin(), bytes.end());
            }
            writer.Finish();
        }
        EXPECT_TRUE(stream.Bytes() == expected);
    }

    for (const int64_t limit : {int64_t{0}, int64_t{1} << 20, int64_t{3} << 20, int64_t{2} << 20}) {
        LimitedStream stream(limit);
        TBackgroundWriter writer(stream, limit != int64_t{2} << 20);
        const std::vector<uint8_t> block(size_t{1} << 20, 1);
        EXPECT_THROW(
            {
                for (int i = 0; i < 8; ++i)
                    writer.Write(block.data(), block.size());
                writer.Finish();
            },
            EWriteError);
        EXPECT_LE(stream.Size(), limit);
    }
    LimitedStream stream(INT64_MAX);
    {
        TBackgroundWriter dropped(stream);
        const std::vector<uint8_t> block(size_t{3} << 20, 1);
        dropped.Write(block.data(), block.size());
    }
    EXPECT_LE(stream.Size(), int64_t{3} << 20);
}

}  // namespace
