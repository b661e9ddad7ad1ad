#pragma once

#include <functional>

namespace platform {

// From this call on, Ctrl+C and the system's requests to end the program (SIGINT, SIGTERM and
// SIGHUP here; the console's Ctrl+C, Ctrl+Break and close events on Windows) no longer end
// the process at once: each one wakes the calling thread, and that thread's message
// processing (every wait loop, and a toolkit loop watching the queue's wake descriptor) runs
// `onStop` once for it. Call once, on the main thread, before other threads start.
void CatchStopRequests(std::function<void()> onStop);

// Whether the system asked the program to end (SIGTERM or SIGHUP; on Windows the console's
// close, the user's logoff, the system's shutdown, the end of the session), rather than the
// user with Ctrl+C: what is under way is kept for later where it can be. Safe from any thread
// and from a signal handler.
bool SystemAskedToEnd();
void NoteSystemEnding();

// Whether the standard input has something to read now (a line, or its end); never blocks.
bool StandardInputWaiting();

} // namespace platform
