#include "platform/SharedLibrary.h"

#include "platform/Catalogue.h"
#include "platform/posix/PlainFile.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <dlfcn.h>
#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

namespace platform {
namespace {

// Writes the image to the open file `fd` and loads it by `path`. Closes `fd` unless told to
// keep it open once the library is loaded.
void *WriteAndLoad(int fd, const std::string &path, const void *image, size_t size, bool keepOpen,
                   std::string &error) {
    void *library = nullptr;
    if (WriteAll(fd, image, size))
        library = LoadSharedLibrary(path, error);
    else
        error = path + ": " + std::strerror(errno);
    if (!library || !keepOpen)
        ::close(fd); // the loader keeps its own mapping
    return library;
}

// The image in a memory file of its own, loaded through its /proc name.
void *LoadThroughMemoryFile(const void *image, size_t size, const std::string &name,
                            std::string &error) {
    int fd = ::memfd_create(name.c_str(), MFD_CLOEXEC);
    if (fd < 0) {
        // TRANSLATORS: %1 is a library's name, %2 the system's reason.
        error = Fill(Tr("%1: no memory file: %2"), {name, std::strerror(errno)});
        return nullptr;
    }
    // The loader takes a name it has loaded before for that library, without opening it: a
    // later image under the same /proc name (its descriptor's number used again) would give
    // the earlier library. The loaded one keeps its descriptor, and so its name, for the rest
    // of the process's life, as it stays loaded.
    return WriteAndLoad(fd, "/proc/self/fd/" + std::to_string(fd), image, size, true, error);
}

// The image in an owner-only temporary file (where memory files or /proc are missing),
// removed as soon as the loader has mapped it.
void *LoadThroughTemporaryFile(const void *image, size_t size, const std::string &name,
                               std::string &error) {
    const char *folder = std::getenv("TMPDIR");
    std::string path = std::string(folder && *folder ? folder : "/tmp") + "/" + name + ".XXXXXX";
    int fd = ::mkstemp(path.data());
    if (fd < 0) {
        error = path + ": " + std::strerror(errno);
        return nullptr;
    }
    void *library = WriteAndLoad(fd, path, image, size, false, error);
    ::unlink(path.c_str());
    return library;
}

} // namespace

void *LoadSharedLibrary(const std::string &name, std::string &error) {
    // Symbols are bound now, so that a library that does not fit fails here and not in the
    // middle of a call; RTLD_LOCAL keeps its names out of everybody else's way.
    void *library = ::dlopen(name.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!library) {
        const char *reason = ::dlerror();
        // TRANSLATORS: %1 is a library's file.
        error = reason ? reason : Fill(Tr("%1: cannot be loaded"), {name});
    }
    return library;
}

void RestrictLibrarySearch() {
    // The loader looks in the working or the program's folder only when told so (a relative
    // path, an empty entry of LD_LIBRARY_PATH, an $ORIGIN run path): the program is built
    // without a run path and names its libraries bare.
}

void *LoadSystemLibrary(const std::string &name, std::string &error) {
    // A bare name: the loader searches the system's folders, never the working one.
    return LoadSharedLibrary(name, error);
}

void *LoadSharedLibraryImage(const void *image, size_t size, const std::string &name,
                             std::string &error) {
    if (void *library = LoadThroughMemoryFile(image, size, name, error))
        return library;
    std::string first = error;
    if (void *library = LoadThroughTemporaryFile(image, size, name, error))
        return library;
    error = first + "; " + error;
    return nullptr;
}

void *SharedLibrarySymbol(void *library, const char *symbol) {
    return ::dlsym(library, symbol);
}

} // namespace platform
