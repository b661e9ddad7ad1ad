// A library planted beside a program under the name of a system one: when it is loaded, it
// leaves "planted-NAME.txt" beside itself (NAME its file name) and refuses to stay.
#include <windows.h>

#include <string>

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
    if (reason != DLL_PROCESS_ATTACH)
        return TRUE;
    char path[MAX_PATH];
    const DWORD length = GetModuleFileNameA(instance, path, MAX_PATH);
    std::string marker(path, length);
    const size_t slash = marker.find_last_of("\\/");
    marker.insert(slash + 1, "planted-");
    marker += ".txt";
    HANDLE file = CreateFileA(marker.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file != INVALID_HANDLE_VALUE)
        CloseHandle(file);
    return FALSE; // the load fails: nothing of it runs in the program
}
