#pragma once

#include "engine/Failure.h"
#include "engine/FileSink.h"
#include "engine/HTTP.h"
#include "engine/ProxyCredentials.h"
#include "engine/RecordKeeper.h"
#include "engine/Thread.h"
#include "engine/TransferPlan.h"
#include "platform/ThreadTimer.h"

#include <array>
#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace engine {

// Whether location `entry`, answering `size` after `elapsed` ms, replaces the one taken so
// far (takenTime -1: none yet). The first answer sets the size; a later one replaces it only
// with the same size and a strictly shorter time, so ties keep the earlier entry.
bool TakesOver(int entry, int64_t size, int64_t elapsed, int64_t takenSize, int64_t takenTime);

// Where the session is. Idle: nothing runs (before the first selection, or after one in which
// no location answered). Failed: the file cannot be had (PrimaryFailure or LastFailure says
// why); Stopped: the session was stopped before the end.
enum class Phase { Idle, Selecting, Transferring, Verifying, Done, Failed, Stopped };

// The question when the attempts of the options are used up, and its answers: go on without
// a limit (the count starts again), stay paused (the count starts again), stay paused with
// the count kept, or nothing (the owner ends the session).
struct RetryDecision {
    int32_t attempts = 0;
    std::string lastFailure; // why the last failed attempt failed
};
enum class RetryAnswer { GoOn, StayPaused, KeepCount, Stop };

// The answer to a proxy's question for a user name and password: given, cancelled by the
// user, or nobody could be asked (no terminal, no window).
struct CredentialsReply {
    enum class Kind { Given, Cancelled, NobodyToAsk } kind = Kind::NobodyToAsk;
    std::string user, password;
};

// What the owner of a session (the window, the console) is told, on the main thread.
class DownloadObserver {
  public:
    virtual ~DownloadObserver() = default;
    virtual void OnPhase(Phase phase) = 0;
    // Bytes of the file received so far (each counted once) and its size; while the transfer
    // runs, ten times a second when they changed, else once a second.
    virtual void OnProgress(int64_t received, int64_t total) = 0;
    // A status text and its detail level (0 the session's own steps, 1 the main steps and
    // failures of the workers, 2 connection attempts, 3 protocol detail).
    virtual void OnStatus(const std::string &text, int32_t level) = 0;
    // An attempt of worker `worker` (1 to 5) failed.
    virtual void OnAttemptFailed(int worker, const Failure &failure) = 0;
    // The failures counted reached the attempts of the options: the owner decides (it may
    // pause or ask first; workers' reports go on meanwhile, and no second decision is asked).
    virtual RetryAnswer OnDecision(const RetryDecision &decision) = 0;
    // The proxy `proxy` ("host:port") asks for a user name and password (`realm`: what it
    // says, in words to show, maybe empty; `again`: those it had were refused). The owner
    // asks someone who can answer; without credentials the download ends.
    virtual CredentialsReply OnProxyCredentials(const std::string &proxy, const std::string &realm,
                                                bool again) = 0;
    // The transfer goes on with `have` of the `total` bytes that an earlier run left.
    virtual void OnResuming(int64_t have, int64_t total) { (void)have, (void)total; }
};

struct SessionRequest {
    std::string Protocol;
    // Four locations, host and directory (no trailing "/"), entry 0 the primary one.
    std::array<std::pair<std::string, std::string>, 4> Mirrors;
    std::string FileName;
    // The proxies to reach each location through, in the order to try them (none: directly;
    // a Direct entry: directly, after the ones before it), and where they came from, for the
    // status line ("the options", "http_proxy").
    std::array<std::vector<platform::ProxyServer>, 4> Proxies;
    std::array<std::string, 4> ProxySources;
    int64_t MaximumRequestLength = -1;
    // The SHA-256 digest the file must have (lower-case hexadecimal); empty: none.
    std::string Sha256;
    // The subject names one of which the file's signer must have (Windows' Authenticode);
    // empty: none pinned.
    std::vector<std::string> Signers;
};

struct SessionSettings {
    // The folder the file is written in (ending in a separator), asked when the transfer
    // begins.
    std::function<std::string()> OutputDirectory;
    // The verified file's name and whether an existing file of that name is replaced; asked
    // once the file is verified (again when the name was taken meanwhile).
    std::function<std::pair<std::string, bool>()> FinalName;
    // The options' maximum number of attempts (-1: no limit), read at each failure.
    std::function<int32_t()> MaximumNumberOfAttempts;
    // The wait before each attempt but a takeover's, and each attempt's client time-out.
    std::chrono::milliseconds AttemptWait{5000};
    int32_t ClientTimeOut = 60000;
};

// One download: the selection of the locations, the transfer by five workers into the file
// written in place, the retry policy's counts, the verification and the final name. It lives
// on the main thread and tells its observer what happens; the workers run on their own
// threads and reach it only through their reports.
// A download that ends without its file for a reason the user did not choose (its attempts
// used up, every location failed, the program or the machine ended) leaves what has arrived
// in the output folder, beside a record of it, when a later run can tell that the server's file
// is still the same (or a digest is pinned): that run goes on from there. The user's Stop
// leaves nothing.
class DownloadSession {
  public:
    static constexpr int kWorkers = 5;

    DownloadSession(DownloadObserver &observer, SessionSettings settings);
    // Stops the workers; a file that was not completed is kept for a later run when it can be
    // continued (unless Stop ended the session), else deleted.
    ~DownloadSession();
    DownloadSession(const DownloadSession &) = delete;
    DownloadSession &operator=(const DownloadSession &) = delete;

    // Asks each location in turn for the file's size (blocking the caller, whose messages are
    // processed meanwhile), takes the fastest that agrees with the first answer, makes room
    // for the file and starts the workers (suspended while `paused`); an empty file is
    // completed at once. Returns false when no location answered (PrimaryFailure says why
    // for entry 0; the session is Idle again and may start once more) or the session was
    // stopped meanwhile.
    bool Start(const SessionRequest &request, bool paused);
    // Pauses the workers (their attempts end; their bytes stay) and resumes them.
    void Pause();
    void Resume();
    // Ends everything at once: the selection, the workers, the verification. Returns at once;
    // nothing more is requested, and the unfinished file is deleted (the user's Cancel).
    void Stop();
    // The same, but what has arrived is kept for the next run of this download, when it can
    // be continued (the program ends for another reason than the user's Cancel).
    void Keep();
    // An attempt of worker `worker` (1 to 5) failed, with what the failure changed in the
    // plan: the status line, the retry policy's count and decision, or the end of a transfer
    // that the disk cannot take. The workers report here on the main thread.
    void AttemptFailed(int worker, const Failure &failure, FailureOutcome outcome);

    Phase CurrentPhase() const { return phase_; }
    // The workers exist (the transfer runs, or ran).
    bool WorkersStarted() const { return workersStarted_; }
    int64_t Size() const { return size_; }
    int64_t Received() const { return plan_ ? plan_->Received() : 0; }
    // Done: the verified file's path. The file is held until ReleaseFile (on Windows nobody
    // else may change, rename or delete it meanwhile): a run started before then runs it.
    const std::string &OutputPath() const { return outputPath_; }
    // Whether the verified file is still the one under OutputPath (none was put there since).
    bool OutputIsVerifiedFile() const { return sink_.IsAt(outputPath_); }
    // The held verified file's descriptor (Windows: handle), to run it from; -1 once released.
    intptr_t OutputFileHandle() const { return sink_.Handle(); }
    void ReleaseFile() { sink_.Release(); }
    // Failed: why; otherwise the last failed attempt's failure.
    const Failure &LastFailure() const { return lastFailure_; }
    // Why entry 0 gave no size, after a selection in which no location answered.
    const std::string &PrimaryFailure() const { return primaryFailure_; }
    // The Last-Modified date of the taken location's answer (0: none).
    double ServerFileDate = 0;
    // Failures counted against the attempts since the start or the last answer to the
    // decision; a decision is being taken.
    int32_t ErrorCount = 0;
    bool PromptActive = false;
    std::array<std::unique_ptr<HttpThread>, kWorkers> Workers;
    int32_t FinishedWorkers = 0;
    const TransferPlan *Plan() const { return plan_.get(); }

  private:
    void SetPhase(Phase phase);
    // A proxy asked for credentials (or refused those it had): true when the request may be
    // made again (newer credentials exist, or someone gave new ones); false with the failure
    // that ends the download.
    bool AnswerProxy(const platform::ProxyServer &proxy, Failure &failure);
    // Asks each location in turn for the size: the locations that agree with the taken one
    // (the first answer, or a faster one of the same size), the taken one first, in `size`
    // their size; none when no location answered.
    std::vector<Location> Select(const SessionRequest &request, int64_t &size);
    void StartWorkers(const SessionRequest &request);
    void OnWorkerReport(const std::string &text, int32_t level);
    // The bytes received, when they changed since they were last shown.
    void ShowProgress();
    void OnOneStream(HttpThread *stream);
    void OnWorkerDone();
    // The transfer cannot go on: the workers end, the file goes, the phase is Failed.
    void Fail(const Failure &failure);
    // All bytes are there: close, check the size, the digest and the signer, give the file
    // its name.
    void Complete();
    bool CheckDigest();
    bool CheckSigner();
    void StopWorkers();
    // Begins the transfer into the file, a new one or the one an earlier run kept.
    bool OpenFile(const SessionRequest &request, const std::vector<Location> &locations);
    // What has arrived stays for a later run (keep), or its record goes (the file is then the
    // caller's to discard). True when it was kept.
    bool EndKept(bool keep);
    // Runs `fn` from the message loop, once the handler that asks for it has returned.
    void Later(std::function<void()> fn);

    DownloadObserver &observer_;
    const SessionSettings settings_;
    std::string sha256_;
    std::vector<std::string> signers_;
    Phase phase_ = Phase::Idle;
    bool workersStarted_ = false;
    bool stopped_ = false;
    bool paused_ = false;
    int64_t size_ = 0;
    std::string outputPath_;
    std::string primaryFailure_;
    Failure lastFailure_;
    bool discard_ = false;  // the user's Stop: nothing is kept
    Validators validators_; // the taken location's
    SizeRequestAbort sizeRequests_;
    ProxyCredentials credentials_;
    // By proxy: how often credentials were refused (and the last generation refused), and
    // whether nobody gave any when asked.
    struct ProxyAnswers {
        int refusals = 0, refused = 0;
        bool declined = false;
    };
    std::map<std::string, ProxyAnswers> proxyAnswers_;
    FileSink sink_;
    std::unique_ptr<TransferPlan> plan_;
    std::unique_ptr<RecordKeeper> keeper_; // while a record of the download is kept
    std::unique_ptr<platform::TThreadTimer> progressTimer_; // ShowProgress while transferring
    int64_t shownReceived_ = -1;
    int quietTicks_ = 0; // progress ticks since the figures were last told
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

} // namespace engine
