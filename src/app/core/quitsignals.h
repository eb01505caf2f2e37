#pragma once
// SIGTERM (shutdown, kill), SIGINT (Ctrl+C) and SIGHUP (the terminal or the
// desktop session gone) end the program through its event loop, as a quit
// does, instead of killing it in the middle of a write. The running
// sessions are on disk already; they come back at the next start.

namespace bilmeko {

// Installs the handlers; a signal then makes the event loop end with code 0.
// Call once, after the application object exists. False when the handlers
// could not be installed (the signals then keep their default action).
bool quitOnTerminationSignals();

// Whether such a signal came. One that comes while the start shows a
// message box ends the box's own loop, not the program's, which has not
// begun: the program checks this before it goes on to its event loop.
bool quitRequested();

} // namespace bilmeko
