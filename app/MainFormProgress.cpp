// TMainForm: the status line, the progress figures, the error action when the attempts are
// used up, and pause and resume.
#include "app/MainForm.h"

#include <cmath>
#include <cstdio>

namespace {

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

void TMainForm::OnProgress(int64_t received, int64_t) { AddProgress(received - pb_->Position()); }

void TMainForm::OnStatus(const std::string &text, int32_t level) { ShowStatus(text, level); }

void TMainForm::OnAttemptFailed(int, const engine::Failure &) {
    // The session shows the failure in the status line and counts it.
}

engine::RetryAnswer TMainForm::OnDecision(const engine::RetryDecision &decision) {
    SetPaused(true);
    switch (options_->ErrorAction) {
    case TErrorAction::Prompt:
        switch (app_.MessageBox("The server has disconnected the transfer " +
                                    std::to_string(decision.attempts) + " times." +
                                    Paragraph(decision.lastFailure) +
                                    "\r\n\r\nDo you want to continue attempting to "
                                    "transfer?",
                                "Connection error", gui::MessageButtons::YesNoCancel)) {
        case gui::MessageResult::Cancel:
            form_.Close();
            return engine::RetryAnswer::Stop;
        case gui::MessageResult::Yes:
            options_->MaximumNumberOfAttempts = -1;
            SetPaused(false);
            return engine::RetryAnswer::GoOn;
        default: // No: stays paused
            CloseUnlessUserCanAct();
            return engine::RetryAnswer::StayPaused;
        }
    case TErrorAction::Close:
        form_.Close();
        return engine::RetryAnswer::Stop;
    case TErrorAction::Pause:
        break;
    }
    CloseUnlessUserCanAct();
    return engine::RetryAnswer::KeepCount;
}

std::optional<std::pair<std::string, std::string>>
TMainForm::OnProxyCredentials(const std::string &proxy, const std::string &challenge, bool again) {
    gui::Backend &backend = app_.GetBackend();
    if (!backend.UserCanAct())
        return std::nullopt;
    if (!backend.IsConsole()) {
        if (!credentials_)
            credentials_ = std::make_unique<TCredentialsForm>(app_);
        return credentials_->Ask(proxy, challenge, again);
    }
    std::string user, password;
    const std::string asks = again ? "The proxy " + proxy + " refused them; user name: "
                                   : "The proxy " + proxy + " asks for a user name and password (" +
                                         challenge + ").\nUser name: ";
    if (!app_.AskLine(asks, false, user) || !app_.AskLine("Password: ", true, password))
        return std::nullopt;
    return std::pair(user, password);
}

void TMainForm::SetPaused(bool paused) {
    btnPause_->SetVisible(!paused);
    btnResume_->SetVisible(paused);
    if (paused) {
        ShowStatus("Paused.", 0);
        Paused = true;
        btnResume_->SetFocus();
        if (session_)
            session_->Pause();
        return;
    }
    Paused = false;
    btnPause_->SetFocus();
    if (session_)
        session_->Resume();
    // After a failed selection: select again, from the message loop. During a selection
    // nothing more is needed (one selection at a time): it starts its workers unpaused.
    if (!WorkersStarted())
        PostStartWhenReady();
    ShowStatus("Resuming...", 0);
}

void TMainForm::btnPauseResumeClick() {
    SetPaused(!Paused);
}
