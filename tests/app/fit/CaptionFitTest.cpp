// Every text of the main window, the options dialog and the proxy's credentials box fits its
// control, in every language the program has besides English, as the real window backend measures it (FLTK
// under X, the system's controls on Windows): nothing is cut.
#include "app/CredentialsForm.h"
#include "app/MainForm.h"
#include "app/OptionsForm.h"
#include "gui/SelectBackend.h"
#include "platform/Catalogue.h"

#include <gtest/gtest.h>

namespace {

// What does not fit: "language form.control needs N, has M", or what the window cuts.
std::vector<std::string> Misfits(gui::Form &form) {
    std::vector<std::string> misfits;
    gui::Backend &backend = form.App().GetBackend();
    for (const auto &control : form.Controls()) {
        const int need = backend.CaptionWidth(*control);
        const gui::Bounds &place = control->Place();
        if (place.left + place.width > form.ClientWidth())
            misfits.push_back(platform::TextLanguage() + " " + form.Name() + "." +
                              control->Name() + " ends outside the window");
        if (need > control->Place().width)
            misfits.push_back(platform::TextLanguage() + " " + form.Name() + "." +
                              control->Name() + " needs " + std::to_string(need) + ", has " +
                              std::to_string(control->Place().width) + ": \"" +
                              control->Caption() + "\"");
    }
    return misfits;
}

// Shows the form as the program would (without what its showing starts) and measures it.
std::vector<std::string> ShownMisfits(gui::Form &form) {
    form.OnShow = nullptr;
    form.OnClose = nullptr;
    form.Show();
    std::vector<std::string> misfits = Misfits(form);
    form.Close();
    return misfits;
}

TEST(CaptionFit, EveryTextFitsItsControlInEveryLanguage) {
    std::vector<std::string> misfits;
    // English, which the layouts are made for, is the window tests' (gui_window, windows_window).
    for (const std::string &language : platform::TextLanguages()) {
        if (language == "en")
            continue;
        ASSERT_EQ(platform::ChooseTextLanguage(language), language);
        gui::Application app(gui::SelectBackend());
        ASSERT_FALSE(app.GetBackend().IsConsole()) << "needs a display";
        // "--version" builds the main window and ends before any download.
        TMainForm main(app, {"download", "--version"});
        TOptionsForm options(app, "/tmp");
        TCredentialsForm credentials(app);
        for (gui::Form *form : {app.MainForm(), &options.Form(), &credentials.Form()})
            for (std::string &misfit : ShownMisfits(*form))
                misfits.push_back(std::move(misfit));
    }
    platform::ChooseTextLanguage("en");
    for (const std::string &misfit : misfits)
        ADD_FAILURE() << misfit;
}

} // namespace
