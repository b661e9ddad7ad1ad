#pragma once

// The window backend (FLTK on X11) as a shared library image built into the program, so that
// the program stays one file and a console run never loads the toolkit and its libraries.
extern const unsigned char download_display_module[];
extern const unsigned char download_display_module_end[];
