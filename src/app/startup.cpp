// STUB: replaced by start-up.
#include "app/app.h"
int pcx_flag;
int32_t choose_first_zoom(int, int) { return 100; }
int run_huesmith(int, char **) { return 0; }
