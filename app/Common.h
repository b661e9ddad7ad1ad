#pragma once

#include <string>

// The directory of the running program's executable, ending in the path separator.
std::string ProgramDirectory();

// True when `path` names an existing directory.
bool IsExistingDirectory(const std::string &path);

// Writes `text` to standard error, with its line ends (LF CR, CR LF) as plain line feeds.
void WriteToStandardError(const std::string &text);
