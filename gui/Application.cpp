#include "gui/Application.h"

#include "gui/PlainText.h"

namespace gui {

Application::Application(std::unique_ptr<Backend> backend) : backend_(std::move(backend)) {}

Application::~Application() = default;

Form &Application::CreateForm(std::string name, int clientWidth, int clientHeight) {
    forms_.push_back(std::make_unique<Form>(*this, std::move(name), clientWidth, clientHeight));
    return *forms_.back();
}

void Application::SetTitle(const std::string &text) {
    const std::string title = Printable(text);
    if (title == title_)
        return;
    title_ = title;
    backend_->ApplicationChanged(*this, Property::Title);
}

void Application::Run() {
    Form *main = MainForm();
    if (!main || terminating_)
        return;
    main->Show();
    backend_->Run(*main);
}

void Application::ProcessMessages() {
    backend_->ProcessMessages();
}

MessageResult Application::MessageBox(const std::string &text, const std::string &caption,
                                      MessageButtons buttons) {
    return backend_->ShowMessage(Printable(text), Printable(caption), buttons);
}

bool Application::AskLine(const std::string &prompt, bool hidden, std::string &line) {
    return backend_->AskLine(Printable(prompt), hidden, line);
}

void Application::SetBusy(bool busy) {
    if (busy == busy_)
        return;
    busy_ = busy;
    backend_->ApplicationChanged(*this, Property::Cursor);
}

void Application::Terminate() {
    terminating_ = true;
    Form *main = MainForm();
    if (!main)
        return;
    if (main->Visible())
        main->Close();
    else
        backend_->HideForm(*main); // a box shown before the window ends all the same
}

} // namespace gui
