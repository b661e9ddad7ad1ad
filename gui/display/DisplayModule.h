#pragma once

// The window backend (FLTK on X11) as a shared library image built into the program, so that
// the program stays one file and a console run never loads the toolkit and its libraries.
// It is one zlib stream (scripts/embed-library) of packed_size bytes, size bytes unpacked.

#include <cstddef>

extern const unsigned char download_display_module[];
extern const size_t download_display_module_packed_size;
extern const size_t download_display_module_size;
