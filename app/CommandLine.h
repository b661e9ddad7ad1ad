#pragma once

#include "app/DownloadRequest.h"

#include <string>
#include <string_view>
#include <vector>

// The 1-based position of the last occurrence of `sub` in `text`; 0 when there is none.
int LastPos(std::string_view sub, std::string_view text);

// What reading the command line found.
struct CommandLineResult {
    // The text of the last error noted (each ends in LF CR); empty when there was none.
    std::string errorText;
    // At least one argument followed the program path.
    bool argumentsGiven = false;
};

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
