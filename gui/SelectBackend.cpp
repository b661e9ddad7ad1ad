#include "gui/SelectBackend.h"

#include "platform/Terminal.h"

#include <cstdlib>

namespace gui {

bool DisplayNamed() {
    for (const char *variable : {"DISPLAY", "WAYLAND_DISPLAY"}) {
        const char *value = std::getenv(variable);
        if (value && *value)
            return true;
    }
    return false;
}

std::unique_ptr<Backend> SelectBackend() {
    std::string failure;
    if (auto display = CreateDisplayBackend(failure))
        return display;
    // No display at all is the console's ordinary case; a display that fails is worth a note.
    if (!failure.empty())
        platform::WriteStandard(platform::StandardStream::Error, "download: " + failure + "\n");
    return CreateConsoleBackend();
}

} // namespace gui
