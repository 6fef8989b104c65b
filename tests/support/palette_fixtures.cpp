#include "support/palette_fixtures.h"

#include <allegro.h>
#include <cerrno>
#include <cstdio>
#include <sys/wait.h>
#include <unistd.h>

void init_palette_test_library()
{
    static bool installed = false;
    if (!installed)
        installed = install_allegro(SYSTEM_NONE, &errno, atexit) == 0;
    set_color_depth(32);
}

child_run run_in_child(const std::function<void()> &body)
{
    child_run run{-1, ""};
    FILE *out = tmpfile();
    fflush(stdout);
    pid_t pid = out ? fork() : -1;
    if (pid == 0) {
        dup2(fileno(out), 1);
        body();
        fflush(stdout);
        _exit(0);
    }
    int raw = 0;
    if (pid > 0 && waitpid(pid, &raw, 0) == pid && WIFEXITED(raw))
        run.status = WEXITSTATUS(raw);
    for (int c = out ? (rewind(out), fgetc(out)) : EOF; c != EOF; c = fgetc(out))
        run.output += char(c);
    if (out)
        fclose(out);
    return run;
}
