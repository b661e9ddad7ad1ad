#include "app/MainForm.h"

#include "ControllerFixture.h"

#include <algorithm>

using namespace controllertest;

TEST(LocationRule, FirstAnswerSetsTheSizeOnlyFasterAgreeingOnesReplaceIt) {
    EXPECT_TRUE(TakesOver(0, 100, 50, -1, -1));
    EXPECT_TRUE(TakesOver(2, 100, 50, -1, -1)) << "nothing taken yet";
    EXPECT_TRUE(TakesOver(1, 100, 10, 100, 50));
    EXPECT_FALSE(TakesOver(1, 100, 50, 100, 50)) << "a tie keeps the earlier entry";
    EXPECT_FALSE(TakesOver(1, 100, 60, 100, 50));
    EXPECT_FALSE(TakesOver(2, 999, 1, 100, 50)) << "another size never replaces";
}

TEST_F(Controller, FastestAgreeingLocationServesTheFiveRanges) {
    const std::string content = PatternBytes(0, 1000);
    RangeServer primary(content), slow(content), fast(content), other(PatternBytes(7, 999));
    primary.SetHeadDelay(120ms);
    slow.SetHeadDelay(200ms);
    TMainForm &m = OpenFor(primary);
    m.StartDownload("http", Mirrors({&primary, &slow, &fast, &other}), "file.bin", "", 0);
    EXPECT_EQ(Status(), "Using server " + Host(fast) + ".");
    ASSERT_TRUE(PumpUntil([&] { return Finished(); }));
    EXPECT_EQ(fast.Requests().size(), 6u) << "one size request and five ranges";
    std::vector<std::string> ranges;
    for (auto &r : fast.Requests())
        if (r.method == "GET")
            ranges.push_back(r.rangeLine);
    std::sort(ranges.begin(), ranges.end());
    EXPECT_EQ(ranges, (std::vector<std::string>{"Range: bytes=0-200", "Range: bytes=201-401",
                                                "Range: bytes=402-602", "Range: bytes=603-803",
                                                "Range: bytes=804-999"}));
    EXPECT_EQ(ReadFile(dir / "out" / "file.bin"), content);
    EXPECT_EQ(m.ExitCode, kExitVerified);
    EXPECT_EQ(Status(), "Finished.");
    EXPECT_EQ(m.Form().Caption(), "Downloading Pelko (0 of 0 MB, 100.0%)");
    EXPECT_EQ(PieceFilesLeft(), 0);
}

TEST_F(Controller, RangesOfAnotherVersionOfTheFileAreRefused) {
    // Every range first comes from another version of the file (another length, other bytes),
    // as from a mirror that was updated after it told the size; then the right one.
    const std::string content = PatternBytes(0, 10000);
    RangeServer server(content);
    server.SetFaults([](size_t i, const SeenRequest &r) {
        return r.method == "GET" && i <= 5 ? RangeFault{RangeFault::Kind::OtherVersion, 7, 0, {}}
                                           : RangeFault{};
    });
    TMainForm &m = OpenFor(server);
    m.StartDownload("http", Mirrors({&server, nullptr, nullptr, nullptr}), "file.bin", "", 0);
    ASSERT_TRUE(PumpUntil([&] { return Finished(); }));
    EXPECT_EQ(server.Requests().size(), 11u) << "one size request, ten ranges";
    EXPECT_EQ(ReadFile(dir / "out" / "file.bin"), content);
    EXPECT_EQ(m.ExitCode, kExitVerified);
}

TEST_F(Controller, EntryZeroWinsWhenAFasterLocationDisagreesOnTheSize) {
    RangeServer primary(PatternBytes(0, 3000)), faster(PatternBytes(0, 2999));
    primary.SetHeadDelay(100ms);
    TMainForm &m = OpenFor(primary);
    m.StartDownload("http", Mirrors({&primary, nullptr, &faster, nullptr}), "file.bin", "", 0);
    EXPECT_EQ(Status(), "Using server " + Host(primary) + ".");
    ASSERT_TRUE(PumpUntil([&] { return Finished(); }));
    EXPECT_EQ(ReadFile(dir / "out" / "file.bin"), PatternBytes(0, 3000));
}

TEST_F(Controller, NoLocationAnsweringPausesAndResumeSelectsAgain) {
    RangeServer later(PatternBytes(0, 500));
    // The size request and the one-byte request that follows a refused HEAD.
    later.SetFaults([](size_t i, const SeenRequest &) {
        return i <= 1 ? RangeFault{RangeFault::Kind::Status, 0, 503, {}} : RangeFault{};
    });
    TMainForm &m = OpenFor(later);
    m.StartWhenReady();
    const std::string host = Host(later);
    std::vector<std::string> expected = {"Retrieving information from " + host + "...",
                                         "Retrieving information from eu-ireland.storage.pelko.example...",
                                         "Retrieving information from ap-singapore.storage.pelko.example...",
                                         "Retrieving information from us-california.storage.pelko.example...",
                                         "Failed to retrieve file information from " + host + ".",
                                         "Paused."};
    EXPECT_EQ(backend->statuses, expected);
    ASSERT_EQ(backend->messages.size(), 1u);
    EXPECT_EQ(backend->messages[0].caption, "Connection error");
    EXPECT_EQ(backend->messages[0].text, "Could not connect to " + host +
                                             ".\r\n\r\nHTTP 503 Service Unavailable"
                                             "\r\n\r\nCheck your internet connection and the "
                                             "options.");
    EXPECT_TRUE(m.Paused);
    EXPECT_FALSE(m.Form().Get<gui::Button>("btnPause").Visible());
    EXPECT_TRUE(m.Form().Get<gui::Button>("btnResume").Visible());
    m.btnPauseResumeClick(); // Resume: a new selection from the message loop; it succeeds
    EXPECT_FALSE(m.WorkersStarted) << "the button's handler returns at once";
    ASSERT_TRUE(PumpUntil([&] { return m.WorkersStarted; }));
    ASSERT_TRUE(PumpUntil([&] { return Finished(); }));
    EXPECT_EQ(ReadFile(dir / "out" / "file.bin"), PatternBytes(0, 500));
}

// A Resume pressed again and again (a held key) while the selection waits or asks the
// locations joins that selection: one size request, one set of workers, no selection inside
// another.
TEST_F(Controller, ResumePressedDuringTheWaitAndTheSelectionStartsNoSecondSelection) {
    RangeServer server(PatternBytes(0, 5000));
    server.SetHeadDelay(300ms);
    TMainForm &m = OpenFor(server);
    m.StartDelay = 300ms;
    m.SetPaused(true);
    int presses = 0;
    std::function<void()> press = [&] {
        if (m.WorkersStarted || ++presses > 200)
            return;
        m.btnPauseResumeClick();
        platform::NotifyQueue::Current()->PostClosure(press);
    };
    platform::NotifyQueue::Current()->PostClosure(press);
    m.StartWhenReady();
    EXPECT_GT(presses, 10) << "the presses came during the wait and the size request";
    if (m.Paused)
        m.btnPauseResumeClick();
    ASSERT_TRUE(PumpUntil([&] { return Finished(); }));
    EXPECT_EQ(ReadFile(dir / "out" / "file.bin"), PatternBytes(0, 5000));
    size_t heads = 0;
    for (const SeenRequest &r : server.Requests())
        heads += r.method == "HEAD";
    EXPECT_EQ(heads, 1u);
}

// Resumed while the box of a failed selection is still open: the next selection follows.
TEST_F(Controller, ResumedWhileTheFailureBoxIsOpenSelectsAgainAfterIt) {
    RangeServer later(PatternBytes(0, 700));
    later.SetFaults([](size_t i, const SeenRequest &) {
        return i <= 1 ? RangeFault{RangeFault::Kind::Status, 0, 503, {}} : RangeFault{};
    });
    TMainForm &m = OpenFor(later);
    backend->duringMessage = [&] { m.btnPauseResumeClick(); };
    m.StartWhenReady();
    backend->duringMessage = nullptr;
    EXPECT_FALSE(m.Paused);
    ASSERT_TRUE(PumpUntil([&] { return Finished(); }));
    EXPECT_EQ(ReadFile(dir / "out" / "file.bin"), PatternBytes(0, 700));
}

// A server that answers ranges with the whole file: the file comes once, in one stream.
TEST_F(Controller, AServerThatSendsOnlyWholeFilesStillGivesTheFile) {
    const std::string content = PatternBytes(0, 2000000);
    RangeServer server(content);
    server.SetFaults([](size_t, const SeenRequest &r) {
        return r.method == "GET" ? RangeFault{RangeFault::Kind::WholeFile, 0, 0, {}}
                                 : RangeFault{};
    });
    TMainForm &m = OpenFor(server);
    m.StartDownload("http", Mirrors({&server, nullptr, nullptr, nullptr}), "file.bin", "", 0);
    ASSERT_TRUE(PumpUntil([&] { return Finished(); }));
    EXPECT_EQ(ReadFile(dir / "out" / "file.bin"), content);
    EXPECT_EQ(m.ExitCode, kExitVerified);
    EXPECT_EQ(m.ErrorCount, 0);
    EXPECT_NE(std::find(backend->statuses.begin(), backend->statuses.end(),
                        "The server sends only whole files: the file comes in one stream."),
              backend->statuses.end());
    EXPECT_EQ(PieceFilesLeft(), 0);
}

// A file of no bytes is a file: written, verified and completed, with no range asked for.
TEST_F(Controller, AnEmptyFileIsDownloaded) {
    RangeServer server("");
    TMainForm &m = OpenFor(server, "empty.txt");
    m.StartDownload("http", Mirrors({&server, nullptr, nullptr, nullptr}), "empty.txt", "", 0);
    ASSERT_TRUE(PumpUntil([&] { return m.ExitCode == kExitVerified; }));
    EXPECT_TRUE(std::filesystem::exists(dir / "out" / "empty.txt"));
    EXPECT_EQ(std::filesystem::file_size(dir / "out" / "empty.txt"), 0u);
    for (const SeenRequest &r : server.Requests())
        EXPECT_EQ(r.method, "HEAD");
    EXPECT_EQ(m.Form().Caption(), "Downloading Pelko (0 of 0 MB, 100.0%)");
}

// The box that asks whether to go on says what went wrong last.
TEST_F(Controller, TheRetryQuestionSaysWhyTheAttemptsFailed) {
    RangeServer server(PatternBytes(0, 1000));
    server.SetFaults([](size_t, const SeenRequest &r) {
        return r.method == "GET" ? RangeFault{RangeFault::Kind::Status, 0, 503, {}}
                                 : RangeFault{};
    });
    TMainForm &m = OpenFor(server);
    m.Options().MaximumNumberOfAttempts = 1;
    backend->answers = {gui::MessageResult::Cancel};
    ShowWithoutActivation(m);
    m.StartDownload("http", Mirrors({&server, nullptr, nullptr, nullptr}), "file.bin", "", 0);
    ASSERT_TRUE(PumpUntil([&] { return !backend->messages.empty(); }));
    EXPECT_EQ(backend->messages[0].text,
              "The server has disconnected the transfer 1 times.\r\n\r\n"
              "HTTP 503 Service Unavailable\r\n\r\nDo you want to continue attempting to "
              "transfer?");
    EXPECT_TRUE(m.CloseRequested);
}

TEST_F(Controller, EverySmallSizeDownloadsWhole) {
    for (size_t size = 1; size <= 20; ++size) {
        SCOPED_TRACE(size);
        const std::string content = PatternBytes(size, size);
        RangeServer server(content);
        // Appended, not `"f" + std::to_string(...)`: that form trips a false -Wrestrict of
        // gcc 12 (mingw-w64).
        std::string name = "f";
        name += std::to_string(size);
        TMainForm &m = OpenFor(server, name);
        m.StartDownload("http", Mirrors({&server, nullptr, nullptr, nullptr}), name, "", 0);
        ASSERT_TRUE(PumpUntil([&] { return Finished(); }));
        EXPECT_EQ(ReadFile(dir / "out" / name), content);
        EXPECT_EQ(m.ExitCode, kExitVerified);
        main.reset();
    }
    EXPECT_EQ(PieceFilesLeft(), 0);
}

TEST_F(Controller, ReportsMoveTheFiguresAndPassTheDetailFilter) {
    TMainForm &m = Open({"http://127.0.0.1:1/dir/file.bin", "ProductName:Pelko"});
    auto &pb = m.Form().Get<gui::ProgressBar>("pb");
    pb.SetRange(0, 5 * 1024 * 1024);
    pb.SetPosition(0);
    m.OnWorkerReport(nullptr, 1048576, "", 0);
    EXPECT_EQ(m.Form().Caption(), "Downloading Pelko (1 of 5 MB, 20.0%)");
    EXPECT_EQ(app->Title(), "Pelko download 20%");
    m.OnWorkerReport(nullptr, 0, "detail", 2);
    EXPECT_EQ(Status(), "");
    m.OnWorkerReport(nullptr, 0, "main step", 1);
    EXPECT_EQ(Status(), "main step");
    m.OnWorkerReport(nullptr, -1048576, "", 1);
    EXPECT_EQ(pb.Position(), 0) << "withdrawn bytes step back";
    m.SetPaused(true);
    m.OnWorkerReport(nullptr, 0, "while paused", 0);
    EXPECT_EQ(Status(), "Paused.");
}

TEST_F(Controller, ErrorPolicyPromptPauseAndClose) {
    const std::string error = "Error communicating with server. Retrying...";
    {
        TMainForm &m = Open({"http://127.0.0.1:1/dir/f", "ProductName:Pelko"});
        m.WorkersStarted = true; // as while workers run: a resume does not select again
        m.Options().MaximumNumberOfAttempts = 10;
        m.Options().ErrorAction = TErrorAction::Prompt;
        backend->answers = {gui::MessageResult::No, gui::MessageResult::Yes};
        for (int i = 0; i < 49; ++i)
            m.OnWorkerReport(nullptr, 0, error, 1);
        EXPECT_TRUE(backend->messages.empty());
        EXPECT_EQ(Status(), "Error communicating with server.");
        m.OnWorkerReport(nullptr, 0, error, 1); // the 50th
        ASSERT_EQ(backend->messages.size(), 1u);
        EXPECT_EQ(backend->messages[0].text, "The server has disconnected the transfer 10 "
                                             "times.\r\n\r\nDo you want to continue attempting "
                                             "to transfer?");
        EXPECT_EQ(backend->messages[0].buttons, gui::MessageButtons::YesNoCancel);
        EXPECT_TRUE(m.Paused) << "No stays paused";
        EXPECT_EQ(m.ErrorCount, 0);
        m.SetPaused(false);
        for (int i = 0; i < 50; ++i)
            m.OnWorkerReport(nullptr, 0, error, 1);
        EXPECT_FALSE(m.Paused) << "Yes resumes";
        EXPECT_EQ(m.Options().MaximumNumberOfAttempts, -1) << "and makes the attempts unlimited";
        for (int i = 0; i < 500; ++i)
            m.OnWorkerReport(nullptr, 0, error, 1);
        EXPECT_EQ(backend->messages.size(), 2u) << "unlimited never asks again";
        main.reset();
    }
    {
        TMainForm &m = Open({"http://127.0.0.1:1/dir/f", "ProductName:Pelko"});
        m.WorkersStarted = true;
        m.Options().MaximumNumberOfAttempts = 0;
        m.Options().ErrorAction = TErrorAction::Pause;
        m.OnWorkerReport(nullptr, 0, error, 1);
        EXPECT_TRUE(m.Paused) << "A = 0 acts at the first error";
        m.SetPaused(false);
        m.OnWorkerReport(nullptr, 0, error, 1);
        EXPECT_TRUE(m.Paused) << "the count is kept after Pause: the next error acts again";
        main.reset();
    }
    {
        TMainForm &m = Open({"http://127.0.0.1:1/dir/f", "ProductName:Pelko"});
        m.Options().MaximumNumberOfAttempts = 0;
        m.Options().ErrorAction = TErrorAction::Close;
        ShowWithoutActivation(m);
        m.OnWorkerReport(nullptr, 0, error, 1);
        EXPECT_TRUE(m.CloseRequested);
        EXPECT_EQ(m.ExitCode, kExitIncomplete);
    }
}

TEST_F(Controller, PauseWithdrawsTheBytesAndResumeCompletesTheExactFile) {
    const std::string content = PatternBytes(0, 400000);
    RangeServer server(content);
    server.SetFaults([](size_t i, const SeenRequest &r) {
        // The first range requests send part of their bytes, then stall.
        return r.method == "GET" && i <= 5 ? RangeFault{RangeFault::Kind::StallAfter, 20000, 0, 20s}
                                           : RangeFault{};
    });
    TMainForm &m = OpenFor(server);
    m.StartDownload("http", Mirrors({&server, nullptr, nullptr, nullptr}), "file.bin", "", 0);
    auto &pb = m.Form().Get<gui::ProgressBar>("pb");
    ASSERT_TRUE(PumpUntil([&] { return pb.Position() >= 5 * 20000; }));
    m.btnPauseResumeClick();
    ASSERT_TRUE(PumpUntil([&] { return pb.Position() == 0; })) << "the bar steps back";
    EXPECT_EQ(Status(), "Paused.");
    m.btnPauseResumeClick();
    EXPECT_EQ(Status(), "Resuming...");
    ASSERT_TRUE(PumpUntil([&] { return Finished(); }));
    EXPECT_EQ(ReadFile(dir / "out" / "file.bin"), content);
    EXPECT_EQ(m.ErrorCount, 0) << "a pause is no error";
}

TEST_F(Controller, FreeOutputNamesWhenOverwritingIsOff) {
    std::ofstream(dir / "out" / "Pelko_setup.exe") << "old";
    std::ofstream(dir / "out" / "Pelko_setup_1.exe") << "old";
    RangeServer server(PatternBytes(0, 100));
    TMainForm &m = OpenFor(server, "Pelko_setup.exe");
    m.Options().OverrideFile = false;
    m.StartDownload("http", Mirrors({&server, nullptr, nullptr, nullptr}), "Pelko_setup.exe", "",
                    0);
    ASSERT_TRUE(PumpUntil([&] { return Finished(); }));
    EXPECT_EQ(m.OutputPath, (dir / "out" / "Pelko_setup_2.exe").string());
    EXPECT_EQ(ReadFile(m.OutputPath), PatternBytes(0, 100));
    EXPECT_EQ(ReadFile(dir / "out" / "Pelko_setup.exe"), "old");
}

#ifndef _WIN32
// Shell scripts as the downloaded programs, and a planted symbolic link: POSIX only.
TEST_F(Controller, ADownloadedScriptIsRunWaitedForAndDeleted) {
    const std::string script = "#!/bin/sh\nsleep 0.2\necho ran > \"$(dirname \"$0\")/marker\"\n";
    RangeServer server(script);
    TMainForm &m = OpenFor(server, "setup.sh");
    m.Options().CompletionLaunchApplication = true;
    m.Options().DeleteAfterDownloading = true;
    m.StartDownload("http", Mirrors({&server, nullptr, nullptr, nullptr}), "setup.sh", "", 0);
    ASSERT_TRUE(PumpUntil([&] { return Finished(); }));
    EXPECT_EQ(ReadFile(dir / "out" / "marker"), "ran\n") << "waited for before the deletion";
    EXPECT_FALSE(std::filesystem::exists(dir / "out" / "setup.sh"));
    EXPECT_EQ(Status(), "Finished.");
    EXPECT_EQ(m.ExitCode, kExitVerified);
}

TEST_F(Controller, AFileThatFailsItsVerificationOrItsJoinIsNeverRun) {
    // A script that leaves a marker beside itself if it is ever run.
    std::string script = "#!/bin/sh\necho ran > \"$(dirname \"$0\")/marker\"\nexit 0\n";
    script.resize(3000, '#');
    const auto marker = dir / "out" / "marker";
    {
        RangeServer server(script);
        // Worker 1's range comes at once, the others a moment later: time enough to spoil
        // the first piece on disk in between, as a failing disk would.
        server.SetFaults([](size_t, const SeenRequest &r) {
            bool first = r.rangeLine.find("bytes=0-") != std::string::npos;
            return r.method == "GET" && !first
                       ? RangeFault{RangeFault::Kind::PauseAfter, 0, 0, 300ms}
                       : RangeFault{};
        });
        TMainForm &m = OpenFor(server, "setup.sh");
        m.Options().CompletionLaunchApplication = true;
        m.Options().DeleteAfterDownloading = true; // a run would be waited for
        m.StartDownload("http", Mirrors({&server, nullptr, nullptr, nullptr}), "setup.sh", "", 0);
        ASSERT_TRUE(PumpUntil([&] { return m.Workers[0]->Finished.load(); }));
        ASSERT_FALSE(Finished());
        ASSERT_EQ(m.Workers[0]->PieceFiles.size(), 1u);
        std::filesystem::resize_file(m.Workers[0]->PieceFiles[0], 100);
        ASSERT_TRUE(PumpUntil([&] { return Finished(); }));
        ASSERT_EQ(backend->messages.size(), 1u);
        EXPECT_EQ(backend->messages[0].text,
                  "The file did not download correctly. Please try again.\r\n\r\n"
                  "The file has 2499 bytes instead of 3000.");
        EXPECT_EQ(Status(), "Verification failed.");
        EXPECT_EQ(m.ExitCode, kExitFailed);
        EXPECT_FALSE(std::filesystem::exists(dir / "out" / "setup.sh")) << "deleted";
        EXPECT_FALSE(std::filesystem::exists(marker)) << "never run";
        EXPECT_EQ(PieceFilesLeft(), 0);
        main.reset();
    }
    {
        // The output's name taken by a link to another file: the join fails, nothing runs,
        // and the other file is neither written nor run.
        const auto victim = dir / "victim.sh";
        const std::string victimText = "#!/bin/sh\necho ran > \"" + marker.string() + "\"\n";
        std::ofstream(victim) << victimText;
        std::filesystem::permissions(victim, std::filesystem::perms::owner_all);
        std::filesystem::create_symlink(victim, dir / "out" / "setup.sh");
        RangeServer server(script);
        TMainForm &m = OpenFor(server, "setup.sh");
        m.Options().CompletionLaunchApplication = true;
        m.StartDownload("http", Mirrors({&server, nullptr, nullptr, nullptr}), "setup.sh", "", 0);
        ASSERT_TRUE(PumpUntil([&] { return Finished(); }));
        EXPECT_EQ(m.ExitCode, kExitFailed);
        EXPECT_EQ(backend->messages.back().caption, "ERROR");
        EXPECT_NE(backend->messages.back().text.find("not a plain file"), std::string::npos)
            << backend->messages.back().text;
        EXPECT_EQ(ReadFile(victim), victimText) << "not written through";
        EXPECT_FALSE(std::filesystem::exists(marker)) << "never run";
        EXPECT_EQ(PieceFilesLeft(), 0);
    }
}
#endif

TEST_F(Controller, AnOutputThatCannotBeWrittenFailsCleanly) {
    RangeServer server(PatternBytes(0, 5000));
    TMainForm &m = OpenFor(server);
    m.Options().OutputDirectory = (dir / "missing" / "").string();
    m.StartDownload("http", Mirrors({&server, nullptr, nullptr, nullptr}), "file.bin", "", 0);
    ASSERT_TRUE(PumpUntil([&] { return Finished(); }));
    ASSERT_EQ(backend->messages.size(), 1u);
    EXPECT_EQ(backend->messages[0].caption, "ERROR");
    EXPECT_NE(backend->messages[0].text.find((std::filesystem::path("missing") / "file.bin").string()),
              std::string::npos);
    EXPECT_EQ(Status(), "Verification failed.");
    EXPECT_EQ(m.ExitCode, kExitFailed);
    EXPECT_EQ(PieceFilesLeft(), 0);
    EXPECT_TRUE(m.Form().Get<gui::Button>("btnClose").Enabled());
}

TEST_F(Controller, PrerequisiteDeclinedRequestsNothingAcceptedNeverRunsTheFile) {
    RangeServer server(PatternBytes(0, 100));
    platform::SetOsVersionForTesting(platform::OsVersionRecord{4, 0, 0, 2, ""});
    {
        TMainForm &m = Open({Url(server, "file.bin"), "OSPlatformId:2",
                             "MinimumOSAMajorVersion:5", "MinimumOSVersionDescription:NT 5"});
        backend->answers = {gui::MessageResult::No};
        m.FormActivate();
        EXPECT_EQ(backend->messages.back().caption, "Prerequisites");
        EXPECT_TRUE(server.Requests().empty());
        EXPECT_EQ(m.ExitCode, kExitIncomplete);
        main.reset();
    }
    {
        TMainForm &m = Open({Url(server, "file.bin"), "OSPlatformId:2",
                             "MinimumOSAMajorVersion:5", "MinimumOSVersionDescription:NT 5"});
        m.Options().CompletionLaunchApplication = true;
        backend->answers = {gui::MessageResult::Yes};
        m.FormActivate();
        EXPECT_FALSE(m.Options().CompletionLaunchApplication);
        ASSERT_TRUE(PumpUntil([&] { return Finished(); }));
        EXPECT_EQ(m.ExitCode, kExitVerified);
    }
}

TEST_F(Controller, TheServersDateBecomesTheFilesDateAndTheProxyIsLockedWhileWorkersRun) {
    RangeServer server(PatternBytes(0, 2000), "Sun, 06 Nov 1994 08:49:37 GMT");
    TMainForm &m = OpenFor(server);
    m.btnOptionsClick();
    EXPECT_TRUE(m.Options().ProxyEditable) << "before the workers exist";
    m.StartDownload("http", Mirrors({&server, nullptr, nullptr, nullptr}), "file.bin", "", 0);
    m.btnOptionsClick();
    EXPECT_FALSE(m.Options().ProxyEditable) << "while they run";
    ASSERT_TRUE(PumpUntil([&] { return Finished(); }));
    auto when = std::filesystem::last_write_time(dir / "out" / "file.bin");
    auto seconds = std::chrono::duration_cast<std::chrono::seconds>(
                       std::chrono::file_clock::to_sys(when).time_since_epoch())
                       .count();
    EXPECT_EQ(seconds, 784111777) << "Sun, 06 Nov 1994 08:49:37 GMT";
}

TEST_F(Controller, ClosingMidTransferLeavesNoPieceFiles) {
    const std::string content = PatternBytes(0, 100000);
    RangeServer server(content);
    server.SetFaults([](size_t, const SeenRequest &r) {
        // Worker 1's range arrives, the others stall.
        bool first = r.rangeLine.find("bytes=0-") != std::string::npos;
        return r.method == "GET" && !first ? RangeFault{RangeFault::Kind::StallAfter, 100, 0, 20s}
                                           : RangeFault{};
    });
    TMainForm &m = OpenFor(server);
    m.StartDownload("http", Mirrors({&server, nullptr, nullptr, nullptr}), "file.bin", "", 0);
    ASSERT_TRUE(PumpUntil([&] { return m.Workers[0]->Finished.load(); }));
    EXPECT_TRUE(PumpUntil([&] { return PieceFilesLeft() == 5; }))
        << "one kept piece and four in the making";
    m.btnCancelClick();
    EXPECT_EQ(m.ExitCode, kExitIncomplete);
    main.reset();
    EXPECT_EQ(PieceFilesLeft(), 0);
}

TEST_F(Controller, WithoutAUserStatesThatWaitForOneEndTheProgram) {
    backend->userCanAct = false;
    {
        RangeServer gone(PatternBytes(0, 10));
        gone.SetFaults([](size_t, const SeenRequest &) {
            return RangeFault{RangeFault::Kind::Status, 0, 503, {}};
        });
        TMainForm &m = OpenFor(gone);
        ShowWithoutActivation(m);
        m.StartWhenReady();
        EXPECT_TRUE(m.CloseRequested) << "paused after no location answered";
        EXPECT_EQ(m.ExitCode, kExitIncomplete);
        main.reset();
    }
    {
        TMainForm &m = Open({"http://127.0.0.1:1/dir/f", "ProductName:Pelko"});
        ShowWithoutActivation(m);
        m.WorkersStarted = true;
        m.Options().MaximumNumberOfAttempts = 0;
        m.Options().ErrorAction = TErrorAction::Pause;
        m.OnWorkerReport(nullptr, 0, "Error communicating with server. Retrying...", 1);
        EXPECT_TRUE(m.CloseRequested) << "the error action Pause";
        main.reset();
    }
    {
        RangeServer server(PatternBytes(0, 700));
        TMainForm &m = OpenFor(server);
        ShowWithoutActivation(m);
        m.StartDownload("http", Mirrors({&server, nullptr, nullptr, nullptr}), "file.bin", "", 0);
        ASSERT_TRUE(PumpUntil([&] { return Finished(); }));
        EXPECT_TRUE(m.CloseRequested) << "a verified download with CompletionClose off";
        EXPECT_EQ(m.ExitCode, kExitVerified);
    }
}
