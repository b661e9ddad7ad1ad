// TMainForm: the status line, the progress figures, the error action when the attempts are
// used up, and pause and resume.
#include "app/MainForm.h"

#include "gui/TextFit.h"
#include "platform/Catalogue.h"

#include <cmath>
#include <cstdio>

using platform::Fill;
using platform::Tr;

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
    const std::string received = std::to_string(std::llround(position / 1024 / 1024));
    const std::string size = std::to_string(std::llround(maximum / 1024 / 1024));
    const std::string exact = OneDecimal(percent), whole = std::to_string(std::llround(percent));
    const engine::Phase phase = session_ ? session_->CurrentPhase() : engine::Phase::Idle;
    // From the transfer on the bar counts the file's bytes (before, its range is -100..100).
    const bool measured = pb_->Min() == 0;
    // TRANSLATORS: the main window's caption, %1 the product's name.
    std::string caption = Fill(Tr("Download %1"), {product});
    // TRANSLATORS: the program's title in the task bar, %1 the product's name.
    std::string title = Fill(Tr("%1 download"), {product});
    if (phase == engine::Phase::Done) {
        // TRANSLATORS: the main window's caption: %1 the product's name, %2 the megabytes
        // received, %3 the megabytes of the file, %4 the percentage ("12 of 40 MB, 30.0%").
        caption = Fill(Tr("Downloaded %1 (%2 of %3 MB, %4%)"), {named, received, size, exact});
        // TRANSLATORS: the program's title in the task bar, %1 the product's name.
        title = Fill(Tr("%1 downloaded"), {product});
    } else if (phase == engine::Phase::Failed) {
        // TRANSLATORS: the main window's caption, %1 the product's name.
        caption = Fill(Tr("Download of %1 failed"), {product});
        // TRANSLATORS: the program's title in the task bar, %1 the product's name.
        title = Fill(Tr("%1 download failed"), {product});
    } else if (Paused && measured) {
        caption = Fill(
            // TRANSLATORS: the main window's caption: %1 the product's name, %2 the megabytes
            // received, %3 the megabytes of the file, %4 the percentage ("12 of 40 MB, 30.0%").
            Tr("Download of %1 paused (%2 of %3 MB, %4%)"), {named, received, size, exact});
        // TRANSLATORS: the program's title in the task bar: %1 the product's name, %2 the
        // percentage done ("Pelko download paused at 30%").
        title = Fill(Tr("%1 download paused at %2%"), {named, whole});
    } else if (Paused) {
        // TRANSLATORS: the main window's caption, %1 the product's name.
        caption = Fill(Tr("Download of %1 paused"), {product});
        // TRANSLATORS: the program's title in the task bar, %1 the product's name.
        title = Fill(Tr("%1 download paused"), {product});
    } else if (measured) {
        // TRANSLATORS: the main window's caption: %1 the product's name, %2 the megabytes
        // received, %3 the megabytes of the file, %4 the percentage ("12 of 40 MB, 30.0%").
        caption = Fill(Tr("Downloading %1 (%2 of %3 MB, %4%)"), {named, received, size, exact});
        // TRANSLATORS: the program's title in the task bar: %1 the product's name, %2 the
        // percentage done ("Pelko download 30%").
        title = Fill(Tr("%1 download %2%"), {named, whole});
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
    // TRANSLATORS: %1 is what has arrived of the file before, e.g. "16.2 of 40.0 MB".
    ShowStatus(Fill(Tr("Resuming: %1 already here."), {BytesOfTotalText(have, total)}), 0);
}

void TMainForm::OnAttemptFailed(int, const engine::Failure &) {
    // The session shows the failure in the status line and counts it.
}

engine::RetryAnswer TMainForm::OnDecision(const engine::RetryDecision &decision) {
    SetPaused(true);
    // The question's first sentence speaks of disconnections whatever failed: what did
    // follows it, and stays on the second line while the window waits.
    std::string reason;
    if (!decision.lastFailure.empty())
        // TRANSLATORS: %1 is why, a sentence such as "The connection timed out."
        reason = Fill(Tr("The last attempt failed: %1"), {Sentence(decision.lastFailure)});
    ShowFigures(reason);
    // Nobody can answer the question or press Resume: its first answer, Yes, would make the
    // attempts unlimited and the run endless. The download ends instead.
    if (!app_.GetBackend().UserCanAct()) {
        CloseKeeping();
        return engine::RetryAnswer::Stop;
    }
    switch (options_->ErrorAction) {
    case TErrorAction::Prompt:
        // TRANSLATORS: %1 is the number of failed attempts.
        switch (app_.MessageBox(Fill(Tr("The server has disconnected the transfer %1 times."),
                                     {std::to_string(decision.attempts)}) +
                                    (reason.empty() ? "" : "\r\n" + reason) + "\r\n\r\n" +
                                    Tr("Do you want to continue attempting to transfer?"),
                                // TRANSLATORS: the caption of the boxes about failed
                                // connections and downloads.
                                Tr("Connection error"), gui::MessageButtons::YesNoCancel)) {
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
    std::optional<std::pair<std::string, std::string>> given;
    if (!backend.IsConsole()) {
        if (!credentials_)
            credentials_ = std::make_unique<TCredentialsForm>(app_);
        // TRANSLATORS: a line of the proxy's credentials box; %1 is the name the proxy gives
        // the protected area (its "realm"), as it sends it.
        const std::string says = realm.empty() ? "" : Fill(Tr("It says: \"%1\""), {realm});
        // TRANSLATORS: "them" are the user name and password given before.
        given = credentials_->Ask(again ? Tr("The proxy refused them: try again.")
                                        : Tr("The proxy asks for a user name and password."),
                                  proxy, says);
    } else {
        std::string asks;
        if (again)
            // TRANSLATORS: the question at the console; %1 is the proxy ("host:port"); "them"
            // are the user name and password given before.
            asks = Fill(Tr("The proxy %1 refused them: try again."), {proxy});
        else
            // TRANSLATORS: the question at the console; %1 is the proxy ("host:port").
            asks = Fill(Tr("The proxy %1 asks for a user name and password."), {proxy});
        if (!realm.empty())
            // TRANSLATORS: follows the proxy's question at the console; %1 is the name the
            // proxy gives the protected area (its "realm"), as it sends it.
            asks += " " + Fill(Tr("It says: \"%1\"."), {realm});
        std::string user, password;
        // TRANSLATORS: the console's prompt for the proxy's user name.
        if (app_.AskLine(asks + "\n" + Tr("User name:") + " ", false, user) &&
            // TRANSLATORS: the console's prompt for the proxy's password.
            app_.AskLine(std::string(Tr("Password:")) + " ", true, password))
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
        ShowStatus(Tr("Paused."), 0);
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
    ShowStatus(Tr("Resuming..."), 0);
}

void TMainForm::btnPauseResumeClick() {
    SetPaused(!Paused);
}
