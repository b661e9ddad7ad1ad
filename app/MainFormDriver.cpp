// TMainForm: the first activation, the wait before the selection, the selection of a
// location and the start of the five workers.
#include "app/MainForm.h"

#include "app/Prerequisite.h"
#include "engine/HTTP.h"
#include "platform/NotifyQueue.h"
#include "platform/Version.h"

namespace {

using Clock = std::chrono::steady_clock;

// Wall time of a size request, to the millisecond, so that equal times are a tie.
int64_t ElapsedMilliseconds(Clock::time_point from, Clock::time_point to) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(to - from).count();
}

} // namespace

bool TakesOver(int entry, int64_t size, int64_t elapsed, int64_t takenSize, int64_t takenTime) {
    // The first answer sets the size; a later one replaces it only with the same size and a
    // strictly shorter time, so ties keep the earlier entry.
    if (entry == 0 || takenTime == -1)
        return true;
    if (takenSize != -1 && size != takenSize)
        return false;
    return elapsed < takenTime;
}

void TMainForm::FormActivate() {
    if (Activated)
        return;
    Activated = true;
    switch (CheckPrerequisite(app_, request_, platform::QueryOsVersion())) {
    case PrerequisiteOutcome::Declined:
        form_.Close();
        return;
    case PrerequisiteOutcome::GoOnAnyway:
        // A file downloaded against the requirement is never run by itself.
        options_->CompletionLaunchApplication = false;
        break;
    case PrerequisiteOutcome::Met:
        break;
    }
    StartWhenReady();
}

void TMainForm::StartWhenReady() {
    // The wait processes the window's messages, and with them a Resume pressed meanwhile: that
    // selection is this one, never a second one inside it.
    if (Selecting || WorkersStarted)
        return;
    Selecting = true;
    struct EndOfSelection {
        TMainForm &self;
        ~EndOfSelection() { self.Selecting = false; }
    } end{*this};
    const auto t0 = Clock::now();
    for (;;) {
        platform::SleepAndProcess(2);
        if (CloseRequested) {
            form_.Close();
            return;
        }
        if (Clock::now() - t0 <= StartDelay || options_->Showing())
            continue;
        const bool proxy = options_->UseProxyServer;
        StartDownload(request_.Protocol, request_.MirrorTable, request_.FileName,
                      proxy ? options_->ProxyServerName : "", proxy ? options_->ProxyPort : 0);
        break;
    }
    // Resumed while the failed selection's box was open: the user asked to try again.
    if (!WorkersStarted && !Paused && !CloseRequested)
        PostStartWhenReady();
}

void TMainForm::PostStartWhenReady() {
    platform::NotifyQueue::Current()->PostClosure([this, alive = std::weak_ptr(alive_)] {
        if (!alive.expired())
            StartWhenReady();
    });
}

void TMainForm::StartDownload(const std::string &protocol, TMirrorTable mirrors,
                              const std::string &fileName, const std::string &proxyServer,
                              int32_t proxyPort) {
    int taken = -1;
    int64_t takenSize = -1;
    int64_t takenTime = -1;
    double takenDate = 0;
    btnOptions_->SetEnabled(false);
    struct EnableOptions {
        gui::Button &button;
        ~EnableOptions() { button.SetEnabled(true); }
    } enable{*btnOptions_};

    std::string primaryFailure; // why the location the box names did not answer
    for (int i = 0; i < 4; ++i) {
        MirrorEntry &m = mirrors[static_cast<size_t>(i)];
        if (!m.Directory.empty())
            m.Directory += "/";
        ShowStatus("Retrieving information from " + m.Host + "...", 0);
        if (mirrors[0].Host.empty() || CloseRequested)
            continue;
        double modified = 0;
        int64_t size = -1;
        std::string failure;
        const auto t1 = Clock::now();
        bool answered = engine::FetchFileInfo(protocol + "://" + m.Host + "/" + m.Directory +
                                                  fileName,
                                              proxyServer, proxyPort, modified, size,
                                              &SizeRequests, &failure);
        const int64_t elapsed = ElapsedMilliseconds(t1, Clock::now());
        if (i == 0)
            primaryFailure = failure;
        // An empty file (size 0) is an answer like any other.
        if (!answered || size < 0)
            continue;
        if (!TakesOver(i, size, elapsed, takenSize, takenTime))
            continue;
        taken = i;
        takenSize = size;
        takenTime = elapsed;
        takenDate = modified;
    }
    if (CloseRequested)
        return;

    if (taken < 0) {
        ShowStatus("Failed to retrieve file information from " + mirrors[0].Host + ".", 0);
        SetPaused(true);
        app_.MessageBox("Could not connect to " + mirrors[0].Host + "." +
                            Paragraph(primaryFailure) +
                            "\r\n\r\nCheck your internet connection and the options.",
                        "Connection error", gui::MessageButtons::Ok);
        CloseUnlessUserCanAct(); // nobody could press Resume
        return;
    }

    const MirrorEntry &chosen = mirrors[static_cast<size_t>(taken)];
    ShowStatus("Using server " + chosen.Host + ".", 0);
    ServerFileDate = takenDate;
    WorkersStarted = false;
    const int64_t length = takenSize / 5 + 1;
    pb_->SetRange(0, takenSize);
    pb_->SetPosition(0);
    if (takenSize == 0) {
        // An empty file needs no range: it is written and completed at once.
        WorkersStarted = true;
        CompleteDownload();
        return;
    }
    auto stream = std::make_shared<engine::OneStream>();
    for (int j = 1; j <= 5; ++j) {
        const int64_t start = (j - 1) * length;
        const int64_t last = std::min(start + length - 1, takenSize - 1);
        auto worker = std::make_unique<engine::HttpThread>(
            start, last, request_.MaximumRequestLength, fileName, protocol, chosen.Host,
            chosen.Directory, proxyServer, proxyPort, j,
            [this](platform::TObject *s, int64_t b, const std::string &t, int32_t l) {
                OnWorkerReport(s, b, t, l);
            },
            [this](platform::TThread *s) { OnWorkerDone(s); }, true);
        worker->AttemptWait = AttemptWait;
        worker->FileSize = takenSize;
        worker->Stream = stream;
        worker->OnOneStream = [this](engine::HttpThread *w) { OnOneStream(w); };
        if (!Paused)
            worker->ResumeTransfer();
        Workers[static_cast<size_t>(j - 1)] = std::move(worker);
    }
    WorkersStarted = true;
}
