#pragma once

#include "gui/Backend.h"

#include <functional>
#include <string>

namespace gui::fltk {

// A modal message box with its caption, text and buttons (the first one is the default
// for Enter); Escape and the close box answer Cancel, No or OK, and so does the box when
// `ended` becomes true (the program is closing). Blocks until then or until answered.
MessageResult RunMessageBox(const std::string &text, const std::string &caption,
                            MessageButtons buttons, const std::function<bool()> &ended);

} // namespace gui::fltk
