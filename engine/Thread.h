#pragma once

#include "engine/FileSink.h"
#include "engine/HTTP.h"
#include "engine/ProxyCredentials.h"
#include "engine/TransferPlan.h"
#include "platform/Thread.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>

namespace engine {

// What every worker of a download asks with.
struct WorkerSettings {
    std::string Protocol, FileName;
    // The credentials for the locations' proxies (none: no proxy asks).
    const ProxyCredentials *Credentials = nullptr;
    // The longest range one request asks for (0 or less: the whole rest of the segment).
    int64_t MaximumRequestLength = -1;
    // The wait that begins every attempt but a takeover's.
    std::chrono::milliseconds AttemptWait{5000};
    // The time-out of each attempt's client (connect phases and data inactivity).
    int32_t ClientTimeOut = 60000;
    // The validator of the bytes already on disk, sent in If-Range with every range (empty:
    // none): a file that changed on the server comes whole, as one stream from its first byte.
    std::string IfRange;
};

// A worker that fetches segments of the file, attempt after attempt, each with a fresh client,
// writing their bytes into the file at their offsets, until the plan has no work left for it:
// its own segment while it is incomplete, then remainders it takes over from the others. Its
// reports are handed to the main thread, and it waits there until the owner's handler has
// returned.
class HttpThread : public platform::TThread {
  public:
    using FailureEvent =
        std::function<void(HttpThread *worker, const Failure &failure, FailureOutcome outcome)>;

    HttpThread(TransferPlan &plan, FileSink &sink, WorkerSettings settings, int32_t WorkerIndex,
               ReportEvent OnReport, TTerminateEvent OnTerminate, bool CreateSuspended);
    // Stop, then the object goes.
    ~HttpThread() override;
    // Tells the thread to end wherever it is (its attempt is aborted; no request is started
    // any more) and returns at once. Main thread.
    void RequestStop();
    // RequestStop, then waits for the thread to end. Main thread.
    void Stop();

    // Main thread: aborts the attempt in progress; the worker suspends itself at its end. The
    // bytes the attempt wrote stay: the next attempt asks from where it ended.
    void PauseTransfer();
    // Main thread: starts a thread created suspended, or resumes a paused one.
    void ResumeTransfer();
    // Worker thread: hands a report with a text to the main thread and waits until it was
    // delivered. The owner's handler gets the worker as the report's sender. Reports of bytes
    // alone are not handed over: the owner reads the bytes received from the plan.
    void Report(TObject *Sender, int64_t Bytes, const std::string &Text, int32_t Level);

    // Set when the thread ends because no work is left (not because it was stopped).
    std::atomic<bool> Finished{false};
    const WorkerSettings Settings;
    const int32_t WorkerIndex;
    // On the main thread, the worker waiting: an attempt failed (not one that was paused or
    // stopped), with what the failure changed in the plan.
    FailureEvent OnAttemptFailed;
    // On the main thread, the worker waiting, before any byte of that stream is written: the
    // server sends the whole file for a range, and this worker fetches it alone.
    std::function<void(HttpThread *)> OnOneStream;

  protected:
    void Execute() override;

  private:
    void DeliverReport();
    // Waits the attempt wait, or less when a pause or stop arrives.
    void WaitBeforeAttempt();
    void Attempt(eHTTP &client, const Work &work);
    void SetCurrentClient(eHTTP *client);
    // The client's OnWholeFile: whether this worker takes the whole file.
    bool TakeWholeFile(SegmentStream &stream);
    int Index() const { return WorkerIndex - 1; }

    TransferPlan &plan_;
    FileSink &sink_;
    ReportEvent OnReport;
    int64_t PendingBytes = 0;
    std::string PendingText;
    int32_t PendingLevel = 0;
    Failure PendingFailure;
    FailureOutcome PendingOutcome;

    std::atomic<bool> PauseRequested{false};
    bool Superseded = false; // another worker fetches the whole file
    bool Streaming = false;  // this worker fetches the whole file
    std::mutex ClientMutex;  // guards CurrentClient against the main thread's pause
    eHTTP *CurrentClient = nullptr;
    std::mutex WaitMutex;
    std::condition_variable PauseArrived;
};

} // namespace engine
