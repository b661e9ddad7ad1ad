#include "app/MainForm.h"

#include "ControllerFixture.h"

#include <algorithm>
#include <set>

#ifndef _WIN32
#include <csignal>
#include <sys/resource.h>
#endif

using namespace controllertest;
using testsupport::Action;
using testsupport::ScriptedServer;

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
    EXPECT_EQ(m.Form().Caption(), "Downloaded Pelko (0 of 0 MB, 100.0%)");
    EXPECT_EQ(m.Form().Get<gui::Label>("lblProgress").Caption(),
              "Saved in " + (dir / "out").string());
    EXPECT_EQ(m.Form().FocusedControl(), m.Form().Find("btnClose")) << "Enter never runs it";
    EXPECT_EQ(WorkingFilesLeft(), 0);
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
    EXPECT_FALSE(m.WorkersStarted()) << "the button's handler returns at once";
    ASSERT_TRUE(PumpUntil([&] { return m.WorkersStarted(); }));
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
        if (m.WorkersStarted() || ++presses > 200)
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
    EXPECT_EQ(m.Session()->ErrorCount, 0);
    EXPECT_NE(std::find(backend->statuses.begin(), backend->statuses.end(),
                        "The server sends only whole files: the file comes in one stream."),
              backend->statuses.end());
    EXPECT_EQ(WorkingFilesLeft(), 0);
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
    EXPECT_EQ(m.Form().Caption(), "Downloaded Pelko (0 of 0 MB, 100.0%)");
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
              "The server has disconnected the transfer 1 times.\r\n"
              "The last attempt failed: HTTP 503 Service Unavailable.\r\n\r\n"
              "Do you want to continue attempting to transfer?");
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
    EXPECT_EQ(WorkingFilesLeft(), 0);
}

TEST_F(Controller, TheSessionsFiguresMoveTheBarAndItsTextsPassTheDetailFilter) {
    TMainForm &m = Open({"http://127.0.0.1:1/dir/file.bin", "ProductName:Pelko"});
    auto &pb = m.Form().Get<gui::ProgressBar>("pb");
    pb.SetRange(0, 5 * 1024 * 1024);
    pb.SetPosition(0);
    m.OnProgress(1048576, 5 * 1024 * 1024);
    EXPECT_EQ(m.Form().Caption(), "Downloading Pelko (1 of 5 MB, 20.0%)");
    EXPECT_EQ(app->Title(), "Pelko download 20%");
    EXPECT_EQ(m.Form().Get<gui::Label>("lblProgress").Caption(), "1.0 of 5.0 MB");
    m.OnStatus("detail", 2);
    EXPECT_EQ(Status(), "");
    m.OnStatus("main step", 1);
    EXPECT_EQ(Status(), "main step");
    m.OnProgress(0, 5 * 1024 * 1024);
    EXPECT_EQ(pb.Position(), 0) << "the bar shows what the session counts";
    m.OnProgress(2097152, 5 * 1024 * 1024);
    m.SetPaused(true);
    m.OnStatus("while paused", 0);
    EXPECT_EQ(Status(), "Paused.");
    EXPECT_EQ(m.Form().Caption(), "Download of Pelko paused (2 of 5 MB, 40.0%)");
    EXPECT_EQ(app->Title(), "Pelko download paused at 40%");
    EXPECT_EQ(m.Form().Get<gui::Label>("lblProgress").Caption(), "2.0 of 5.0 MB");
    m.SetPaused(false);
    EXPECT_EQ(app->Title(), "Pelko download 40%");
}

TEST_F(Controller, ALongProductNameLeavesTheFiguresInTheCaption) {
    TMainForm &m = Open({"http://127.0.0.1:1/dir/file.bin",
                         "ProductName:Talvex Studio 2027 Professional Edition x64 (English)"});
    auto &pb = m.Form().Get<gui::ProgressBar>("pb");
    pb.SetRange(0, 5 * 1024 * 1024);
    m.OnProgress(1048576, 5 * 1024 * 1024);
    EXPECT_EQ(m.Form().Caption(), "Downloading Talvex Stud... (English) (1 of 5 MB, 20.0%)");
    EXPECT_EQ(app->Title(), "Talvex Stud... (English) download 20%");
}

// The attempts of the options count the failures the session counts (those of the last
// location that can serve), five workers sharing one count.
TEST_F(Controller, ErrorPolicyPromptPauseAndClose) {
    RangeServer stalled(PatternBytes(0, 100000));
    stalled.SetFaults([](size_t, const SeenRequest &r) {
        return r.method == "GET" ? RangeFault{RangeFault::Kind::StallForever, 10, 0, {}}
                                 : RangeFault{};
    });
    {
        TMainForm &m = OpenStalled(stalled);
        m.Options().MaximumNumberOfAttempts = 10;
        m.Options().ErrorAction = TErrorAction::Prompt;
        backend->answers = {gui::MessageResult::No, gui::MessageResult::Yes};
        for (int i = 0; i < 49; ++i)
            Fail(m);
        Fail(m, false); // another location could still serve: not counted
        EXPECT_TRUE(backend->messages.empty());
        EXPECT_EQ(Status(), "Error communicating with server.");
        Fail(m); // the 50th
        ASSERT_EQ(backend->messages.size(), 1u);
        EXPECT_EQ(backend->messages[0].text,
                  "The server has disconnected the transfer 10 times.\r\nThe last attempt "
                  "failed: HTTP 503 Service Unavailable.\r\n\r\nDo you want to continue "
                  "attempting to transfer?");
        EXPECT_EQ(m.Form().Get<gui::Label>("lblProgress").Caption(),
                  "The last attempt failed: HTTP 503 Service Unavailable.")
            << "the reason stays in the window";
        EXPECT_EQ(backend->messages[0].buttons, gui::MessageButtons::YesNoCancel);
        EXPECT_TRUE(m.Paused) << "No stays paused";
        EXPECT_EQ(m.Session()->ErrorCount, 0);
        m.SetPaused(false);
        for (int i = 0; i < 50; ++i)
            Fail(m);
        EXPECT_FALSE(m.Paused) << "Yes resumes";
        EXPECT_EQ(m.Options().MaximumNumberOfAttempts, -1) << "and makes the attempts unlimited";
        for (int i = 0; i < 500; ++i)
            Fail(m);
        EXPECT_EQ(backend->messages.size(), 2u) << "unlimited never asks again";
        main.reset();
    }
    {
        TMainForm &m = OpenStalled(stalled);
        m.Options().MaximumNumberOfAttempts = 0;
        m.Options().ErrorAction = TErrorAction::Pause;
        Fail(m);
        EXPECT_TRUE(m.Paused) << "A = 0 acts at the first error";
        m.SetPaused(false);
        Fail(m);
        EXPECT_TRUE(m.Paused) << "the count is kept after Pause: the next error acts again";
        main.reset();
    }
    {
        TMainForm &m = OpenStalled(stalled);
        m.Options().MaximumNumberOfAttempts = 0;
        m.Options().ErrorAction = TErrorAction::Close;
        ShowWithoutActivation(m);
        Fail(m);
        EXPECT_TRUE(m.CloseRequested);
        EXPECT_EQ(m.ExitCode, kExitIncomplete);
    }
}

TEST_F(Controller, PauseKeepsTheBytesAndResumeCompletesTheExactFile) {
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
    EXPECT_EQ(Status(), "Paused.");
    PumpUntil([] { return false; }, 100ms);
    EXPECT_EQ(pb.Position(), 5 * 20000) << "the bytes that came stay";
    m.btnPauseResumeClick();
    EXPECT_EQ(Status(), "Resuming...");
    ASSERT_TRUE(PumpUntil([&] { return Finished(); }));
    EXPECT_EQ(ReadFile(dir / "out" / "file.bin"), content);
    EXPECT_EQ(m.Session()->ErrorCount, 0) << "a pause is no error";
    std::vector<std::string> resumed;
    for (auto &r : server.Requests())
        if (r.method == "GET" && r.rangeLine.find("bytes=0-") == std::string::npos &&
            r.rangeLine.find("0-") != std::string::npos)
            resumed.push_back(r.rangeLine);
    EXPECT_NE(std::find(resumed.begin(), resumed.end(), "Range: bytes=20000-80000"),
              resumed.end())
        << "the first range goes on after its 20000 bytes";
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

// A file put under the verified file's name between its checks and its run (here: as the run
// begins) is not run: what starts is what was checked, or nothing.
TEST_F(Controller, AFileReplacedBetweenTheChecksAndTheRunIsNotRun) {
    const std::string script = "#!/bin/sh\necho ran > \"$(dirname \"$0\")/marker\"\n";
    RangeServer server(script);
    TMainForm &m = OpenFor(server, "setup.sh");
    m.Options().CompletionLaunchApplication = true;
    m.Options().DeleteAfterDownloading = true;
    const auto planted = dir / "planted.sh";
    std::ofstream(planted) << "#!/bin/sh\necho planted > \"" << (dir / "planted-ran").string()
                           << "\"\n";
    std::filesystem::permissions(planted, std::filesystem::perms::owner_all);
    backend->onStatus = [&](const std::string &status) {
        if (status == "Executing downloaded application...")
            std::filesystem::rename(planted, dir / "out" / "setup.sh");
    };
    m.StartDownload("http", Mirrors({&server, nullptr, nullptr, nullptr}), "setup.sh", "", 0);
    ASSERT_TRUE(PumpUntil([&] { return Finished(); }));
    backend->onStatus = nullptr;
    ASSERT_EQ(backend->messages.size(), 1u);
    EXPECT_EQ(backend->messages[0].caption, "ERROR");
    EXPECT_NE(backend->messages[0].text.find("was replaced after it was checked"),
              std::string::npos)
        << backend->messages[0].text;
    EXPECT_FALSE(std::filesystem::exists(dir / "planted-ran")) << "the planted file never runs";
    EXPECT_FALSE(std::filesystem::exists(dir / "out" / "marker"));
}

TEST_F(Controller, AFileThatFailsItsVerificationIsNeverRunAndAPlantedLinkIsNotFollowed) {
    // A script that leaves a marker beside itself if it is ever run.
    std::string script = "#!/bin/sh\necho ran > \"$(dirname \"$0\")/marker\"\nexit 0\n";
    script.resize(3000, '#');
    const auto marker = dir / "out" / "marker";
    {
        RangeServer server(script);
        // Worker 1's range comes at once, the others a moment later: time enough to spoil
        // the file on disk in between, as a failing disk would.
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
        ASSERT_TRUE(PumpUntil([&] { return m.Session()->Received() >= 601; }));
        ASSERT_FALSE(Finished());
        std::filesystem::path working;
        for (auto &e : std::filesystem::directory_iterator(dir / "out"))
            working = e.path();
        ASSERT_EQ(working.filename().string().rfind("tlv", 0), 0u) << working;
        std::filesystem::resize_file(working, 3100);
        ASSERT_TRUE(PumpUntil([&] { return Finished(); }));
        ASSERT_EQ(backend->messages.size(), 1u);
        EXPECT_EQ(backend->messages[0].text,
                  "The file did not download correctly. Please try again.\r\n\r\n"
                  "The file has 3100 bytes instead of 3000.");
        EXPECT_EQ(Status(), "Verification failed.");
        EXPECT_EQ(m.ExitCode, kExitFailed);
        EXPECT_FALSE(std::filesystem::exists(dir / "out" / "setup.sh")) << "never named";
        EXPECT_FALSE(std::filesystem::exists(marker)) << "never run";
        EXPECT_EQ(WorkingFilesLeft(), 0);
        main.reset();
    }
    {
        // The output's name taken by a link to another file: the verified file takes the
        // name's place, and the other file is neither written nor run.
        const auto victim = dir / "victim.sh";
        const std::string victimText =
            "#!/bin/sh\necho ran > \"" + (dir / "victim-ran").string() + "\"\n";
        std::ofstream(victim) << victimText;
        std::filesystem::permissions(victim, std::filesystem::perms::owner_all);
        std::filesystem::create_symlink(victim, dir / "out" / "setup.sh");
        RangeServer server(script);
        TMainForm &m = OpenFor(server, "setup.sh");
        m.StartDownload("http", Mirrors({&server, nullptr, nullptr, nullptr}), "setup.sh", "", 0);
        ASSERT_TRUE(PumpUntil([&] { return Finished(); }));
        EXPECT_EQ(m.ExitCode, kExitVerified);
        EXPECT_FALSE(std::filesystem::is_symlink(dir / "out" / "setup.sh"));
        EXPECT_EQ(ReadFile(dir / "out" / "setup.sh"), script);
        EXPECT_EQ(ReadFile(victim), victimText) << "not written through";
        EXPECT_FALSE(std::filesystem::exists(dir / "victim-ran")) << "never run";
        EXPECT_EQ(WorkingFilesLeft(), 0);
    }
}
#endif

TEST_F(Controller, AnOutputThatCannotBeWrittenFailsCleanlyBeforeAnyRange) {
    RangeServer server(PatternBytes(0, 5000));
    TMainForm &m = OpenFor(server);
    m.Options().OutputDirectory = (dir / "missing" / "").string();
    m.StartDownload("http", Mirrors({&server, nullptr, nullptr, nullptr}), "file.bin", "", 0);
    ASSERT_TRUE(PumpUntil([&] { return Finished(); }));
    ASSERT_EQ(backend->messages.size(), 1u);
    EXPECT_EQ(backend->messages[0].caption, "ERROR");
    EXPECT_NE(backend->messages[0].text.find("missing"), std::string::npos)
        << backend->messages[0].text;
    EXPECT_EQ(Status(), "The file could not be written.");
    EXPECT_EQ(m.ExitCode, kExitFailed);
    for (auto &r : server.Requests())
        EXPECT_EQ(r.method, "HEAD") << "no range asked";
    EXPECT_TRUE(m.Form().Get<gui::Button>("btnClose").Enabled());
}

// A location that says the file is larger than the disk can take: said before any range is
// asked, with the room needed and the room free, and nothing is left.
TEST_F(Controller, TooLittleRoomIsSaidBeforeAnyRange) {
    ScriptedServer server;
    server.SetDefault({Action::ReadRequest(),
                       Action::Send("HTTP/1.0 200 OK\r\nContent-Length: 10000000000000\r\n\r\n"),
                       Action::Close()});
    TMainForm &m = Open({"http://127.0.0.1:" + std::to_string(server.Port()) + "/dir/big.bin"});
    TMirrorTable mirrors;
    mirrors[0] = {"127.0.0.1:" + std::to_string(server.Port()), "dir"};
    for (size_t i = 1; i < 4; ++i)
        mirrors[i] = {"127.0.0.1:1", "dir"};
    m.StartDownload("http", mirrors, "big.bin", "", 0);
    ASSERT_TRUE(PumpUntil([&] { return Finished(); }));
    EXPECT_EQ(m.Session()->CurrentPhase(), engine::Phase::Failed);
    ASSERT_EQ(backend->messages.size(), 1u);
    const std::string &text = backend->messages[0].text;
    EXPECT_NE(text.find("not enough room"), std::string::npos) << text;
    EXPECT_NE(text.find("needs 10000000000000 bytes"), std::string::npos) << text;
    EXPECT_NE(text.find(" bytes are free"), std::string::npos) << text;
    EXPECT_EQ(m.ExitCode, kExitFailed);
    EXPECT_EQ(server.Received(1), "") << "one size request and nothing more";
    EXPECT_TRUE(std::filesystem::is_empty(dir / "out"));
}

#ifndef _WIN32
// A write that fails in the middle of the transfer (here: past the size a process may write,
// as a full or removed disk fails) ends the download at once: it is no server error, no range
// is asked again, the box says why, and nothing is left.
TEST_F(Controller, AWriteThatFailsEndsTheDownloadWithoutAnotherRequest) {
    const std::string content = PatternBytes(0, 8 << 20);
    RangeServer server(content);
    server.SetBodyPace(64 << 10, 5ms);
    TMainForm &m = OpenFor(server);
    m.AttemptWait = 200ms;
    m.StartDownload("http", Mirrors({&server, nullptr, nullptr, nullptr}), "file.bin", "", 0);
    ASSERT_TRUE(m.WorkersStarted());
    // The file has its whole length already; writes beyond 1 MiB fail from now on.
    std::signal(SIGXFSZ, SIG_IGN);
    rlimit old{};
    getrlimit(RLIMIT_FSIZE, &old);
    rlimit limit = old;
    limit.rlim_cur = 1 << 20;
    setrlimit(RLIMIT_FSIZE, &limit);
    const bool finished = PumpUntil([&] { return Finished(); });
    setrlimit(RLIMIT_FSIZE, &old);
    ASSERT_TRUE(finished);
    EXPECT_EQ(m.ExitCode, kExitFailed);
    ASSERT_EQ(backend->messages.size(), 1u);
    EXPECT_EQ(backend->messages[0].caption, "ERROR");
    EXPECT_NE(backend->messages[0].text.find("Cannot write to file"), std::string::npos)
        << backend->messages[0].text;
    EXPECT_EQ(Status(), "The file could not be written.");
    std::set<std::string> asked;
    for (auto &r : server.Requests()) {
        if (r.method == "GET") {
            EXPECT_TRUE(asked.insert(r.rangeLine).second) << "asked again: " << r.rangeLine;
        }
    }
    EXPECT_GE(asked.size(), 1u);
    EXPECT_EQ(m.Session()->ErrorCount, 0);
    EXPECT_EQ(WorkingFilesLeft(), 0);
    EXPECT_FALSE(std::filesystem::exists(dir / "out" / "file.bin"));
}
#endif

// The location taken fails in the middle of the transfer while another agreed on the size:
// the workers move there, the status line names it, and the file arrives with no failure
// counted against the attempts.
TEST_F(Controller, TheTransferMovesToAnotherLocationThatAgreed) {
    const std::string content = PatternBytes(0, 2 << 20);
    RangeServer taken(content), other(content);
    other.SetHeadDelay(100ms);
    taken.SetFaults([](size_t i, const SeenRequest &r) {
        // After the size request, the first five ranges break off; then "service unavailable".
        if (r.method != "GET")
            return RangeFault{};
        return i <= 5 ? RangeFault{RangeFault::Kind::ResetAfter, 50000, 0, {}}
                      : RangeFault{RangeFault::Kind::Status, 0, 503, {}};
    });
    TMainForm &m = OpenFor(taken);
    m.Options().MaximumNumberOfAttempts = 1;
    m.StartDownload("http", Mirrors({&taken, &other, nullptr, nullptr}), "file.bin", "", 0);
    ASSERT_TRUE(PumpUntil([&] { return Finished(); }));
    EXPECT_EQ(ReadFile(dir / "out" / "file.bin"), content);
    EXPECT_EQ(m.ExitCode, kExitVerified);
    EXPECT_TRUE(backend->messages.empty()) << "no question: another location served";
    EXPECT_EQ(m.Session()->ErrorCount, 0);
    EXPECT_NE(std::find(backend->statuses.begin(), backend->statuses.end(),
                        "Using server " + Host(other) + "."),
              backend->statuses.end());
    EXPECT_EQ(WorkingFilesLeft(), 0);
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

TEST_F(Controller, ClosingMidTransferLeavesNothingBehind) {
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
    ASSERT_TRUE(PumpUntil([&] { return m.Session()->Received() >= 20000; }));
    EXPECT_EQ(WorkingFilesLeft(), 1) << "the file being written";
    m.btnCancelClick();
    EXPECT_EQ(m.ExitCode, kExitIncomplete);
    main.reset();
    EXPECT_EQ(WorkingFilesLeft(), 0);
    EXPECT_TRUE(std::filesystem::is_empty(dir / "out"));
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
    // The error actions Pause and Prompt: the retry question's first answer would make the
    // attempts unlimited, so it is never asked.
    for (const TErrorAction action : {TErrorAction::Pause, TErrorAction::Prompt}) {
        RangeServer stalled(PatternBytes(0, 1000));
        stalled.SetFaults([](size_t, const SeenRequest &r) {
            return r.method == "GET" ? RangeFault{RangeFault::Kind::StallForever, 10, 0, {}}
                                     : RangeFault{};
        });
        TMainForm &m = OpenStalled(stalled);
        ShowWithoutActivation(m);
        m.Options().MaximumNumberOfAttempts = 0;
        m.Options().ErrorAction = action;
        backend->messages.clear();
        Fail(m);
        EXPECT_TRUE(m.CloseRequested) << "the error action " << static_cast<int>(action);
        EXPECT_TRUE(backend->messages.empty());
        EXPECT_EQ(m.Options().MaximumNumberOfAttempts, 0);
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
