#include <allegro.h>
#include <cstdio>
#include <cstdlib>
#include <new>

#include "app/app.h"

int main(int argc, char **argv)
{
    // Allocations that can fail are handled where they are made; one that
    // is not still ends the run with a line and status 1, never an abort.
    try {
        return run_huesmith(argc, argv);
    } catch (const std::bad_alloc &) {
        std::printf("error : out of memory\n");
        std::exit(1);
    }
}
END_OF_MAIN()
