#pragma once

#include <string>

namespace platform {

enum class StandardStream { Input, Output, Error };

// True when the stream is connected to a terminal (not a file, a pipe or nothing).
bool IsTerminal(StandardStream stream);

// The terminal's width in columns, or 80 when it is unknown.
int TerminalColumns();

// Turns the echo of what is typed at the terminal on standard input off (a password) or on
// again; false when standard input is no terminal.
bool SetInputEcho(bool on);

// Writes the UTF-8 `text` to standard output or error at once. A Windows console is given
// its characters, which it shows whatever its code page; a file, a pipe or a POSIX terminal
// gets the bytes.
void WriteStandard(StandardStream stream, const std::string &text);

// Reads a line of standard input, without its line end, as UTF-8 (a Windows console's
// characters are converted); waits for it. False at the end of the input with nothing read.
bool ReadStandardLine(std::string &line);

} // namespace platform
