#pragma once

#include "gui/Form.h"

#include <windows.h>

#include <deque>
#include <map>
#include <memory>
#include <vector>

namespace gui::win32 {

class JpegPicture;

// What a form window asks of its backend.
class FormHost {
  public:
    virtual bool Busy() const = 0;
    // The system's small and large icon of the program, or nullptr.
    virtual HICON Icon(bool large, UINT dpi) = 0;
    // The form's window has been minimised: the program goes to the task bar.
    virtual void Minimise() = 0;

  protected:
    ~FormHost() = default;
};

// A form's window: a dialog of the system (so that the dialog manager moves the focus with
// Tab, presses buttons with Enter, Escape and their accelerators), white, a tool window,
// centred on its monitor, its client area the form's size at the monitor's DPI, with a child
// window for each control. Modeless for the main form (CreateDialogIndirectParam), modal for
// the others (DialogBoxIndirectParam).
class FormWindow {
  public:
    FormWindow(FormHost &host, Form &form, bool mainForm);
    ~FormWindow();
    FormWindow(const FormWindow &) = delete;
    FormWindow &operator=(const FormWindow &) = delete;

    // Creates the modeless window, owned by `owner`; false when the system cannot.
    bool CreateModeless(HWND owner);
    // Shows the window modally over `owner` and returns when it has ended.
    void RunModal(HWND owner);
    // Ends the modal window (with its loop) or hides the modeless one.
    void End();

    // Gives the keyboard focus to the form's focused control or the first in tab order.
    void FocusFirst();

    HWND Handle() const { return window_; }
    Form &OwnerForm() const { return form_; }
    HWND ControlWindow(const Control &control) const;
    // The control's window is brought up to date.
    void ControlChanged(Control &control, Property what);
    void CaptionChanged();
    // The dialog manager's default button (Enter) becomes the form's.
    void ApplyDefaultButton();

    // A keyboard message taken from the thread's queue before any loop dispatched it: the
    // dialog manager handles it when it comes back to the window as a message of its own.
    void QueueKeyboardMessage(const MSG &message);

  private:
    static INT_PTR CALLBACK DialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    INT_PTR Handle(UINT message, WPARAM wParam, LPARAM lParam);
    void Initialise(HWND window);
    void CreateControls();
    // The order of the control windows: the dialog manager's tab order and the z-order in
    // which screen readers take the label before a control as its name.
    std::vector<Control *> CreationOrder() const;
    void Layout();
    void Centre();
    void ApplyIcons();
    DWORD Style() const;
    DWORD ExStyle() const;
    Control *ControlOf(int id) const;
    // The white background of the form and of its labels, check boxes and group boxes.
    INT_PTR White(HDC dc) const;

    FormHost &host_;
    Form &form_;
    bool main_;
    bool modal_ = false;
    HWND window_ = nullptr;
    UINT dpi_ = 96;
    // The window's one font, the same for all of its controls.
    HFONT font_ = nullptr;
    HFONT CreateFittingFont() const;
    bool CaptionsFit(HFONT font) const;
    int defaultId_ = 0; // the dialog manager's default button's id
    std::map<const Control *, HWND> windows_;
    std::map<const Control *, std::unique_ptr<JpegPicture>> pictures_;
    std::deque<MSG> keyboard_;
};

} // namespace gui::win32
