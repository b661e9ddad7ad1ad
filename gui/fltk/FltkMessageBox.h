#pragma once

#include "gui/Backend.h"

#include <string>

namespace gui::fltk {

// A modal message box with its caption, text and buttons (the first one is the default
// for Enter); Escape and the close box answer Cancel, No or OK. Blocks until answered.
MessageResult RunMessageBox(const std::string &text, const std::string &caption,
                            MessageButtons buttons);

} // namespace gui::fltk
