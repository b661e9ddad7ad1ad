// Built when FLTK is not available: the program runs on the console only.
#include "gui/SelectBackend.h"

namespace gui {

std::unique_ptr<Backend> CreateDisplayBackend(std::string &failure) {
    if (DisplayNamed())
        failure = "built without the window backend";
    return nullptr;
}

} // namespace gui
