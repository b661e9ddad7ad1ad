#pragma once

#include "gui/Backend.h"

#include <deque>
#include <functional>
#include <string>
#include <vector>

namespace gui {

// A backend without a display, for tests: the state lives in the forms and controls;
// message boxes are answered from a script and recorded, modal forms run a script.
class HeadlessBackend : public Backend {
  public:
    struct ShownMessage {
        std::string text;
        std::string caption;
        MessageButtons buttons;
        MessageResult answer;
    };

    // Answers for the next message boxes, in order; with none left, a box is answered
    // with its first button (as Enter would).
    std::deque<MessageResult> answers;
    // Every message box shown so far.
    std::vector<ShownMessage> messages;
    // Runs while a message box is open, before it is answered (a user acting meanwhile).
    std::function<void()> duringMessage;
    // Scripts for the next modal showings, in order: each acts on the shown form (clicks,
    // typing). A modal form still open when its script returns is closed, and counted.
    std::deque<std::function<void(Form &)>> modalScripts;
    int modalsLeftOpen = 0;
    // Runs inside Application::Run while the main form is shown; the loop then ends.
    std::function<void(Form &)> runScript;
    int processMessagesCalls = 0;
    // Whether the tests act as a user who can press Resume later.
    bool userCanAct = true;
    int repaints = 0;

    bool UserCanAct() const override { return userCanAct; }
    void ControlChanged(Control &, Property) override {}
    void FormChanged(Form &, Property) override {}
    void ApplicationChanged(Application &, Property) override {}
    void ShowForm(Form &) override {}
    void HideForm(Form &) override {}
    void RunModal(Form &form) override;
    void Run(Form &main) override;
    void ProcessMessages() override { ++processMessagesCalls; }
    MessageResult ShowMessage(const std::string &text, const std::string &caption,
                              MessageButtons buttons) override;
    void Repaint(Form &) override { ++repaints; }
};

} // namespace gui
