// Loads a library by its bare name, as the loader's default search finds it (the program's
// folder first): the control that shows a planted copy would be taken by such a load.
//   plain_load NAME.dll
#include <windows.h>

int main(int argc, char **argv) {
    if (argc != 2)
        return 2;
    return LoadLibraryA(argv[1]) ? 0 : 1;
}
