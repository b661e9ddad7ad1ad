// Built when FLTK is not available: the program runs on the console only.
#include "gui/SelectBackend.h"

namespace gui {

std::unique_ptr<Backend> CreateDisplayBackend() {
    return nullptr;
}

} // namespace gui
