#include "common/trace.h"

bool glb_quiet = false;
