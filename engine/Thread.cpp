#include "engine/Thread.h"

#include "platform/Catalogue.h"
#include "platform/ThreadTimer.h"
#include "platform/Url.h"

#include <memory>

namespace engine {
namespace {

// How often a worker with nothing to do looks again whether a connection has become slow,
// and how often a running attempt asks the plan whether it is to go on.
constexpr std::chrono::milliseconds kIdleLook{250};

} // namespace

HttpThread::HttpThread(TransferPlan &plan, FileSink &sink, WorkerSettings settings,
                       int32_t workerIndex, ReportEvent onReport, TTerminateEvent onTerminate,
                       bool createSuspended)
    : Settings(std::move(settings)), WorkerIndex(workerIndex), plan_(plan), sink_(sink),
      OnReport(std::move(onReport)) {
    OnTerminate = std::move(onTerminate);
    if (!createSuspended)
        Resume();
}

HttpThread::~HttpThread() {
    Stop();
}

void HttpThread::Stop() {
    RequestStop();
    WaitFor();
}

void HttpThread::RequestStop() {
    // Ends the worker wherever it is: waiting, requesting, suspended or handing a report over.
    Terminate();
    {
        std::lock_guard lock(ClientMutex);
        if (CurrentClient)
            CurrentClient->AbortOperation();
    }
    {
        std::lock_guard lock(WaitMutex);
        PauseArrived.notify_all();
    }
    plan_.Wake();
}

void HttpThread::PauseTransfer() {
    {
        // The mark is set before the abort, so the failing attempt knows it was paused.
        std::lock_guard lock(ClientMutex);
        PauseRequested = true;
        if (CurrentClient)
            CurrentClient->AbortOperation();
    }
    {
        std::lock_guard lock(WaitMutex);
        PauseArrived.notify_all();
    }
    plan_.Wake();
}

void HttpThread::ResumeTransfer() {
    // A pause the worker has not acted on yet is simply withdrawn; otherwise wake it.
    if (!PauseRequested.exchange(false))
        Resume();
}

void HttpThread::Report(TObject *, int64_t Bytes, const std::string &Text, int32_t Level) {
    // The owner reads the bytes received from the plan: a report of bytes alone needs no
    // round trip to the main thread.
    if (Text.empty())
        return;
    PendingBytes = Bytes == NoByteChange ? 0 : Bytes;
    PendingText = Text;
    PendingLevel = Level;
    Synchronize([this] { DeliverReport(); });
}

void HttpThread::DeliverReport() {
    if (!OnReport)
        return;
    OnReport(this, PendingBytes, PendingText, PendingLevel);
    PendingBytes = 0;
    PendingText.clear();
}

void HttpThread::WaitBeforeAttempt() {
    std::unique_lock lock(WaitMutex);
    PauseArrived.wait_for(lock, Settings.AttemptWait,
                          [this] { return PauseRequested.load() || Terminated(); });
}

void HttpThread::Attempt(eHTTP &client, const Work &work) {
    client.InstallHandlers();
    client.TimeOut = Settings.ClientTimeOut;
    client.OnReport = [this](TObject *s, int64_t b, const std::string &t, int32_t l) {
        Report(s, b, t, l);
    };
    client.RangeStart = work.first;
    client.RangeEnd = work.last;
    client.MaximumRequestLength = Settings.MaximumRequestLength;
    client.CompleteLength = plan_.Size();
    client.IfRange = Settings.IfRange;
    SegmentStream stream(plan_, Index(), sink_, work.first);
    client.Target = &stream;
    client.OnWholeFile = [this, &stream] { return TakeWholeFile(stream); };

    const Location location = plan_.LocationAt(work.location);
    const platform::ProxyServer &proxy = location.Proxy;
    int credentials = 0;
    if (!proxy.Host.empty() && Settings.Credentials)
        client.ProxyAuthorization = Settings.Credentials->Authorization(proxy, credentials);
    Report(nullptr, NoByteChange,
           // TRANSLATORS: %1 is the server (a host name or an address).
           platform::Fill(platform::Tr("Attempting to connect to %1..."), {location.Host}), 2);
    if (!proxy.Host.empty())
        Report(nullptr, NoByteChange,
               // TRANSLATORS: %1 is the proxy server ("proxy.example:8080").
               platform::Fill(platform::Tr("Through the proxy %1."), {proxy.Name()}), 2);
    plan_.AttemptStarted(Index());
    // The plan's verdict on the attempt, asked while its client waits (the timer fires from
    // this thread's message processing, which every wait of the client does): another worker
    // took all it had left, or its bytes come too slowly to wait for.
    AttemptCheck check;
    platform::TThreadTimer watch;
    watch.SetInterval(static_cast<uint32_t>(kIdleLook.count()));
    watch.SetOnTimer([&](platform::TObject *) {
        if (check.verdict != AttemptVerdict::Go)
            return;
        check = plan_.CheckAttempt(Index(), std::chrono::milliseconds(Settings.ClientTimeOut));
        if (check.verdict != AttemptVerdict::Go)
            client.AbortOperation();
    });
    bool ok = false;
    Failure failure;
    try {
        ok = client.DownloadRange(platform::LocationUrl(Settings.Protocol, location.Host,
                                                        location.Directory, Settings.FileName),
                                  Settings.FileName, proxy.Host, proxy.Port);
        if (!ok)
            failure = client.AnswerFailure();
    } catch (const platform::ThreadTerminated &) {
        throw;
    } catch (const std::exception &e) {
        failure = FailureOf(client, e);
    } catch (...) {
        failure = Failure{FailureKind::Protocol, 0, platform::Tr("Unknown error")};
    }
    // Another worker fetches the whole file: nothing of this one counts any more.
    if (Superseded)
        return;
    if (ok) {
        plan_.AttemptSucceeded(Index());
        return;
    }
    // Bytes of an answer that turned out wrong are fetched again; those of a connection that
    // broke are the file's own, and the next attempt goes on after them.
    if (!client.BodyTrusted())
        plan_.Withdraw(Index(), stream.Written());
    const bool stopped = PauseRequested || Terminated();
    if (check.verdict == AttemptVerdict::Cut && !stopped) {
        plan_.AttemptCut(Index());
        return;
    }
    if (check.verdict == AttemptVerdict::Stalled && client.BodyTrusted())
        failure = check.failure;
    if (stopped)
        failure.kind = FailureKind::Stopped;
    failure.credentials = credentials;
    const FailureOutcome outcome =
        plan_.AttemptFailed(Index(), failure, client.BodyTrusted() ? stream.Written() : 0);
    if (stopped || !OnAttemptFailed)
        return;
    // Kept in the object: the owner may stop this worker while it handles the report, and the
    // worker then leaves this function before the handler has returned.
    PendingFailure = failure;
    PendingOutcome = outcome;
    Synchronize([this] { OnAttemptFailed(this, PendingFailure, PendingOutcome); });
}

bool HttpThread::TakeWholeFile(SegmentStream &stream) {
    if (plan_.Size() <= 0)
        return false;
    if (!plan_.MakeOneStream(Index())) {
        Superseded = true;
        return false;
    }
    // Whole files come from their first byte, also after a failed attempt of this stream.
    plan_.RestartOneStream(Index());
    stream.Restart(0);
    if (!Streaming && OnOneStream) {
        Streaming = true;
        Synchronize([this] { OnOneStream(this); });
    }
    return true;
}

void HttpThread::SetCurrentClient(eHTTP *client) {
    std::lock_guard lock(ClientMutex);
    CurrentClient = client;
}

void HttpThread::Execute() {
    size_t shownLocation = plan_.LocationOf(Index());
    while (!Terminated() && !Superseded) {
        uint64_t seen = plan_.Generation();
        Work work = plan_.NextWork(Index());
        std::unique_ptr<eHTTP> client;
        try {
            client = std::make_unique<eHTTP>();
        } catch (...) {
            // Tried again after the wait below, never in a busy loop.
        }
        SetCurrentClient(client.get());
        struct Release {
            HttpThread &self;
            ~Release() { self.SetCurrentClient(nullptr); }
        } release{*this};
        if (work.segment && (work.wait || !client)) {
            WaitBeforeAttempt();
            // Others may have taken over the segment meanwhile: the work is looked at anew.
            seen = plan_.Generation();
            work = plan_.NextWork(Index());
        }
        if (!work.segment && !PauseRequested && !Terminated()) {
            // Nothing is left for this worker. Another worker's one stream fetched, or fetches,
            // the whole file: this one finished nothing of its own.
            if (plan_.OneStream() && !plan_.IsOneStream(Index()))
                Superseded = true;
            if (plan_.Complete() || plan_.OneStream())
                break;
            // Others still fetch: wait for a remainder worth taking over.
            plan_.WaitForChange(seen, kIdleLook,
                                [this] { return Terminated() || PauseRequested.load(); });
        }
        if (work.segment && client && !PauseRequested && !Terminated()) {
            if (work.location != shownLocation) {
                shownLocation = work.location;
                Report(nullptr, NoByteChange,
                       platform::Fill(platform::Tr("Using server %1."),
                                      {plan_.LocationAt(work.location).Host}),
                       1);
            }
            Attempt(*client, work);
        }
        if (PauseRequested.exchange(false))
            Suspend();
        if (client)
            client->AbortOperation();
    }
    Finished = !Terminated() && !Superseded;
}

} // namespace engine
