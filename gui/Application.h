#pragma once

#include "gui/Backend.h"
#include "gui/Form.h"

#include <memory>
#include <string>
#include <vector>

namespace gui {

// The GUI application: its forms, its title (what a task bar shows for the program), the
// message loop, message boxes and the busy cursor. All calls belong to the main thread.
class Application {
  public:
    explicit Application(std::unique_ptr<Backend> backend);
    ~Application();
    Application(const Application &) = delete;
    Application &operator=(const Application &) = delete;

    Backend &GetBackend() const { return *backend_; }

    // Creates a form owned by the application; the first one created is the main form.
    Form &CreateForm(std::string name, int clientWidth, int clientHeight);
    Form *MainForm() const { return forms_.empty() ? nullptr : forms_.front().get(); }

    const std::string &Title() const { return title_; }
    // Control characters in the text are replaced (Printable).
    void SetTitle(const std::string &text);

    // Shows the main form and runs the message loop until it closes.
    void Run();
    // Handles the pending events and returns; never blocks.
    void ProcessMessages();
    // Shows a modal message box (its texts Printable) and blocks until it is answered.
    MessageResult MessageBox(const std::string &text, const std::string &caption,
                             MessageButtons buttons);
    // Asks for a line at the console (Backend::AskLine); false where nobody can answer there.
    bool AskLine(const std::string &prompt, bool hidden, std::string &line);
    // The hourglass cursor over every window while set.
    void SetBusy(bool busy);
    bool Busy() const { return busy_; }
    // Closes the main form, which ends the message loop and every modal loop (message boxes
    // and dialogs answer as if cancelled). Before the loop has started, it never starts.
    void Terminate();
    bool Terminating() const { return terminating_; }

  private:
    std::unique_ptr<Backend> backend_;
    std::vector<std::unique_ptr<Form>> forms_;
    std::string title_;
    bool busy_ = false;
    bool terminating_ = false;
};

} // namespace gui
