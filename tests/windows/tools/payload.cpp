// The program a signer test signs and serves: when run, it leaves "NAME.exe.ran" beside
// itself, so that a test sees which file ran.
#include <windows.h>

#include <cstdio>
#include <cstring>

int main() {
    char path[MAX_PATH];
    const DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
    if (length == 0 || length + 5 > MAX_PATH)
        return 1;
    std::strcat(path, ".ran");
    std::FILE *mark = std::fopen(path, "w");
    return mark && std::fclose(mark) == 0 ? 0 : 1;
}
