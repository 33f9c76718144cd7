// The operating system's requests to stop: SIGINT and SIGTERM on POSIX;
// Ctrl-C, Ctrl-Break and closing the console window on Windows. The first one
// asks for a clean stop, which the program polls for; a second one ends the
// process at once, as does any one after cleanStopDone().
#pragma once

namespace tmx::platform {

// Installs the handlers. Call it before any other thread starts (on POSIX the
// signals are then taken by one watching thread only). False on failure.
bool installStopHandlers();

// True once a stop was requested.
bool stopRequested();

// The clean stop has done what matters (links closed, database written):
// from now on a stop request ends the process at once. On Windows this also
// lets the closing console window go on.
void cleanStopDone();

}  // namespace tmx::platform
