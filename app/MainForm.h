#pragma once

#include "app/CommandLine.h"
#include "app/DownloadRequest.h"
#include "app/OptionsForm.h"
#include "engine/Thread.h"
#include "gui/Application.h"

#include <array>
#include <chrono>
#include <memory>
#include <string>
#include <vector>

// Whether location `entry`, answering `size` after `elapsed` ms, replaces the one taken so
// far (takenTime -1: none yet).
bool TakesOver(int entry, int64_t size, int64_t elapsed, int64_t takenSize, int64_t takenTime);

// A paragraph of a message box's text: an empty line, then the text; nothing for no text.
std::string Paragraph(const std::string &text);

// How the program ended, for a program that launched it.
enum ExitCodes : int {
    kExitVerified = 0,   // the file was downloaded and verified
    kExitAnswered = 0,   // the help or the version asked for was shown
    kExitFailed = 1,     // verification failed or the output could not be written
    kExitIncomplete = 2, // ended before the download completed
};

// The main window: its construction turns the command line into the DownloadRequest,
// creates the options dialog and sets the caption and the application title.
class TMainForm {
  public:
    // `arguments`: element 0 is the program's path, then the URL and the parameters.
    TMainForm(gui::Application &app, std::vector<std::string> arguments);
    // Ends the workers that still run.
    ~TMainForm();
    TMainForm(const TMainForm &) = delete;
    TMainForm &operator=(const TMainForm &) = delete;

    // Fills the request from the built-in values and the command line and completes the
    // derived fields. A command line with errors still runs with what was read (the syntax
    // message is noted), except for a URL that names no host or no file that can be saved, or
    // a malformed digest: that message is shown and false returned. A command line that asks
    // for the help or the version gets it, and false is returned. Returns whether the program
    // runs.
    bool ParseCommandLine();

    const DownloadRequest &Request() const { return request_; }
    TOptionsForm &Options() const { return *options_; }
    gui::Form &Form() const { return form_; }
    // The syntax message written for the command line's errors; empty when it had none.
    const std::string &SyntaxError() const { return syntaxError_; }

    bool RunApplication = false;
    bool CloseRequested = false;
    bool Activated = false;
    bool Paused = false;
    bool WorkersStarted = false;
    bool PromptActive = false;
    int32_t ErrorCount = 0;
    int32_t FinishedWorkers = 0;
    std::string OutputPath;
    // The file's digest as "SHA256 (path) = digest" (the form sha256sum --check reads), for
    // the console's last line; empty when it was not computed.
    std::string DigestLine;
    double ServerFileDate = 0;
    std::array<std::unique_ptr<engine::HttpThread>, 5> Workers;
    int ExitCode = kExitIncomplete;

    // Waits before the selection (at least this long, and while the options dialog shows)
    // and before every attempt of a worker; tests shorten them.
    std::chrono::milliseconds StartDelay{2000};
    std::chrono::milliseconds AttemptWait{5000};

    // The first activation: the prerequisite check, then the download driver.
    void FormActivate();
    // Waits (pumping messages), then selects a location and starts the workers. Returns
    // when the selection has ended. One selection runs at a time: a call while one runs
    // returns at once.
    void StartWhenReady();
    void StartDownload(const std::string &protocol, TMirrorTable mirrors,
                       const std::string &fileName, const std::string &proxyServer,
                       int32_t proxyPort);

    // The status line, filtered by detail level and silent while paused.
    void ShowStatus(const std::string &text, int32_t level);
    // Moves the progress and refreshes the caption and the application title.
    void AddProgress(int64_t delta);
    // Every report of every worker, on the main thread.
    void OnWorkerReport(platform::TObject *Sender, int64_t delta, const std::string &message,
                        int32_t level);
    void SetPaused(bool paused);
    void btnPauseResumeClick();

    // A worker's thread has ended; after the fifth, the file is joined, verified and the
    // completion actions run.
    void OnWorkerDone(platform::TThread *Sender);
    // The server sends only whole files and `stream` fetches the file alone: the other
    // workers stop, and the progress starts afresh from its bytes.
    void OnOneStream(engine::HttpThread *stream);
    // "&Run" and "O&pen" after completion.
    void btnLaunchApplicationClick();
    void btnOpenFolderClick();

    // "&Options": the proxy can be changed only while no workers exist.
    void btnOptionsClick();
    // Cancel and Close: closes the main window, which ends the program.
    void btnCancelClick();
    // Runs when the window has closed.
    void FormClose();

  private:
    // The figures the caption and the title were last built from, so that the texts are
    // only formatted again when a shown figure changes.
    struct ShownProgress {
        long long megabytes = -1, maximumMegabytes = -1, tenthsOfPercent = -1, percent = -1;
    } shownProgress_;
    void BuildLayout();
    // Notes the syntax message for `errorText`, writes it to standard error and shows it.
    void ShowSyntaxError(const std::string &errorText);
    // Answers --help and --version on standard output (the help in a box too, in a window).
    void ShowInformation(InformationRequest asked);
    // After the last worker (or at once for an empty file): join, verify, complete.
    void CompleteDownload();
    // Joins the pieces into OutputPath and checks the size and the digest; the actions after
    // a good file.
    bool AssembleOutput();
    // Compares the file's SHA-256 digest with the pinned one (and computes it for the
    // console's last line where none is pinned). Returns false when the file fails or the
    // window was closed meanwhile; the file is then deleted.
    bool CheckDigest();
    // The verification has failed: the box under "Connection error", the file deleted.
    void FailVerification(const std::string &text);
    void RunCompletionActions();
    // A state that waits for the user ends the program where no user can act.
    void CloseUnlessUserCanAct();
    // Tells every worker to end; returns at once.
    void StopWorkers();

    // Runs StartWhenReady from the message loop, so that a button's handler returns at once.
    void PostStartWhenReady();

    bool Selecting = false; // StartWhenReady is waiting or asking the locations
    engine::HttpThread *WholeFileStream = nullptr; // the one worker, when ranges are ignored
    std::string LastFailure; // why the last failed attempt of a worker failed
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true); // for calls posted to later
    engine::SizeRequestAbort SizeRequests; // closing the window ends the selection at once

    gui::Application &app_;
    gui::Form &form_;
    std::vector<std::string> arguments_;
    DownloadRequest request_;
    std::string syntaxError_;
    std::unique_ptr<TOptionsForm> options_;

    gui::Picture *imgDownload_ = nullptr;
    gui::ProgressBar *pb_ = nullptr;
    gui::Label *lblMessage_ = nullptr;
    gui::Button *btnLaunchApplication_ = nullptr;
    gui::Button *btnPause_ = nullptr;
    gui::Button *btnResume_ = nullptr;
    gui::Button *btnOpenFolder_ = nullptr;
    gui::Button *btnOptions_ = nullptr;
    gui::Button *btnCancel_ = nullptr;
    gui::Button *btnClose_ = nullptr;
};
