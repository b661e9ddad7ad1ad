// TMainForm: the first activation, the wait before the selection, and the request handed to
// the download session, which selects the location and starts the workers.
#include "app/MainForm.h"

#include "app/Prerequisite.h"
#include "platform/Catalogue.h"
#include "platform/NotifyQueue.h"
#include "platform/SystemProxy.h"
#include "platform/Url.h"
#include "platform/Version.h"

using Clock = std::chrono::steady_clock;
using platform::Fill;
using platform::Tr;

namespace {

// The host of a location entry as the proxy rules look at it: "server" of "server:port", "::1"
// of "[::1]:8080".
std::string HostWithoutPort(const std::string &host) {
    return platform::SocketHost(platform::SplitHostPort(host).host);
}

// Why a proxy of the system's settings cannot be used, for the box that ends the program; empty
// for one that can. It names the proxy without its credentials.
std::string UnusableProxyText(const platform::ProxyServer &proxy, const std::string &source) {
    if (proxy.Usable())
        return "";
    std::string what;
    if (proxy.Scheme.empty())
        // TRANSLATORS: %1 is where the setting is: the name of an environment variable
        // (http_proxy) or the system's Internet settings.
        what = Fill(Tr("The proxy setting %1 cannot be read (a proxy is written "
                       "http://[user[:password]@]host[:port])."),
                    {source});
    else
        // TRANSLATORS: %1 is the proxy's URL, %2 where it is set: the name of an environment
        // variable (http_proxy) or the system's Internet settings.
        what = Fill(Tr("The proxy %1 of %2 is a proxy of a kind this program cannot use: it "
                       "speaks to HTTP proxies only."),
                    {proxy.Url(), source});
    return what + " " + Tr("The download stops before any request.") + "\r\n\r\n" +
           // TRANSLATORS: ProxyServer:, ProxyPort: and SystemProxy:0 are typed on the command
           // line as they are written here.
           Tr("Give an HTTP proxy there, or one with ProxyServer: and ProxyPort:, or start the "
              "program with SystemProxy:0 to connect directly.");
}

} // namespace

void TMainForm::FormActivate() {
    if (Activated)
        return;
    Activated = true;
    if (request_.UserInfoLeftOut)
        ShowStatus(Tr("The user name and password of the URL are not sent."), 0);
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
    if (Selecting || WorkersStarted())
        return;
    Selecting = true;
    struct EndOfSelection {
        TMainForm &self;
        ~EndOfSelection() { self.Selecting = false; }
    } end{*this};
    const auto t0 = Clock::now();
    for (;;) {
        // A message posted meanwhile (a click, a stop) ends the sleep at once: the wait costs
        // nothing while nothing happens.
        platform::SleepAndProcess(20);
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
    if (!WorkersStarted() && !Paused && !CloseRequested)
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
    btnOptions_->SetEnabled(false);
    struct EnableOptions {
        gui::Button &button;
        ~EnableOptions() { button.SetEnabled(true); }
    } enable{*btnOptions_};
    if (!session_) {
        engine::SessionSettings settings;
        settings.OutputDirectory = [this] { return options_->OutputDirectory; };
        settings.FinalName = [this] { return std::pair(FinalPath(), options_->OverrideFile); };
        settings.MaximumNumberOfAttempts = [this] { return options_->MaximumNumberOfAttempts; };
        settings.AttemptWait = AttemptWait;
        session_ = std::make_unique<engine::DownloadSession>(*this, std::move(settings));
    }
    engine::SessionRequest request;
    request.Protocol = protocol;
    for (size_t i = 0; i < mirrors.size(); ++i)
        request.Mirrors[i] = {mirrors[i].Host, mirrors[i].Directory};
    request.FileName = fileName;
    for (size_t i = 0; i < mirrors.size(); ++i) {
        // The options' proxy goes first; without it the system's settings for each location.
        if (!proxyServer.empty()) {
            platform::ProxyServer proxy;
            // "[::1]" and "::1" alike: the socket looks up the bare address.
            proxy.Host = platform::SocketHost(proxyServer);
            proxy.Port = proxyPort;
            request.Proxies[i] = {proxy};
            // TRANSLATORS: where the proxy was set, shown after it at detail level 2: "Through
            // the proxy host:8080, from the options."
            request.ProxySources[i] = Tr("the options");
        } else if (options_->UseSystemProxy && !mirrors[i].Host.empty()) {
            const std::string url =
                platform::LocationUrl(protocol, mirrors[i].Host, mirrors[i].Directory, fileName);
            request.Proxies[i] = platform::SystemProxiesFor(
                url, protocol, HostWithoutPort(mirrors[i].Host), request.ProxySources[i]);
        }
    }
    // A proxy the user relies on is never passed by: one that cannot be used ends the program
    // before anything is requested.
    for (size_t i = 0; i < mirrors.size(); ++i)
        for (const platform::ProxyServer &proxy : request.Proxies[i])
            if (const std::string why = UnusableProxyText(proxy, request.ProxySources[i]);
                !why.empty()) {
                app_.MessageBox(why, Tr("Proxy error"), gui::MessageButtons::Ok);
                form_.Close();
                return;
            }
    request.MaximumRequestLength = request_.MaximumRequestLength;
    request.Sha256 = request_.Sha256;
    request.Signers = request_.Signers;
    if (session_->Start(request, Paused) || CloseRequested)
        return;

    SetPaused(true);
    const std::string &why = session_->PrimaryFailure();
    const std::string &host = mirrors[0].Host;
    // TRANSLATORS: %1 is the server's name.
    const std::string couldNot = Fill(Tr("Could not connect to %1."), {host});
    ShowFigures(why.empty() ? couldNot
                            // TRANSLATORS: %1 is the server's name, %2 why (a sentence).
                            : Fill(Tr("Could not connect to %1: %2"), {host, Sentence(why)}));
    app_.MessageBox(couldNot + Paragraph(why) + "\r\n\r\n" +
                        Tr("Check your internet connection and the options."),
                    Tr("Connection error"), gui::MessageButtons::Ok);
    CloseUnlessUserCanAct(); // nobody could press Resume
}
