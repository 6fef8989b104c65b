// The end of a run whose X server went away.
#include "app/app.h"

#include <X11/Xlib.h>
#include <cstdio>
#include <unistd.h>

// Xlib calls this when the connection to the X server breaks, on whichever
// thread met the break, usually the library's own background thread.
// Returning would have Xlib end the process through exit(), whose handlers
// shut the library down while the main thread may still be drawing (a crash,
// an abort or a deadlock); with no display there is nothing left to do or
// to save, so the process ends here, at once.
static int end_on_lost_display(Display *)
{
    // The other thread may hold standard output: what it buffered is written
    // only if it can be had without waiting.
    if (ftrylockfile(stdout) == 0) {
        fflush_unlocked(stdout);
        funlockfile(stdout);
    }
    static const char line[] = "error : lost the display\n";
    ssize_t written = write(STDOUT_FILENO, line, sizeof line - 1);
    (void)written;
    _exit(1);
}

void watch_display_connection()
{
    XSetIOErrorHandler(end_on_lost_display);
}
