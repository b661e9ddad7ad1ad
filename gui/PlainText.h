#pragma once

#include <string>

namespace gui {

// The text with each line end written as two characters (CR LF or LF CR), and each lone CR,
// turned into one LF: how message texts with their paragraphs are shown on a display or a
// terminal.
std::string PlainLineEnds(const std::string &text);

// The text with every control character but the line ends (CR, LF) and every C1 control
// (U+0080 to U+009F) replaced by "?": texts that came from the network (a server's reason
// phrase, a proxy's realm, a file name) cannot move a terminal's cursor, retitle it, clear
// it or print a line of their own, and draw the same in a window.
std::string Printable(const std::string &text);

} // namespace gui
