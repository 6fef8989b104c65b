// STUB: replaced by the palette engine.
#include "palette/tint_slots.h"
#include "palette/data_set.h"
int32_t palshift_bg2[BG2_SLOTS];
int32_t palshift_pst[PST_SLOTS];
int32_t glb_slot;
uint8_t working_palette[256][3];
PALETTE display_palette;
int32_t *active_palshift(const data_set &set) { return set.id == DATA_SET_PST ? palshift_pst : palshift_bg2; }
void draw_tint_panel(const data_set &) {}
void load_palshift_file() {}
void save_palshift_file() {}
