#pragma once

#include "engine/DownloadRecord.h"

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>

namespace engine {

class FileSink;
class TransferPlan;

// Keeps the record of a download beside its working file while the workers write, so that a
// later run can go on where this one stopped, however it stops (a crash and a power loss
// included). Each record names only bytes that are on the disk: the ranges the plan has are
// read first, the file is flushed, and only then does the record naming them replace the last
// one, in one step. Records are written from a thread of their own, at most once a second:
// every 3 s, or sooner once 16 MiB more have arrived.
class RecordKeeper {
  public:
    // `record` is the download's, its Done ranges left to the plan; `path` where it goes.
    RecordKeeper(FileSink &sink, const TransferPlan &plan, DownloadRecord record, std::string path);
    // Ends the thread; the record stays.
    ~RecordKeeper();
    RecordKeeper(const RecordKeeper &) = delete;
    RecordKeeper &operator=(const RecordKeeper &) = delete;

    // Writes the first record, then keeps it from the thread. False when it cannot be written
    // (the download then goes on without one).
    bool Start();
    // Ends the thread, and writes the record once more (the workers have ended: it names
    // every byte they wrote).
    void Finish();
    // Ends the thread without writing: the file is complete, and a last record would only
    // flush all of it to the disk first.
    void Halt() { EndThread(); }
    // Ends the thread and deletes the record: nothing is kept.
    void Remove();
    // Records written so far.
    int Written() const;

  private:
    void Run();
    void EndThread();
    bool Write();

    FileSink &sink_;
    const TransferPlan &plan_;
    DownloadRecord record_;
    const std::string path_;
    mutable std::mutex mutex_;
    std::condition_variable wake_;
    bool ending_ = false;
    int written_ = 0;
    std::thread thread_;
};

} // namespace engine
