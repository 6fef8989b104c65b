#include "palette/tint_slots.h"

#include "common/safe_file.h"

#include "palette/data_set.h"
#include "palette/global_palette.h"
#include "palette/gradients.h"

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>

int32_t palshift_bg2[BG2_SLOTS];
int32_t palshift_pst[PST_SLOTS];
int32_t glb_slot;
uint8_t working_palette[256][3];
PALETTE display_palette;

// The slots of one group: how many, and the palette entries each takes.
struct slot_group {
    int count;   // slots in the group
    int colours; // palette entries per slot
};

// Where one data set's slots take their palette entries.
struct slot_layout {
    slot_group a, b;
    const int *first_entry; // first palette entry of every slot, in slot order
    int copied_last;        // entries 1..copied_last come from glb_palette
};

static const int bg2_first_entry[BG2_SLOTS] = {
    4,   16,  28,  40,  52,  64,  76,                                  // A1..A7
    88,  96,  104, 112, 120, 128, 136, 144, 152, 160, 168, 176, 184, // B1..B13
    192, 200, 208, 216, 224, 232, 240, 248};                         // B14..B21
static const int pst_first_entry[PST_SLOTS] = {16, 32, 64, 80, 128, 160, 192, 224};

static const slot_layout bg2_layout = {{7, 12}, {21, 8}, bg2_first_entry, 3};
static const slot_layout pst_layout = {{4, 16}, {4, 32}, pst_first_entry, 127};

constexpr int PALSHIFT_BYTES = 4 * (BG2_SLOTS + PST_SLOTS);
// The file is read in three pieces: bg2 A slots, bg2 B slots,
// the pst table.
constexpr int PALSHIFT_PIECES[3] = {28, 84, 32};

int32_t *active_palshift(const data_set &set)
{
    return set.id == DATA_SET_PST ? palshift_pst : palshift_bg2;
}

static const slot_layout &get_slot_layout(const data_set &set)
{
    return set.id == DATA_SET_PST ? pst_layout : bg2_layout;
}

static int clamp_int(int v, int lo, int hi)
{
    return v < lo ? lo : v > hi ? hi : v;
}

static void set_palette_entry(int e, const uint8_t *rgb)
{
    working_palette[e][0] = rgb[0];
    working_palette[e][1] = rgb[1];
    working_palette[e][2] = rgb[2];
    // The filler byte is left alone.
    display_palette[e].r = uint8_t(rgb[0] >> 2);
    display_palette[e].g = uint8_t(rgb[1] >> 2);
    display_palette[e].b = uint8_t(rgb[2] >> 2);
}

// The group slot s belongs to.
static const slot_group &find_slot_group(const slot_layout &layout, int s)
{
    return s < layout.a.count ? layout.a : layout.b;
}

int count_group_slots(const data_set &set, char group)
{
    const slot_layout &layout = get_slot_layout(set);
    group = char(std::toupper(static_cast<unsigned char>(group)));
    return group == 'A' ? layout.a.count : group == 'B' ? layout.b.count : 0;
}

int find_slot_by_name(const data_set &set, const char *name)
{
    int count = count_group_slots(set, name[0]);
    const char *digits = name[0] ? name + 1 : name;
    // The number as the panel writes it: one or two digits, no leading zero.
    size_t length = std::strlen(digits);
    if (length == 0 || length > 2 || digits[0] == '0' ||
        std::strspn(digits, "0123456789") != length)
        return -1;
    int number = std::atoi(digits);
    if (number > count)
        return -1;
    bool is_b = std::toupper(static_cast<unsigned char>(name[0])) == 'B';
    return (is_b ? count_group_slots(set, 'A') : 0) + number - 1;
}

int count_slot_colours(const data_set &set, int s)
{
    return find_slot_group(get_slot_layout(set), s).colours;
}

int find_slot_first_entry(const data_set &set, int s)
{
    return get_slot_layout(set).first_entry[s];
}

const uint8_t *find_slot_colour(const data_set &set, int s, int c)
{
    // Rows are kept in range at load and by the keys; the clamp only keeps
    // a stray value inside the table.
    int row = clamp_int(active_palshift(set)[s], 0, GRADIENT_TABLE_ROWS - 1);
    int colours = count_slot_colours(set, s);
    int column = clamp_int(c * set.gradient_columns / colours, 0, GRADIENT_TABLE_COLUMNS - 1);
    return gradient_table[row][column];
}

void build_tint_palettes(const data_set &set)
{
    static const uint8_t grey[3] = {170, 170, 170};
    const slot_layout &layout = get_slot_layout(set);
    set_palette_entry(0, grey);
    for (int e = 1; e <= layout.copied_last; e++)
        set_palette_entry(e, glb_palette[e]);
    for (int s = 0; s < layout.a.count + layout.b.count; s++)
        for (int c = 0; c < find_slot_group(layout, s).colours; c++)
            set_palette_entry(layout.first_entry[s] + c, find_slot_colour(set, s, c));
}

// The 144-byte image of both tables: bg2 then pst, little-endian.
static void encode_palshift(uint8_t *bytes)
{
    for (int i = 0; i < BG2_SLOTS + PST_SLOTS; i++) {
        uint32_t v = uint32_t(i < BG2_SLOTS ? palshift_bg2[i] : palshift_pst[i - BG2_SLOTS]);
        for (int k = 0; k < 4; k++)
            bytes[4 * i + k] = uint8_t(v >> (8 * k));
    }
}

// Back from the byte image, each row brought into its own data set's range.
static void decode_palshift(const uint8_t *bytes)
{
    for (int i = 0; i < BG2_SLOTS + PST_SLOTS; i++) {
        uint32_t u = 0;
        for (int k = 0; k < 4; k++)
            u |= uint32_t(bytes[4 * i + k]) << (8 * k);
        int32_t v = int32_t(u);
        if (i < BG2_SLOTS)
            palshift_bg2[i] = clamp_int(v, 0, bg2.gradient_rows - 1);
        else
            palshift_pst[i - BG2_SLOTS] = clamp_int(v, 0, pst.gradient_rows - 1);
    }
}

void load_palshift_file(const std::string &path)
{
    // Anything but a regular file (a FIFO, a directory) counts as absent.
    FILE *in = open_regular_stream(path.c_str());
    if (!in)
        return;
    // A short file fills the image from its start; the rest keeps the
    // values the tables already had.
    uint8_t bytes[PALSHIFT_BYTES];
    encode_palshift(bytes);
    int offset = 0;
    for (int size : PALSHIFT_PIECES) {
        if (std::fread(bytes + offset, 1, size_t(size), in) != size_t(size))
            break; // the file ends here: nothing more to read
        offset += size;
    }
    std::fclose(in);
    decode_palshift(bytes);
}

void save_palshift_file(const std::string &path)
{
    uint8_t bytes[PALSHIFT_BYTES];
    encode_palshift(bytes);
    if (!replace_file(path.c_str(), bytes, sizeof bytes))
        std::printf("can't write <%s>\n", path.c_str());
}
