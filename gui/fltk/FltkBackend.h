#pragma once

#include "gui/Backend.h"

#include <chrono>
#include <map>
#include <memory>
#include <string>

class Fl_Double_Window;
class Fl_Progress;
class Fl_Widget;

namespace gui::fltk {

// The window backend on FLTK 1.3: one window per form, built when the form is first
// shown, kept up to date from the forms' and controls' state.
class FltkBackend : public Backend {
  public:
    // Expects the display to be open.
    FltkBackend();
    ~FltkBackend() override;

    void ControlChanged(Control &control, Property what) override;
    void FormChanged(Form &form, Property what) override;
    void ApplicationChanged(Application &app, Property what) override;
    void ShowForm(Form &form) override;
    void HideForm(Form &form) override;
    void RunModal(Form &form) override;
    void Run(Form &main) override;
    void ProcessMessages() override;
    MessageResult ShowMessage(const std::string &text, const std::string &caption,
                              MessageButtons buttons) override;
    void Repaint(Form &form) override;
    int CaptionWidth(const Control &control) override;

  private:
    struct Window;
    Window &Realize(Form &form);
    Window *Find(Form &form);
    void ApplyTitle(Application &app);
    // Progress bars are drawn at most at the display's frame rate: a fast download changes
    // them for every received chunk. The newest values wait here for the next frame.
    void ScheduleProgress();
    void ApplyPendingProgress();
    static void ProgressFrame(void *backend);

    struct ProgressValues {
        float minimum, maximum, value;
    };
    std::map<Fl_Progress *, ProgressValues> pendingProgress_;
    std::chrono::steady_clock::time_point lastProgressFrame_{};
    bool frameScheduled_ = false;

    std::map<Form *, std::unique_ptr<Window>> windows_;
    // The icon label keeps a pointer to its text; the text lives here.
    std::string title_;
    bool busy_ = false;
    // The main form has closed: the modal loops still open end too.
    bool mainClosed_ = false;
};

} // namespace gui::fltk
