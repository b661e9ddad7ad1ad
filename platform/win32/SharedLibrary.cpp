#include "platform/SharedLibrary.h"
#include "platform/TempFiles.h"
#include "platform/win32/Errors.h"
#include "platform/win32/Text.h"

#include <windows.h>

namespace platform {

void *LoadSharedLibrary(const std::string &name, std::string &error) {
    HMODULE library = LoadLibraryW(win32::Widen(name).c_str());
    if (!library)
        error = name + ": " + win32::SystemErrorText(GetLastError());
    return reinterpret_cast<void *>(library);
}

void RestrictLibrarySearch() {
    // Resolved by name: a Windows 7 without its loader update has no such function, and the
    // program must still start there.
    using SetDefaultDllDirectoriesFunction = BOOL(WINAPI *)(DWORD);
    HMODULE kernel32 = GetModuleHandleW(L"kernel32.dll");
    auto setDefault = kernel32 ? reinterpret_cast<SetDefaultDllDirectoriesFunction>(
                                     reinterpret_cast<void *>(
                                         GetProcAddress(kernel32, "SetDefaultDllDirectories")))
                               : nullptr;
    if (setDefault)
        setDefault(LOAD_LIBRARY_SEARCH_SYSTEM32);
    // The working folder leaves the search order of the older calls as well.
    SetDllDirectoryW(L"");
}

void *LoadSystemLibrary(const std::string &name, std::string &error) {
    wchar_t folder[MAX_PATH];
    const UINT length = GetSystemDirectoryW(folder, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) {
        error = name + ": the system folder is unknown";
        return nullptr;
    }
    return LoadSharedLibrary(win32::Narrow(folder, length) + "\\" + name, error);
}

// Windows loads libraries from files only: the image goes to a temporary file. A loaded
// library's file cannot be removed, and libraries stay loaded for the rest of the process:
// the file is left to the cleaning of the temporary folder.
void *LoadSharedLibraryImage(const void *image, size_t size, const std::string &name,
                             std::string &error) {
    const std::string path = NewTempFileName();
    const std::wstring fileName = win32::Widen(path);
    HANDLE file = CreateFileW(fileName.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_DELETE,
                              nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_TEMPORARY, nullptr);
    DWORD wrote = 0;
    const bool written = file != INVALID_HANDLE_VALUE &&
                         WriteFile(file, image, static_cast<DWORD>(size), &wrote, nullptr) &&
                         wrote == size;
    const DWORD code = GetLastError();
    if (file != INVALID_HANDLE_VALUE)
        CloseHandle(file);
    if (!written) {
        DeleteFileW(fileName.c_str());
        error = name + ": " + path + ": " + win32::SystemErrorText(code);
        return nullptr;
    }
    void *library = LoadSharedLibrary(path, error);
    if (!library) {
        error = name + ": " + error;
        DeleteFileW(fileName.c_str());
    }
    return library;
}

void *SharedLibrarySymbol(void *library, const char *symbol) {
    return reinterpret_cast<void *>(
        GetProcAddress(static_cast<HMODULE>(library), symbol));
}

} // namespace platform
