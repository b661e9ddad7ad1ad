#pragma once

#include <string>

namespace gui {

class Application;
class Control;
class Form;

// What changed on a control or a form, so that a backend updates only that part of its view.
enum class Property {
    Caption, // control caption or form caption
    Visible,
    Enabled,
    Focus,
    Text, // edit and combo box text
    Checked,
    Items, // combo box items and item index
    ReadOnly,
    Progress, // progress bar range and position
    Cursor,   // the application's busy (hourglass) cursor
    Title,    // the application title
    Default,  // the form's default button (Enter)
};

enum class MessageButtons { Ok, YesNo, YesNoCancel };
enum class MessageResult { Ok, Yes, No, Cancel };

// The buttons a message box shows, in screen order, in the language chosen; the first is the
// default. They stay until the thread's next call.
const char *const *MessageButtonLabels(MessageButtons buttons, int &count);
// The answer of the button at `index` (screen order) of a message box with `buttons`.
MessageResult MessageButtonResult(MessageButtons buttons, int index);

// The toolkit's view of the state held by Application, Form and the controls: a backend
// builds and updates real widgets (or a terminal display) from that state and feeds the
// user's input back into it. The state classes call these on every change.
class Backend {
  public:
    virtual ~Backend() = default;

    virtual void ControlChanged(Control &control, Property what) = 0;
    virtual void FormChanged(Form &form, Property what) = 0;
    virtual void ApplicationChanged(Application &app, Property what) = 0;

    // Shows the form (already marked visible) and returns at once.
    virtual void ShowForm(Form &form) = 0;
    // Hides the form. Once the main form is hidden, the modal loops that are open end, and
    // later ones end at once (the program is closing).
    virtual void HideForm(Form &form) = 0;
    // Shows the form modally: returns when it is no longer visible.
    virtual void RunModal(Form &form) = 0;
    // Runs the message loop until `main` is no longer visible.
    virtual void Run(Form &main) = 0;
    // Handles the events that are pending now; never blocks.
    virtual void ProcessMessages() = 0;
    // Shows a modal message box; blocks until the user answers.
    virtual MessageResult ShowMessage(const std::string &text, const std::string &caption,
                                      MessageButtons buttons) = 0;
    // The width a control needs to show its caption whole (check box and padding included),
    // in the form's pixels; 0 where the backend does not draw controls (console, headless).
    virtual int CaptionWidth(const Control & /*control*/) { return 0; }
    // Redraws the form now, even while the caller keeps the main thread busy.
    virtual void Repaint(Form &form) = 0;
    // Whether a user can answer later (press Resume, close the window): false on a console
    // without a terminal on standard input, where a state waiting for the user never ends.
    virtual bool UserCanAct() const { return true; }
    // Whether the program runs on the console (text lines on standard output), not in a
    // window.
    virtual bool IsConsole() const { return false; }
    // Asks for a line of text at the console's terminal after `prompt`, not echoing what is
    // typed when `hidden`; false where nobody can answer there (no terminal, a window) or the
    // program is ending.
    virtual bool AskLine(const std::string & /*prompt*/, bool /*hidden*/, std::string & /*line*/) {
        return false;
    }
};

} // namespace gui
