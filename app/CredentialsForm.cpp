#include "app/CredentialsForm.h"

#include "app/Resources.h"
#include "gui/Controls.h"
#include "gui/Form.h"

// Two lines of text, the user name and the password, and OK and Cancel at the bottom right.
// Client area 360 x 141.
TCredentialsForm::TCredentialsForm(gui::Application &app)
    : form_(app.CreateForm("CredentialsForm", 360, 141)) {
    gui::Form &f = form_;
    f.SetCaption("Proxy authentication");
    f.SetIcon(ProgramIcon());
    lblPrompt_ = &f.AddLabel("lblPrompt", {8, 8, 344, 16}, "");
    lblChallenge_ = &f.AddLabel("lblChallenge", {8, 26, 344, 16}, "");
    tbUserName_ = &f.AddEdit("tbUserName", {100, 50, 252, 22});
    f.AddLabel("lblUserName", {8, 53, 90, 16}, "&User name", tbUserName_);
    tbPassword_ = &f.AddEdit("tbPassword", {100, 78, 252, 22});
    tbPassword_->SetHidden(true);
    f.AddLabel("lblPassword", {8, 81, 90, 16}, "&Password", tbPassword_);
    gui::Button *ok = &f.AddButton("btnOK", {196, 110, 75, 25}, "&OK");
    gui::Button *cancel = &f.AddButton("btnCancel", {277, 110, 75, 25}, "C&ancel");
    f.SetTabOrder({tbUserName_, tbPassword_, ok, cancel});
    f.SetDefaultButton(ok);
    f.SetCancelButton(cancel);
    ok->OnClick = [this] {
        accepted_ = true;
        form_.Close();
    };
    cancel->OnClick = [this] { form_.Close(); };
}

std::optional<std::pair<std::string, std::string>>
TCredentialsForm::Ask(const std::string &question, const std::string &says) {
    lblPrompt_->SetCaption(question);
    lblChallenge_->SetCaption(says);
    tbPassword_->SetText("");
    accepted_ = false;
    form_.ShowModal();
    if (!accepted_)
        return std::nullopt;
    return std::pair(tbUserName_->Text(), tbPassword_->Text());
}
