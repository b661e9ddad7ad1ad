#pragma once

#include "gui/Backend.h"

#include <memory>
#include <string>

namespace gui {

// The window backend when a display is named (DISPLAY or WAYLAND_DISPLAY) and can be
// opened, otherwise the console backend (a note on standard error says why).
std::unique_ptr<Backend> SelectBackend();

// The window backend, or nullptr with why in `failure` when no display can be opened, the
// backend cannot be loaded, or the program was built without one.
std::unique_ptr<Backend> CreateDisplayBackend(std::string &failure);
std::unique_ptr<Backend> CreateConsoleBackend();

} // namespace gui
