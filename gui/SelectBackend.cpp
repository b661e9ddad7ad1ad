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
        std::string failure;
        if (auto display = CreateDisplayBackend(failure))
            return display;
        std::cerr << "download: " << failure << "; running on the console\n";
    }
    return CreateConsoleBackend();
}

} // namespace gui
