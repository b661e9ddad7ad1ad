#pragma once

#include "gui/Backend.h"
#include "gui/console/ConsoleStreams.h"

#include <chrono>
#include <cstdint>
#include <deque>
#include <utility>
#include <memory>
#include <string>

namespace gui {

// The front end without a display. The main form's caption and its status line, with a
// transfer rate and the time left computed from its progress bar, are shown as one line that
// is rewritten in place on a terminal (at most ten times a second). Without a terminal every
// new status text gets a line of its own, and the progress at most one a second. Message
// boxes become a prompt, which ends unanswered (the most cautious button) when the main form
// closes meanwhile; the calls of other threads keep running while it waits.
class ConsoleBackend : public Backend {
  public:
    // `streams` answer message boxes when `interactive`; otherwise a box takes its first
    // button.
    ConsoleBackend(std::unique_ptr<ConsoleStreams> streams, bool outputIsTerminal,
                   bool interactive);
    ~ConsoleBackend() override;

    void ControlChanged(Control &control, Property what) override;
    void FormChanged(Form &form, Property what) override;
    void ApplicationChanged(Application &, Property) override {}
    // The display starts when the main form is first shown.
    void ShowForm(Form &form) override;
    void HideForm(Form &form) override;
    // The dialogs cannot be used without a display: a modal form closes at once.
    void RunModal(Form &form) override;
    void Run(Form &main) override;
    void ProcessMessages() override;
    MessageResult ShowMessage(const std::string &text, const std::string &caption,
                              MessageButtons buttons) override;
    void Repaint(Form &) override { Render(true); }
    bool UserCanAct() const override { return interactive_; }
    bool IsConsole() const override { return true; }
    bool AskLine(const std::string &prompt, bool hidden, std::string &line) override;

    // The line as it would be shown now.
    std::string CurrentLine() const;

  private:
    void Render(bool force);
    void NoteProgress(int64_t position, int64_t maximum);
    std::string RateText() const;
    void EndLine();
    // Waits until an answer can be read; false when the main form closed first.
    bool WaitForAnswer();

    std::unique_ptr<ConsoleStreams> streams_;
    bool terminal_;
    bool interactive_;
    std::string caption_;
    std::string status_;
    std::string shown_;
    bool started_ = false;
    bool lineOpen_ = false;
    std::size_t shownWidth_ = 0; // characters of the line on the terminal now
    bool pending_ = false;
    bool prompting_ = false; // a prompt is on the line: the status waits
    bool mainClosed_ = false;
    std::chrono::steady_clock::time_point lastRender_{};
    // Recent (time, position) samples of the progress bar, for the rate.
    std::deque<std::pair<std::chrono::steady_clock::time_point, int64_t>> samples_;
    int64_t maximum_ = 0;
};

} // namespace gui
