#include "gui/SelectBackend.h"

#include <cstdlib>
#include <iostream>

namespace gui {

namespace {

bool Named(const char *variable) {
    const char *value = std::getenv(variable);
    return value && *value;
}

} // namespace

std::unique_ptr<Backend> SelectBackend() {
    if (Named("DISPLAY") || Named("WAYLAND_DISPLAY")) {
        if (auto display = CreateDisplayBackend())
            return display;
        std::cerr << "download: cannot open the display; running on the console\n";
    }
    return CreateConsoleBackend();
}

} // namespace gui
