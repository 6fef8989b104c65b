#include <allegro.h>

#include "app/app.h"

int main(int argc, char **argv)
{
    return run_huesmith(argc, argv);
}
END_OF_MAIN()
