#pragma once

#include "app/DownloadRequest.h"

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

// The 1-based position of the last occurrence of `sub` in `text`; 0 when there is none.
int LastPos(std::string_view sub, std::string_view text);

// A download option given as a Name:value parameter. The options dialog does not exist
// while the command line is read, so the option is kept here and applied later (see
// ApplyOptionParameters).
struct OptionParameter {
    // The upper-cased name: one of the option keywords ("OUTPUTDIRECTORY", "PROXYPORT", ...).
    std::string key;
    std::string value;
    // The argument's index (2 for the first parameter after the URL).
    std::size_t argument = 0;
};

// What reading the command line found.
struct CommandLineResult {
    // The text of the last error noted (each ends in LF CR); empty when there was none.
    std::string errorText;
    // The index of the argument whose error text survived (1 for the URL); 0 for none.
    std::size_t errorArgument = 0;
    // At least one argument followed the program path.
    bool argumentsGiven = false;
    // The download options given, in the order of the arguments; not yet validated.
    std::vector<OptionParameter> optionParameters;
    // The error of a Sha256 parameter that is no digest, or of a Signer parameter that is
    // malformed or cannot be checked here (ends in LF CR); empty when none. A pin must never be
    // dropped silently: such a command line does not run.
    std::string pinError;
    // The error of the URL itself (no "://", no host, no file name that can be saved, a
    // control character, more than a request line can carry); empty for a good URL or none.
    // Nothing can be asked for without it: such a command line does not run.
    std::string urlError;
};

// What a command line asks instead of a download: its syntax ("--help", "-h", "/?") or the
// program's version ("--version"), as its only argument.
enum class InformationRequest { None, Help, Version };
InformationRequest AskedForInformation(const std::vector<std::string> &arguments);

// The language the texts are to be in: the value of the command line's Language parameter (the
// last one given), else the system's (platform::SystemLanguage).
std::string RequestedLanguage(const std::vector<std::string> &arguments);

// The program's name and version, as --version prints them.
std::string VersionText();

// The digest of a Sha256 parameter: exactly 64 hexadecimal digits in either case, returned in
// lower case; "" for anything else.
std::string ReadDigest(const std::string &value);

// The names of a Signer parameter: one or more subject names separated by "|", each without
// the spaces around it; empty for a malformed value (an empty name, a control character, more
// than 1000 characters in all).
std::vector<std::string> ReadSigners(std::string_view value);

// The error noted for a URL's file name (query and fragment included) that gives no plain
// local file name (IsPlainFileName); "" for a good one.
std::string FileNameError(const std::string &fileName);

// Whether `key` (an upper-cased parameter name) names a download option.
bool IsOptionKeyword(std::string_view key);

// Fills `request` from the built-in values and `arguments` (element 0 is the program's
// path, element 1 the URL, the rest Name:value parameters). Reading never stops at an
// error; the derived fields are not filled here (see CompleteDerivedFields).
CommandLineResult ReadCommandLine(const std::vector<std::string> &arguments,
                                  DownloadRequest &request);

// Fills an empty MinimumOSVersionDescription ("2.6.1") and an empty ProductName
// ("file.exe from server/a/b") from the other fields.
void CompleteDerivedFields(DownloadRequest &request);

// The message that explains the syntax, naming the error when one was noted.
std::string SyntaxMessage(const std::string &programPath, const std::string &errorText);
// The syntax and the options alone, as help prints them.
std::string UsageMessage(const std::string &programPath);
