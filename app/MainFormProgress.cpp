// TMainForm: the status line, the progress figures, the error action when the attempts are
// used up, and pause and resume.
#include "app/MainForm.h"

#include "gui/TextFit.h"

#include <cmath>
#include <cstdio>

namespace {

// The product's name before figures in the caption and the title at most: a window's title
// bar (410 pixels wide) then still shows them.
constexpr std::size_t kShownProductCharacters = 24;

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
    ShowCaption();
}

void TMainForm::ShowCaption() {
    const std::string &product = request_.ProductName;
    // Where figures follow, a long product name is shortened in the middle: they stay in view.
    const std::string named = gui::ShortenInMiddle(product, [](const std::string &text) {
        return gui::CharacterCount(text) <= kShownProductCharacters;
    });
    const double position = static_cast<double>(pb_->Position());
    const double maximum = static_cast<double>(pb_->Max());
    const double percent = maximum > 0 ? position / maximum * 100 : 100; // empty: all there
    const std::string figures = " (" + std::to_string(std::llround(position / 1024 / 1024)) +
                                " of " + std::to_string(std::llround(maximum / 1024 / 1024)) +
                                " MB, " + OneDecimal(percent) + "%)";
    const std::string whole = std::to_string(std::llround(percent)) + "%";
    const engine::Phase phase = session_ ? session_->CurrentPhase() : engine::Phase::Idle;
    // From the transfer on the bar counts the file's bytes (before, its range is -100..100).
    const bool measured = pb_->Min() == 0;
    std::string caption = "Download " + product, title = product + " download";
    if (phase == engine::Phase::Done) {
        caption = "Downloaded " + named + figures;
        title = product + " downloaded";
    } else if (phase == engine::Phase::Failed) {
        caption = "Download of " + product + " failed";
        title = product + " download failed";
    } else if (Paused) {
        caption = "Download of " + (measured ? named + " paused" + figures : product + " paused");
        title = measured ? named + " download paused at " + whole : product + " download paused";
    } else if (measured) {
        caption = "Downloading " + named + figures;
        title = named + " download " + whole;
    }
    form_.SetCaption(caption);
    app_.SetTitle(title);
}

void TMainForm::ShowFigures(const std::string &text) {
    lblProgress_->SetCaption(text);
}

void TMainForm::OnProgress(int64_t received, int64_t total) {
    AddProgress(received - pb_->Position());
    const auto now = ProgressFigures::Clock::now();
    figures_.Note(now, received, total);
    if (!Paused)
        ShowFigures(figures_.Text(now));
}

void TMainForm::OnStatus(const std::string &text, int32_t level) { ShowStatus(text, level); }

void TMainForm::OnResuming(int64_t have, int64_t total) {
    ShowStatus("Resuming: " + BytesOfTotalText(have, total) + " already here.", 0);
}

void TMainForm::OnAttemptFailed(int, const engine::Failure &) {
    // The session shows the failure in the status line and counts it.
}

engine::RetryAnswer TMainForm::OnDecision(const engine::RetryDecision &decision) {
    SetPaused(true);
    // The question's first sentence speaks of disconnections whatever failed: what did
    // follows it, and stays on the second line while the window waits.
    const std::string reason = decision.lastFailure.empty()
                                   ? ""
                                   : "The last attempt failed: " + Sentence(decision.lastFailure);
    ShowFigures(reason);
    // Nobody can answer the question or press Resume: its first answer, Yes, would make the
    // attempts unlimited and the run endless. The download ends instead.
    if (!app_.GetBackend().UserCanAct()) {
        CloseKeeping();
        return engine::RetryAnswer::Stop;
    }
    switch (options_->ErrorAction) {
    case TErrorAction::Prompt:
        switch (app_.MessageBox("The server has disconnected the transfer " +
                                    std::to_string(decision.attempts) + " times." +
                                    (reason.empty() ? "" : "\r\n" + reason) +
                                    "\r\n\r\nDo you want to continue attempting to "
                                    "transfer?",
                                "Connection error", gui::MessageButtons::YesNoCancel)) {
        case gui::MessageResult::Cancel:
            CloseKeeping();
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
        CloseKeeping();
        return engine::RetryAnswer::Stop;
    case TErrorAction::Pause:
        break;
    }
    CloseUnlessUserCanAct();
    return engine::RetryAnswer::KeepCount;
}

engine::CredentialsReply TMainForm::OnProxyCredentials(const std::string &proxy,
                                                       const std::string &realm, bool again) {
    gui::Backend &backend = app_.GetBackend();
    if (!backend.UserCanAct())
        return {};
    const std::string says = realm.empty() ? "" : "It says: \"" + realm + "\"";
    std::optional<std::pair<std::string, std::string>> given;
    if (!backend.IsConsole()) {
        if (!credentials_)
            credentials_ = std::make_unique<TCredentialsForm>(app_);
        given = credentials_->Ask(again ? "The proxy refused them: try again."
                                        : "The proxy asks for a user name and password.",
                                  proxy, says);
    } else {
        const std::string asks =
            "The proxy " + proxy +
            (again ? " refused them: try again." : " asks for a user name and password.");
        std::string user, password;
        if (app_.AskLine(asks + (says.empty() ? "" : " " + says + ".") + "\nUser name: ", false,
                         user) &&
            app_.AskLine("Password: ", true, password))
            given = std::pair(user, password);
    }
    if (!given)
        return {engine::CredentialsReply::Kind::Cancelled, {}, {}};
    return {engine::CredentialsReply::Kind::Given, given->first, given->second};
}

void TMainForm::SetPaused(bool paused) {
    btnPause_->SetVisible(!paused);
    btnResume_->SetVisible(paused);
    // No speed while paused; after Resume it is measured anew.
    figures_.Restart();
    ShowFigures(figures_.BytesText());
    if (paused) {
        ShowStatus("Paused.", 0);
        Paused = true;
        ShowCaption();
        btnResume_->SetFocus();
        if (session_)
            session_->Pause();
        return;
    }
    Paused = false;
    ShowCaption();
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
