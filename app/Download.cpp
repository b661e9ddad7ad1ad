// The program entry: creates the application and its main window, runs the message loop
// while the main window is open, and ends.
#include "app/MainForm.h"
#include "gui/SelectBackend.h"
#include "platform/ProcessInfo.h"
#include "platform/SharedLibrary.h"
#include "platform/StopRequests.h"

#include <exception>
#include <cstdio>

int main(int argc, char **argv) {
    // Before anything else can load a library: none is taken from the program's folder.
    platform::RestrictLibrarySearch();
    platform::ShareOneHeap();
    try {
        gui::Application app(gui::SelectBackend());
        // Ctrl+C and the system's requests to end close the window, as its close box does.
        platform::CatchStopRequests([&app] { app.Terminate(); });
        TMainForm mainForm(app, platform::ProcessArguments(argc, argv));
        if (mainForm.RunApplication)
            app.Run();
        // On the console the last line gives the file's digest, for a vendor to pin.
        if (mainForm.ExitCode == kExitVerified && !mainForm.DigestLine.empty() &&
            app.GetBackend().IsConsole())
            std::printf("%s\n", mainForm.DigestLine.c_str());
        return mainForm.ExitCode;
    } catch (const std::exception &error) {
        std::fprintf(stderr, "download: %s\n", error.what());
        return kExitFailed;
    }
}
