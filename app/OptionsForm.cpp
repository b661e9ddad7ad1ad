#include "app/OptionsForm.h"

#include "app/Common.h"
#include "app/IntegerText.h"
#include "platform/Catalogue.h"
#include "platform/ProcessInfo.h"
#include "platform/ProxyRules.h"

using platform::Fill;
using platform::Tr;

namespace {

// Trims characters up to the blank (control characters included) from both ends.
std::string Trim(const std::string &text) {
    std::size_t first = 0;
    std::size_t last = text.size();
    while (first < last && static_cast<unsigned char>(text[first]) <= ' ')
        ++first;
    while (last > first && static_cast<unsigned char>(text[last - 1]) <= ' ')
        --last;
    return text.substr(first, last - first);
}

} // namespace

TOptionsForm::TOptionsForm(gui::Application &app, std::string programDirectory)
    : app_(app), form_(app.CreateForm("OptionsForm", 357, 340)),
      programDirectory_(std::move(programDirectory)) {
    BuildLayout();
    ProxyEditable = true;
    Locked = false;
    SetDefaults();
}

void TOptionsForm::SetDefaults() {
    OverrideFile = true;
    CompletionClose = true;
    CompletionOpenFolder = false;
    CompletionLaunchApplication = true;
    DeleteAfterDownloading = false;
    OutputDirectory = programDirectory_;
    MaximumNumberOfAttempts = 100;
    ErrorAction = TErrorAction::Prompt;
    UseProxyServer = false;
    ProxyServerName.clear();
    ProxyPort = -1;
}

void TOptionsForm::LoadControls() {
    // Setting a check runs its click handler, as a click by the user would.
    cbOverrideFile_->SetChecked(OverrideFile);
    cbCompletionClose_->SetChecked(CompletionClose);
    cbCompletionOpenFolder_->SetChecked(CompletionOpenFolder);
    cbCompletionLaunchApplication_->SetChecked(CompletionLaunchApplication);
    cbDeleteAfterDownloading_->SetChecked(DeleteAfterDownloading);
    tbOutputDirectory_->SetText(OutputDirectory);
    cbErrorHandlingMaximumNumberOfAttempts_->SetText(
        MaximumNumberOfAttempts <= 0 ? Tr("Unlimited") : std::to_string(MaximumNumberOfAttempts));
    cbErrorHandlingErrorAction_->SetItemIndex(static_cast<int>(ErrorAction));
    cbProxyServer_->SetChecked(UseProxyServer);
    tbProxyServerName_->SetText(ProxyServerName);
    tbProxyPort_->SetText(ProxyPort <= 0 ? "" : std::to_string(ProxyPort));

    // The proxy edits are left as cbProxyServerClick set them.
    cbProxyServer_->SetEnabled(ProxyEditable && !Locked);
    for (gui::CheckBox *check : {cbOverrideFile_, cbCompletionClose_, cbCompletionOpenFolder_,
                                 cbCompletionLaunchApplication_, cbDeleteAfterDownloading_})
        check->SetEnabled(!Locked);
    tbOutputDirectory_->SetReadOnly(Locked);
    cbErrorHandlingMaximumNumberOfAttempts_->SetEnabled(!Locked);
    cbErrorHandlingErrorAction_->SetEnabled(!Locked);
}

void TOptionsForm::SaveControls() {
    OverrideFile = cbOverrideFile_->Checked();
    CompletionClose = cbCompletionClose_->Checked();
    CompletionOpenFolder = cbCompletionOpenFolder_->Checked();
    CompletionLaunchApplication = cbCompletionLaunchApplication_->Checked();
    DeleteAfterDownloading = cbDeleteAfterDownloading_->Checked();
    OutputDirectory = tbOutputDirectory_->Text();
    const std::string &attempts = cbErrorHandlingMaximumNumberOfAttempts_->Text();
    MaximumNumberOfAttempts =
        attempts == Tr("Unlimited") ? -1 : ReadInteger(attempts, IntegerSyntax::Strict).value;
    int index = cbErrorHandlingErrorAction_->ItemIndex();
    ErrorAction = index < 0 ? TErrorAction::Prompt : static_cast<TErrorAction>(index);
    UseProxyServer = cbProxyServer_->Checked();
    ProxyServerName = tbProxyServerName_->Text();
    const std::string &port = tbProxyPort_->Text();
    // With the proxy off the port is not validated: a bad text keeps its leading digits.
    ProxyPort = port.empty() ? 0 : ReadInteger(port, IntegerSyntax::Strict).value;
}

std::string TOptionsForm::Validate() {
    std::string errors;
    for (const OptionProblem &problem : Problems())
        errors += (errors.empty() ? "" : "\r\n") + problem.message;
    return errors;
}

std::vector<OptionProblem> TOptionsForm::Problems() {
    std::vector<OptionProblem> problems;
    auto add = [&problems](OptionCheck check, const std::string &message) {
        problems.push_back({check, message});
    };

    std::string directory = Trim(tbOutputDirectory_->Text());
    // A folder typed with either separator at its end is complete (Windows takes both).
    if (!directory.empty() && directory.back() != '/' &&
        directory.back() != platform::PathSeparator())
        directory += platform::PathSeparator();
    tbOutputDirectory_->SetText(directory);
    if (directory.empty() || !IsExistingDirectory(directory))
        add(OptionCheck::OutputDirectory,
            // TRANSLATORS: %1 is the folder typed in the options dialog.
            Fill(Tr("The output directory \"%1\" is invalid or does not exist"), {directory}));

    const std::string &attempts = cbErrorHandlingMaximumNumberOfAttempts_->Text();
    if (attempts != Tr("Unlimited")) {
        IntegerRead read = ReadInteger(attempts, IntegerSyntax::Strict);
        if (!read.valid || read.value < 1)
            add(OptionCheck::Attempts,
                Tr("Maximum number of attempts must be an integer greater than 0."));
    }

    tbProxyServerName_->SetText(Trim(tbProxyServerName_->Text()));
    if (cbProxyServer_->Checked()) {
        if (tbProxyServerName_->Text().empty())
            add(OptionCheck::ProxyServer, Tr("Proxy server cannot be empty."));
        else if (const std::string why = platform::ProxyHostError(tbProxyServerName_->Text());
                 !why.empty())
            add(OptionCheck::ProxyServer, why + ".");
        IntegerRead port = ReadInteger(tbProxyPort_->Text(), IntegerSyntax::Strict);
        if (!port.valid || port.value < 0 || port.value > 65535)
            add(OptionCheck::ProxyPort, Tr("Proxy port must be between 0 and 65535."));
    }
    return problems;
}

void TOptionsForm::ShowModal() {
    form_.ShowModal();
}

void TOptionsForm::btnCloseClick() {
    std::string errors = Validate();
    if (!errors.empty()) {
        // TRANSLATORS: the caption of the box that lists what is wrong in the options dialog.
        app_.MessageBox(errors, Tr("Validation errors"), gui::MessageButtons::Ok);
        return;
    }
    SaveControls();
    form_.Close();
}

void TOptionsForm::btnCancelClick() {
    form_.Close();
}

void TOptionsForm::cbProxyServerClick() {
    bool on = cbProxyServer_->Checked();
    tbProxyServerName_->SetEnabled(on);
    tbProxyPort_->SetEnabled(on);
}

void TOptionsForm::cbCompletionLaunchApplicationClick() {
    cbDeleteAfterDownloading_->SetEnabled(cbCompletionLaunchApplication_->Checked());
}
