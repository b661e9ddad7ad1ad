// Built when FLTK is not available: the program runs on the console only.
#include "gui/SelectBackend.h"

#include "platform/Catalogue.h"

namespace gui {

std::unique_ptr<Backend> CreateDisplayBackend(std::string &failure) {
    if (DisplayNamed())
        // TRANSLATORS: a note on standard error: this program cannot show windows.
        failure = platform::Tr("built without the window backend; running on the console");
    return nullptr;
}

} // namespace gui
