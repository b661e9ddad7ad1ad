#include "app/OptionsForm.h"

#include "gui/headless/HeadlessBackend.h"
#include "platform/ProcessInfo.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <map>

#include <unistd.h>

namespace {

// A completed output directory ends in the system's separator.
const std::string kSep(1, platform::PathSeparator());

namespace fs = std::filesystem;
using gui::Form;

std::unique_ptr<gui::Backend> MakeHeadless(gui::HeadlessBackend *&out) {
    auto backend = std::make_unique<gui::HeadlessBackend>();
    out = backend.get();
    return backend;
}

class OptionsFormTest : public ::testing::Test {
  protected:
    OptionsFormTest()
        : directory_(MakeDirectory()), app_(MakeHeadless(backend_)), options_(app_, directory_) {}
    ~OptionsFormTest() override {
        std::error_code ignored;
        fs::remove_all(directory_, ignored);
    }

    static std::string MakeDirectory() {
        static int counter = 0;
        fs::path dir =
            fs::temp_directory_path() /
            // The process id keeps the tests that run side by side apart.
            ("options-test-" + std::to_string(::getpid()) + "-" + std::to_string(++counter));
        fs::create_directories(dir);
        return dir.string() + kSep;
    }

    // Shows the dialog modally and runs `script` while it is open.
    void Show(std::function<void(Form &)> script) {
        backend_->modalScripts.push_back(std::move(script));
        options_.ShowModal();
    }
    // Shows the dialog, types into it, presses OK; returns the validation box text ("" for
    // none) and whether the dialog closed.
    std::string ShowAndConfirm(std::function<void(Form &)> typing, bool *closed = nullptr) {
        std::size_t before = backend_->messages.size();
        bool stillOpen = false;
        Show([&](Form &f) {
            typing(f);
            f.Get<gui::Button>("btnOK").Click();
            stillOpen = f.Visible();
            f.Get<gui::Button>("btnCancel").Click();
        });
        if (closed)
            *closed = !stillOpen;
        if (backend_->messages.size() == before)
            return "";
        EXPECT_EQ(backend_->messages.size(), before + 1) << "one box for all the errors";
        const auto &box = backend_->messages.back();
        EXPECT_EQ(box.caption, "Validation errors");
        EXPECT_EQ(box.buttons, gui::MessageButtons::Ok);
        return box.text;
    }

    static gui::Edit &EditOf(Form &f, const char *name) { return f.Get<gui::Edit>(name); }
    static gui::CheckBox &CheckOf(Form &f, const char *name) { return f.Get<gui::CheckBox>(name); }
    static gui::ComboBox &ComboOf(Form &f, const char *name) { return f.Get<gui::ComboBox>(name); }

    std::string directory_;
    gui::HeadlessBackend *backend_ = nullptr;
    gui::Application app_;
    TOptionsForm options_;
};

constexpr const char *kAttempts = "cbErrorHandlingMaximumNumberOfAttempts";
const std::string kAttemptsError = "Maximum number of attempts must be an integer greater than 0.";
const std::string kPortError = "Proxy port must be between 0 and 65535.";

TEST_F(OptionsFormTest, StartsWithTheDefaultsAndTheInitialControlTexts) {
    DownloadOptions expected;
    expected.OutputDirectory = directory_;
    EXPECT_EQ(static_cast<DownloadOptions &>(options_), expected);

    Form &f = options_.Form();
    EXPECT_EQ(f.Caption(), "Download options");
    EXPECT_EQ(f.ClientWidth(), 357);
    EXPECT_EQ(f.ClientHeight(), 340);
    EXPECT_FALSE(options_.Showing());
    EXPECT_EQ(ComboOf(f, kAttempts).Text(), "100");
    EXPECT_EQ(ComboOf(f, kAttempts).Items(),
              (std::vector<std::string>{"0", "10", "100", "Unlimited"}));
    EXPECT_EQ(ComboOf(f, "cbErrorHandlingErrorAction").Items(),
              (std::vector<std::string>{"Pause", "Prompt", "Close"}));
    EXPECT_EQ(ComboOf(f, "cbErrorHandlingErrorAction").Style(), gui::ComboStyle::DropDownList);
    EXPECT_EQ(EditOf(f, "tbProxyPort").Text(), "8080");
    EXPECT_FALSE(EditOf(f, "tbProxyServerName").Enabled());
    EXPECT_FALSE(EditOf(f, "tbProxyPort").Enabled());
    EXPECT_EQ(CheckOf(f, "cbProxyServer").Caption(), "&Use a proxy server");
    EXPECT_EQ(f.Get<gui::GroupBox>("gbProxyServer").TitleCheckBox(), &CheckOf(f, "cbProxyServer"));
    EXPECT_EQ(f.Get<gui::GroupBox>("gbCompletionLaunchApplication").TitleCheckBox(),
              &CheckOf(f, "cbCompletionLaunchApplication"));
}

TEST_F(OptionsFormTest, EveryAccessKeyLeadsToOneControl) {
    // Two captions with one key would make Alt+key move between them instead of acting.
    std::map<char, std::string> seen;
    for (const auto &control : options_.Form().Controls()) {
        const char key = gui::AcceleratorOf(control->Caption());
        if (!key)
            continue;
        EXPECT_TRUE(seen.emplace(key, control->Caption()).second)
            << control->Caption() << " and " << seen[key];
    }
    EXPECT_GE(seen.size(), 13u);
}

TEST_F(OptionsFormTest, ShowingLoadsTheRecordIntoTheControls) {
    options_.OverrideFile = false;
    options_.CompletionOpenFolder = true;
    options_.MaximumNumberOfAttempts = -1;
    options_.ErrorAction = TErrorAction::Close;
    options_.UseProxyServer = true;
    options_.ProxyServerName = "proxy.local";
    options_.ProxyPort = 3128;
    Show([&](Form &f) {
        EXPECT_TRUE(f.Visible());
        EXPECT_TRUE(f.Modal());
        EXPECT_FALSE(CheckOf(f, "cbOverrideFile").Checked());
        EXPECT_TRUE(CheckOf(f, "cbCompletionClose").Checked());
        EXPECT_TRUE(CheckOf(f, "cbCompletionOpenFolder").Checked());
        EXPECT_TRUE(CheckOf(f, "cbCompletionLaunchApplication").Checked());
        EXPECT_FALSE(CheckOf(f, "cbDeleteAfterDownloading").Checked());
        EXPECT_EQ(EditOf(f, "tbOutputDirectory").Text(), directory_);
        EXPECT_EQ(ComboOf(f, kAttempts).Text(), "Unlimited");
        EXPECT_EQ(ComboOf(f, "cbErrorHandlingErrorAction").Text(), "Close");
        // Checking the proxy box ran its handler, which enabled the edits.
        EXPECT_TRUE(CheckOf(f, "cbProxyServer").Checked());
        EXPECT_TRUE(EditOf(f, "tbProxyServerName").Enabled());
        EXPECT_EQ(EditOf(f, "tbProxyServerName").Text(), "proxy.local");
        EXPECT_EQ(EditOf(f, "tbProxyPort").Text(), "3128");
    });
    EXPECT_FALSE(options_.Showing());

    options_.ProxyPort = 0;
    options_.MaximumNumberOfAttempts = 250;
    Show([&](Form &f) {
        EXPECT_EQ(EditOf(f, "tbProxyPort").Text(), "");
        EXPECT_EQ(ComboOf(f, kAttempts).Text(), "250");
    });
}

TEST_F(OptionsFormTest, OkSavesEveryControlAndClosesTheDialog) {
    bool closed = false;
    std::string errors = ShowAndConfirm(
        [&](Form &f) {
            CheckOf(f, "cbOverrideFile").Click();
            CheckOf(f, "cbCompletionClose").Click();
            CheckOf(f, "cbCompletionOpenFolder").Click();
            CheckOf(f, "cbDeleteAfterDownloading").Click();
            CheckOf(f, "cbCompletionLaunchApplication").Click();
            ComboOf(f, kAttempts).SetText("Unlimited");
            ComboOf(f, "cbErrorHandlingErrorAction").SetItemIndex(0);
            CheckOf(f, "cbProxyServer").Click();
            EditOf(f, "tbProxyServerName").SetText("  proxy.local ");
            EditOf(f, "tbProxyPort").SetText("0x50");
        },
        &closed);
    EXPECT_EQ(errors, "");
    EXPECT_TRUE(closed);
    EXPECT_FALSE(options_.OverrideFile);
    EXPECT_FALSE(options_.CompletionClose);
    EXPECT_TRUE(options_.CompletionOpenFolder);
    EXPECT_FALSE(options_.CompletionLaunchApplication);
    EXPECT_TRUE(options_.DeleteAfterDownloading);
    EXPECT_EQ(options_.OutputDirectory, directory_);
    EXPECT_EQ(options_.MaximumNumberOfAttempts, -1);
    EXPECT_EQ(options_.ErrorAction, TErrorAction::Pause);
    EXPECT_TRUE(options_.UseProxyServer);
    EXPECT_EQ(options_.ProxyServerName, "proxy.local");
    EXPECT_EQ(options_.ProxyPort, 80);
}

TEST_F(OptionsFormTest, OutputDirectoryIsTrimmedAndCompleted) {
    std::string bare = directory_.substr(0, directory_.size() - 1);
    bool closed = false;
    EXPECT_EQ(
        ShowAndConfirm([&](Form &f) { EditOf(f, "tbOutputDirectory").SetText("  " + bare + "  "); },
                       &closed),
        "");
    EXPECT_TRUE(closed);
    EXPECT_EQ(options_.OutputDirectory, directory_);
}

TEST_F(OptionsFormTest, InvalidOutputDirectoriesAreNamedInTheMessage) {
    EXPECT_EQ(ShowAndConfirm([](Form &f) { EditOf(f, "tbOutputDirectory").SetText("   "); }),
              "The output directory \"\" is invalid or does not exist");
    std::string missing = directory_ + "missing";
    bool closed = true;
    std::string shown;
    Show([&](Form &f) {
        EditOf(f, "tbOutputDirectory").SetText(missing + " ");
        f.Get<gui::Button>("btnOK").Click();
        closed = !f.Visible();
        shown = EditOf(f, "tbOutputDirectory").Text(); // the completed text stays visible
        f.PressEscape();
    });
    EXPECT_FALSE(closed);
    EXPECT_EQ(shown, missing + kSep);
    EXPECT_EQ(backend_->messages.back().text,
              "The output directory \"" + missing + kSep + "\" is invalid or does not exist");
    // A file is not a directory.
    std::string file = directory_ + "file.txt";
    { std::ofstream(file) << "x"; }
    EXPECT_EQ(ShowAndConfirm([&](Form &f) { EditOf(f, "tbOutputDirectory").SetText(file); }),
              "The output directory \"" + file + kSep + "\" is invalid or does not exist");
    EXPECT_EQ(options_.OutputDirectory, directory_);
}

TEST_F(OptionsFormTest, AttemptsAcceptUnlimitedAndPositiveIntegersOnly) {
    for (const char *good : {"Unlimited", "1", "250"}) {
        EXPECT_EQ(ShowAndConfirm([&](Form &f) { ComboOf(f, kAttempts).SetText(good); }), "")
            << good;
    }
    EXPECT_EQ(options_.MaximumNumberOfAttempts, 250);
    for (const char *bad : {"0", "-5", "unlimited", "ten", "", "x10", "12 "}) {
        EXPECT_EQ(ShowAndConfirm([&](Form &f) { ComboOf(f, kAttempts).SetText(bad); }),
                  kAttemptsError)
            << '"' << bad << '"';
    }
    EXPECT_EQ(options_.MaximumNumberOfAttempts, 250);
}

TEST_F(OptionsFormTest, ACheckedProxyNeedsAServerAndAPortInRange) {
    auto withProxy = [&](const std::string &server, const std::string &port) {
        return ShowAndConfirm([&](Form &f) {
            CheckOf(f, "cbProxyServer").SetChecked(true);
            EditOf(f, "tbProxyServerName").SetText(server);
            EditOf(f, "tbProxyPort").SetText(port);
        });
    };
    EXPECT_EQ(withProxy("   ", "8080"), "Proxy server cannot be empty.");
    for (const char *bad : {"", "abc", "-1", "70000", "65536"})
        EXPECT_EQ(withProxy("proxy", bad), kPortError) << '"' << bad << '"';
    EXPECT_EQ(withProxy("", "x"), "Proxy server cannot be empty.\r\n" + kPortError);
    EXPECT_EQ(withProxy("proxy", "65535"), "");
    EXPECT_EQ(options_.ProxyPort, 65535);
    EXPECT_EQ(withProxy("proxy", "0"), "");
    EXPECT_EQ(options_.ProxyPort, 0);
}

TEST_F(OptionsFormTest, APortSavedAsZeroShowsEmptyAndFailsUntilOneIsTyped) {
    options_.UseProxyServer = true;
    options_.ProxyServerName = "proxy";
    options_.ProxyPort = 0;
    EXPECT_EQ(ShowAndConfirm([](Form &) {}), kPortError);
    EXPECT_EQ(ShowAndConfirm([](Form &f) { EditOf(f, "tbProxyPort").SetText("3128"); }), "");
    EXPECT_EQ(options_.ProxyPort, 3128);
}

TEST_F(OptionsFormTest, AnUncheckedProxyIsNotValidatedButSaved) {
    EXPECT_EQ(ShowAndConfirm([](Form &f) {
                  EditOf(f, "tbProxyServerName").SetText("  spaced  ");
                  EditOf(f, "tbProxyPort").SetText("12x");
              }),
              "");
    EXPECT_FALSE(options_.UseProxyServer);
    EXPECT_EQ(options_.ProxyServerName, "spaced");
    EXPECT_EQ(options_.ProxyPort, 12);
    EXPECT_EQ(ShowAndConfirm([](Form &f) { EditOf(f, "tbProxyPort").SetText("abc"); }), "");
    EXPECT_EQ(options_.ProxyPort, 0);
}

TEST_F(OptionsFormTest, ThreeFailuresShowOneBoxWithThreeLinesInOrder) {
    DownloadOptions before = options_;
    bool closed = true;
    std::string errors = ShowAndConfirm(
        [](Form &f) {
            EditOf(f, "tbOutputDirectory").SetText("");
            ComboOf(f, kAttempts).SetText("0");
            CheckOf(f, "cbProxyServer").SetChecked(true);
            EditOf(f, "tbProxyServerName").SetText("proxy");
            EditOf(f, "tbProxyPort").SetText("99999");
        },
        &closed);
    EXPECT_FALSE(closed);
    EXPECT_EQ(errors, "The output directory \"\" is invalid or does not exist\r\n" +
                          kAttemptsError + "\r\n" + kPortError);
    EXPECT_EQ(static_cast<DownloadOptions &>(options_), before) << "nothing is saved";
}

TEST_F(OptionsFormTest, CancelEscapeAndTheCloseBoxLeaveTheRecordUnchanged) {
    DownloadOptions before = options_;
    std::vector<std::function<void(Form &)>> ways = {
        [](Form &f) { f.Get<gui::Button>("btnCancel").Click(); },
        [](Form &f) { f.PressEscape(); },
        [](Form &f) { f.PressCloseBox(); },
    };
    for (auto &close : ways) {
        bool closed = false;
        Show([&](Form &f) {
            CheckOf(f, "cbOverrideFile").Click();
            EditOf(f, "tbOutputDirectory").SetText("/elsewhere");
            ComboOf(f, kAttempts).SetText("10");
            CheckOf(f, "cbProxyServer").Click();
            EditOf(f, "tbProxyServerName").SetText("proxy");
            close(f);
            closed = !f.Visible();
        });
        EXPECT_TRUE(closed);
        EXPECT_EQ(backend_->modalsLeftOpen, 0);
        EXPECT_EQ(static_cast<DownloadOptions &>(options_), before);
        // The typed texts stay in the controls until the next showing reloads them.
        EXPECT_EQ(EditOf(options_.Form(), "tbOutputDirectory").Text(), "/elsewhere");
        Show([&](Form &f) {
            EXPECT_EQ(EditOf(f, "tbOutputDirectory").Text(), directory_);
            EXPECT_TRUE(CheckOf(f, "cbOverrideFile").Checked());
            EXPECT_FALSE(CheckOf(f, "cbProxyServer").Checked());
            EXPECT_FALSE(EditOf(f, "tbProxyServerName").Enabled());
            f.PressEscape();
        });
    }
    EXPECT_TRUE(backend_->messages.empty());
}

TEST_F(OptionsFormTest, EnterPressesOk) {
    bool closed = false;
    Show([&](Form &f) {
        f.PressEnter();
        closed = !f.Visible();
    });
    EXPECT_TRUE(closed);
}

TEST_F(OptionsFormTest, TheProxyCheckBoxFollowsProxyEditableAndTheEditsFollowIt) {
    options_.ProxyEditable = false;
    Show([&](Form &f) {
        EXPECT_FALSE(CheckOf(f, "cbProxyServer").Enabled());
        EXPECT_FALSE(EditOf(f, "tbProxyServerName").Enabled());
        f.PressEscape();
    });
    options_.ProxyEditable = true;
    Show([&](Form &f) {
        gui::CheckBox &proxy = CheckOf(f, "cbProxyServer");
        EXPECT_TRUE(proxy.Enabled());
        proxy.Click();
        EXPECT_TRUE(EditOf(f, "tbProxyServerName").Enabled());
        EXPECT_TRUE(EditOf(f, "tbProxyPort").Enabled());
        // The initial "8080" was replaced by the empty default port when the dialog showed.
        EXPECT_EQ(EditOf(f, "tbProxyPort").Text(), "");
        EditOf(f, "tbProxyServerName").SetText("proxy");
        EditOf(f, "tbProxyPort").SetText("3128");
        f.Get<gui::Button>("btnOK").Click();
    });
    EXPECT_TRUE(options_.UseProxyServer);
    EXPECT_EQ(options_.ProxyPort, 3128);
    // Once the workers run, the check box is disabled but the edits keep their state.
    options_.ProxyEditable = false;
    Show([&](Form &f) {
        EXPECT_FALSE(CheckOf(f, "cbProxyServer").Enabled());
        EXPECT_TRUE(EditOf(f, "tbProxyServerName").Enabled());
        f.PressEscape();
    });
}

TEST_F(OptionsFormTest, DeleteAfterDownloadingFollowsTheLaunchCheckBoxOnlyWhenClicked) {
    options_.CompletionLaunchApplication = false;
    Show([&](Form &f) {
        gui::CheckBox &remove = CheckOf(f, "cbDeleteAfterDownloading");
        EXPECT_TRUE(remove.Enabled()) << "enabled until the launch box is clicked";
        CheckOf(f, "cbCompletionLaunchApplication").Click();
        EXPECT_TRUE(remove.Enabled());
        CheckOf(f, "cbCompletionLaunchApplication").Click();
        EXPECT_FALSE(remove.Enabled());
        f.PressEscape();
    });
}

TEST_F(OptionsFormTest, ALockedDialogDisablesEverythingButTheProxyEdits) {
    options_.UseProxyServer = true;
    options_.ProxyServerName = "proxy";
    options_.ProxyPort = 3128;
    options_.Locked = true;
    Show([&](Form &f) {
        for (const char *name :
             {"cbOverrideFile", "cbCompletionClose", "cbCompletionOpenFolder",
              "cbCompletionLaunchApplication", "cbDeleteAfterDownloading", "cbProxyServer"})
            EXPECT_FALSE(CheckOf(f, name).Enabled()) << name;
        EXPECT_FALSE(ComboOf(f, kAttempts).Enabled());
        EXPECT_FALSE(ComboOf(f, "cbErrorHandlingErrorAction").Enabled());
        EXPECT_TRUE(EditOf(f, "tbOutputDirectory").ReadOnly());
        EXPECT_TRUE(EditOf(f, "tbProxyServerName").Enabled());
        EXPECT_TRUE(EditOf(f, "tbProxyPort").Enabled());
        // A disabled check box ignores clicks.
        CheckOf(f, "cbOverrideFile").Click();
        EXPECT_TRUE(CheckOf(f, "cbOverrideFile").Checked());
        f.Get<gui::Button>("btnOK").Click();
    });
    EXPECT_TRUE(options_.OverrideFile);
    options_.Locked = false;
    Show([&](Form &f) {
        EXPECT_FALSE(EditOf(f, "tbOutputDirectory").ReadOnly());
        EXPECT_TRUE(CheckOf(f, "cbOverrideFile").Enabled());
        f.PressEscape();
    });
}

TEST_F(OptionsFormTest, SetDefaultsKeepsTheTwoFlags) {
    options_.Locked = true;
    options_.ProxyEditable = false;
    options_.MaximumNumberOfAttempts = 7;
    options_.SetDefaults();
    EXPECT_TRUE(options_.Locked);
    EXPECT_FALSE(options_.ProxyEditable);
    EXPECT_EQ(options_.MaximumNumberOfAttempts, 100);
}

} // namespace
