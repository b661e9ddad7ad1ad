#pragma once

#include "engine/HTTP.h"
#include "platform/Thread.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace engine {

// What the workers of one download share: the worker, if any, that fetches the whole file in
// one stream because the server answers ranges with the whole file (0: none).
struct OneStream {
    std::atomic<int32_t> worker{0};
};

// A worker that fetches one byte segment of the file, attempt after attempt, each with a
// fresh client into a fresh piece file, until the whole segment has arrived. Its reports are
// handed to the main thread, and it waits there until the owner's handler has returned.
class HttpThread : public platform::TThread {
  public:
    HttpThread(int64_t SegmentStart, int64_t SegmentEnd, int64_t MaximumRequestLength,
               std::string FileName, std::string Protocol, std::string Host, std::string Path,
               std::string Proxy, int32_t ProxyPort, int32_t WorkerIndex, ReportEvent OnReport,
               TTerminateEvent OnTerminate, bool CreateSuspended);
    // Stop, then the object goes.
    ~HttpThread() override;
    // Tells the thread to end wherever it is (its attempt is aborted; a piece in the making
    // is removed; no request is started any more) and returns at once. Main thread.
    void RequestStop();
    // RequestStop, then waits for the thread to end. Main thread. PieceFiles then holds the
    // kept pieces.
    void Stop();

    // Main thread: aborts the attempt in progress; the worker suspends itself at its end.
    void PauseTransfer();
    // Main thread: starts a thread created suspended, or resumes a paused one.
    void ResumeTransfer();
    // Worker thread: hands a report to the main thread and waits until it was delivered. The
    // owner's handler gets the worker as the report's sender.
    void Report(TObject *Sender, int64_t Bytes, const std::string &Text, int32_t Level);

    // The received pieces in segment order; read by the owner once the thread has ended.
    std::vector<std::string> PieceFiles;
    std::atomic<bool> Finished{false};

    int64_t SegmentStart, SegmentEnd, MaximumRequestLength;
    const std::string Protocol, Host, Path, FileName, Proxy;
    const int32_t ProxyPort, WorkerIndex;
    // The wait that begins every attempt.
    std::chrono::milliseconds AttemptWait{5000};
    // The time-out of each attempt's client (connect phases and data inactivity).
    int32_t ClientTimeOut = 60000;
    // The size of the whole file (-1: not known); ranges of a file of another size are
    // refused (eHTTP::CompleteLength). Set before the thread starts.
    int64_t FileSize = -1;
    // Shared by the workers of a download (set before they start): when the server sends the
    // whole file for a range, the first worker to get such an answer takes it as the whole
    // file (its segment becomes all of it, its earlier pieces go) and the others end without
    // a word. OnOneStream then runs on the main thread, the worker waiting, before any byte of
    // that stream is reported: the owner stops the others and starts the progress afresh.
    std::shared_ptr<OneStream> Stream;
    std::function<void(HttpThread *)> OnOneStream;
    // Why the last failed attempt failed ("Connection refused", "HTTP 503 Service
    // Unavailable"); set before its error report, so the owner's handler can read it.
    std::string LastFailure;

  protected:
    void Execute() override;

  private:
    void DeliverReport();
    // Waits AttemptWait, or less when a pause arrives.
    void WaitBeforeAttempt();
    // One attempt with the given client; true when its piece was received and kept.
    bool Attempt(eHTTP &client);
    void SetCurrentClient(eHTTP *client);
    // The client's OnWholeFile: whether this worker takes the whole file.
    bool TakeWholeFile();

    ReportEvent OnReport;
    int64_t PendingBytes = 0;
    std::string PendingText;
    int32_t PendingLevel = 0;

    std::atomic<bool> PauseRequested{false};
    bool Superseded = false; // another worker fetches the whole file
    std::mutex ClientMutex; // guards CurrentClient against the main thread's pause
    eHTTP *CurrentClient = nullptr;
    std::mutex WaitMutex;
    std::condition_variable PauseArrived;
};

} // namespace engine
