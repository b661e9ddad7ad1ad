#pragma once

#include "gui/Backend.h"
#include "gui/win32/FormWindow.h"

#include <windows.h>

#include <map>
#include <memory>
#include <vector>

namespace gui::win32 {

// The window backend on the Win32 API and the common controls. The program's task bar button
// is a window of its own that carries the application title (the forms are tool windows owned
// by it), so that the title and the main window's caption can differ; minimising the main
// window minimises the program to that button. Forms are built from their state when first
// shown. All of it runs on the main thread, whose thread messages (the workers' reports, the
// sockets and timers) any loop here dispatches: the main loop, a modal dialog's, a message
// box's.
class Win32Backend : public Backend, private FormHost {
  public:
    // nullptr when no window can be created (no display: wine without an X server).
    static std::unique_ptr<Win32Backend> Create();
    ~Win32Backend() override;

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
    explicit Win32Backend(HWND application);
    FormWindow *Find(const Form &form) const;
    // The window new modal windows and message boxes belong to: the newest modal form, else
    // the main form while it shows, else none.
    HWND TopWindow() const;
    // Ends every modal loop of the thread: dialogs and message boxes.
    void EndModalLoops();
    void ShowCursorNow() const;
    bool Busy() const override { return busy_; }
    HICON Icon(bool large, UINT dpi) override;
    void Minimise() override;
    static LRESULT CALLBACK ApplicationProc(HWND window, UINT message, WPARAM wParam,
                                            LPARAM lParam);
    static LRESULT CALLBACK KeyboardHook(int code, WPARAM wParam, LPARAM lParam);

    HWND application_;
    HHOOK hook_ = nullptr;
    bool oleReady_ = false;
    std::map<const Form *, std::unique_ptr<FormWindow>> windows_;
    std::vector<FormWindow *> modal_;
    Form *main_ = nullptr;
    std::map<int, HICON> icons_;
    HFONT measureFont_ = nullptr; // the form font at 96 DPI, for CaptionWidth
    bool busy_ = false;
    bool mainClosed_ = false;
    static Win32Backend *current_;
};

} // namespace gui::win32
