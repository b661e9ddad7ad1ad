#include "gui/headless/HeadlessBackend.h"

#include "gui/Form.h"

namespace gui {

void HeadlessBackend::RunModal(Form &form) {
    if (!modalScripts.empty()) {
        auto script = std::move(modalScripts.front());
        modalScripts.pop_front();
        script(form);
    }
    if (form.Visible()) {
        ++modalsLeftOpen;
        form.Close();
    }
}

void HeadlessBackend::Run(Form &main) {
    if (runScript)
        runScript(main);
    main.Close();
}

MessageResult HeadlessBackend::ShowMessage(const std::string &text, const std::string &caption,
                                           MessageButtons buttons) {
    if (duringMessage)
        duringMessage();
    MessageResult answer = MessageButtonResult(buttons, 0);
    if (!answers.empty()) {
        answer = answers.front();
        answers.pop_front();
    }
    messages.push_back({text, caption, buttons, answer});
    return answer;
}

} // namespace gui
