#pragma once

#include "app/DownloadOptions.h"
#include "gui/Application.h"

#include <cstdint>
#include <string>
#include <vector>

// The settings the options dialog checks, and a message about one of them.
enum class OptionCheck : uint8_t { OutputDirectory, Attempts, ProxyServer, ProxyPort };
struct OptionProblem {
    OptionCheck check;
    std::string message;
};

// The options dialog. It exists for the whole run, is only hidden between showings, and
// holds the DownloadOptions that the main window reads and writes directly.
class TOptionsForm : public DownloadOptions {
  public:
    // Builds the dialog's form and sets the defaults; `programDirectory` is the default
    // output directory.
    TOptionsForm(gui::Application &app, std::string programDirectory);

    // The defaults of every field except ProxyEditable and Locked.
    void SetDefaults();
    // Copies the record into the controls and applies the enabling rules (on every showing).
    void LoadControls();
    // Copies the controls into the record (after validation has passed).
    void SaveControls();
    // Checks the controls, trimming and completing their texts; returns the problems in the
    // dialog's order (none when everything is valid).
    std::vector<OptionProblem> Problems();
    // Their messages, one per line (CR LF between them); empty when everything is valid.
    std::string Validate();

    // Shows the dialog modally; returns when it has been closed.
    void ShowModal();
    bool Showing() const { return form_.Visible(); }
    gui::Form &Form() const { return form_; }

    // "&OK": validates, then shows the errors and stays open, or saves and closes.
    void btnCloseClick();
    // "C&ancel", Escape and the close box: closes without saving.
    void btnCancelClick();
    void cbProxyServerClick();
    void cbCompletionLaunchApplicationClick();

  private:
    void BuildLayout();

    gui::Application &app_;
    gui::Form &form_;
    std::string programDirectory_;
    gui::Edit *tbOutputDirectory_ = nullptr;
    gui::CheckBox *cbOverrideFile_ = nullptr;
    gui::CheckBox *cbCompletionClose_ = nullptr;
    gui::CheckBox *cbCompletionOpenFolder_ = nullptr;
    gui::CheckBox *cbCompletionLaunchApplication_ = nullptr;
    gui::CheckBox *cbDeleteAfterDownloading_ = nullptr;
    gui::ComboBox *cbErrorHandlingMaximumNumberOfAttempts_ = nullptr;
    gui::ComboBox *cbErrorHandlingErrorAction_ = nullptr;
    gui::CheckBox *cbProxyServer_ = nullptr;
    gui::Edit *tbProxyServerName_ = nullptr;
    gui::Edit *tbProxyPort_ = nullptr;
    gui::Button *btnOK_ = nullptr;
    gui::Button *btnCancel_ = nullptr;
};
