// Tint slots: the per-slot gradient choices, the composed palettes, the
// tint panel and the selection state file.
#pragma once

#include <allegro.h>
#include <cstdint>

struct data_set;

constexpr int BG2_SLOTS = 28;
constexpr int PST_SLOTS = 8;

extern int32_t palshift_bg2[BG2_SLOTS]; // gradient row chosen per bg2 slot
extern int32_t palshift_pst[PST_SLOTS]; // gradient row chosen per pst slot
extern int32_t glb_slot;                // selected slot of the active data set
extern uint8_t working_palette[256][3]; // composed colours at 8 bits
extern PALETTE display_palette;         // the same at 6 bits, for the library

// The active data set's palshift table.
int32_t *active_palshift(const data_set &set);

// Slots in group 'A' or 'B' of the data set (0 for any other letter).
int count_group_slots(const data_set &set, char group);
// Slot index of the slot the panel shows as "color " + name ("A2", "b10"),
// -1 when the data set has none of that name.
int find_slot_by_name(const data_set &set, const char *name);

// Draws the panel into glb_buffer and rebuilds both palettes.
void draw_tint_panel(const data_set &set);
// Rebuilds both palettes only, as draw_tint_panel does.
void build_tint_palettes(const data_set &set);

// The slot whose panel line (its text and swatches, as high as a swatch)
// holds the screen point (x, y), else -1.
int find_slot_at(const data_set &set, int x, int y);
// The gradient row of the strip at the screen point (x, y), else -1.
int find_strip_row_at(const data_set &set, int x, int y);

// Reads "last_palshift.bin" into both tables; a missing or short file is no
// error. Rows are brought into their own data set's range.
void load_palshift_file();
// Writes both tables to "last_palshift.bin" through a temporary file, so a
// failed save leaves the previous file whole.
void save_palshift_file();
