#pragma once

#include "platform/Catalogue.h"

#include <cstddef>
#include <string>

namespace platform {

// Loads the shared library `name` (a file name the system's loader searches for, such as
// "libssl.so.3") for the rest of the process's life, so that a library only some runs need
// costs nothing in the others. Returns a handle, or nullptr with `error` set to the loader's
// reason. Loading one that is already loaded gives the same library again. Any thread.
void *LoadSharedLibrary(const std::string &name, std::string &error);

// Called first thing at the start of the program: from then on the system's loader takes the
// libraries loaded later (and those the system's own libraries load) from the system folder
// only, never from the program's folder or the working one, where a web page may have left a
// file of that name (a Downloads folder). Does nothing where the loader never looks there.
void RestrictLibrarySearch();

// Loads a library that comes with the system (such as "bcrypt.dll") from the system's own
// folder only, as LoadSharedLibrary does: on Windows by its full path in the system folder, so
// that a file of that name planted beside the program or in the working folder is never
// taken; elsewhere through the loader's search, which looks in neither.
void *LoadSystemLibrary(const std::string &name, std::string &error);

// Loads a shared library whose file image is `size` bytes at `image` (one built into the
// program), as LoadSharedLibrary does; `name` names it in the process's maps and in the
// loader's messages. The image is handed to the loader through an anonymous memory file,
// or where there is none through a temporary file that is removed once it is loaded.
void *LoadSharedLibraryImage(const void *image, size_t size, const std::string &name,
                             std::string &error);

// The address of `symbol` in `library` or in the libraries it depends on; nullptr when none
// has it.
void *SharedLibrarySymbol(void *library, const char *symbol);

// Sets `function` (a pointer of the function's own type) to `symbol` of `library`
// (SharedLibrarySymbol). Returns false when none has it, with `error` saying so, naming the
// library by `libraryName`.
template <typename Function>
bool ResolveFunction(void *library, const char *libraryName, const char *symbol,
                     Function &function, std::string &error) {
    function = reinterpret_cast<Function>(SharedLibrarySymbol(library, symbol));
    if (!function)
        // TRANSLATORS: %1 is a library's file, %2 the name of a function it lacks.
        error = Fill(Tr("%1 has no %2"), {libraryName, symbol});
    return function != nullptr;
}

} // namespace platform
