// Tries again and again, as another program on the machine may, to write, rename or delete
// the file a download is writing or has verified (any "tlv*.tmp" in FOLDER, and FOLDER\NAME),
// and to put REPLACEMENT in its place, until FOLDER\STOP exists or SECONDS have passed. Prints
// how often each try succeeded: "writes N replaces N".
//   replace_file FOLDER NAME REPLACEMENT STOP SECONDS
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>

int main(int argc, char **argv) {
    if (argc != 6)
        return 2;
    const std::string folder = argv[1];
    const std::string target = folder + "\\" + argv[2];
    const std::string replacement = argv[3];
    const std::string stop = folder + "\\" + argv[4];
    const DWORD until = GetTickCount() + static_cast<DWORD>(std::atoi(argv[5])) * 1000;
    int writes = 0, replaces = 0;
    while (GetFileAttributesA(stop.c_str()) == INVALID_FILE_ATTRIBUTES &&
           static_cast<LONG>(until - GetTickCount()) > 0) {
        WIN32_FIND_DATAA found;
        HANDLE search = FindFirstFileA((folder + "\\tlv*.tmp").c_str(), &found);
        std::string names[2] = {target, ""};
        if (search != INVALID_HANDLE_VALUE) {
            names[1] = folder + "\\" + found.cFileName;
            FindClose(search);
        }
        for (const std::string &name : names) {
            if (name.empty())
                continue;
            HANDLE file = CreateFileA(name.c_str(), GENERIC_WRITE,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
            if (file != INVALID_HANDLE_VALUE) {
                ++writes;
                CloseHandle(file);
            }
        }
        if (GetFileAttributesA(target.c_str()) != INVALID_FILE_ATTRIBUTES &&
            CopyFileA(replacement.c_str(), (target + ".new").c_str(), FALSE) &&
            MoveFileExA((target + ".new").c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING))
            ++replaces;
        DeleteFileA((target + ".new").c_str());
        Sleep(5);
    }
    std::printf("writes %d replaces %d\n", writes, replaces);
    return 0;
}
