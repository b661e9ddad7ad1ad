// Lists the control windows of another program's window, as the dialog manager and a screen
// reader meet them (in z-order), one line each: class, height in pixels, text. The first shown
// top-level window whose caption starts with CAPTION is taken.
//   window_controls CAPTION
// Exits 1 when no such window shows.
#include <windows.h>

#include <cstdio>
#include <string>

namespace {

struct Search {
    std::string start;
    HWND found = nullptr;
};

BOOL CALLBACK Match(HWND window, LPARAM parameter) {
    auto *search = reinterpret_cast<Search *>(parameter);
    char caption[512] = {};
    GetWindowTextA(window, caption, sizeof caption);
    if (!IsWindowVisible(window) || std::string(caption).rfind(search->start, 0) != 0)
        return TRUE;
    search->found = window;
    return FALSE;
}

} // namespace

int main(int argc, char **argv) {
    if (argc != 2)
        return 2;
    Search search{argv[1]};
    EnumWindows(Match, reinterpret_cast<LPARAM>(&search));
    if (!search.found) {
        std::printf("no window \"%s\"\n", argv[1]);
        return 1;
    }
    for (HWND child = GetWindow(search.found, GW_CHILD); child;
         child = GetWindow(child, GW_HWNDNEXT)) {
        char name[64] = {};
        GetClassNameA(child, name, sizeof name);
        // The window's own text, which a screen reader reads for a label.
        char text[1024] = {};
        GetWindowTextA(child, text, sizeof text);
        RECT place{};
        GetWindowRect(child, &place);
        std::printf("%s\t%ld\t%s\n", name, place.bottom - place.top, text);
    }
    return 0;
}
