#pragma once

#include "gui/Controls.h"

// The 64 x 64 JPEG picture of the main window.
gui::ImageData DownloadPicture();
// The icon of the main window and the options dialog (a 32 x 32 JPEG).
gui::ImageData ProgramIcon();
