#pragma once

#include <string>
#include <vector>

namespace platform {

// The program's arguments by the platform's rules, element 0 being the program's full
// path. On POSIX systems the arguments are taken as the shell passed them.
std::vector<std::string> ProcessArguments(int argc, char **argv);

// The full path of the running program's executable file; empty when it cannot be found.
std::string ProgramPath();

// The platform's path separator ("/" here).
char PathSeparator();

// Lets all threads allocate from one heap. The program's threads allocate little and
// seldom, and a heap per thread would keep memory of its own resident for each of them.
// Call at the start, before other threads exist.
void ShareOneHeap();

} // namespace platform
