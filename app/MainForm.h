#pragma once

#include "app/CommandLine.h"
#include "app/CredentialsForm.h"
#include "app/DownloadRequest.h"
#include "app/OptionsForm.h"
#include "app/ProgressFigures.h"
#include "engine/DownloadSession.h"
#include "gui/Application.h"

#include <array>
#include <chrono>
#include <memory>
#include <string>
#include <vector>

using engine::TakesOver;

// A paragraph of a message box's text: an empty line, then the text; nothing for no text.
std::string Paragraph(const std::string &text);
// A reason as a sentence: with its full stop.
std::string Sentence(const std::string &text);

// How the program ended, for a program that launched it.
enum ExitCodes : int {
    kExitVerified = 0,   // the file was downloaded and verified
    kExitAnswered = 0,   // the help or the version asked for was shown
    kExitFailed = 1,     // verification failed or the output could not be written
    kExitIncomplete = 2, // ended before the download completed
};

// The main window: its construction turns the command line into the DownloadRequest,
// creates the options dialog and sets the caption and the application title. It observes the
// download session that does the transfer: it shows what the session tells, asks the user
// where the session needs a decision, and carries out the completion actions.
class TMainForm : public engine::DownloadObserver {
  public:
    // `arguments`: element 0 is the program's path, then the URL and the parameters.
    TMainForm(gui::Application &app, std::vector<std::string> arguments);
    // Ends the download that still runs (nothing of it is left behind).
    ~TMainForm() override;
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
    // The window closes for another reason than the user's Cancel (the attempts used up, the
    // system ending the program or the session): what has arrived is kept for the next run.
    bool KeepOnClose = false;
    bool Activated = false;
    bool Paused = false;
    // The downloaded file's path once it is verified (the name it would have had when it
    // failed), for Run and Open.
    std::string OutputPath;
    // The file's pinned digest as "SHA256 (path) = digest" (the form sha256sum --check
    // reads), for the console's last line; empty when none was pinned.
    std::string DigestLine;
    int ExitCode = kExitIncomplete;

    // The download, once a selection has begun (nullptr before).
    engine::DownloadSession *Session() const { return session_.get(); }
    // The workers of the download exist: the proxy can no longer be changed.
    bool WorkersStarted() const { return session_ && session_->WorkersStarted(); }

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
    void SetPaused(bool paused);
    void btnPauseResumeClick();

    // What the session tells.
    void OnPhase(engine::Phase phase) override;
    void OnProgress(int64_t received, int64_t total) override;
    void OnStatus(const std::string &text, int32_t level) override;
    void OnAttemptFailed(int worker, const engine::Failure &failure) override;
    // The attempts are used up: pause, then the error action of the options.
    engine::RetryAnswer OnDecision(const engine::RetryDecision &decision) override;
    // A proxy asks for credentials: the credentials box in a window, a question at the
    // console's terminal; nothing where nobody can answer.
    engine::CredentialsReply OnProxyCredentials(const std::string &proxy, const std::string &realm,
                                                bool again) override;
    void OnResuming(int64_t have, int64_t total) override;
    // Closes the window keeping what has arrived (KeepOnClose).
    void CloseKeeping();

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
    void BuildLayout();
    // The caption and the application title for the phase, the pause and the progress.
    void ShowCaption();
    // The second line: the bar's figures, or what the state needs said beside the status.
    void ShowFigures(const std::string &text);
    // Notes the syntax message for `errorText`, writes it to standard error and shows it.
    void ShowSyntaxError(const std::string &errorText);
    // Answers --help and --version on standard output (the help in a box too, in a window).
    void ShowInformation(InformationRequest asked);
    // Every byte has arrived: the window shows the finished state while the file is checked.
    void ShowVerifying();
    // The file is verified (or the download failed): the actions after it, then the end.
    void ShowCompleted();
    void ShowFailed();
    // Close takes Cancel's place for good: the download has ended.
    void ShowCloseButton();
    void FinishDownload();
    void RunCompletionActions();
    // The output file's path by the name rules (overwriting, or the first free name).
    std::string FinalPath() const;
    // A state that waits for the user ends the program where no user can act.
    void CloseUnlessUserCanAct();

    // Runs StartWhenReady from the message loop, so that a button's handler returns at once.
    void PostStartWhenReady();

    bool Selecting = false; // StartWhenReady is waiting or asking the locations
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true); // for calls posted to later

    gui::Application &app_;
    gui::Form &form_;
    std::vector<std::string> arguments_;
    DownloadRequest request_;
    std::string syntaxError_;
    std::unique_ptr<TOptionsForm> options_;
    std::unique_ptr<TCredentialsForm> credentials_; // made when a proxy first asks
    std::unique_ptr<engine::DownloadSession> session_;
    ProgressFigures figures_;

    gui::Picture *imgDownload_ = nullptr;
    gui::ProgressBar *pb_ = nullptr;
    gui::Label *lblMessage_ = nullptr;
    gui::Label *lblProgress_ = nullptr;
    gui::Button *btnLaunchApplication_ = nullptr;
    gui::Button *btnPause_ = nullptr;
    gui::Button *btnResume_ = nullptr;
    gui::Button *btnOpenFolder_ = nullptr;
    gui::Button *btnOptions_ = nullptr;
    gui::Button *btnCancel_ = nullptr;
    gui::Button *btnClose_ = nullptr;
};
