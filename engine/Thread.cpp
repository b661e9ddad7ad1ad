#include "engine/Thread.h"

#include "platform/TempFiles.h"

#include <filesystem>
#include <functional>
#include <memory>
#include <system_error>

namespace engine {

HttpThread::HttpThread(int64_t segmentStart, int64_t segmentEnd, int64_t maximumRequestLength,
                       std::string fileName, std::string protocol, std::string host,
                       std::string path, std::string proxy, int32_t proxyPort,
                       int32_t workerIndex, ReportEvent onReport, TTerminateEvent onTerminate,
                       bool createSuspended)
    : SegmentStart(segmentStart), SegmentEnd(segmentEnd),
      MaximumRequestLength(maximumRequestLength), Protocol(std::move(protocol)),
      Host(std::move(host)),
      Path(!path.empty() && path.back() != '/' ? path + "/" : std::move(path)),
      FileName(std::move(fileName)), Proxy(std::move(proxy)), ProxyPort(proxyPort),
      WorkerIndex(workerIndex), OnReport(std::move(onReport)) {
    OnTerminate = std::move(onTerminate);
    if (!createSuspended)
        Resume();
}

HttpThread::~HttpThread() { Stop(); }

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
}

void HttpThread::PauseTransfer() {
    {
        // The mark is set before the abort, so the failing attempt knows it was paused.
        std::lock_guard lock(ClientMutex);
        PauseRequested = true;
        if (CurrentClient)
            CurrentClient->AbortOperation();
    }
    std::lock_guard lock(WaitMutex);
    PauseArrived.notify_all();
}

void HttpThread::ResumeTransfer() {
    // A pause the worker has not acted on yet is simply withdrawn; otherwise wake it.
    if (!PauseRequested.exchange(false))
        Resume();
}

void HttpThread::Report(TObject *, int64_t Bytes, const std::string &Text, int32_t Level) {
    if (Bytes != NoByteChange)
        PendingBytes = Bytes;
    if (!Text.empty()) {
        PendingText = Text;
        PendingLevel = Level;
    }
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
    PauseArrived.wait_for(lock, AttemptWait,
                          [this] { return PauseRequested.load() || Terminated(); });
}

bool HttpThread::Attempt(eHTTP &client) {
    client.InstallHandlers();
    client.TimeOut = ClientTimeOut;
    client.OnReport = [this](TObject *s, int64_t b, const std::string &t, int32_t l) {
        Report(s, b, t, l);
    };
    client.RangeEnd = SegmentEnd;
    client.RangeStart = SegmentStart;
    client.MaximumRequestLength = MaximumRequestLength;
    client.CompleteLength = FileSize;
    client.OnWholeFile = [this] { return TakeWholeFile(); };

    // The piece stays only when it is verified; any other way out removes it, including
    // the end of a terminated thread.
    const std::string piece = platform::NewTempFileName();
    PieceFiles.push_back(piece);
    bool keep = false;
    struct Discard {
        HttpThread &self;
        const std::string &piece;
        const bool &keep;
        ~Discard() {
            if (keep)
                return;
            std::error_code ec;
            std::filesystem::remove(piece, ec);
            self.PieceFiles.pop_back();
        }
    } discard{*this, piece, keep};

    Report(nullptr, NoByteChange, "Attempting to connect to " + Host + "...", 2);
    bool ok = false;
    std::string failure;
    try {
        ok = client.DownloadRange(Protocol + "://" + Host + "/" + Path + FileName, FileName, piece,
                                  Proxy, ProxyPort);
        if (!ok)
            failure = client.WrongAnswerText();
    } catch (const platform::ThreadTerminated &) {
        throw;
    } catch (const std::exception &e) {
        failure = FailureText(client, e);
    } catch (...) {
        failure = "Unknown error";
    }
    // Another worker fetches the whole file: nothing of this one counts any more, and its
    // owner has started the progress afresh.
    if (Superseded)
        return false;
    if (ok) {
        // The piece counts only when the file holds exactly the bytes asked for.
        std::error_code ec;
        auto size = static_cast<int64_t>(std::filesystem::file_size(piece, ec));
        ok = !ec && size == client.ReceiveProgress && size == client.ExpectedLength;
        if (ok) {
            SegmentStart += size;
            keep = true;
            return true;
        }
    }
    // A wrong answer is as much a failed attempt as a broken connection.
    if (!PauseRequested) {
        LastFailure = failure.empty() ? "The file on disk does not match what was received"
                                      : failure;
        Report(nullptr, NoByteChange, "Error communicating with server. Retrying...", 1);
    }
    Report(nullptr, -client.ReportedBytes, "", 1); // withdraw what this attempt reported
    return false;
}

bool HttpThread::TakeWholeFile() {
    int32_t none = 0;
    if (!Stream || FileSize <= 0)
        return false;
    if (Stream->worker.load() == WorkerIndex)
        return true; // this worker's stream, asked again after a failed attempt
    if (!Stream->worker.compare_exchange_strong(none, WorkerIndex)) {
        Superseded = true;
        return false;
    }
    // This attempt's piece becomes the whole file: earlier pieces are part of it.
    for (size_t i = 0; i + 1 < PieceFiles.size(); ++i) {
        std::error_code ec;
        std::filesystem::remove(PieceFiles[i], ec);
    }
    PieceFiles.erase(PieceFiles.begin(), PieceFiles.end() - 1);
    SegmentStart = 0;
    SegmentEnd = FileSize - 1;
    if (OnOneStream)
        Synchronize([this] { OnOneStream(this); });
    return true;
}

void HttpThread::SetCurrentClient(eHTTP *client) {
    std::lock_guard lock(ClientMutex);
    CurrentClient = client;
}

void HttpThread::Execute() {
    // An empty segment (small files give some) needs no request at all.
    while (SegmentStart <= SegmentEnd && !Terminated() && !Superseded) {
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
        WaitBeforeAttempt();
        if (client && !PauseRequested && !Terminated())
            Attempt(*client);
        if (PauseRequested.exchange(false))
            Suspend();
        if (client)
            client->AbortOperation();
    }
    Finished = SegmentStart > SegmentEnd;
}

} // namespace engine
