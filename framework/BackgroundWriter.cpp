#include "framework/BackgroundWriter.h"

#include "framework/Stream.h"

#include <algorithm>
#include <cstring>
#include <sched.h>
#include <system_error>

namespace {

constexpr size_t kBlockBytes = size_t { 1 } << 20;
// One block being filled, one being written, one waiting: enough to keep both sides busy.
constexpr int kMaxBlocks = 3;

bool SecondProcessor()
{
    cpu_set_t set;
    CPU_ZERO(&set);
    return ::sched_getaffinity(0, sizeof set, &set) != 0 || CPU_COUNT(&set) > 1;
}

} // namespace

TBackgroundWriter::TBackgroundWriter(TStream& stream, bool ownThread)
    : stream_(stream)
    , onThisThread_(!ownThread || !SecondProcessor())
{ }

TBackgroundWriter::~TBackgroundWriter()
{
    if (!thread_.joinable())
        return;
    {
        std::lock_guard lock(mutex_);
        stop_ = true;
        pending_.clear();
    }
    changed_.notify_all();
    thread_.join();
}

uint8_t* TBackgroundWriter::Space(size_t bytes)
{
    if (current_.size() - used_ < bytes) {
        if (used_ > 0)
            HandOver();
        if (current_.size() < bytes)
            current_.resize(std::max(bytes, kBlockBytes));
    }
    return current_.data() + used_;
}

void TBackgroundWriter::Write(const void* data, size_t bytes)
{
    if (onThisThread_ && bytes >= kBlockBytes / 2) {
        // Written here anyway: from where they are, after what came before.
        if (used_ > 0)
            HandOver();
        stream_.WriteBuffer(data, static_cast<int64_t>(bytes));
        return;
    }
    const auto* from = static_cast<const uint8_t*>(data);
    while (bytes > 0) {
        // Large writes go through in whole blocks, not in one block of their size.
        const size_t part = std::min(bytes, kBlockBytes);
        std::memcpy(Space(part), from, part);
        Commit(part);
        from += part;
        bytes -= part;
    }
}

void TBackgroundWriter::HandOver()
{
    std::unique_lock lock(mutex_);
    if (!thread_.joinable() && !onThisThread_) {
        try {
            thread_ = std::thread([this] { Run(); });
        } catch (const std::system_error&) {
            onThisThread_ = true; // no thread to be had: written here, as they come
        }
    }
    if (onThisThread_) {
        lock.unlock();
        stream_.WriteBuffer(current_.data(), static_cast<int64_t>(used_));
        used_ = 0;
        return;
    }
    pending_.emplace_back(std::move(current_), used_);
    used_ = 0;
    changed_.notify_all();
    // The next block: a spare one, a new one while there are few, or the next one written.
    changed_.wait(lock, [this] { return failure_ || !spare_.empty() || blocks_ < kMaxBlocks; });
    if (failure_)
        std::rethrow_exception(failure_);
    if (!spare_.empty()) {
        current_ = std::move(spare_.back());
        spare_.pop_back();
    } else {
        current_ = {};
        ++blocks_;
    }
}

int64_t TBackgroundWriter::Transfer(TStream& source, int64_t bytes)
{
    Drain();
    return stream_.Transfer(source, bytes);
}

void TBackgroundWriter::Drain()
{
    if (!thread_.joinable()) {
        // Nothing went to a thread yet: what there is (a header) is written here, without starting one.
        if (used_ > 0)
            stream_.WriteBuffer(current_.data(), static_cast<int64_t>(used_));
        used_ = 0;
        return;
    }
    if (used_ > 0)
        HandOver();
    std::unique_lock lock(mutex_);
    // Every block but the one being filled is back among the spare ones.
    changed_.wait(lock, [this] { return failure_ || spare_.size() + 1 == static_cast<size_t>(blocks_); });
    if (failure_)
        std::rethrow_exception(failure_);
}

void TBackgroundWriter::Run()
{
    std::unique_lock lock(mutex_);
    for (;;) {
        changed_.wait(lock, [this] { return stop_ || !pending_.empty(); });
        if (pending_.empty())
            return;
        auto [block, length] = std::move(pending_.front());
        pending_.pop_front();
        // After a failure nothing more is written: the file has a gap already.
        if (!failure_) {
            lock.unlock();
            std::exception_ptr failure;
            try {
                stream_.WriteBuffer(block.data(), static_cast<int64_t>(length));
            } catch (...) {
                failure = std::current_exception();
            }
            lock.lock();
            failure_ = failure;
        }
        spare_.push_back(std::move(block));
        changed_.notify_all();
    }
}

void TBackgroundWriter::Finish()
{
    if (thread_.joinable()) {
        {
            std::unique_lock lock(mutex_);
            if (used_ > 0 && !failure_)
                pending_.emplace_back(std::move(current_), used_);
            used_ = 0;
            stop_ = true;
            changed_.notify_all();
        }
        thread_.join();
        if (failure_)
            std::rethrow_exception(failure_);
        return;
    }
    // No thread: everything else is written already.
    if (used_ > 0)
        stream_.WriteBuffer(current_.data(), static_cast<int64_t>(used_));
    used_ = 0;
}
