#pragma once

namespace gui::win32 {

// Gives the program, one of the graphical subsystem, the console that its console front end
// needs where no window can be created: the console of the program that started it, else a
// console of its own (without a window where there is no display). Standard streams that the
// starter redirected stay where they go; the others are connected to the console. Ctrl+C and
// Ctrl+Break are then delivered to the program's stop handler, as to a console program.
void ConnectConsoleFrontEnd();

} // namespace gui::win32
