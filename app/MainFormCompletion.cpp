// TMainForm: the end of the workers, the join and the verification of the file, and the
// completion actions.
#include "app/MainForm.h"

#include "app/Common.h"
#include "app/OutputFile.h"
#include "platform/NotifyQueue.h"
#include "platform/Sha256.h"

#include <cstdio>
#include <filesystem>

void TMainForm::OnWorkerDone(platform::TThread *) {
    if (CloseRequested)
        return; // stopped: nothing is joined
    if (++FinishedWorkers != 5)
        return;
    CompleteDownload();
}

void TMainForm::CompleteDownload() {
    app_.SetBusy(true);
    struct Idle {
        gui::Application &app;
        ~Idle() { app.SetBusy(false); }
    } idle{app_};
    ShowStatus("Finished downloading application.", 0);
    AddProgress(pb_->Max());
    btnOptions_->SetEnabled(false);
    btnClose_->SetEnabled(false);
    btnCancel_->SetEnabled(false);
    btnPause_->SetVisible(false);
    btnResume_->SetVisible(false);
    options_->Locked = true;
    form_.Repaint(); // the window shows the finished state while the file is joined

    const bool verified = AssembleOutput();
    if (CloseRequested)
        return; // stopped during the join: nothing is left, and nothing more happens
    ExitCode = verified ? kExitVerified : kExitFailed;
    if (verified)
        RunCompletionActions();

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
}

bool TMainForm::AssembleOutput() {
    OutputPath = OutputFilePath(
        options_->OutputDirectory, LocalFileName(request_.FileName), options_->OverrideFile,
        [](const std::string &p) { return std::filesystem::exists(p); });
    std::vector<std::string> pieces;
    for (auto &w : Workers) {
        if (!w)
            continue;
        // With one stream its file is the whole file: what the others kept is not needed.
        if (WholeFileStream && w.get() != WholeFileStream) {
            for (const auto &piece : w->PieceFiles)
                std::remove(piece.c_str());
        } else {
            pieces.insert(pieces.end(), w->PieceFiles.begin(), w->PieceFiles.end());
        }
        w->PieceFiles.clear();
    }
    // The window stays responsive while a large file is joined; closing it stops the join.
    const std::string error = JoinPieces(OutputPath, pieces, [this] {
        platform::ProcessPendingMessages();
        return !CloseRequested;
    });
    if (CloseRequested)
        return false;

    btnClose_->SetVisible(true);
    btnCancel_->SetVisible(false);
    form_.Repaint();

    if (!error.empty()) {
        app_.MessageBox(error, "ERROR", gui::MessageButtons::Ok);
        ShowStatus("Verification failed.", 0);
        return false;
    }
    if (const int64_t size = FileSize(OutputPath); size != pb_->Max()) {
        FailVerification("The file did not download correctly. Please try again." +
                         Paragraph("The file has " + std::to_string(size) + " bytes instead of " +
                                   std::to_string(pb_->Max()) + "."));
        return false;
    }
    if (!CheckDigest())
        return false;
    if (ServerFileDate != 0)
        SetFileDate(OutputPath, ServerFileDate);
    return true;
}

bool TMainForm::CheckDigest() {
    const std::string &pinned = request_.Sha256;
    if (pinned.empty() && !app_.GetBackend().IsConsole())
        return true;
    ShowStatus("Computing the file's SHA-256 digest...", 0);
    form_.Repaint();
    // The window stays responsive while a large file is read; closing it stops the reading.
    std::string error;
    const std::string digest = platform::FileSha256(OutputPath, error, [this] {
        platform::ProcessPendingMessages();
        return !CloseRequested;
    });
    if (CloseRequested) {
        // Stopped before the file was checked: it is not left behind unchecked.
        std::error_code ec;
        std::filesystem::remove(OutputPath, ec);
        return false;
    }
    if (!digest.empty())
        DigestLine = "SHA256 (" + OutputPath + ") = " + digest;
    if (pinned.empty() || digest == pinned)
        return true;
    FailVerification(
        digest.empty()
            ? "The file's SHA-256 digest could not be computed." + Paragraph(error)
            : "The file did not download correctly. Please try again." +
                  Paragraph("SHA-256 digest expected: " + pinned +
                            "\r\nSHA-256 digest of the file: " + digest));
    return false;
}

void TMainForm::FailVerification(const std::string &text) {
    // Deleted before the box is shown: while it waits for an answer, nobody can run the file.
    std::error_code ec;
    std::filesystem::remove(OutputPath, ec);
    app_.MessageBox(text, "Connection error", gui::MessageButtons::Ok);
    ShowStatus("Verification failed.", 0);
}

void TMainForm::RunCompletionActions() {
    if (options_->CompletionOpenFolder)
        LaunchProgram("explorer", "/select," + OutputPath, false);
    if (options_->CompletionLaunchApplication) {
        ShowStatus("Executing downloaded application...", 0);
        const bool deleteAfter = options_->DeleteAfterDownloading;
        if (std::filesystem::exists(OutputPath) && LaunchProgram(OutputPath, "", deleteAfter) &&
            deleteAfter) {
            std::error_code ec;
            std::filesystem::remove(OutputPath, ec);
        }
    }
    ShowStatus("Finished.", 0);
}

void TMainForm::btnLaunchApplicationClick() { LaunchProgram(OutputPath, "", false); }

void TMainForm::btnOpenFolderClick() { LaunchProgram("explorer", "/select," + OutputPath, false); }
