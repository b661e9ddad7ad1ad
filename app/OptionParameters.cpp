#include "app/OptionParameters.h"

#include "app/Common.h"
#include "app/IntegerText.h"
#include "platform/Catalogue.h"

#include <algorithm>
#include <cctype>
#include <functional>
#include <initializer_list>
#include <map>
#include <optional>

namespace {

using platform::Fill;
using platform::Tr;

std::string LowerCase(std::string text) {
    for (char &c : text)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

// Loads the record into the controls, lets `set` change them and validates. When the change
// brings no problem of its own, the dialog saves and `keep` copies the parameter's fields
// from what was saved; every other field stays as it was. The problems of the checks in `own`
// (those of the settings the parameter gives) are always its own. Returns the change's
// messages, each ending in LF CR.
std::string ValidateAndSave(
    TOptionsForm &options, std::initializer_list<OptionCheck> own,
    const std::function<void(gui::Form &)> &set,
    const std::function<void(DownloadOptions &record, const DownloadOptions &saved)> &keep) {
    options.LoadControls();
    // What the record already fails on (say, a program directory that has gone) is not
    // another parameter's fault.
    const std::vector<OptionProblem> before = options.Problems();
    set(options.Form());
    std::string noted;
    for (const OptionProblem &problem : options.Problems()) {
        const auto sameCheck = [&](const auto &p) { return p.check == problem.check; };
        if (std::any_of(own.begin(), own.end(), [&](OptionCheck c) { return c == problem.check; }) ||
            std::none_of(before.begin(), before.end(), sameCheck))
            noted += problem.message + "\n\r";
    }
    if (!noted.empty())
        return noted;

    DownloadOptions record = options;
    options.SaveControls();
    keep(record, options);
    static_cast<DownloadOptions &>(options) = record;
    return "";
}

std::optional<bool> ReadSwitch(const std::string &value) {
    std::string lower = LowerCase(value);
    if (lower == "1" || lower == "true")
        return true;
    if (lower == "0" || lower == "false")
        return false;
    return std::nullopt;
}

std::optional<int> ReadErrorAction(const std::string &value) {
    static const char *const kItems[] = {"pause", "prompt", "close"};
    std::string lower = LowerCase(value);
    for (int i = 0; i < 3; ++i)
        if (lower == kItems[i])
            return i;
    IntegerRead read = ReadInteger(value, IntegerSyntax::Strict);
    if (read.valid && read.value >= 0 && read.value <= 2)
        return read.value;
    return std::nullopt;
}

struct Switch {
    const char *key;
    const char *name;
    const char *control;
    bool DownloadOptions::*field;
};

constexpr Switch kSwitches[] = {
    {"OVERRIDEFILE", "OverrideFile", "cbOverrideFile", &DownloadOptions::OverrideFile},
    {"COMPLETIONCLOSE", "CompletionClose", "cbCompletionClose",
     &DownloadOptions::CompletionClose},
    {"COMPLETIONOPENFOLDER", "CompletionOpenFolder", "cbCompletionOpenFolder",
     &DownloadOptions::CompletionOpenFolder},
    {"COMPLETIONLAUNCHAPPLICATION", "CompletionLaunchApplication",
     "cbCompletionLaunchApplication", &DownloadOptions::CompletionLaunchApplication},
    {"DELETEAFTERDOWNLOADING", "DeleteAfterDownloading", "cbDeleteAfterDownloading",
     &DownloadOptions::DeleteAfterDownloading},
};

// The error of a switch parameter (`name` as the user writes it) whose value is not one.
std::string InvalidSwitchText(const char *name) {
    // TRANSLATORS: %1 is a parameter's name (OverrideFile, SystemProxy, ...); the name and the
    // values 0, 1, true and false are typed on the command line as they are written here.
    return Fill(Tr("Invalid %1 parameter. Must be 0, 1, true or false."), {name}) + "\n\r";
}

std::string ApplySwitch(TOptionsForm &options, const Switch &s, const std::string &value) {
    std::optional<bool> on = ReadSwitch(value);
    if (!on)
        return InvalidSwitchText(s.name);
    return ValidateAndSave(
        options, {}, [&](gui::Form &f) { f.Get<gui::CheckBox>(s.control).SetChecked(*on); },
        [&](DownloadOptions &record, const DownloadOptions &saved) {
            record.*s.field = saved.*s.field;
        });
}

std::string ApplyOne(TOptionsForm &options, const OptionParameter &p) {
    for (const Switch &s : kSwitches)
        if (p.key == s.key)
            return ApplySwitch(options, s, p.value);
    if (p.key == "SYSTEMPROXY") {
        std::optional<bool> on = ReadSwitch(p.value);
        if (!on)
            return InvalidSwitchText("SystemProxy");
        options.UseSystemProxy = *on;
        return "";
    }

    if (p.key == "OUTPUTDIRECTORY")
        return ValidateAndSave(
            options, {OptionCheck::OutputDirectory},
            [&](gui::Form &f) { f.Get<gui::Edit>("tbOutputDirectory").SetText(p.value); },
            [](DownloadOptions &record, const DownloadOptions &saved) {
                record.OutputDirectory = saved.OutputDirectory;
            });
    if (p.key == "MAXIMUMNUMBEROFATTEMPTS")
        return ValidateAndSave(
            options, {OptionCheck::Attempts},
            [&](gui::Form &f) {
                // The parameter's "Unlimited" is the list's word for it in every language.
                f.Get<gui::ComboBox>("cbErrorHandlingMaximumNumberOfAttempts")
                    .SetText(p.value == "Unlimited" ? Tr("Unlimited") : p.value);
            },
            [](DownloadOptions &record, const DownloadOptions &saved) {
                record.MaximumNumberOfAttempts = saved.MaximumNumberOfAttempts;
            });
    if (p.key == "ERRORACTION") {
        std::optional<int> index = ReadErrorAction(p.value);
        if (!index) {
            const std::string error =
                // TRANSLATORS: ErrorAction, Pause, Prompt and Close are typed on the command
                // line as they are written here.
                Tr("Invalid ErrorAction parameter. Must be Pause, Prompt, Close, 0, 1 or 2.");
            return error + "\n\r";
        }
        return ValidateAndSave(
            options, {},
            [&](gui::Form &f) {
                f.Get<gui::ComboBox>("cbErrorHandlingErrorAction").SetItemIndex(*index);
            },
            [](DownloadOptions &record, const DownloadOptions &saved) {
                record.ErrorAction = saved.ErrorAction;
            });
    }
    return "";
}

// ProxyServer and ProxyPort as the dialog takes them: the check box on, with the server
// and the port texts; one that is not given keeps the text the record shows.
std::string ApplyProxy(TOptionsForm &options, const OptionParameter *server,
                       const OptionParameter *port) {
    return ValidateAndSave(
        options, {OptionCheck::ProxyServer, OptionCheck::ProxyPort},
        [&](gui::Form &f) {
            f.Get<gui::CheckBox>("cbProxyServer").SetChecked(true);
            if (server)
                f.Get<gui::Edit>("tbProxyServerName").SetText(server->value);
            if (port)
                f.Get<gui::Edit>("tbProxyPort").SetText(port->value);
        },
        [](DownloadOptions &record, const DownloadOptions &saved) {
            record.UseProxyServer = saved.UseProxyServer;
            record.ProxyServerName = saved.ProxyServerName;
            record.ProxyPort = saved.ProxyPort;
        });
}

} // namespace

OptionParametersResult ApplyOptionParameters(TOptionsForm &options,
                                             const std::vector<OptionParameter> &parameters) {
    // A later occurrence replaces an earlier one.
    std::map<std::string, const OptionParameter *> last;
    for (const OptionParameter &p : parameters)
        last[p.key] = &p;

    OptionParametersResult result;
    auto note = [&result](std::string error, std::size_t argument) {
        if (!error.empty() && argument >= result.errorArgument) {
            result.errorText = std::move(error);
            result.errorArgument = argument;
        }
    };

    const OptionParameter *server = nullptr;
    const OptionParameter *port = nullptr;
    for (const auto &[key, p] : last) {
        if (key == "PROXYSERVER")
            server = p;
        else if (key == "PROXYPORT")
            port = p;
        else
            note(ApplyOne(options, *p), p->argument);
    }
    if (server || port)
        note(ApplyProxy(options, server, port),
             std::max(server ? server->argument : 0, port ? port->argument : 0));
    return result;
}

OptionParametersResult ApplyCommandLineOptions(TOptionsForm &options,
                                               const std::vector<std::string> &arguments) {
    DownloadRequest request;
    return ApplyOptionParameters(options, ReadCommandLine(arguments, request).optionParameters);
}
