#include "app/MainForm.h"

#include "app/Resources.h"
#include "platform/NotifyQueue.h"

// Picture, progress bar, status line and the bar's figures on top, the row of buttons below;
// Pause, Resume and Open share one place, as do Cancel and Close. Client area 410 x 92.
void TMainForm::BuildLayout() {
    gui::Form &f = form_;
    f.SetCaption("Download");
    f.SetIcon(ProgramIcon());

    imgDownload_ = &f.AddPicture("imgDownload", {-4, 2, 64, 64}, DownloadPicture());
    pb_ = &f.AddProgressBar("pb", {66, 4, 337, 21});
    pb_->SetRange(-100, 100);
    pb_->SetPosition(-100);
    lblMessage_ = &f.AddLabel("lblMessage", {68, 28, 335, 16}, "");
    // The bar's figures in words: the bytes of the total, the speed and the time left.
    lblProgress_ = &f.AddLabel("lblProgress", {68, 44, 335, 16}, "", pb_);

    btnLaunchApplication_ = &f.AddButton("btnLaunchApplication", {88, 63, 75, 25}, "&Run");
    btnPause_ = &f.AddButton("btnPause", {168, 63, 75, 25}, "&Pause");
    btnResume_ = &f.AddButton("btnResume", {168, 63, 75, 25}, "&Resume");
    btnOpenFolder_ = &f.AddButton("btnOpenFolder", {168, 63, 75, 25}, "O&pen");
    btnOptions_ = &f.AddButton("btnOptions", {248, 63, 75, 25}, "&Options");
    btnCancel_ = &f.AddButton("btnCancel", {328, 63, 75, 25}, "C&ancel");
    btnClose_ = &f.AddButton("btnClose", {328, 63, 75, 26}, "&Close");
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
