#include "app/OptionsForm.h"

#include "app/Resources.h"

// The dialog's controls, top to bottom: completion, connection error handling, proxy, and
// the buttons at the bottom right. Client area 325 x 340 with an 8-pixel border. A control
// inside a frame stays within its 2-pixel line (the frame 8..316 leaves x 10..314).
void TOptionsForm::BuildLayout() {
    gui::Form &f = form_;
    f.SetCaption("Download options");
    f.SetIcon(ProgramIcon());

    f.AddGroupBox("gbCompletion", {8, 8, 309, 164}, "On completion");
    tbOutputDirectory_ = &f.AddEdit("tbOutputDirectory", {16, 42, 293, 22});
    f.AddLabel("lblOutputDirectory", {16, 24, 293, 16}, "Output &directory", tbOutputDirectory_);
    cbOverrideFile_ =
        &f.AddCheckBox("cbOverrideFile", {10, 68, 305, 18}, "O&verride file if already exists");
    cbCompletionClose_ =
        &f.AddCheckBox("cbCompletionClose", {10, 86, 305, 18},
                       "Close this download application &after completing download");
    cbCompletionOpenFolder_ = &f.AddCheckBox("cbCompletionOpenFolder", {10, 104, 305, 18},
                                             "Open &folder after completing download");
    cbCompletionLaunchApplication_ =
        &f.AddCheckGroupBox("gbCompletionLaunchApplication", "cbCompletionLaunchApplication",
                            {14, 124, 299, 42}, "&Launch application after downloading");
    cbDeleteAfterDownloading_ =
        &f.AddCheckBox("cbDeleteAfterDownloading", {20, 144, 291, 18},
                       "&Delete downloaded file after launching application");

    f.AddGroupBox("gbErrorHandling", {8, 178, 309, 66}, "Connection error handling");
    cbErrorHandlingMaximumNumberOfAttempts_ =
        &f.AddComboBox("cbErrorHandlingMaximumNumberOfAttempts", {220, 194, 89, 22},
                       gui::ComboStyle::Editable, {"0", "10", "100", "Unlimited"});
    cbErrorHandlingMaximumNumberOfAttempts_->SetText("100");
    f.AddLabel("lblMaximumNumberOfAttempts", {16, 197, 203, 16}, "&Maximum number of attempts",
               cbErrorHandlingMaximumNumberOfAttempts_);
    cbErrorHandlingErrorAction_ =
        &f.AddComboBox("cbErrorHandlingErrorAction", {220, 218, 89, 22},
                       gui::ComboStyle::DropDownList, {"Pause", "Prompt", "Close"});
    f.AddLabel("lblErrorAction", {16, 221, 203, 16}, "On maximum number of &retry attempts",
               cbErrorHandlingErrorAction_);

    cbProxyServer_ = &f.AddCheckGroupBox("gbProxyServer", "cbProxyServer", {8, 250, 309, 52},
                                         "&Use a proxy server");
    tbProxyServerName_ = &f.AddEdit("tbProxyServerName", {64, 272, 132, 22});
    f.AddLabel("lblProxyServerName", {16, 275, 46, 16}, "&Server", tbProxyServerName_);
    tbProxyPort_ = &f.AddEdit("tbProxyPort", {240, 272, 69, 22});
    f.AddLabel("lblProxyPort", {204, 275, 34, 16}, "&Port", tbProxyPort_);
    tbProxyPort_->SetText("8080");
    tbProxyServerName_->SetEnabled(false);
    tbProxyPort_->SetEnabled(false);

    btnOK_ = &f.AddButton("btnOK", {162, 309, 75, 25}, "&OK");
    btnCancel_ = &f.AddButton("btnCancel", {242, 309, 75, 25}, "C&ancel");

    f.SetTabOrder({tbOutputDirectory_, cbOverrideFile_, cbCompletionClose_, cbCompletionOpenFolder_,
                   cbCompletionLaunchApplication_, cbDeleteAfterDownloading_,
                   cbErrorHandlingMaximumNumberOfAttempts_, cbErrorHandlingErrorAction_,
                   cbProxyServer_, tbProxyServerName_, tbProxyPort_, btnOK_, btnCancel_});
    f.SetDefaultButton(btnOK_);
    f.SetCancelButton(btnCancel_);

    btnOK_->OnClick = [this] { btnCloseClick(); };
    btnCancel_->OnClick = [this] { btnCancelClick(); };
    cbProxyServer_->OnClick = [this] { cbProxyServerClick(); };
    cbCompletionLaunchApplication_->OnClick = [this] { cbCompletionLaunchApplicationClick(); };
    f.OnShow = [this] { LoadControls(); };
}
