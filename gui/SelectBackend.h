#pragma once

#include "gui/Backend.h"

#include <memory>
#include <string>

namespace gui {

// The window backend when the system can show windows, otherwise the console backend (a note
// on standard error says why when a display was there but could not be used).
std::unique_ptr<Backend> SelectBackend();

// The window backend of this system, or nullptr when it cannot run: with an empty `failure`
// when there is no display at all (the console is then the front end), else with a note for
// the user that says why (the display cannot be opened, the backend cannot be loaded, the
// program was built without one) and that the program runs on the console.
std::unique_ptr<Backend> CreateDisplayBackend(std::string &failure);
std::unique_ptr<Backend> CreateConsoleBackend();

// Whether an X11 or Wayland display is named in the environment.
bool DisplayNamed();

} // namespace gui
