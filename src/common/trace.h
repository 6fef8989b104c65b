// The loading trace: the progress lines the program prints on standard
// output while it reads and remaps (block trace, frame table, remap lines).
#pragma once

extern bool glb_quiet; // true: trace lines are not printed; failures and summaries still are
