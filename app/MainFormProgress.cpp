// TMainForm: the status line, the progress figures, the workers' reports with the retry
// policy, and pause and resume.
#include "app/MainForm.h"

#include <cmath>
#include <cstdio>

namespace {

const char *const kWorkerError = "Error communicating with server. Retrying...";

std::string OneDecimal(double value) {
    char text[64];
    std::snprintf(text, sizeof text, "%.1f", value);
    return text;
}

} // namespace

void TMainForm::ShowStatus(const std::string &text, int32_t level) {
    if (level > request_.MaximumDetailToDisplay || Paused)
        return;
    lblMessage_->SetCaption(text);
    // Seen at once even while the main thread stays busy (selection, completion).
    if (level == 0)
        form_.Repaint();
}

void TMainForm::AddProgress(int64_t delta) {
    pb_->SetPosition(pb_->Position() + delta);
    const double position = static_cast<double>(pb_->Position());
    const double maximum = static_cast<double>(pb_->Max());
    const double percent = maximum > 0 ? position / maximum * 100 : 100; // empty: all there
    // Reports come for every received chunk; most change none of the shown figures.
    const ShownProgress now{std::llround(position / 1024 / 1024),
                            std::llround(maximum / 1024 / 1024), std::llround(percent * 10),
                            std::llround(percent)};
    const std::string &product = request_.ProductName;
    if (now.megabytes != shownProgress_.megabytes ||
        now.maximumMegabytes != shownProgress_.maximumMegabytes ||
        now.tenthsOfPercent != shownProgress_.tenthsOfPercent)
        form_.SetCaption("Downloading " + product + " (" + std::to_string(now.megabytes) + " of " +
                         std::to_string(now.maximumMegabytes) + " MB, " + OneDecimal(percent) +
                         "%)");
    if (now.percent != shownProgress_.percent)
        app_.SetTitle(product + " download " + std::to_string(now.percent) + "%");
    shownProgress_ = now;
}

void TMainForm::OnWorkerReport(platform::TObject *Sender, int64_t delta,
                               const std::string &message, int32_t level) {
    if (delta != 0)
        AddProgress(delta);
    if (message.empty())
        return;
    if (message != kWorkerError) {
        ShowStatus(message, level);
        return;
    }
    ShowStatus("Error communicating with server.", level);
    if (auto *worker = dynamic_cast<engine::HttpThread *>(Sender))
        LastFailure = worker->LastFailure;
    ++ErrorCount;
    const int32_t attempts = options_->MaximumNumberOfAttempts;
    // Five workers share one count.
    if (PromptActive || attempts == -1 || static_cast<int64_t>(ErrorCount) < attempts * 5LL)
        return;
    PromptActive = true;
    SetPaused(true);
    switch (options_->ErrorAction) {
    case TErrorAction::Prompt:
        switch (app_.MessageBox("The server has disconnected the transfer " +
                                    std::to_string(attempts) + " times." +
                                    Paragraph(LastFailure) +
                                    "\r\n\r\nDo you want to continue attempting to "
                                    "transfer?",
                                "Connection error", gui::MessageButtons::YesNoCancel)) {
        case gui::MessageResult::Cancel:
            form_.Close();
            break;
        case gui::MessageResult::Yes:
            ErrorCount = 0;
            options_->MaximumNumberOfAttempts = -1;
            SetPaused(false);
            break;
        default: // No: stays paused
            ErrorCount = 0;
            CloseUnlessUserCanAct();
            break;
        }
        break;
    case TErrorAction::Close:
        form_.Close();
        break;
    case TErrorAction::Pause:
        CloseUnlessUserCanAct();
        break;
    }
    PromptActive = false;
}

void TMainForm::OnOneStream(engine::HttpThread *stream) {
    WholeFileStream = stream;
    // None of the others reports anything after this, so the bar holds only the stream's bytes.
    for (auto &w : Workers)
        if (w && w.get() != stream)
            w->RequestStop();
    AddProgress(-pb_->Position());
    ShowStatus("The server sends only whole files: the file comes in one stream.", 1);
}

void TMainForm::SetPaused(bool paused) {
    btnPause_->SetVisible(!paused);
    btnResume_->SetVisible(paused);
    if (paused) {
        ShowStatus("Paused.", 0);
        Paused = true;
        btnResume_->SetFocus();
        if (WorkersStarted)
            for (auto &w : Workers)
                if (w && !w->Finished)
                    w->PauseTransfer();
        return;
    }
    Paused = false;
    btnPause_->SetFocus();
    if (WorkersStarted) {
        for (auto &w : Workers)
            if (w && !w->Finished)
                w->ResumeTransfer();
    } else {
        // After a failed selection: select again, from the message loop. During a selection
        // nothing more is needed (one selection at a time): it starts its workers unpaused.
        PostStartWhenReady();
    }
    ShowStatus("Resuming...", 0);
}

void TMainForm::btnPauseResumeClick() {
    SetPaused(!Paused);
}
