#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <exception>
#include <mutex>
#include <thread>
#include <vector>

class TStream;

// Writes bytes to a stream on a thread of its own, so that a large file is written while the next
// part of it is still being made (decoding on one processor, the system's copying on another). Bytes
// gather in a few blocks of about a megabyte; a full block goes to the thread, and a writer that is
// ahead waits for a free block, so memory stays bounded. Output that fits one block is written by
// Finish on the caller's thread, without a thread.
//
// The stream is the thread's until Finish returns. A failure of the stream's WriteBuffer is raised by
// the next call here, and by Finish at the latest; the destructor drops what was not written.
class TBackgroundWriter {
public:
    // Without a second processor for this process (or with `ownThread` false) every block is written
    // on the caller's thread as it fills: a thread would only add its cost.
    explicit TBackgroundWriter(TStream& stream, bool ownThread = true);
    ~TBackgroundWriter();
    TBackgroundWriter(const TBackgroundWriter&) = delete;
    TBackgroundWriter& operator=(const TBackgroundWriter&) = delete;

    // Room for `bytes` bytes (any number) to be written next; Commit says how many of them were.
    uint8_t* Space(size_t bytes);
    void Commit(size_t bytes) { used_ += bytes; }
    void Write(const void* data, size_t bytes);
    // Up to `bytes` bytes from the source's position, after everything before them (TStream::Transfer,
    // on the caller's thread once the thread has written what it was given); says how many came.
    int64_t Transfer(TStream& source, int64_t bytes);
    // Writes everything and waits for it.
    void Finish();

private:
    void HandOver();
    // Waits until the thread has written every block it was given.
    void Drain();
    void Run();

    TStream& stream_;
    std::vector<uint8_t> current_;
    size_t used_ = 0;

    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<std::pair<std::vector<uint8_t>, size_t>> pending_; // blocks and their lengths
    std::vector<std::vector<uint8_t>> spare_;
    int blocks_ = 1; // made so far, the one being filled included
    bool stop_ = false;
    bool onThisThread_ = false; // no thread, or none could be started
    std::exception_ptr failure_;
    std::thread thread_;
};
