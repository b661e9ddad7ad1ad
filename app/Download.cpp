// The program entry: creates the application and its main window, runs the message loop
// while the main window is open, and ends.
#include "app/CommandLine.h"
#include "app/Common.h"
#include "app/MainForm.h"
#include "gui/SelectBackend.h"
#include "platform/Catalogue.h"
#include "platform/ProcessInfo.h"
#include "platform/SharedLibrary.h"
#include "platform/StopRequests.h"

#include <exception>
#include <string>

int main(int argc, char **argv) {
    // Before anything else can load a library: none is taken from the program's folder.
    platform::RestrictLibrarySearch();
    platform::ShareOneHeap();
    const std::vector<std::string> arguments = platform::ProcessArguments(argc, argv);
    // Every text is shown in this language from the first on.
    platform::ChooseTextLanguage(RequestedLanguage(arguments));
    try {
        gui::Application app(gui::SelectBackend());
        // Ctrl+C and the system's requests to end close the window, as its close box does.
        platform::CatchStopRequests([&app] { app.Terminate(); });
        TMainForm mainForm(app, arguments);
        if (mainForm.RunApplication)
            app.Run();
        // On the console the last line gives the file's digest, for a vendor to pin.
        if (mainForm.ExitCode == kExitVerified && !mainForm.DigestLine.empty() &&
            app.GetBackend().IsConsole())
            WriteToStandardOutput(mainForm.DigestLine);
        return mainForm.ExitCode;
    } catch (const std::exception &error) {
        WriteToStandardError(std::string("download: ") + error.what());
        return kExitFailed;
    }
}
