#pragma once

namespace platform {

enum class StandardStream { Input, Output, Error };

// True when the stream is connected to a terminal (not a file, a pipe or nothing).
bool IsTerminal(StandardStream stream);

// The terminal's width in columns, or 80 when it is unknown.
int TerminalColumns();

// Turns the echo of what is typed at the terminal on standard input off (a password) or on
// again; false when standard input is no terminal.
bool SetInputEcho(bool on);

} // namespace platform
