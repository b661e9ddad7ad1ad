#include "app/CredentialsForm.h"

#include "app/Resources.h"
#include "gui/Controls.h"
#include "gui/Form.h"
#include "platform/Catalogue.h"

using platform::Fill;
using platform::Tr;

// Three lines of text (the question, the proxy, what it says), the user name and the
// password, and OK and Cancel at the bottom right. Client area 360 x 159.
TCredentialsForm::TCredentialsForm(gui::Application &app)
    : form_(app.CreateForm("CredentialsForm", 360, 159)) {
    gui::Form &f = form_;
    // TRANSLATORS: the caption of the box that asks for the proxy's user name and password.
    f.SetCaption(Tr("Proxy authentication"));
    f.SetIcon(ProgramIcon());
    lblPrompt_ = &f.AddLabel("lblPrompt", {8, 8, 344, 16}, "");
    lblProxy_ = &f.AddLabel("lblProxy", {8, 26, 344, 16}, "");
    lblChallenge_ = &f.AddLabel("lblChallenge", {8, 44, 344, 16}, "");
    tbUserName_ = &f.AddEdit("tbUserName", {100, 68, 252, 22});
    // TRANSLATORS: a label of the proxy's credentials box; "&" marks its access key, unique in
    // the box.
    f.AddLabel("lblUserName", {8, 71, 90, 16}, Tr("&User name"), tbUserName_);
    tbPassword_ = &f.AddEdit("tbPassword", {100, 96, 252, 22});
    tbPassword_->SetHidden(true);
    // TRANSLATORS: a label of the proxy's credentials box; "&" marks its access key, unique in
    // the box.
    f.AddLabel("lblPassword", {8, 99, 90, 16}, Tr("&Password"), tbPassword_);
    // TRANSLATORS: a button of the dialogs; "&" marks its access key, unique in each.
    gui::Button *ok = &f.AddButton("btnOK", {196, 128, 75, 25}, Tr("&OK"));
    // TRANSLATORS: button of the main window and of the dialogs; "&" marks its access key,
    // unique in each.
    gui::Button *cancel = &f.AddButton("btnCancel", {277, 128, 75, 25}, Tr("C&ancel"));
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
TCredentialsForm::Ask(const std::string &question, const std::string &proxy,
                      const std::string &says) {
    lblPrompt_->SetCaption(question);
    // TRANSLATORS: %1 is the proxy that asks, "host:port".
    lblProxy_->SetCaption(Fill(Tr("Proxy: %1"), {proxy}));
    lblChallenge_->SetCaption(says);
    tbPassword_->SetText("");
    accepted_ = false;
    form_.ShowModal();
    if (!accepted_)
        return std::nullopt;
    return std::pair(tbUserName_->Text(), tbPassword_->Text());
}
