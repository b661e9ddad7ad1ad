#pragma once

#include "app/DownloadRequest.h"
#include "app/OptionsForm.h"
#include "gui/Application.h"

#include <memory>
#include <string>
#include <vector>

// The main window: its construction turns the command line into the DownloadRequest,
// creates the options dialog and sets the caption and the application title.
class TMainForm {
  public:
    // `arguments`: element 0 is the program's path, then the URL and the parameters.
    TMainForm(gui::Application &app, std::vector<std::string> arguments);

    // Fills the request from the built-in values and the command line and completes the
    // derived fields. A command line with errors still runs with what was read; the
    // syntax message then goes to standard error. Returns whether the program runs.
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

    // "&Options": the proxy can be changed only while no workers exist.
    void btnOptionsClick();
    // Cancel and Close: closes the main window, which ends the program.
    void btnCancelClick();
    // Runs when the window has closed.
    void FormClose();

  private:
    void BuildLayout();

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
