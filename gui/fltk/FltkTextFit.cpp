// The window backend resolves what it uses of the program when it is loaded, but the program
// itself never calls the text-fitting helper, so the linker leaves it out of the program. The
// backend is built with the helper's own source instead (its copy stays hidden inside it).
#include "gui/TextFit.cpp"
