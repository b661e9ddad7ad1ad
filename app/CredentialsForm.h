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

    // Shows the box for the proxy `proxy` ("host:port"), which offered `challenge`; `again`
    // says that the last credentials were refused. Returns the user name and password, or
    // nothing when the box was cancelled or closed.
    std::optional<std::pair<std::string, std::string>>
    Ask(const std::string &proxy, const std::string &challenge, bool again);
    gui::Form &Form() const { return form_; }

  private:
    gui::Form &form_;
    gui::Label *lblPrompt_ = nullptr;
    gui::Label *lblChallenge_ = nullptr;
    gui::Edit *tbUserName_ = nullptr;
    gui::Edit *tbPassword_ = nullptr;
    bool accepted_ = false;
};
