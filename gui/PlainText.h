#pragma once

#include <string>

namespace gui {

// The text with each line end written as two characters (CR LF or LF CR), and each lone CR,
// turned into one LF: how message texts with their paragraphs are shown on a display or a
// terminal.
std::string PlainLineEnds(const std::string &text);

} // namespace gui
