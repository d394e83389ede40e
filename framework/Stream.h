#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

enum class TSeekOrigin { Beginning, Current, End };

// A byte stream with a position. Read and Write are unchecked (they return what they moved);
// ReadBuffer and WriteBuffer are checked and raise EReadError / EWriteError on a shortfall.
class TStream {
public:
    virtual ~TStream() = default;

    virtual int64_t Read(void* buffer, int64_t count) = 0;
    virtual int64_t Write(const void* buffer, int64_t count) = 0;
    virtual int64_t Seek(int64_t offset, TSeekOrigin origin) = 0;

    virtual int64_t Size();
    virtual void SetSize(int64_t newSize);
    int64_t Position() { return Seek(0, TSeekOrigin::Current); }
    void SetPosition(int64_t position) { Seek(position, TSeekOrigin::Beginning); }
    // Bytes between the position and the end; never negative.
    int64_t Remaining();

    void ReadBuffer(void* buffer, int64_t count);
    void WriteBuffer(const void* buffer, int64_t count);
    // Copies count bytes from source (the whole of source from its start when count is 0).
    int64_t CopyFrom(TStream& source, int64_t count);
    // Moves up to count bytes from source's position to this stream's, fewer where source ends, and
    // says how many; both positions move on by that many. A failed write raises EWriteError.
    virtual int64_t Transfer(TStream& source, int64_t count);

    // Checked typed reads.
    uint8_t ReadByte();
    uint16_t ReadWordLE();
    uint16_t ReadWordBE();
    uint32_t ReadLongLE();
    uint32_t ReadLongBE();
    // Reads up to `count` bytes (fewer at the end of the stream) into a new buffer.
    std::vector<uint8_t> ReadBytes(int64_t count);
};

// A file on disk. Reading mode shares the file with other readers and writers; Create truncates.
class TFileStream final : public TStream {
public:
    enum class Mode { OpenRead, OpenReadWrite, Create };

    TFileStream(const std::string& fileName, Mode mode);
    ~TFileStream() override;
    TFileStream(const TFileStream&) = delete;
    TFileStream& operator=(const TFileStream&) = delete;

    int64_t Read(void* buffer, int64_t count) override;
    int64_t Write(const void* buffer, int64_t count) override;
    int64_t Seek(int64_t offset, TSeekOrigin origin) override;
    int64_t Size() override;
    void SetSize(int64_t newSize) override;
    // From another file the system copies the bytes itself, without passing them through this process.
    int64_t Transfer(TStream& source, int64_t count) override;

    const std::string& FileName() const { return fileName_; }
    // Pushes written bytes to the operating system and to the disk; false when that failed.
    bool Flush();

private:
    void DropReadBuffer();

    std::string fileName_;
    int fd_ = -1;
    // Small reads (a header field, a GIF sub-block length) are served from this buffer.
    std::vector<uint8_t> readBuffer_;
    size_t bufferStart_ = 0;
    size_t bufferEnd_ = 0;
    int64_t filePosition_ = 0;  // where the descriptor stands
};

// A growable stream in memory.
class TMemoryStream : public TStream {
public:
    TMemoryStream() = default;
    explicit TMemoryStream(std::vector<uint8_t> bytes) : data_(std::move(bytes)) {}
    TMemoryStream(const void* bytes, size_t count);

    int64_t Read(void* buffer, int64_t count) override;
    int64_t Write(const void* buffer, int64_t count) override;
    int64_t Seek(int64_t offset, TSeekOrigin origin) override;
    int64_t Size() override { return static_cast<int64_t>(data_.size()); }
    void SetSize(int64_t newSize) override;

    const std::vector<uint8_t>& Bytes() const { return data_; }
    std::vector<uint8_t> TakeBytes() { position_ = 0; return std::move(data_); }
    void LoadFromStream(TStream& source);
    void LoadFromFile(const std::string& fileName);
    void SaveToStream(TStream& dest) const;

private:
    std::vector<uint8_t> data_;
    int64_t position_ = 0;
};
