#include "app/OptionsForm.h"

#include "app/Resources.h"
#include "platform/Catalogue.h"

using platform::Tr;

// The dialog's controls, top to bottom: completion, connection error handling, proxy, and
// the buttons at the bottom right. Client area 357 x 340 with an 8-pixel border: wide enough
// for the longest check box at the dialog's font where the system draws it with a wide face
// (DejaVu Sans). A control inside a frame stays within its 2-pixel line (the frame 8..348
// leaves x 10..346).
void TOptionsForm::BuildLayout() {
    gui::Form &f = form_;
    // TRANSLATORS: the options dialog's caption.
    f.SetCaption(Tr("Download options"));
    f.SetIcon(ProgramIcon());

    // TRANSLATORS: a frame of the options dialog: what happens once the file has arrived.
    f.AddGroupBox("gbCompletion", {8, 8, 341, 164}, Tr("On completion"));
    tbOutputDirectory_ = &f.AddEdit("tbOutputDirectory", {16, 42, 325, 22});
    // TRANSLATORS: options dialog; "&" marks the access key, unique in the dialog.
    f.AddLabel("lblOutputDirectory", {16, 24, 325, 16}, Tr("Output &directory"),
               tbOutputDirectory_);
    cbOverrideFile_ = &f.AddCheckBox(
        "cbOverrideFile", {10, 68, 337, 18},
        // TRANSLATORS: options dialog; "&" marks the access key, unique in the dialog.
        Tr("O&verride file if already exists"));
    cbCompletionClose_ = &f.AddCheckBox(
        "cbCompletionClose", {10, 86, 337, 18},
        // TRANSLATORS: options dialog; "&" marks the access key, unique in the dialog.
        Tr("Close this download application after &completing download"));
    cbCompletionOpenFolder_ = &f.AddCheckBox(
        "cbCompletionOpenFolder", {10, 104, 337, 18},
        // TRANSLATORS: options dialog; "&" marks the access key, unique in the dialog.
        Tr("Open &folder after completing download"));
    cbCompletionLaunchApplication_ = &f.AddCheckGroupBox(
        "gbCompletionLaunchApplication", "cbCompletionLaunchApplication", {14, 124, 331, 42},
        // TRANSLATORS: options dialog; "&" marks the access key, unique in the dialog.
        Tr("&Launch application after downloading"));
    cbDeleteAfterDownloading_ = &f.AddCheckBox(
        "cbDeleteAfterDownloading", {20, 144, 323, 18},
        // TRANSLATORS: options dialog; "&" marks the access key, unique in the dialog.
        Tr("Dele&te downloaded file after launching application"));

    // TRANSLATORS: a frame of the options dialog: what happens when connections fail.
    f.AddGroupBox("gbErrorHandling", {8, 178, 341, 66}, Tr("Connection error handling"));
    cbErrorHandlingMaximumNumberOfAttempts_ = &f.AddComboBox(
        "cbErrorHandlingMaximumNumberOfAttempts", {252, 194, 89, 22}, gui::ComboStyle::Editable,
        // TRANSLATORS: options dialog: a choice of the maximum number of attempts.
        {"0", "10", "100", Tr("Unlimited")});
    cbErrorHandlingMaximumNumberOfAttempts_->SetText("100");
    f.AddLabel("lblMaximumNumberOfAttempts", {16, 197, 235, 16},
               // TRANSLATORS: options dialog; "&" marks the access key, unique in the dialog.
               Tr("&Maximum number of attempts"), cbErrorHandlingMaximumNumberOfAttempts_);
    // The actions in the order of TErrorAction.
    // TRANSLATORS: options dialog, when the attempts are used up: pause the download.
    const char *const pause = Tr("Pause");
    // TRANSLATORS: options dialog, when the attempts are used up: ask the user what to do.
    const char *const prompt = Tr("Prompt");
    // TRANSLATORS: options dialog, when the attempts are used up: close the program.
    const char *const close = Tr("Close");
    cbErrorHandlingErrorAction_ =
        &f.AddComboBox("cbErrorHandlingErrorAction", {252, 218, 89, 22},
                       gui::ComboStyle::DropDownList, {pause, prompt, close});
    f.AddLabel("lblErrorAction", {16, 221, 235, 16},
               // TRANSLATORS: options dialog; "&" marks the access key, unique in the dialog.
               Tr("On maximum number of &retry attempts"), cbErrorHandlingErrorAction_);

    cbProxyServer_ = &f.AddCheckGroupBox(
        "gbProxyServer", "cbProxyServer", {8, 250, 341, 52},
        // TRANSLATORS: options dialog; "&" marks the access key, unique in the dialog.
        Tr("&Use a proxy server"));
    tbProxyServerName_ = &f.AddEdit("tbProxyServerName", {64, 272, 164, 22});
    // TRANSLATORS: options dialog: the proxy server's name; "&" marks the access key, unique in
    // the dialog.
    f.AddLabel("lblProxyServerName", {16, 275, 46, 16}, Tr("&Server"), tbProxyServerName_);
    tbProxyPort_ = &f.AddEdit("tbProxyPort", {272, 272, 69, 22});
    // TRANSLATORS: options dialog: the proxy server's port; "&" marks the access key, unique in
    // the dialog.
    f.AddLabel("lblProxyPort", {236, 275, 34, 16}, Tr("&Port"), tbProxyPort_);
    tbProxyPort_->SetText("8080");
    tbProxyServerName_->SetEnabled(false);
    tbProxyPort_->SetEnabled(false);

    // TRANSLATORS: a button of the dialogs; "&" marks its access key, unique in each.
    btnOK_ = &f.AddButton("btnOK", {194, 309, 75, 25}, Tr("&OK"));
    // TRANSLATORS: button of the main window and of the dialogs; "&" marks its access key,
    // unique in each.
    btnCancel_ = &f.AddButton("btnCancel", {274, 309, 75, 25}, Tr("C&ancel"));

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
