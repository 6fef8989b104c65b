// How SIGINT, SIGTERM and SIGHUP end a run: at once, removing the temporary
// file being written, if any; or, in the window's loop, through the loop's
// orderly quit. Either way the run ends by the signal's own default action,
// which a shell reports as status 128 + the signal's number.
#pragma once

#include <csignal>

// Holds the three signals on this thread. Threads started while they are
// held keep them held for good, so that the thread that caught them is the
// one that was working.
void hold_end_signals();

// Installs the handler for the three signals (over the library's, and over
// an ignore inherited from the parent) and lets them in on this thread.
void catch_end_signals(bool at_once);

// Whether the handler ends the run at once (true) or notes the signal for
// the loop to end the run by (false).
void set_end_at_once(bool at_once);
// The signal the loop is to end the run by; 0: none came.
int read_end_signal();

// The temporary file the handler removes when it ends the run; null: none.
// Only called with the signals held (see hold_end_signals_briefly). False,
// with none noted, for a path too long to keep.
bool note_temporary_file(const char *path);

// hold_end_signals for a moment: restore_end_signals puts back the mask saved.
void hold_end_signals_briefly(sigset_t *saved);
void restore_end_signals(const sigset_t *saved);

// Ends the process by the signal's default action, standard output written first.
[[noreturn]] void end_by_signal(int number);
