#include "common/end_signals.h"

#include <climits>
#include <cstdio>
#include <cstring>
#include <pthread.h>
#include <unistd.h>

// The signal the loop is to end the run by (0: none), and whether the
// handler ends the run itself instead.
static volatile sig_atomic_t end_signal;
static volatile sig_atomic_t end_at_once = 1;

constexpr int END_SIGNALS[] = {SIGINT, SIGTERM, SIGHUP};

// The temporary file's path, kept where the handler can read it without
// allocating; written only while the signals are held.
static char temporary_path[PATH_MAX + 64];
static volatile sig_atomic_t temporary_noted;

static sigset_t make_end_signal_set()
{
    sigset_t set;
    sigemptyset(&set);
    for (int number : END_SIGNALS)
        sigaddset(&set, number);
    return set;
}

// Ends the process by the signal itself, so that its parent sees how it
// ended. Async-signal-safe.
static void raise_with_default_action(int number)
{
    signal(number, SIG_DFL);
    sigset_t one;
    sigemptyset(&one);
    sigaddset(&one, number);
    pthread_sigmask(SIG_UNBLOCK, &one, nullptr);
    raise(number);
}

// Async-signal-safe: unlink, signal, pthread_sigmask and raise only.
static void handle_end_signal(int number)
{
    if (!end_at_once) {
        end_signal = number;
        return;
    }
    if (temporary_noted)
        unlink(temporary_path);
    raise_with_default_action(number);
}

void hold_end_signals()
{
    hold_end_signals_briefly(nullptr);
}

void catch_end_signals(bool at_once)
{
    set_end_at_once(at_once);
    struct sigaction action;
    std::memset(&action, 0, sizeof action);
    action.sa_handler = handle_end_signal;
    // One handler at a time; calls it interrupts go on.
    action.sa_mask = make_end_signal_set();
    action.sa_flags = SA_RESTART;
    for (int number : END_SIGNALS)
        sigaction(number, &action, nullptr);
    sigset_t set = make_end_signal_set();
    pthread_sigmask(SIG_UNBLOCK, &set, nullptr);
}

void set_end_at_once(bool at_once)
{
    end_at_once = at_once ? 1 : 0;
}

int read_end_signal()
{
    return end_signal;
}

bool note_temporary_file(const char *path)
{
    temporary_noted = 0;
    if (!path || std::strlen(path) >= sizeof temporary_path)
        return false;
    std::strcpy(temporary_path, path);
    temporary_noted = 1;
    return true;
}

void hold_end_signals_briefly(sigset_t *saved)
{
    sigset_t set = make_end_signal_set();
    pthread_sigmask(SIG_BLOCK, &set, saved);
}

void restore_end_signals(const sigset_t *saved)
{
    pthread_sigmask(SIG_SETMASK, saved, nullptr);
}

void end_by_signal(int number)
{
    std::fflush(stdout);
    raise_with_default_action(number);
    _exit(128 + number);
}
