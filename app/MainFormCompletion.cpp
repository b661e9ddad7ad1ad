// TMainForm: what the window shows when the session verifies the file, has verified it or has
// failed, and the completion actions.
#include "app/MainForm.h"

#include "app/Common.h"
#include "app/OutputFile.h"
#include "platform/Catalogue.h"
#include "platform/Files.h"

using platform::Fill;
using platform::Tr;

void TMainForm::OnPhase(engine::Phase phase) {
    switch (phase) {
    case engine::Phase::Transferring:
        pb_->SetRange(0, session_->Size());
        pb_->SetPosition(0);
        figures_.Restart();
        break;
    case engine::Phase::Verifying:
        ShowVerifying();
        break;
    case engine::Phase::Done:
        ShowCompleted();
        break;
    case engine::Phase::Failed:
        ShowFailed();
        break;
    default:
        break;
    }
    ShowCaption();
}

void TMainForm::ShowVerifying() {
    app_.SetBusy(true);
    ShowStatus(Tr("Finished downloading application."), 0);
    AddProgress(pb_->Max() - pb_->Position());
    ShowFigures(BytesOfTotalText(pb_->Max(), pb_->Max()));
    btnOptions_->SetEnabled(false);
    btnClose_->SetEnabled(false);
    btnCancel_->SetEnabled(false);
    btnPause_->SetVisible(false);
    btnResume_->SetVisible(false);
    options_->Locked = true;
    ShowCloseButton();
    form_.Repaint(); // the window shows the finished state while the file is checked
}

std::string TMainForm::FinalPath() const {
    return OutputFilePath(options_->OutputDirectory, LocalFileName(request_.FileName),
                          options_->OverrideFile,
                          [](const std::string &p) { return platform::PathExists(p); });
}

void TMainForm::ShowCompleted() {
    app_.SetBusy(false);
    OutputPath = session_->OutputPath();
    if (!request_.Sha256.empty())
        DigestLine = "SHA256 (" + OutputPath + ") = " + request_.Sha256;
    ExitCode = kExitVerified;
    ShowCaption();
    RunCompletionActions();
    // Where the file is (unless it was run and deleted).
    if (platform::PathExists(OutputPath)) {
        // The folder without its last separator, unless it is the root.
        const size_t last = OutputPath.find_last_of("/\\");
        // TRANSLATORS: %1 is the folder the downloaded file is in.
        ShowFigures(Fill(Tr("Saved in %1"), {OutputPath.substr(0, last == 0 ? 1 : last)}));
    }
    FinishDownload();
}

void TMainForm::ShowFailed() {
    app_.SetBusy(false);
    const engine::Failure &failure = session_->LastFailure();
    OutputPath = FinalPath();
    ExitCode = kExitFailed;
    ShowCaption();
    // Why, beside the status line's word for it, while the window stays.
    ShowFigures(Sentence(failure.text));
    // The file is gone before the box is shown: while it waits for an answer, nobody can run
    // a file that failed.
    switch (failure.kind) {
    case engine::FailureKind::SizeMismatch:
    case engine::FailureKind::DigestMismatch:
    case engine::FailureKind::SignerMismatch:
        app_.MessageBox(Tr("The file did not download correctly. Please try again.") +
                            Paragraph(failure.text),
                        Tr("Connection error"), gui::MessageButtons::Ok);
        ShowStatus(Tr("Verification failed."), 0);
        break;
    case engine::FailureKind::ProxyAuth:
        // Not the file's fault: nothing was downloaded.
        ExitCode = kExitIncomplete;
        btnPause_->SetVisible(false);
        btnResume_->SetVisible(false);
        ShowStatus(failure.text, 0);
        app_.MessageBox(failure.text, Tr("Connection error"), gui::MessageButtons::Ok);
        break;
    case engine::FailureKind::DigestUnavailable:
        app_.MessageBox(Tr("The file's SHA-256 digest could not be computed.") +
                            Paragraph(failure.text),
                        Tr("Connection error"), gui::MessageButtons::Ok);
        ShowStatus(Tr("Verification failed."), 0);
        break;
    default:
        // The disk: no room for the file, or a write that failed.
        btnPause_->SetVisible(false);
        btnResume_->SetVisible(false);
        ShowCloseButton();
        ShowStatus(Tr("The file could not be written."), 0);
        app_.MessageBox(Tr("The file could not be written.") + Paragraph(failure.text), Tr("ERROR"),
                        gui::MessageButtons::Ok);
        break;
    }
    FinishDownload();
}

void TMainForm::ShowCloseButton() {
    btnClose_->SetVisible(true);
    btnCancel_->SetVisible(false);
    // Enter and Escape both close the finished window.
    form_.SetCancelButton(btnClose_);
    form_.SetDefaultButton(btnClose_);
}

void TMainForm::FinishDownload() {
    if (CloseRequested)
        return;
    // Without a user to press Run or Close, the program ends here too.
    if (options_->CompletionClose || !app_.GetBackend().UserCanAct()) {
        form_.Close();
        return;
    }
    btnLaunchApplication_->SetVisible(true);
    btnOpenFolder_->SetVisible(true);
    btnOptions_->SetEnabled(true);
    btnClose_->SetEnabled(true);
    btnCancel_->SetEnabled(true);
    // Enter then closes the window: it never runs the file by surprise.
    btnClose_->SetFocus();
}

void TMainForm::RunCompletionActions() {
    if (options_->CompletionOpenFolder)
        LaunchProgram("explorer", "/select," + OutputPath, false);
    bool removeAfter = false;
    if (options_->CompletionLaunchApplication) {
        ShowStatus(Tr("Executing downloaded application..."), 0);
        const bool deleteAfter = options_->DeleteAfterDownloading;
        // The file is held from its checks to here, and the run starts the held file (on
        // Linux through its descriptor, never its name): what starts is what was checked. A
        // name that leads elsewhere by now (only where the system lets others rename the
        // file) is said so, and nothing is run.
        if (!session_->OutputIsVerifiedFile())
            app_.MessageBox(
                // TRANSLATORS: %1 is the downloaded file's path.
                Fill(Tr("The file %1 was replaced after it was checked. It is not run."),
                     {OutputPath}),
                Tr("ERROR"), gui::MessageButtons::Ok);
        else
            removeAfter = LaunchHeldFile(session_->OutputFileHandle(), OutputPath, deleteAfter) &&
                          deleteAfter;
    }
    // Let go once the program runs (with DeleteAfterDownloading, once it has ended).
    session_->ReleaseFile();
    if (removeAfter)
        platform::RemoveFile(OutputPath);
    ShowStatus(Tr("Finished."), 0);
}

void TMainForm::btnLaunchApplicationClick() {
    // The user's own start, later: the file was let go after the completion actions, and is
    // started by its name, as from its folder.
    LaunchProgram(OutputPath, "", false);
}

void TMainForm::btnOpenFolderClick() {
    LaunchProgram("explorer", "/select," + OutputPath, false);
}
