#include "engine/DownloadSession.h"

#include "engine/KeptDownloads.h"
#include "engine/SignerPin.h"
#include "net/ProxyChallenge.h"
#include "platform/Catalogue.h"
#include "platform/NotifyQueue.h"
#include "platform/Url.h"

#include <algorithm>
#include <cerrno>
#include <ctime>

namespace engine {
namespace {

using platform::Fill;
using platform::Tr;

// How often a final name that was taken meanwhile is chosen anew, at the most.
constexpr int kNameChoices = 100;
// How often the bytes received are shown while the transfer runs, in ms.
constexpr uint32_t kProgressInterval = 100;
constexpr int kQuietTicks = 10;
// Said when a download ends without its file and what arrived stays for the next run.
const char *const kKeptText =
    platform::TrKey("What has arrived is kept: the next run of this download goes on from there.");

using SteadyClock = std::chrono::steady_clock;

// Once a location has told the size, a later one is waited for this long at the most: it can
// only be faster than the ones that answered before it by answering sooner than that, and
// otherwise serves as a location to move to at the most, which the transfer need not wait for.
constexpr std::chrono::milliseconds kLaterLocationBound{5000};

// Wall time of a size request, to the millisecond, so that equal times are a tie.
int64_t ElapsedMilliseconds(SteadyClock::time_point from, SteadyClock::time_point to) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(to - from).count();
}

struct Answer {
    int entry;
    int64_t size;
    int64_t elapsed;
    double modified;
    size_t proxy; // which of the location's proxies answered
    Validators validators;
};

} // namespace

bool TakesOver(int entry, int64_t size, int64_t elapsed, int64_t takenSize, int64_t takenTime) {
    if (entry == 0 || takenTime == -1)
        return true;
    if (takenSize != -1 && size != takenSize)
        return false;
    return elapsed < takenTime;
}

DownloadSession::DownloadSession(DownloadObserver &observer, SessionSettings settings)
    : observer_(observer), settings_(std::move(settings)) {}

DownloadSession::~DownloadSession() {
    // The workers end first: they write into the file and hand reports to this session.
    StopWorkers();
    for (auto &w : Workers)
        w.reset();
    if (phase_ != Phase::Done)
        EndKept(!discard_);
}

bool DownloadSession::EndKept(bool keep) {
    if (!keeper_)
        return false;
    if (keep) {
        keeper_->Finish();
        sink_.Keep();
    } else {
        keeper_->Remove();
    }
    keeper_.reset();
    return keep;
}

void DownloadSession::SetPhase(Phase phase) {
    phase_ = phase;
    observer_.OnPhase(phase);
}

void DownloadSession::Later(std::function<void()> fn) {
    platform::NotifyQueue::Current()->PostClosure(
        [alive = std::weak_ptr(alive_), fn = std::move(fn)] {
            if (!alive.expired())
                fn();
        });
}

namespace {

// Why a proxy's question for credentials ends the download: it asks (or refused those it was
// given `again`), in the words of its realm if it has one; `cancelled` when the user cancelled
// the question.
std::string ProxyAsksText(const std::string &proxy, const std::string &realm, bool again,
                          bool cancelled) {
    // Indexed [cancelled][again][has a realm].
    static const char *const texts[2][2][2] = {
        {{
             // TRANSLATORS: %1 is the proxy server ("proxy.example:8080").
             platform::TrKey("The proxy %1 asks for a user name and password."),
             // TRANSLATORS: %1 is the proxy server, %2 what it says of itself (a text of its own).
             platform::TrKey("The proxy %1 asks for a user name and password (it says: \"%2\")."),
         },
         {
             // TRANSLATORS: %1 is the proxy server ("proxy.example:8080").
             platform::TrKey("The proxy %1 refused the user name and password."),
             // TRANSLATORS: %1 is the proxy server, %2 what it says of itself (a text of its own).
             platform::TrKey("The proxy %1 refused the user name and password (it says: \"%2\")."),
         }},
        {{
             // TRANSLATORS: the user cancelled the question for the user name and password; %1
             // is the proxy server.
             platform::TrKey("Cancelled: the proxy %1 asks for a user name and password."),
             // TRANSLATORS: the user cancelled the question for the user name and password; %1
             // is the proxy server, %2 what it says of itself (a text of its own).
             platform::TrKey("Cancelled: the proxy %1 asks for a user name and password (it "
                             "says: \"%2\")."),
         },
         {
             // TRANSLATORS: the user cancelled the question for the user name and password; %1
             // is the proxy server.
             platform::TrKey("Cancelled: the proxy %1 refused the user name and password."),
             // TRANSLATORS: the user cancelled the question for the user name and password; %1
             // is the proxy server, %2 what it says of itself (a text of its own).
             platform::TrKey("Cancelled: the proxy %1 refused the user name and password (it "
                             "says: \"%2\")."),
         }}};
    return Fill(Tr(texts[cancelled][again][!realm.empty()]), {proxy, realm});
}

} // namespace

bool DownloadSession::AnswerProxy(const platform::ProxyServer &proxy, Failure &failure) {
    if (failure.credentials < credentials_.Generation(proxy))
        return true; // refused with credentials that others replaced meanwhile
    ProxyAnswers &answers = proxyAnswers_[proxy.Name()];
    if (failure.credentials > 0 && failure.credentials > answers.refused) {
        answers.refused = failure.credentials;
        ++answers.refusals;
    }
    if (!OffersBasic(failure.challenge)) {
        const std::string schemes = net::ChallengeSchemes(failure.challenge);
        failure.text =
            schemes.empty()
                // TRANSLATORS: %1 is the proxy server ("proxy.example:8080").
                ? Fill(Tr("The proxy %1 asks for credentials of a kind this program cannot give."),
                       {proxy.Name()})
                // TRANSLATORS: %1 is the proxy, %2 the names of the kinds it asks for
                // ("Negotiate, NTLM").
                : Fill(Tr("The proxy %1 asks for credentials of a kind this program cannot give "
                          "(%2)."),
                       {proxy.Name(), schemes});
        return false;
    }
    const bool again = answers.refusals > 0;
    // What the download ends with when no credentials (or no better ones) come: the proxy
    // and what it says in words, never its raw header.
    const std::string realm = net::ChallengeRealm(failure.challenge);
    if (answers.refusals >= 2 || answers.declined) {
        failure.text = ProxyAsksText(proxy.Name(), realm, again, false);
        return false;
    }
    const CredentialsReply reply = observer_.OnProxyCredentials(proxy.Name(), realm, again);
    if (reply.kind != CredentialsReply::Kind::Given || stopped_) {
        answers.declined = true; // nobody is asked twice for the same proxy
        failure.text = ProxyAsksText(proxy.Name(), realm, again,
                                     reply.kind == CredentialsReply::Kind::Cancelled);
        return false;
    }
    credentials_.Set(proxy, reply.user, reply.password);
    return true;
}

std::vector<Location> DownloadSession::Select(const SessionRequest &request, int64_t &size) {
    std::vector<Answer> answers;
    int taken = -1;
    int64_t takenSize = -1, takenTime = -1;
    const std::string &primary = request.Mirrors[0].first;
    for (int i = 0; i < 4; ++i) {
        const auto &[host, folder] = request.Mirrors[static_cast<size_t>(i)];
        // TRANSLATORS: %1 is the server asked for the file's size.
        observer_.OnStatus(Fill(Tr("Retrieving information from %1..."), {host}), 0);
        if (primary.empty() || stopped_)
            continue;
        // Directly, or through each of its proxies in turn until one of them answers; a proxy
        // that asks for credentials is asked again once someone gave them.
        std::vector<platform::ProxyServer> proxies = request.Proxies[static_cast<size_t>(i)];
        if (proxies.empty())
            proxies.emplace_back();
        double modified = 0;
        int64_t answer = -1;
        Validators validators;
        Failure failure;
        size_t through = 0;
        const auto t1 = SteadyClock::now();
        for (int asked = 0; through < proxies.size() && asked < 4 && !stopped_; ++asked) {
            const platform::ProxyServer &proxy = proxies[through];
            const bool direct = proxy.Host.empty();
            if (!direct)
                observer_.OnStatus(
                    // TRANSLATORS: %1 is the proxy server, %2 where its setting comes from
                    // ("http_proxy", "the options").
                    Fill(Tr("Through the proxy %1, from %2."),
                         {proxy.Name(), request.ProxySources[static_cast<size_t>(i)]}),
                    2);
            int credentials = 0;
            const std::string authorization =
                direct ? "" : credentials_.Authorization(proxy, credentials);
            if (FetchFileInfo(
                    platform::LocationUrl(request.Protocol, host, folder, request.FileName),
                    proxy.Host, proxy.Port, modified, answer, &sizeRequests_, &failure,
                    authorization, taken < 0 ? kSizeRequestBound : kLaterLocationBound,
                    &validators))
                break;
            failure.credentials = credentials;
            if (failure.kind == FailureKind::ProxyAuth && AnswerProxy(proxy, failure))
                continue;
            // A proxy that cannot be reached: the next one (a configuration script's list).
            const bool unreachable = failure.kind == FailureKind::Refused ||
                                     failure.kind == FailureKind::HostNotFound ||
                                     failure.kind == FailureKind::TimedOut;
            if (failure.kind == FailureKind::ProxyAuth || direct || !unreachable)
                break;
            ++through;
        }
        const int64_t elapsed = ElapsedMilliseconds(t1, SteadyClock::now());
        if (i == 0)
            primaryFailure_ = failure.text;
        // An empty file (size 0) is an answer like any other.
        if (answer < 0)
            continue;
        answers.push_back({i, answer, elapsed, modified, through, validators});
        if (TakesOver(i, answer, elapsed, takenSize, takenTime)) {
            taken = i;
            takenSize = answer;
            takenTime = elapsed;
        }
    }
    std::vector<Location> locations;
    if (taken < 0 || stopped_)
        return locations;
    // Every location that agrees on the size can serve: the taken one first, then the others
    // in the order of their times; each through the proxy that answered, then its others.
    std::stable_sort(answers.begin(), answers.end(), [taken](const Answer &a, const Answer &b) {
        if ((a.entry == taken) != (b.entry == taken))
            return a.entry == taken;
        return a.elapsed < b.elapsed;
    });
    for (const Answer &a : answers) {
        if (a.size != takenSize)
            continue;
        const size_t entry = static_cast<size_t>(a.entry);
        const auto &[host, folder] = request.Mirrors[entry];
        std::vector<platform::ProxyServer> proxies = request.Proxies[entry];
        if (proxies.empty())
            proxies.emplace_back();
        for (size_t k = 0; k < proxies.size(); ++k)
            locations.push_back(Location{host, folder.empty() ? "" : folder + "/", a.elapsed, 0,
                                         false, proxies[(a.proxy + k) % proxies.size()]});
        if (a.entry == taken) {
            ServerFileDate = a.modified;
            validators_ = a.validators;
        }
    }
    size = takenSize;
    return locations;
}

bool DownloadSession::Start(const SessionRequest &request, bool paused) {
    if (stopped_ || phase_ != Phase::Idle)
        return false;
    paused_ = paused;
    sha256_ = request.Sha256;
    signers_ = request.Signers;
    SetPhase(Phase::Selecting);
    std::vector<Location> locations = Select(request, size_);
    if (stopped_)
        return false;
    if (locations.empty()) {
        observer_.OnStatus(
            // TRANSLATORS: %1 is the server of the download (the first of its locations).
            Fill(Tr("Failed to retrieve file information from %1."), {request.Mirrors[0].first}),
            0);
        SetPhase(Phase::Idle);
        return false;
    }
    // TRANSLATORS: %1 is the server the file comes from.
    observer_.OnStatus(Fill(Tr("Using server %1."), {locations.front().Host}), 0);
    if (!OpenFile(request, locations))
        return true;
    workersStarted_ = true;
    SetPhase(Phase::Transferring);
    observer_.OnProgress(plan_ ? plan_->Received() : 0, size_);
    if (size_ == 0) {
        // An empty file needs no range: it is written and completed at once.
        Complete();
        return true;
    }
    progressTimer_ = std::make_unique<platform::TThreadTimer>();
    progressTimer_->SetInterval(kProgressInterval);
    progressTimer_->SetOnTimer([this](platform::TObject *) { ShowProgress(); });
    StartWorkers(request);
    return true;
}

bool DownloadSession::OpenFile(const SessionRequest &request,
                               const std::vector<Location> &locations) {
    const std::string directory = settings_.OutputDirectory();
    DownloadRecord wanted;
    const std::string &primary = request.Mirrors[0].second;
    wanted.Url = platform::LocationUrl(request.Protocol, request.Mirrors[0].first, primary,
                                       request.FileName);
    wanted.FileName = request.FileName;
    wanted.Size = size_;
    const Validators validators = Recordable(validators_);
    wanted.ETag = validators.ETag;
    wanted.LastModified = validators.LastModified;
    wanted.Sha256 = sha256_;
    wanted.Signers = signers_;
    // What an earlier run of this download left, when the server's file is still the same:
    // the transfer goes on from there.
    std::vector<std::pair<int64_t, int64_t>> done;
    const KeptState kept =
        size_ > 0 ? TakeOverKept(directory, wanted, sink_, done) : KeptState::None;
    // Another run writing this download now keeps its own record: this one keeps none.
    const bool recorded =
        Resumable(wanted) && kept != KeptState::Busy && kept != KeptState::Foreign;
    TidyFolder(directory, static_cast<int64_t>(std::time(nullptr)),
               recorded ? RecordFileName(wanted.Url) : "");
    // Otherwise the file is written where it will stay, with room for all of it before any
    // range is asked: a disk too small is said at once, and nothing is fetched in vain.
    if (kept != KeptState::TakenOver) {
        if (auto failure = sink_.Open(directory, size_)) {
            lastFailure_ = *failure;
            SetPhase(Phase::Failed);
            return false;
        }
    }
    if (size_ == 0)
        return true;
    plan_ = kept == KeptState::TakenOver
                ? std::make_unique<TransferPlan>(
                      size_, locations, TransferPlan::ResumeRanges(size_, done, kWorkers), done)
                : std::make_unique<TransferPlan>(size_, locations, kWorkers);
    if (recorded) {
        wanted.WorkingName = sink_.Path().substr(directory.size());
        keeper_ = std::make_unique<RecordKeeper>(sink_, *plan_, wanted,
                                                 directory + RecordFileName(wanted.Url));
        if (!keeper_->Start())
            keeper_.reset();
    }
    if (kept == KeptState::TakenOver)
        observer_.OnResuming(plan_->Received(), size_);
    return true;
}

void DownloadSession::StartWorkers(const SessionRequest &request) {
    WorkerSettings settings;
    settings.Protocol = request.Protocol;
    settings.FileName = request.FileName;
    settings.Credentials = &credentials_;
    settings.MaximumRequestLength = request.MaximumRequestLength;
    settings.AttemptWait = settings_.AttemptWait;
    settings.ClientTimeOut = settings_.ClientTimeOut;
    // Bytes an earlier run left are only the file's while the server's file is the same.
    if (plan_->Received() > 0)
        settings.IfRange = ResumeValidator(validators_);
    for (int j = 1; j <= kWorkers; ++j) {
        auto worker = std::make_unique<HttpThread>(
            *plan_, sink_, settings, j,
            [this](platform::TObject *, int64_t, const std::string &text, int32_t level) {
                OnWorkerReport(text, level);
            },
            [this](platform::TThread *) { OnWorkerDone(); }, true);
        worker->OnAttemptFailed = [this](HttpThread *w, const Failure &f, FailureOutcome o) {
            AttemptFailed(w->WorkerIndex, f, o);
        };
        worker->OnOneStream = [this](HttpThread *w) { OnOneStream(w); };
        if (!paused_) // a pause during the selection holds the workers back
            worker->ResumeTransfer();
        Workers[static_cast<size_t>(j - 1)] = std::move(worker);
    }
}

void DownloadSession::Pause() {
    paused_ = true;
    for (auto &w : Workers)
        if (w && !w->Finished)
            w->PauseTransfer();
}

void DownloadSession::Resume() {
    paused_ = false;
    for (auto &w : Workers)
        if (w && !w->Finished)
            w->ResumeTransfer();
}

void DownloadSession::Stop() {
    discard_ = true;
    Keep();
    EndKept(false); // the record goes at once; the file with the workers
}

void DownloadSession::Keep() {
    if (stopped_)
        return;
    if (keeper_ && !discard_)
        observer_.OnStatus(Tr(kKeptText), 0);
    stopped_ = true;
    sizeRequests_.Abort();
    StopWorkers();
    if (phase_ != Phase::Done && phase_ != Phase::Failed)
        phase_ = Phase::Stopped;
}

void DownloadSession::StopWorkers() {
    // All at once, so that none starts a request while another one is being waited for.
    for (auto &w : Workers)
        if (w)
            w->RequestStop();
}

void DownloadSession::OnWorkerReport(const std::string &text, int32_t level) {
    if (!stopped_)
        observer_.OnStatus(text, level);
}

void DownloadSession::ShowProgress() {
    if (stopped_ || phase_ != Phase::Transferring || !plan_)
        return;
    const int64_t received = plan_->Received();
    // Unchanged figures are told once a second, so that a stalled transfer can say so.
    if (received == shownReceived_ && ++quietTicks_ < kQuietTicks)
        return;
    quietTicks_ = 0;
    shownReceived_ = received;
    observer_.OnProgress(received, size_);
}

void DownloadSession::AttemptFailed(int worker, const Failure &failure, FailureOutcome outcome) {
    if (stopped_ || phase_ != Phase::Transferring)
        return;
    lastFailure_ = failure;
    observer_.OnAttemptFailed(worker, failure);
    if (IsDiskFailure(failure.kind)) {
        // The disk, not the server, is at fault: no attempt can help. The workers end once
        // this report is delivered.
        Later([this, failure] { Fail(failure); });
        return;
    }
    if (failure.kind == FailureKind::ProxyAuth) {
        // The worker asks again with the credentials given; without them nothing can help.
        Failure refused = failure;
        const Location location = plan_->LocationAt(plan_->LocationOf(worker - 1));
        if (!AnswerProxy(location.Proxy, refused))
            Later([this, refused] { Fail(refused); });
        return;
    }
    observer_.OnStatus(Tr("Error communicating with server."), 1);
    if (!outcome.counted)
        return;
    ++ErrorCount;
    const int32_t attempts = settings_.MaximumNumberOfAttempts();
    // Five workers share one count.
    if (PromptActive || attempts == -1 || static_cast<int64_t>(ErrorCount) < attempts * 5LL)
        return;
    PromptActive = true;
    switch (observer_.OnDecision(RetryDecision{attempts, lastFailure_.text})) {
    case RetryAnswer::GoOn:
    case RetryAnswer::StayPaused:
        ErrorCount = 0;
        break;
    case RetryAnswer::KeepCount:
    case RetryAnswer::Stop:
        break;
    }
    PromptActive = false;
}

void DownloadSession::OnOneStream(HttpThread *stream) {
    // The file comes from its first byte again, and cannot be continued from ranges: no
    // record of it is kept.
    EndKept(false);
    // None of the others writes anything after this, so the progress holds only the stream's
    // bytes.
    for (auto &w : Workers)
        if (w && w.get() != stream)
            w->RequestStop();
    ShowProgress();
    observer_.OnStatus(Tr("The server sends only whole files: the file comes in one stream."), 1);
}

void DownloadSession::OnWorkerDone() {
    if (++FinishedWorkers != kWorkers || stopped_ || phase_ != Phase::Transferring)
        return;
    if (plan_->Complete()) {
        Complete();
        return;
    }
    // Every worker ended without the whole file (none can end so but by a stop).
    Fail(Failure{FailureKind::ShortBody, 0, Tr("The transfer ended before the whole file came")});
}

void DownloadSession::Fail(const Failure &failure) {
    if (phase_ == Phase::Failed || phase_ == Phase::Done || stopped_)
        return;
    StopWorkers();
    for (auto &w : Workers)
        if (w)
            w->Stop();
    // A file that failed its checks is not the file: it goes, with its record. Bytes that
    // stopped coming are kept for a later run, where they can be.
    if (!EndKept(phase_ != Phase::Verifying))
        sink_.Discard();
    else
        observer_.OnStatus(Tr(kKeptText), 0);
    lastFailure_ = failure;
    SetPhase(Phase::Failed);
}

void DownloadSession::Complete() {
    // The file is checked next: the record stays as it is, naming what was on the disk for
    // certain (flushing all of the file for a last one would hold the end up).
    if (keeper_)
        keeper_->Halt();
    SetPhase(Phase::Verifying);
    if (stopped_)
        return;
    if (auto failure = sink_.Hold()) {
        Fail(*failure);
        return;
    }
    if (const int64_t size = sink_.Size(); size != size_) {
        Fail(Failure{FailureKind::SizeMismatch, 0,
                     // TRANSLATORS: %1 is the file's size in bytes, %2 the size the server told.
                     Fill(Tr("The file has %1 bytes instead of %2."),
                          {std::to_string(size), std::to_string(size_)})});
        return;
    }
    if (!CheckDigest() || !CheckSigner())
        return;
    for (int choice = 0;; ++choice) {
        auto [path, replace] = settings_.FinalName();
        Failure failure;
        const int error = sink_.MoveTo(path, replace, failure);
        if (error == 0) {
            outputPath_ = path;
            break;
        }
        // A name that was free when it was chosen and is taken now: the next free one.
        if (error != EEXIST || replace || choice + 1 == kNameChoices) {
            Fail(failure);
            return;
        }
    }
    EndKept(false);
    if (ServerFileDate != 0)
        SetFileDate(outputPath_, ServerFileDate);
    SetPhase(Phase::Done);
}

bool DownloadSession::CheckDigest() {
    if (sha256_.empty())
        return true;
    observer_.OnStatus(Tr("Computing the file's SHA-256 digest..."), 0);
    // The owner stays responsive while a large file is read; a stop ends the reading.
    std::string error;
    const std::string digest = sink_.Sha256(error, [this] {
        platform::ProcessPendingMessages();
        return !stopped_;
    });
    if (stopped_) {
        // Stopped before the file was checked: it is not left unchecked under its name, and
        // goes unless it is kept for a later run to check.
        if (discard_ || !keeper_)
            sink_.Discard();
        return false;
    }
    if (digest == sha256_)
        return true;
    if (digest.empty())
        Fail(Failure{FailureKind::DigestUnavailable, 0, error});
    else
        Fail(Failure{FailureKind::DigestMismatch, 0,
                     // TRANSLATORS: %1 is a SHA-256 digest (64 hexadecimal digits).
                     Fill(Tr("SHA-256 digest expected: %1"), {sha256_}) + "\r\n" +
                         // TRANSLATORS: %1 is a SHA-256 digest (64 hexadecimal digits).
                         Fill(Tr("SHA-256 digest of the file: %1"), {digest})});
    return false;
}

bool DownloadSession::CheckSigner() {
    if (signers_.empty())
        return true;
    observer_.OnStatus(Tr("Checking the file's signature..."), 0);
    const platform::SignatureCheck check = sink_.Signature();
    if (SignerMatches(signers_, check))
        return true;
    Fail(Failure{FailureKind::SignerMismatch, 0, SignerMismatchText(signers_, check)});
    return false;
}

} // namespace engine
