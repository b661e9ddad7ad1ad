#include "app/MainForm.h"

#include <cstdio>

#include "app/CommandLine.h"
#include "app/Common.h"
#include "app/OptionParameters.h"
#include "platform/Catalogue.h"
#include "platform/NotifyQueue.h"
#include "platform/ProcessInfo.h"
#include "platform/StopRequests.h"
#include "platform/Thread.h"

std::string Paragraph(const std::string &text) {
    return text.empty() ? "" : "\r\n\r\n" + text;
}

std::string Sentence(const std::string &text) {
    // A text that already ends as a sentence does in its language stays as it is.
    for (const char *stop : {".", "\xE3\x80\x82" /* 。 */, "\xEF\xBC\x8E" /* ． */})
        if (text.ends_with(stop))
            return text;
    // TRANSLATORS: %1 is a whole sentence (a reason for a failure) that lacks its full stop.
    return platform::Fill(platform::Tr("%1."), {text});
}

namespace {

// The program's path as the syntax message names it: the system's, else argument 0.
std::string ProgramPathOr(const std::vector<std::string> &arguments) {
    std::string path = platform::ProgramPath();
    if (path.empty() && !arguments.empty())
        path = arguments[0];
    return path;
}

} // namespace

TMainForm::TMainForm(gui::Application &app, std::vector<std::string> arguments)
    : app_(app), form_(app.CreateForm("MainForm", 410, 92)), arguments_(std::move(arguments)) {
    // This thread runs the workers' reports, and its socket waits keep the window alive.
    platform::SetMainThread();
    platform::SetThreadPumpHook([&app] { app.ProcessMessages(); });
    SetLaunchErrorOwner(&app_);
    BuildLayout();
    if (!ParseCommandLine()) {
        form_.Close();
        RunApplication = false;
        return;
    }
    RunApplication = true;
    ShowCaption(); // "Download Pelko", and the title "Pelko download"
    form_.Repaint();
    CloseRequested = false;
    Activated = false;
    Paused = false;
    options_ = std::make_unique<TOptionsForm>(app_, ProgramDirectory());
    // A bad download option ends the program before any request: a script that says where
    // the file must go, or what may happen with it, never finds it elsewhere or run.
    const OptionParametersResult options = ApplyCommandLineOptions(*options_, arguments_);
    if (!options.errorText.empty()) {
        ShowSyntaxError(options.errorText);
        form_.Close();
        RunApplication = false;
        return;
    }
    // Any other command line with errors still runs with what was read.
    if (!syntaxError_.empty())
        WriteToStandardError(syntaxError_);
}

TMainForm::~TMainForm() {
    // The download ends first: its workers may still hand reports to this window, and an
    // unfinished file is not left behind.
    session_.reset();
    SetLaunchErrorOwner(nullptr);
    platform::SetThreadPumpHook(nullptr);
}

bool TMainForm::ParseCommandLine() {
    if (const InformationRequest asked = AskedForInformation(arguments_);
        asked != InformationRequest::None) {
        ShowInformation(asked);
        return false;
    }
    CommandLineResult result = ReadCommandLine(arguments_, request_);
    // A URL that names no location (no "://", no host) would ask nobody, and one that names
    // no file that can be written in the output directory ("dir/", "dir/..", "a%2Fb") would
    // fetch something and store it under a name that is not the file's: the program ends
    // without a request, saying why.
    if (result.argumentsGiven && !result.urlError.empty()) {
        ShowSyntaxError(result.urlError);
        return false;
    }
    // A digest or a signer that cannot be read, or a signer that cannot be checked here,
    // would leave the file unchecked: nothing is fetched.
    if (!result.pinError.empty()) {
        ShowSyntaxError(result.pinError);
        return false;
    }
    if (!result.errorText.empty())
        syntaxError_ = SyntaxMessage(ProgramPathOr(arguments_), result.errorText);
    // Any other command line with errors still runs with what was read; without arguments
    // the built-in request runs.
    CompleteDerivedFields(request_);
    return true;
}

void TMainForm::ShowInformation(InformationRequest asked) {
    ExitCode = kExitAnswered;
    if (asked == InformationRequest::Version) {
        WriteToStandardOutput(VersionText());
        return;
    }
    const std::string usage = UsageMessage(ProgramPathOr(arguments_));
    WriteToStandardOutput(usage);
    // On the console the text above is all; a window shows it in a box as well.
    if (!app_.GetBackend().IsConsole())
        app_.MessageBox(usage, "Talvex download application", gui::MessageButtons::Ok);
}

void TMainForm::ShowSyntaxError(const std::string &errorText) {
    syntaxError_ = SyntaxMessage(ProgramPathOr(arguments_), errorText);
    WriteToStandardError(syntaxError_);
    app_.MessageBox(syntaxError_, "Talvex download application", gui::MessageButtons::Ok);
}

void TMainForm::btnOptionsClick() {
    options_->ProxyEditable = !WorkersStarted();
    options_->ShowModal();
}

void TMainForm::CloseUnlessUserCanAct() {
    if (!app_.GetBackend().UserCanAct())
        CloseKeeping();
}

void TMainForm::CloseKeeping() {
    KeepOnClose = true;
    form_.Close();
}

void TMainForm::btnCancelClick() {
    form_.Close();
}

void TMainForm::FormClose() {
    CloseRequested = true;
    if (!session_)
        return;
    if (KeepOnClose || platform::SystemAskedToEnd())
        session_->Keep();
    else
        session_->Stop();
}
