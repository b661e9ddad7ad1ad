#pragma once

// The main window driven end to end through the headless backend: real workers, real sockets,
// range servers on loopback as the four locations, and this thread pumping the main queue.

#include "tests/support/TestFiles.h"
#include "app/MainForm.h"
#include "gui/Control.h"
#include "gui/headless/HeadlessBackend.h"
#include "platform/HostLookup.h"
#include "platform/NotifyQueue.h"
#include "platform/ProcessInfo.h"
#include "platform/SocketErrors.h"
#include "platform/TempFiles.h"
#include "platform/Version.h"
#include "tests/support/RangeServer.h"
#include "tests/support/ScriptedServer.h"
#include "tests/support/TestEnvironment.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace controllertest {

using namespace std::chrono;
using namespace std::chrono_literals;
using testsupport::PatternBytes;
using testsupport::ReadFile;
using testsupport::RangeFault;
using testsupport::RangeServer;
using testsupport::SeenRequest;

// The headless backend, also keeping every text the status line showed (and handing it to
// onStatus, where a test acts at a given moment).
struct RecordingBackend : gui::HeadlessBackend {
    std::vector<std::string> statuses;
    std::function<void(const std::string &)> onStatus;
    void ControlChanged(gui::Control &c, gui::Property what) override {
        if (what != gui::Property::Caption || c.Name() != "lblMessage")
            return;
        statuses.push_back(c.Caption());
        if (onStatus)
            onStatus(c.Caption());
    }
};

class Controller : public ::testing::Test {
  protected:
    void SetUp() override {
        auto *info = ::testing::UnitTest::GetInstance()->current_test_info();
        dir = std::filesystem::path(::testing::TempDir()) /
              (std::string("controller_") + info->name() + "_" + std::to_string(::getpid()));
        std::filesystem::remove_all(dir);
        std::filesystem::create_directories(dir / "out");
        std::filesystem::create_directories(dir / "tmp");
        // The temporary folder is one of this test's, so that anything left there is seen.
        oldTmpdir = testsupport::GetEnv(testsupport::kTempDirVariable);
        testsupport::SetEnv(testsupport::kTempDirVariable, (dir / "tmp").string());
        platform::ForgetTempDirectoryForTesting();
        // The locations are reached directly, whatever proxy the machine's user has set.
        for (const char *name : {"http_proxy", "https_proxy", "HTTPS_PROXY", "all_proxy",
                                 "ALL_PROXY", "no_proxy", "NO_PROXY"})
            testsupport::UnsetEnv(name);
        platform::SetOsVersionForTesting(platform::OsVersionRecord{10, 0, 0, 2, ""});
        // The built-in mirrors' names are looked up nowhere: no such host.
        platform::SetResolver([](const std::string &, std::vector<platform::IpAddress> &) {
            return static_cast<int>(platform::kErrHostNotFound);
        });
        auto b = std::make_unique<RecordingBackend>();
        backend = b.get();
        app = std::make_unique<gui::Application>(std::move(b));
    }
    void TearDown() override {
        main.reset();
        app.reset();
        platform::SetOsVersionForTesting(std::nullopt);
        platform::SetResolver(nullptr);
        if (oldTmpdir)
            testsupport::SetEnv(testsupport::kTempDirVariable, *oldTmpdir);
        else
            testsupport::UnsetEnv(testsupport::kTempDirVariable);
        platform::ForgetTempDirectoryForTesting();
        std::error_code ec;
        std::filesystem::remove_all(dir, ec);
    }

    // The main window for a command line, set up to run fast and keep its file.
    TMainForm &Open(std::vector<std::string> args) {
        args.insert(args.begin(), "/opt/download");
        main = std::make_unique<TMainForm>(*app, std::move(args));
        main->StartDelay = 0ms;
        main->AttemptWait = 10ms;
        TOptionsForm &o = main->Options();
        o.OutputDirectory = (dir / "out").string() + platform::PathSeparator();
        o.CompletionClose = false;
        o.CompletionLaunchApplication = false;
        return *main;
    }
    TMainForm &OpenFor(const RangeServer &server, const std::string &name = "file.bin") {
        return Open({Url(server, name), "ProductName:Pelko"});
    }
    static std::string Host(const RangeServer &s) {
        return "127.0.0.1:" + std::to_string(s.Port());
    }
    static std::string Url(const RangeServer &s, const std::string &name) {
        return "http://" + Host(s) + "/dir/" + name;
    }
    // Four locations from servers (nullptr: a host that refuses at once).
    static TMirrorTable Mirrors(std::initializer_list<const RangeServer *> servers) {
        TMirrorTable t;
        size_t i = 0;
        for (const RangeServer *s : servers)
            t[i++] = {s ? Host(*s) : "127.0.0.1:1", "dir"};
        return t;
    }

    // The window as the message loop shows it, with the activation already done, so that
    // the test drives the download itself.
    static void ShowWithoutActivation(TMainForm &m) {
        m.Activated = true;
        m.Form().Show();
    }
    template <typename P> bool PumpUntil(P pred, milliseconds limit = 30s) {
        auto end = steady_clock::now() + limit;
        while (!pred() && steady_clock::now() < end)
            platform::SleepAndProcess(2);
        return pred();
    }
    // The download has ended: verified, failed or stopped.
    bool Finished() const {
        const engine::DownloadSession *session = main->Session();
        if (!session)
            return false;
        const engine::Phase phase = session->CurrentPhase();
        return phase == engine::Phase::Done || phase == engine::Phase::Failed ||
               phase == engine::Phase::Stopped;
    }
    std::string Status() const { return main->Form().Get<gui::Label>("lblMessage").Caption(); }
    // Files being written under a working name in the output folder; nothing ever goes to the
    // temporary folder.
    int WorkingFilesLeft() const {
        int n = 0;
        for (auto &e : std::filesystem::directory_iterator(dir / "out"))
            n += e.path().filename().string().rfind("tlv", 0) == 0;
        EXPECT_TRUE(std::filesystem::is_empty(dir / "tmp")) << "something in the temporary folder";
        return n;
    }
    // The failure of an attempt, as a worker reports it to the session.
    static void Fail(TMainForm &m, bool counted = true) {
        m.Session()->AttemptFailed(
            1, engine::Failure{engine::FailureKind::HttpStatus, 503, "HTTP 503 Service Unavailable"},
            engine::FailureOutcome{false, counted});
    }
    // A download whose ranges stall, so that the session transfers while a test tells it of
    // failures.
    TMainForm &OpenStalled(const RangeServer &server) {
        TMainForm &m = OpenFor(server);
        m.StartDownload("http", Mirrors({&server, nullptr, nullptr, nullptr}), "file.bin", "", 0);
        EXPECT_TRUE(m.WorkersStarted());
        return m;
    }

    std::filesystem::path dir;
    std::optional<std::string> oldTmpdir;
    RecordingBackend *backend = nullptr;
    std::unique_ptr<gui::Application> app;
    std::unique_ptr<TMainForm> main;
};

} // namespace controllertest
