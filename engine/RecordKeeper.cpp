#include "engine/RecordKeeper.h"

#include "engine/FileSink.h"
#include "engine/TransferPlan.h"
#include "platform/Files.h"

#include <chrono>

namespace engine {
namespace {

using namespace std::chrono_literals;

// A record at most this often (each flushes the file: a disk written as fast as the network
// allows is not slowed down much), at least this often while bytes come, and sooner once this
// many bytes more are on disk.
constexpr auto kLeastInterval = 1s;
constexpr auto kLongestInterval = 3s;
constexpr int64_t kBytesBetween = 16LL * 1024 * 1024;
constexpr auto kLook = 250ms;

} // namespace

RecordKeeper::RecordKeeper(FileSink &sink, const TransferPlan &plan, DownloadRecord record,
                           std::string path)
    : sink_(sink), plan_(plan), record_(std::move(record)), path_(std::move(path)) {}

RecordKeeper::~RecordKeeper() {
    EndThread();
}

bool RecordKeeper::Start() {
    if (!Write())
        return false;
    thread_ = std::thread([this] { Run(); });
    return true;
}

void RecordKeeper::Run() {
    auto last = std::chrono::steady_clock::now();
    int64_t lastBytes = plan_.Received();
    std::unique_lock lock(mutex_);
    while (!ending_) {
        wake_.wait_for(lock, kLook, [this] { return ending_; });
        if (ending_)
            break;
        const auto now = std::chrono::steady_clock::now();
        const int64_t bytes = plan_.Received();
        // Once every byte is in, the end of the download takes over.
        if (bytes == lastBytes || plan_.Complete() || now - last < kLeastInterval ||
            (now - last < kLongestInterval && bytes - lastBytes < kBytesBetween))
            continue;
        lock.unlock();
        Write();
        lock.lock();
        last = now;
        lastBytes = bytes;
    }
}

bool RecordKeeper::Write() {
    // The ranges first: whatever is flushed after this holds at least them.
    record_.Done = plan_.DoneRanges();
    const std::string bytes = EncodeRecord(record_);
    if (bytes.empty() || sink_.Sync() != 0 || platform::ReplaceFileContents(path_, bytes) != 0)
        return false;
    std::lock_guard lock(mutex_);
    ++written_;
    return true;
}

void RecordKeeper::EndThread() {
    {
        std::lock_guard lock(mutex_);
        ending_ = true;
    }
    wake_.notify_all();
    if (thread_.joinable())
        thread_.join();
}

void RecordKeeper::Finish() {
    EndThread();
    Write();
}

void RecordKeeper::Remove() {
    EndThread();
    platform::RemoveFile(path_);
}

int RecordKeeper::Written() const {
    std::lock_guard lock(mutex_);
    return written_;
}

} // namespace engine
