#include "framework/Stream.h"

#include "framework/Exception.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <limits>
#include <sys/stat.h>
#include <unistd.h>

int64_t TStream::Size()
{
    const int64_t position = Seek(0, TSeekOrigin::Current);
    const int64_t size = Seek(0, TSeekOrigin::End);
    Seek(position, TSeekOrigin::Beginning);
    return size;
}

void TStream::SetSize(int64_t) {}

int64_t TStream::Remaining()
{
    return std::max<int64_t>(0, Size() - Position());
}

void TStream::ReadBuffer(void* buffer, int64_t count)
{
    if (count > 0 && Read(buffer, count) != count)
        throw EReadError();
}

void TStream::WriteBuffer(const void* buffer, int64_t count)
{
    if (count > 0 && Write(buffer, count) != count)
        throw EWriteError();
}

int64_t TStream::CopyFrom(TStream& source, int64_t count)
{
    if (count == 0) {
        source.SetPosition(0);
        count = source.Size();
    }
    if (Transfer(source, count) != count)
        throw EReadError();
    return count;
}

int64_t TStream::Transfer(TStream& source, int64_t count)
{
    std::vector<uint8_t> chunk(static_cast<size_t>(std::clamp<int64_t>(count, 0, 1 << 16)));
    int64_t copied = 0;
    while (copied < count) {
        const int64_t wanted = std::min<int64_t>(count - copied, static_cast<int64_t>(chunk.size()));
        const int64_t got = source.Read(chunk.data(), wanted);
        if (got <= 0)
            break;
        WriteBuffer(chunk.data(), got);
        copied += got;
        if (got < wanted)
            break;
    }
    return copied;
}

uint8_t TStream::ReadByte()
{
    uint8_t b;
    ReadBuffer(&b, 1);
    return b;
}

uint16_t TStream::ReadWordLE()
{
    uint8_t b[2];
    ReadBuffer(b, 2);
    return static_cast<uint16_t>(b[0] | b[1] << 8);
}

uint16_t TStream::ReadWordBE()
{
    uint8_t b[2];
    ReadBuffer(b, 2);
    return static_cast<uint16_t>(b[0] << 8 | b[1]);
}

uint32_t TStream::ReadLongLE()
{
    uint8_t b[4];
    ReadBuffer(b, 4);
    return uint32_t(b[0]) | uint32_t(b[1]) << 8 | uint32_t(b[2]) << 16 | uint32_t(b[3]) << 24;
}

uint32_t TStream::ReadLongBE()
{
    uint8_t b[4];
    ReadBuffer(b, 4);
    return uint32_t(b[0]) << 24 | uint32_t(b[1]) << 16 | uint32_t(b[2]) << 8 | uint32_t(b[3]);
}

std::vector<uint8_t> TStream::ReadBytes(int64_t count)
{
    // Never trust a count from a file: allocate no more than the stream can still deliver.
    const int64_t n = std::clamp<int64_t>(count, 0, Remaining());
    std::vector<uint8_t> bytes(static_cast<size_t>(n));
    bytes.resize(static_cast<size_t>(Read(bytes.data(), n)));
    return bytes;
}

// ---------------------------------------------------------------------------------------------

namespace {
constexpr size_t kReadBufferSize = 64 * 1024;
// From this size on, a read is worth a system call of its own: copying through the buffer would cost
// more.
constexpr int64_t kDirectReadSize = 8 * 1024;
}

TFileStream::TFileStream(const std::string& fileName, Mode mode) : fileName_(fileName)
{
    int flags = O_CLOEXEC;
    switch (mode) {
    case Mode::OpenRead: flags |= O_RDONLY; break;
    case Mode::OpenReadWrite: flags |= O_RDWR; break;
    case Mode::Create: flags |= O_RDWR | O_CREAT | O_TRUNC; break;
    }
    do {
        fd_ = ::open(fileName.c_str(), flags, 0666);
    } while (fd_ < 0 && errno == EINTR);
    if (fd_ < 0) {
        if (mode == Mode::Create)
            throw EFCreateError(fileName);
        throw EFOpenError(fileName);
    }
    struct stat info {};
    if (::fstat(fd_, &info) == 0 && S_ISDIR(info.st_mode)) {
        ::close(fd_);
        fd_ = -1;
        throw EFOpenError(fileName);
    }
}

TFileStream::~TFileStream()
{
    if (fd_ >= 0)
        ::close(fd_);
}

void TFileStream::DropReadBuffer()
{
    if (bufferStart_ != bufferEnd_) {
        // Put the descriptor back where the caller believes the stream stands.
        filePosition_ = ::lseek(fd_, filePosition_ - static_cast<int64_t>(bufferEnd_ - bufferStart_), SEEK_SET);
    }
    bufferStart_ = bufferEnd_ = 0;
}

int64_t TFileStream::Read(void* buffer, int64_t count)
{
    if (count <= 0)
        return 0;
    auto* out = static_cast<uint8_t*>(buffer);
    int64_t done = 0;
    while (done < count) {
        if (bufferStart_ < bufferEnd_) {
            const size_t n = static_cast<size_t>(std::min<int64_t>(count - done, bufferEnd_ - bufferStart_));
            std::memcpy(out + done, readBuffer_.data() + bufferStart_, n);
            bufferStart_ += n;
            done += static_cast<int64_t>(n);
            continue;
        }
        const int64_t wanted = count - done;
        if (count >= kDirectReadSize) {
            // Large reads (a picture's row, a strip) go straight into the caller's memory rather
            // than through the buffer; the buffer no longer mirrors the file.
            bufferStart_ = bufferEnd_ = 0;
            const ssize_t got = ::read(fd_, out + done, static_cast<size_t>(std::min<int64_t>(wanted, 1 << 30)));
            if (got < 0 && errno == EINTR)
                continue;
            if (got <= 0)
                break;
            filePosition_ += got;
            done += got;
            continue;
        }
        readBuffer_.resize(kReadBufferSize);
        const ssize_t got = ::read(fd_, readBuffer_.data(), kReadBufferSize);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            break;
        filePosition_ += got;
        bufferStart_ = 0;
        bufferEnd_ = static_cast<size_t>(got);
    }
    return done;
}

int64_t TFileStream::Write(const void* buffer, int64_t count)
{
    if (count <= 0)
        return 0;
    DropReadBuffer();
    const auto* in = static_cast<const uint8_t*>(buffer);
    int64_t done = 0;
    while (done < count) {
        const ssize_t put = ::write(fd_, in + done, static_cast<size_t>(std::min<int64_t>(count - done, 1 << 30)));
        if (put < 0 && errno == EINTR)
            continue;
        if (put <= 0)
            break;
        done += put;
        filePosition_ += put;
    }
    return done;
}

int64_t TFileStream::Seek(int64_t offset, TSeekOrigin origin)
{
    const int64_t logical = filePosition_ - static_cast<int64_t>(bufferEnd_ - bufferStart_);
    if (origin == TSeekOrigin::Current && offset == 0)
        return logical;
    int64_t target = 0;
    switch (origin) {
    case TSeekOrigin::Beginning: target = offset; break;
    case TSeekOrigin::Current: target = logical + offset; break;
    case TSeekOrigin::End: target = Size() + offset; break;
    }
    target = std::max<int64_t>(target, 0);
    // Moving inside the buffered bytes keeps them.
    const int64_t bufferBase = filePosition_ - static_cast<int64_t>(bufferEnd_);
    if (bufferEnd_ > 0 && target >= bufferBase && target <= filePosition_) {
        bufferStart_ = static_cast<size_t>(target - bufferBase);
        return target;
    }
    bufferStart_ = bufferEnd_ = 0;
    const off_t result = ::lseek(fd_, target, SEEK_SET);
    filePosition_ = result < 0 ? filePosition_ : result;
    return filePosition_;
}

int64_t TFileStream::Size()
{
    struct stat info {};
    if (::fstat(fd_, &info) != 0)
        return 0;
    return info.st_size;
}

void TFileStream::SetSize(int64_t newSize)
{
    DropReadBuffer();
    if (::ftruncate(fd_, std::max<int64_t>(newSize, 0)) != 0)
        throw EWriteError();
}

int64_t TFileStream::Transfer(TStream& source, int64_t count)
{
    auto* file = dynamic_cast<TFileStream*>(&source);
    if (!file || file == this)
        return TStream::Transfer(source, count);
    DropReadBuffer();
    loff_t from = file->Position();
    file->DropReadBuffer();
    int64_t copied = 0;
    while (copied < count) {
        const ssize_t moved = ::copy_file_range(
            file->fd_, &from, fd_, nullptr, static_cast<size_t>(std::min<int64_t>(count - copied, 1 << 30)), 0);
        if (moved < 0 && errno == EINTR)
            continue;
        if (moved <= 0) {
            // The end of the source, or files the system will not copy between (other file systems
            // on old kernels, special files that claim to be empty): the rest goes the ordinary way,
            // which also tells a failed read from a failed write.
            file->SetPosition(from);
            return copied + TStream::Transfer(*file, count - copied);
        }
        copied += moved;
        filePosition_ += moved;
    }
    file->SetPosition(from);
    return copied;
}

bool TFileStream::Flush()
{
    return ::fsync(fd_) == 0;
}

// ---------------------------------------------------------------------------------------------

TMemoryStream::TMemoryStream(const void* bytes, size_t count)
    : data_(static_cast<const uint8_t*>(bytes), static_cast<const uint8_t*>(bytes) + count)
{
}

int64_t TMemoryStream::Read(void* buffer, int64_t count)
{
    const int64_t available = static_cast<int64_t>(data_.size()) - position_;
    const int64_t n = std::clamp<int64_t>(count, 0, std::max<int64_t>(available, 0));
    if (n > 0)
        std::memcpy(buffer, data_.data() + position_, static_cast<size_t>(n));
    position_ += n;
    return n;
}

int64_t TMemoryStream::Write(const void* buffer, int64_t count)
{
    if (count <= 0)
        return 0;
    const int64_t end = position_ + count;
    if (end > static_cast<int64_t>(data_.size()))
        data_.resize(static_cast<size_t>(end));
    std::memcpy(data_.data() + position_, buffer, static_cast<size_t>(count));
    position_ = end;
    return count;
}

int64_t TMemoryStream::Seek(int64_t offset, TSeekOrigin origin)
{
    int64_t target = 0;
    switch (origin) {
    case TSeekOrigin::Beginning: target = offset; break;
    case TSeekOrigin::Current: target = position_ + offset; break;
    case TSeekOrigin::End: target = static_cast<int64_t>(data_.size()) + offset; break;
    }
    position_ = std::max<int64_t>(target, 0);
    return position_;
}

void TMemoryStream::SetSize(int64_t newSize)
{
    data_.resize(static_cast<size_t>(std::max<int64_t>(newSize, 0)));
    position_ = std::min<int64_t>(position_, newSize);
}

void TMemoryStream::LoadFromStream(TStream& source)
{
    source.SetPosition(0);
    data_ = source.ReadBytes(source.Size());
    position_ = 0;
}

void TMemoryStream::LoadFromFile(const std::string& fileName)
{
    TFileStream file(fileName, TFileStream::Mode::OpenRead);
    LoadFromStream(file);
}

void TMemoryStream::SaveToStream(TStream& dest) const
{
    dest.WriteBuffer(data_.data(), static_cast<int64_t>(data_.size()));
}
