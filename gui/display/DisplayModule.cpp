// Loads the window backend built into the program, when there is a display.
#include "gui/display/DisplayModule.h"

#include "gui/SelectBackend.h"
#include "platform/SharedLibrary.h"

namespace gui {

std::unique_ptr<Backend> CreateDisplayBackend(std::string &failure) {
    if (!DisplayNamed())
        return nullptr; // no display: the console, without a note
    std::string error;
    void *module = platform::LoadSharedLibraryImage(
        download_display_module,
        static_cast<size_t>(download_display_module_end - download_display_module),
        "download-display", error);
    using Create = Backend *();
    auto *create = module ? reinterpret_cast<Create *>(platform::SharedLibrarySymbol(
                                module, "download_create_display_backend"))
                          : nullptr;
    if (!create) {
        failure = "cannot load the window backend (" +
                  (error.empty() ? std::string("no entry point") : error) + ")";
        return nullptr;
    }
    std::unique_ptr<Backend> backend(create());
    if (!backend)
        failure = "cannot open the display";
    return backend;
}

} // namespace gui
