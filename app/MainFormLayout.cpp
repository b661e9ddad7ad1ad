#include "app/MainForm.h"

#include "app/ProgressFigures.h"
#include "app/Resources.h"
#include "platform/Catalogue.h"
#include "platform/NotifyQueue.h"

using platform::Tr;

// Picture, progress bar, status line and the bar's figures on top, the row of buttons below;
// Pause, Resume and Open share one place, as do Cancel and Close. Client area 410 x 92.
void TMainForm::BuildLayout() {
    gui::Form &f = form_;
    // TRANSLATORS: the main window's caption until the product's name is known ("download"
    // as a noun or a verb).
    f.SetCaption(Tr("Download"));
    f.SetIcon(ProgramIcon());

    imgDownload_ = &f.AddPicture("imgDownload", {-4, 2, 64, 64}, DownloadPicture());
    pb_ = &f.AddProgressBar("pb", {66, 4, 337, 21});
    pb_->SetRange(-100, 100);
    pb_->SetPosition(-100);
    lblMessage_ = &f.AddLabel("lblMessage", {68, 28, 335, 16}, "");
    // The status line makes room for its usual texts with the built-in download's names, in
    // the language chosen: longer names are shortened in the middle, never these sentences.
    const std::string file = "Pelko_setup.exe", host = "storage.pelko.example";
    lblMessage_->SetSizingTexts({
        platform::Fill(platform::Tr("Retrieving information from %1..."), {host}),
        platform::Fill(platform::Tr("Using server %1."), {host}),
        platform::Fill(platform::Tr("Downloading %1 from %2."), {file, host}),
        platform::Fill(platform::Tr("Attempting to connect to %1..."), {host}),
        platform::Tr("Computing the file's SHA-256 digest..."),
        platform::Tr("Checking the file's signature..."),
        platform::Tr("Executing downloaded application..."),
        platform::Tr("Finished downloading application."),
        platform::Tr("Error communicating with server."),
    });
    // The bar's figures in words: the bytes of the total, the speed and the time left.
    lblProgress_ = &f.AddLabel("lblProgress", {68, 44, 335, 16}, "", pb_);
    lblProgress_->SetSizingTexts({BytesOfTotalText(999 << 20, 999 << 20) + ", " +
                                  SpeedText(999 << 10) + ", " +
                                  TimeLeftText(std::chrono::minutes(59 * 60 + 59))});

    // TRANSLATORS: main window button, runs the downloaded file; "&" marks its access key,
    // unique in the window.
    btnLaunchApplication_ = &f.AddButton("btnLaunchApplication", {88, 63, 75, 25}, Tr("&Run"));
    // TRANSLATORS: main window button; "&" marks its access key, unique in the window.
    btnPause_ = &f.AddButton("btnPause", {168, 63, 75, 25}, Tr("&Pause"));
    // TRANSLATORS: main window button; "&" marks its access key, unique in the window.
    btnResume_ = &f.AddButton("btnResume", {168, 63, 75, 25}, Tr("&Resume"));
    // TRANSLATORS: main window button, opens the file's folder; "&" marks its access key,
    // unique in the window.
    btnOpenFolder_ = &f.AddButton("btnOpenFolder", {168, 63, 75, 25}, Tr("O&pen"));
    // TRANSLATORS: main window button; "&" marks its access key, unique in the window.
    btnOptions_ = &f.AddButton("btnOptions", {248, 63, 75, 25}, Tr("&Options"));
    // TRANSLATORS: button of the main window and of the dialogs; "&" marks its access key,
    // unique in each.
    btnCancel_ = &f.AddButton("btnCancel", {328, 63, 75, 25}, Tr("C&ancel"));
    // TRANSLATORS: main window button; "&" marks its access key, unique in the window.
    btnClose_ = &f.AddButton("btnClose", {328, 63, 75, 26}, Tr("&Close"));
    btnLaunchApplication_->SetVisible(false);
    btnResume_->SetVisible(false);
    btnOpenFolder_->SetVisible(false);
    btnClose_->SetVisible(false);

    f.SetTabOrder({pb_, btnLaunchApplication_, btnOpenFolder_, btnPause_, btnResume_, btnOptions_,
                   btnClose_, btnCancel_});

    btnLaunchApplication_->OnClick = [this] { btnLaunchApplicationClick(); };
    btnPause_->OnClick = [this] { btnPauseResumeClick(); };
    btnResume_->OnClick = [this] { btnPauseResumeClick(); };
    btnOpenFolder_->OnClick = [this] { btnOpenFolderClick(); };
    btnOptions_->OnClick = [this] { btnOptionsClick(); };
    btnCancel_->OnClick = [this] { btnCancelClick(); };
    btnClose_->OnClick = [this] { btnCancelClick(); };
    // Escape is the Cancel button (or Close, which takes its place at the end), under its own
    // rules: only while it is shown and enabled.
    f.SetCancelButton(btnCancel_);
    f.OnClose = [this] { FormClose(); };
    // The first activation comes once the window is up and its message loop runs.
    f.OnShow = [this] {
        platform::NotifyQueue::Current()->PostClosure([this, alive = std::weak_ptr(alive_)] {
            if (!alive.expired()) // the window may be gone before the loop gets here
                FormActivate();
        });
    };
}
