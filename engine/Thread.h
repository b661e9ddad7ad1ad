#pragma once

#include "engine/HTTP.h"
#include "platform/Thread.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <vector>

namespace engine {

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
    // Worker thread: hands a report to the main thread and waits until it was delivered.
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

  protected:
    void Execute() override;

  private:
    void DeliverReport();
    // Waits AttemptWait, or less when a pause arrives.
    void WaitBeforeAttempt();
    // One attempt with the given client; true when its piece was received and kept.
    bool Attempt(eHTTP &client);
    void SetCurrentClient(eHTTP *client);

    ReportEvent OnReport;
    int64_t PendingBytes = 0;
    std::string PendingText;
    int32_t PendingLevel = 0;

    std::atomic<bool> PauseRequested{false};
    std::mutex ClientMutex; // guards CurrentClient against the main thread's pause
    eHTTP *CurrentClient = nullptr;
    std::mutex WaitMutex;
    std::condition_variable PauseArrived;
};

} // namespace engine
