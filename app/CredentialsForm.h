#pragma once

#include "gui/Application.h"

#include <optional>
#include <string>
#include <utility>

// The small box in which a user gives the user name and password a proxy asks for. It is made
// once and only hidden between showings.
class TCredentialsForm {
  public:
    explicit TCredentialsForm(gui::Application &app);

    // Shows the box with the question (that the proxy asks, or that it refused the last
    // ones), the proxy ("host:port") and what it says on the lines below. Returns the user
    // name and password, or nothing when the box was cancelled or closed.
    std::optional<std::pair<std::string, std::string>>
    Ask(const std::string &question, const std::string &proxy, const std::string &says);
    gui::Form &Form() const { return form_; }

  private:
    gui::Form &form_;
    gui::Label *lblPrompt_ = nullptr;
    gui::Label *lblProxy_ = nullptr;
    gui::Label *lblChallenge_ = nullptr;
    gui::Edit *tbUserName_ = nullptr;
    gui::Edit *tbPassword_ = nullptr;
    bool accepted_ = false;
};
