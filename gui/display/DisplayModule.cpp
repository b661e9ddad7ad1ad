// Loads the window backend built into the program, when there is a display.
#include "gui/display/DisplayModule.h"

#include "gui/SelectBackend.h"
#include "platform/Catalogue.h"
#include "platform/Inflate.h"
#include "platform/SharedLibrary.h"

namespace gui {

std::unique_ptr<Backend> CreateDisplayBackend(std::string &failure) {
    if (!DisplayNamed())
        return nullptr; // no display: the console, without a note
    std::string error;
    const std::optional<std::string> image =
        platform::InflateZlib({download_display_module, download_display_module_packed_size},
                              download_display_module_size);
    void *module = nullptr;
    if (image && image->size() == download_display_module_size)
        module = platform::LoadSharedLibraryImage(image->data(), image->size(), "download-display",
                                                  error);
    else // an image that does not unpack is one the loader could not load
        error = platform::Fill(platform::Tr("%1: cannot be loaded"), {"download-display"});
    using Create = Backend *();
    auto *create = module ? reinterpret_cast<Create *>(platform::SharedLibrarySymbol(
                                module, "download_create_display_backend"))
                          : nullptr;
    if (!create) {
        // TRANSLATORS: a note on standard error; %1 is the system's reason, as it gives it.
        failure = platform::Fill(platform::Tr("cannot load the window backend (%1); running on "
                                              "the console"),
                                 {error.empty() ? std::string("no entry point") : error});
        return nullptr;
    }
    std::unique_ptr<Backend> backend(create());
    if (!backend)
        // TRANSLATORS: a note on standard error: no window can be shown on this display.
        failure = platform::Tr("cannot open the display; running on the console");
    return backend;
}

} // namespace gui
