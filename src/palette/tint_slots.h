// Tint slots: the per-slot gradient choices, the palettes composed from
// them and the selection state file.
#pragma once

#include <allegro.h>
#include <cstdint>
#include <string>

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

// Palette entries slot s takes, one per swatch the panel shows.
int count_slot_colours(const data_set &set, int s);
// The first of them.
int find_slot_first_entry(const data_set &set, int s);
// (r, g, b) of colour c of slot s: its cell of the slot's gradient row.
const uint8_t *find_slot_colour(const data_set &set, int s, int c);

// Rebuilds working_palette and display_palette from the slots' rows.
void build_tint_palettes(const data_set &set);

// The selection state file's name in the working directory.
constexpr char PALSHIFT_FILE[] = "last_palshift.bin";

// Reads the state file at path into both tables; a missing or short file is
// no error. Rows are brought into their own data set's range.
void load_palshift_file(const std::string &path = PALSHIFT_FILE);
// Writes both tables to the state file at path through a temporary file, so
// a failed save leaves the previous file whole.
void save_palshift_file(const std::string &path = PALSHIFT_FILE);
