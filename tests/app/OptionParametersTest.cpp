#include "app/OptionParameters.h"

#include "app/Common.h"
#include "app/MainForm.h"
#include "app/OptionsForm.h"
#include "gui/headless/HeadlessBackend.h"
#include "platform/ProcessInfo.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <memory>

namespace {

// A completed output directory ends in the system's separator.
const std::string kSep(1, platform::PathSeparator());

namespace fs = std::filesystem;

const std::string kAttemptsError =
    "Maximum number of attempts must be an integer greater than 0.\n\r";
const std::string kServerError = "Proxy server cannot be empty.\n\r";
const std::string kPortError = "Proxy port must be between 0 and 65535.\n\r";
const std::string kErrorActionError =
    "Invalid ErrorAction parameter. Must be Pause, Prompt, Close, 0, 1 or 2.\n\r";

std::string SwitchError(const std::string &name) {
    return "Invalid " + name + " parameter. Must be 0, 1, true or false.\n\r";
}

// The main window built on the headless backend from a URL and `parameters`.
struct Started {
    explicit Started(std::vector<std::string> parameters) {
        auto headless = std::make_unique<gui::HeadlessBackend>();
        backend = headless.get();
        app = std::make_unique<gui::Application>(std::move(headless));
        std::vector<std::string> arguments{"/opt/download", "http://files.local/pub/tool.exe"};
        arguments.insert(arguments.end(), parameters.begin(), parameters.end());
        ::testing::internal::CaptureStderr();
        main = std::make_unique<TMainForm>(*app, arguments);
        written = ::testing::internal::GetCapturedStderr();
    }
    const DownloadOptions &Options() const { return main->Options(); }
    // The error noted for the command line ("" when none): the text between the heading of
    // the syntax message and "Correct syntax:".
    std::string Error() const {
        const std::string heading = "There are errors in the parameters:\n\r";
        const std::string &message = main->SyntaxError();
        std::size_t start = message.find(heading);
        if (start == std::string::npos)
            return "";
        start += heading.size();
        return message.substr(start, message.find("\n\rCorrect syntax:", start) - start);
    }

    gui::HeadlessBackend *backend = nullptr;
    std::unique_ptr<gui::Application> app;
    std::unique_ptr<TMainForm> main;
    std::string written;
};

DownloadOptions Defaults() {
    DownloadOptions defaults;
    defaults.OutputDirectory = ProgramDirectory();
    return defaults;
}

class OptionParametersTest : public ::testing::Test {
  protected:
    OptionParametersTest() {
        static int counter = 0;
        fs::path dir = fs::temp_directory_path() /
                       // The process id keeps the tests that run side by side apart.
                       ("option-parameters-" + std::to_string(::getpid()) + "-" +
                        std::to_string(++counter));
        fs::create_directories(dir);
        directory_ = dir.string();
    }
    ~OptionParametersTest() override {
        std::error_code ignored;
        fs::remove_all(directory_, ignored);
    }

    // A bad value: the syntax message names `error`, goes to standard error and into the
    // program's box, the record keeps its defaults, and the program ends before its window
    // opens (so before any request).
    static void ExpectRejected(const std::string &parameter, const std::string &error) {
        SCOPED_TRACE(parameter);
        Started s({parameter});
        ExpectStopped(s, error);
        EXPECT_EQ(s.Options(), Defaults());
    }
    static void ExpectStopped(const Started &s, const std::string &error) {
        EXPECT_EQ(s.Error(), error);
        EXPECT_FALSE(s.main->RunApplication);
        EXPECT_EQ(s.main->ExitCode, kExitIncomplete);
        EXPECT_NE(s.written.find("There are errors in the parameters:\n" + error.substr(0, 20)),
                  std::string::npos)
            << s.written;
        ASSERT_EQ(s.backend->messages.size(), 1u);
        EXPECT_EQ(s.backend->messages[0].caption, "Talvex download application");
        EXPECT_EQ(s.backend->messages[0].text, s.main->SyntaxError());
    }

    std::string directory_; // without the trailing separator
};

TEST_F(OptionParametersTest, WithoutOptionParametersTheDefaultsStand) {
    Started s({"ProductName:Tool"});
    EXPECT_EQ(s.Options(), Defaults());
    EXPECT_EQ(s.main->SyntaxError(), "");
    EXPECT_EQ(s.written, "");
}

TEST_F(OptionParametersTest, EachSwitchSetsOnlyItsOwnOption) {
    struct Case {
        const char *name;
        bool DownloadOptions::*field;
    };
    const Case cases[] = {
        {"OverrideFile", &DownloadOptions::OverrideFile},
        {"CompletionClose", &DownloadOptions::CompletionClose},
        {"CompletionOpenFolder", &DownloadOptions::CompletionOpenFolder},
        {"CompletionLaunchApplication", &DownloadOptions::CompletionLaunchApplication},
        {"DeleteAfterDownloading", &DownloadOptions::DeleteAfterDownloading},
    };
    for (const Case &c : cases) {
        for (const auto &[value, on] : std::vector<std::pair<std::string, bool>>{
                 {"1", true}, {"true", true}, {"TRUE", true}, {"0", false}, {"false", false},
                 {"False", false}}) {
            std::string parameter = std::string(c.name) + ":" + value;
            SCOPED_TRACE(parameter);
            Started s({parameter});
            DownloadOptions expected = Defaults();
            expected.*c.field = on;
            EXPECT_EQ(s.Options(), expected);
            EXPECT_EQ(s.main->SyntaxError(), "");
        }
    }
}

TEST_F(OptionParametersTest, ASwitchTakesOnlyZeroOneTrueOrFalse) {
    ExpectRejected("OverrideFile:yes", SwitchError("OverrideFile"));
    ExpectRejected("CompletionClose:2", SwitchError("CompletionClose"));
    ExpectRejected("CompletionOpenFolder:", SwitchError("CompletionOpenFolder"));
    ExpectRejected("CompletionLaunchApplication: 1", SwitchError("CompletionLaunchApplication"));
    ExpectRejected("DeleteAfterDownloading:on", SwitchError("DeleteAfterDownloading"));
    ExpectRejected("completionclose", SwitchError("CompletionClose")); // no value at all
}

TEST_F(OptionParametersTest, DeletingAfterLaunchingIsKeptAsGivenWhateverTheLaunchSwitch) {
    // Like the dialog, which leaves the delete check box usable until the launch box is
    // clicked, the record takes both as given; the file is only deleted after it was run.
    Started s({"CompletionLaunchApplication:0", "DeleteAfterDownloading:1"});
    EXPECT_FALSE(s.Options().CompletionLaunchApplication);
    EXPECT_TRUE(s.Options().DeleteAfterDownloading);
    EXPECT_EQ(s.main->SyntaxError(), "");
}

TEST_F(OptionParametersTest, OutputDirectoryIsTrimmedCompletedAndMustExist) {
    Started plain({"OutputDirectory:" + directory_});
    EXPECT_EQ(plain.Options().OutputDirectory, directory_ + kSep);

    Started blanks({"OutputDirectory:  " + directory_ + kSep + "  "});
    EXPECT_EQ(blanks.Options().OutputDirectory, directory_ + kSep);
    EXPECT_EQ(blanks.main->SyntaxError(), "");

    ExpectRejected("OutputDirectory:" + directory_ + "/missing",
                   "The output directory \"" + directory_ + "/missing" + kSep +
                       "\" is invalid or does not exist\n\r");
    ExpectRejected("OutputDirectory:", "The output directory \"\" is invalid or does not exist\n\r");
}

TEST_F(OptionParametersTest, AttemptsTakeAnIntegerAboveZeroOrUnlimited) {
    EXPECT_EQ(Started({"MaximumNumberOfAttempts:Unlimited"}).Options().MaximumNumberOfAttempts, -1);
    EXPECT_EQ(Started({"MaximumNumberOfAttempts:1"}).Options().MaximumNumberOfAttempts, 1);
    EXPECT_EQ(Started({"MaximumNumberOfAttempts:250"}).Options().MaximumNumberOfAttempts, 250);

    ExpectRejected("MaximumNumberOfAttempts:0", kAttemptsError);
    ExpectRejected("MaximumNumberOfAttempts:-5", kAttemptsError);
    ExpectRejected("MaximumNumberOfAttempts:ten", kAttemptsError);
    ExpectRejected("MaximumNumberOfAttempts:12x", kAttemptsError);
    ExpectRejected("MaximumNumberOfAttempts:unlimited", kAttemptsError); // as the dialog
    ExpectRejected("MaximumNumberOfAttempts:", kAttemptsError);
}

TEST_F(OptionParametersTest, ErrorActionTakesTheItemNamesInAnyCaseOrTheirIndexes) {
    const std::pair<std::string, TErrorAction> accepted[] = {
        {"Pause", TErrorAction::Pause}, {"PROMPT", TErrorAction::Prompt},
        {"close", TErrorAction::Close}, {"0", TErrorAction::Pause},
        {"1", TErrorAction::Prompt},    {"2", TErrorAction::Close},
    };
    for (const auto &[value, action] : accepted) {
        SCOPED_TRACE(value);
        Started s({"ErrorAction:" + value});
        DownloadOptions expected = Defaults();
        expected.ErrorAction = action;
        EXPECT_EQ(s.Options(), expected);
    }

    ExpectRejected("ErrorAction:Stop", kErrorActionError);
    ExpectRejected("ErrorAction:3", kErrorActionError);
    ExpectRejected("ErrorAction:-1", kErrorActionError);
    ExpectRejected("ErrorAction:", kErrorActionError);
}

TEST_F(OptionParametersTest, AProxyServerWithAPortTurnsTheProxyOn) {
    Started s({"ProxyServer: proxy.local ", "ProxyPort:3128"});
    DownloadOptions expected = Defaults();
    expected.UseProxyServer = true;
    expected.ProxyServerName = "proxy.local";
    expected.ProxyPort = 3128;
    EXPECT_EQ(s.Options(), expected);
    EXPECT_EQ(s.main->SyntaxError(), "");

    // The order of the two does not matter, and the port's whole range is accepted.
    Started reversed({"ProxyPort:0", "ProxyServer:p"});
    EXPECT_TRUE(reversed.Options().UseProxyServer);
    EXPECT_EQ(reversed.Options().ProxyPort, 0);
    EXPECT_EQ(Started({"ProxyServer:p", "ProxyPort:65535"}).Options().ProxyPort, 65535);
}

TEST_F(OptionParametersTest, AProxyNeedsBothAServerAndAPortInRange) {
    // As in the dialog, a checked proxy box needs both texts; the proxy then stays off.
    ExpectRejected("ProxyServer:proxy.local", kPortError);
    ExpectRejected("ProxyPort:3128", kServerError);
    ExpectRejected("ProxyServer:   ", kServerError + kPortError);
    for (const char *port : {"70000", "65536", "-1", "abc", ""}) {
        SCOPED_TRACE(port);
        Started s({"ProxyServer:proxy.local", std::string("ProxyPort:") + port});
        EXPECT_EQ(s.Error(), kPortError);
        EXPECT_EQ(s.Options(), Defaults());
    }
}

// An IPv6 proxy is given with or without brackets, its port apart; a zone id, a port in the
// server's text or a malformed bracket is refused, naming it.
TEST_F(OptionParametersTest, AProxyServerMayBeAnIpv6Address) {
    for (const char *server : {"::1", "[::1]", "2001:db8::1"}) {
        SCOPED_TRACE(server);
        Started s({std::string("ProxyServer:") + server, "ProxyPort:3128"});
        EXPECT_EQ(s.Error(), "");
        EXPECT_EQ(s.Options().ProxyServerName, server);
    }
    const std::pair<const char *, const char *> refused[] = {
        {"fe80::1%eth0", "IPv6 zone ids such as fe80::1%eth0 are not supported."},
        {"proxy.local:3128",
         "The proxy server proxy.local:3128 is not a host name or an IP address (its port is "
         "given apart)."},
        {"[::1", "The IPv6 address [::1 lacks its closing \"]\"."},
    };
    for (const auto &[server, error] : refused) {
        SCOPED_TRACE(server);
        Started s({std::string("ProxyServer:") + server, "ProxyPort:3128"});
        ExpectStopped(s, std::string(error) + "\n\r");
        EXPECT_EQ(s.Options(), Defaults());
    }
}

// A parameter answers for the settings it gives: what the record already fails on elsewhere
// is no fault of it, and a fault of its own settings is, whether or not the record had it.
TEST_F(OptionParametersTest, AParameterAnswersForItsOwnSettingsOnly) {
    gui::Application app(std::make_unique<gui::HeadlessBackend>());
    TOptionsForm options(app, directory_ + kSep);
    const std::string gone = directory_ + kSep + "gone" + kSep;
    options.OutputDirectory = gone;
    const std::string goneError = "The output directory \"" + gone + "\" is invalid or does not exist\n\r";
    struct Row {
        std::vector<OptionParameter> parameters;
        std::string error;
    } rows[] = {
        {{{"MAXIMUMNUMBEROFATTEMPTS", "5", 2}}, ""},
        {{{"OUTPUTDIRECTORY", gone, 2}}, goneError},
        {{{"PROXYPORT", "8080", 2}}, kServerError},
        {{{"PROXYSERVER", "p", 2}, {"PROXYPORT", "x", 3}}, kPortError},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.parameters.front().key);
        EXPECT_EQ(ApplyOptionParameters(options, row.parameters).errorText, row.error);
    }
    EXPECT_EQ(options.MaximumNumberOfAttempts, 5);
    EXPECT_EQ(options.OutputDirectory, gone) << "kept as it was";
    EXPECT_FALSE(options.UseProxyServer);
}

TEST_F(OptionParametersTest, NamesAreCaseInsensitive) {
    Started s({"outputdirectory:" + directory_, "OVERRIDEFILE:0", "completionClose:0",
               "maximumNUMBERofattempts:7", "errorAction:Close", "proxyserver:p", "PROXYport:8"});
    DownloadOptions expected = Defaults();
    expected.OutputDirectory = directory_ + kSep;
    expected.OverrideFile = false;
    expected.CompletionClose = false;
    expected.MaximumNumberOfAttempts = 7;
    expected.ErrorAction = TErrorAction::Close;
    expected.UseProxyServer = true;
    expected.ProxyServerName = "p";
    expected.ProxyPort = 8;
    EXPECT_EQ(s.Options(), expected);
    EXPECT_EQ(s.main->SyntaxError(), "");
}

TEST_F(OptionParametersTest, SeveralGoodOptionsTogetherAndOneBadOneStopsThemAll) {
    const std::vector<std::string> good = {
        "ProductName:Tool",  "OutputDirectory:" + directory_, "CompletionOpenFolder:1",
        "CompletionLaunchApplication:false", "ErrorAction:Pause", "MaximumDetailToDisplay:3"};
    Started s(good);
    DownloadOptions expected = Defaults();
    expected.OutputDirectory = directory_ + kSep;
    expected.CompletionOpenFolder = true;
    expected.CompletionLaunchApplication = false;
    expected.ErrorAction = TErrorAction::Pause;
    EXPECT_EQ(s.Options(), expected);
    EXPECT_TRUE(s.main->RunApplication);
    EXPECT_EQ(s.main->Request().ProductName, "Tool");
    EXPECT_EQ(s.main->Request().MaximumDetailToDisplay, 3);
    EXPECT_EQ(s.main->Form().Caption(), "Download Tool");

    std::vector<std::string> withBad = good;
    withBad.insert(withBad.begin() + 3, "MaximumNumberOfAttempts:0");
    ExpectStopped(Started(withBad), kAttemptsError);
}

TEST_F(OptionParametersTest, BadValuesOfTheRequestsOwnParametersStillRun) {
    Started s({"OSPlatformId:12x", "OutputDirectory:" + directory_});
    EXPECT_TRUE(s.main->RunApplication);
    EXPECT_EQ(s.Error(), "Invalid operating system platform identifier. Must be an integer.\n\r");
    EXPECT_NE(s.written.find("Correct syntax:"), std::string::npos);
    EXPECT_TRUE(s.backend->messages.empty());
    EXPECT_EQ(s.Options().OutputDirectory, directory_ + kSep);
}

TEST_F(OptionParametersTest, ALaterOccurrenceReplacesAnEarlierOne) {
    Started good({"ErrorAction:Close", "ErrorAction:Pause"});
    EXPECT_EQ(good.Options().ErrorAction, TErrorAction::Pause);

    // The bad later value wins: the program stops.
    Started bad({"MaximumNumberOfAttempts:5", "MaximumNumberOfAttempts:x"});
    ExpectStopped(bad, kAttemptsError);

    Started mended({"MaximumNumberOfAttempts:x", "MaximumNumberOfAttempts:5"});
    EXPECT_EQ(mended.Options().MaximumNumberOfAttempts, 5);
    EXPECT_EQ(mended.main->SyntaxError(), "");
}

TEST_F(OptionParametersTest, TheLastBadOptionIsNamedWhateverOtherErrorsCameAfterIt) {
    // Among the options.
    Started options({"ErrorAction:x", "OverrideFile:x"});
    EXPECT_EQ(options.Error(), SwitchError("OverrideFile"));
    Started proxyLast({"ProxyPort:1", "ErrorAction:x", "ProxyServer:"});
    EXPECT_EQ(proxyLast.Error(), kServerError);

    // Another parameter's error before or after it: the option's stopped the program, and
    // it is the one message written.
    for (const auto &parameters : std::vector<std::vector<std::string>>{
             {"ErrorAction:x", "Colour:red"}, {"Colour:red", "ErrorAction:x"}}) {
        Started s(parameters);
        ExpectStopped(s, kErrorActionError);
        EXPECT_EQ(s.written.find("Incorrect"), s.written.rfind("Incorrect")) << s.written;
    }
}

TEST_F(OptionParametersTest, ShowingTheDialogLoadsTheOptionsGiven) {
    Started s({"ProxyServer:proxy.local", "ProxyPort:3128", "MaximumNumberOfAttempts:Unlimited"});
    bool shown = false;
    s.backend->modalScripts.push_back([&](gui::Form &f) {
        shown = true;
        EXPECT_TRUE(f.Get<gui::CheckBox>("cbProxyServer").Checked());
        EXPECT_TRUE(f.Get<gui::Edit>("tbProxyServerName").Enabled());
        EXPECT_EQ(f.Get<gui::Edit>("tbProxyServerName").Text(), "proxy.local");
        EXPECT_EQ(f.Get<gui::Edit>("tbProxyPort").Text(), "3128");
        EXPECT_EQ(f.Get<gui::ComboBox>("cbErrorHandlingMaximumNumberOfAttempts").Text(),
                  "Unlimited");
        f.Get<gui::Button>("btnCancel").Click();
    });
    s.main->btnOptionsClick();
    EXPECT_TRUE(shown);
}

TEST(OptionParameterReading, OptionsAreCollectedInOrderWithUpperCasedNames) {
    DownloadRequest request;
    CommandLineResult result = ReadCommandLine(
        {"/opt/download", "http://h/f.exe", "proxyServer:a:8", "ProductName:P", "ERRORACTION:"},
        request);
    EXPECT_EQ(result.errorText, "");
    ASSERT_EQ(result.optionParameters.size(), 2u);
    EXPECT_EQ(result.optionParameters[0].key, "PROXYSERVER");
    EXPECT_EQ(result.optionParameters[0].value, "a:8");
    EXPECT_EQ(result.optionParameters[0].argument, 2u);
    EXPECT_EQ(result.optionParameters[1].key, "ERRORACTION");
    EXPECT_EQ(result.optionParameters[1].value, "");
    EXPECT_EQ(result.optionParameters[1].argument, 4u);
    EXPECT_EQ(request.ProductName, "P");

    // A name that is only close to an option's is unknown.
    CommandLineResult near =
        ReadCommandLine({"/opt/download", "http://h/f.exe", "Proxy:p", "OutputDir:/tmp"}, request);
    EXPECT_EQ(near.errorText, "Unknown parameter name OutputDir.\n\r");
    EXPECT_EQ(near.errorArgument, 3u);
    EXPECT_TRUE(near.optionParameters.empty());
}

TEST(OptionParameterSyntax, TheSyntaxMessageShowsAndExplainsEveryOption) {
    std::string message = SyntaxMessage("/opt/download", "");
    std::size_t syntaxLine = message.find("Correct syntax:\n\rdownload http://");
    ASSERT_NE(syntaxLine, std::string::npos);
    std::size_t syntaxEnd = message.find("\n\r", syntaxLine + 17);
    ASSERT_NE(syntaxEnd, std::string::npos);
    std::string syntax = message.substr(syntaxLine, syntaxEnd - syntaxLine);
    EXPECT_NE(syntax.find("[MaximumDetailToDisplay:value] [Sha256:value] [Signer:value] "
                          "[OutputDirectory:value]"),
              std::string::npos)
        << "the options follow the request's parameters on the same line";
    EXPECT_NE(message.find("\n\rSha256: the SHA-256 digest", syntaxEnd), std::string::npos);
    EXPECT_NE(message.find("\n\rSigner: the subject name", syntaxEnd), std::string::npos);
    for (const char *name :
         {"OutputDirectory", "OverrideFile", "CompletionClose", "CompletionOpenFolder",
          "CompletionLaunchApplication", "DeleteAfterDownloading", "MaximumNumberOfAttempts",
          "ErrorAction", "ProxyServer", "ProxyPort"}) {
        SCOPED_TRACE(name);
        EXPECT_NE(syntax.find(std::string(" [") + name + ":value]"), std::string::npos);
        // One explanation line for each, after the syntax line.
        std::size_t line = message.find(std::string("\n\r") + name + ": ", syntaxEnd);
        ASSERT_NE(line, std::string::npos);
        std::size_t end = message.find("\n\r", line + 2);
        std::string explanation = message.substr(line + 2, end - line - 2);
        EXPECT_GT(explanation.size(), std::string(name).size() + 20) << explanation;
    }
    for (const char *text : {"Unlimited", "Pause, Prompt or Close", "0 to 65535",
                             "1 or true for on, 0 or false for off", "names in any case"})
        EXPECT_NE(message.find(text), std::string::npos) << text;
    for (std::size_t i = 0; i < message.size(); ++i) {
        if (message[i] == '\n') {
            ASSERT_EQ(message[i + 1], '\r') << "line ends are LF CR throughout, at " << i;
        }
    }
    EXPECT_NE(message.back(), '\r') << "the message ends without a line end, as before";
}

} // namespace
