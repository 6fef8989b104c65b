#include "palette/tint_slots.h"

#include "common/safe_file.h"
#include "common/surfaces.h"

#include "palette/data_set.h"
#include "palette/global_palette.h"
#include "palette/gradients.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>

int32_t palshift_bg2[BG2_SLOTS];
int32_t palshift_pst[PST_SLOTS];
int32_t glb_slot;
uint8_t working_palette[256][3];
PALETTE display_palette;

// Colours per slot and swatch geometry shared by one group of slots.
struct slot_group {
    int count;        // slots in the group
    int colours;      // palette entries per slot
    int x_step;       // distance between the slot's swatches
    int right_offset; // swatch right edge from its left edge
};

// Everything draw_tint_panel needs to know about one data set.
struct panel_layout {
    slot_group a, b;
    const int *first_entry; // first palette entry of every slot, in slot order
    int copied_last;        // entries 1..copied_last come from glb_palette
    int right_marker_x;     // x of the "<" marker
};

static const int bg2_first_entry[BG2_SLOTS] = {
    4,   16,  28,  40,  52,  64,  76,                                  // A1..A7
    88,  96,  104, 112, 120, 128, 136, 144, 152, 160, 168, 176, 184, // B1..B13
    192, 200, 208, 216, 224, 232, 240, 248};                         // B14..B21
static const int pst_first_entry[PST_SLOTS] = {16, 32, 64, 80, 128, 160, 192, 224};

static const panel_layout bg2_layout = {{7, 12, 20, 18}, {21, 8, 20, 18}, bg2_first_entry, 3, 787};
static const panel_layout pst_layout = {{4, 16, 15, 13}, {4, 32, 7, 5}, pst_first_entry, 127, 791};

constexpr char PALSHIFT_FILE[] = "last_palshift.bin";
constexpr int PALSHIFT_BYTES = 4 * (BG2_SLOTS + PST_SLOTS);
// The file is read in three pieces: bg2 A slots, bg2 B slots,
// the pst table.
constexpr int PALSHIFT_PIECES[3] = {28, 84, 32};

int32_t *active_palshift(const data_set &set)
{
    return set.id == DATA_SET_PST ? palshift_pst : palshift_bg2;
}

static const panel_layout &get_panel_layout(const data_set &set)
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

// Group, text line y and colour c's gradient cell of slot s.
static const slot_group &find_slot_group(const panel_layout &layout, int s)
{
    return s < layout.a.count ? layout.a : layout.b;
}

int count_group_slots(const data_set &set, char group)
{
    const panel_layout &layout = get_panel_layout(set);
    group = char(std::toupper(static_cast<unsigned char>(group)));
    return group == 'A' ? layout.a.count : group == 'B' ? layout.b.count : 0;
}

int find_slot_by_name(const data_set &set, const char *name)
{
    int count = count_group_slots(set, name[0]);
    const char *digits = name[0] ? name + 1 : name;
    // The number as the panel writes it: one or two digits, no leading zero.
    size_t length = std::strlen(digits);
    if (length == 0 || length > 2 || digits[0] == '0' || std::strspn(digits, "0123456789") != length)
        return -1;
    int number = std::atoi(digits);
    if (number > count)
        return -1;
    bool is_b = std::toupper(static_cast<unsigned char>(name[0])) == 'B';
    return (is_b ? count_group_slots(set, 'A') : 0) + number - 1;
}

static int find_slot_y(const panel_layout &layout, int s)
{
    return s < layout.a.count ? 15 + 20 * s : 35 + 20 * s;
}

static const uint8_t *find_slot_colour(const data_set &set, const panel_layout &layout, int s, int c)
{
    // Rows are kept in range at load and by the keys; the clamp only keeps
    // a stray value inside the table.
    int row = clamp_int(active_palshift(set)[s], 0, GRADIENT_TABLE_ROWS - 1);
    int colours = find_slot_group(layout, s).colours;
    int column = clamp_int(c * set.gradient_columns / colours, 0, GRADIENT_TABLE_COLUMNS - 1);
    return gradient_table[row][column];
}

// Text line, row markers and swatches of slot s.
static void draw_slot(const data_set &set, const panel_layout &layout, int s, int white)
{
    bool is_a = s < layout.a.count;
    const slot_group &group = find_slot_group(layout, s);
    int y = find_slot_y(layout, s);
    int p = active_palshift(set)[s];
    char name[20];
    std::snprintf(name, sizeof name, "color %c%i", is_a ? 'A' : 'B',
                  is_a ? s + 1 : s - layout.a.count + 1);
    textprintf_ex(glb_buffer, font, PANEL_TEXT_X, y, white, -1, "%s %3i : %s",
                  s == glb_slot ? "-->" : "   ", p, name);
    if (s == glb_slot) {
        textout_ex(glb_buffer, font, ">", LEFT_MARKER_X, find_marker_y(p), white, -1);
        textout_ex(glb_buffer, font, "<", layout.right_marker_x, find_marker_y(p), white, -1);
    }
    int depth = bitmap_color_depth(glb_buffer);
    for (int c = 0; c < group.colours; c++) {
        const uint8_t *rgb = find_slot_colour(set, layout, s, c);
        int x = SWATCH_X + group.x_step * c;
        rectfill(glb_buffer, x, y - 7, x + group.right_offset, y + 11,
                 makecol_depth(depth, rgb[0], rgb[1], rgb[2]));
    }
}

int find_slot_at(const data_set &set, int x, int y)
{
    const panel_layout &layout = get_panel_layout(set);
    for (int s = 0; s < layout.a.count + layout.b.count; s++) {
        const slot_group &group = find_slot_group(layout, s);
        int slot_y = find_slot_y(layout, s);
        int right = SWATCH_X + group.x_step * (group.colours - 1) + group.right_offset;
        if (x >= PANEL_TEXT_X && x <= right && y >= slot_y - 7 && y <= slot_y + 11)
            return s;
    }
    return -1;
}

int find_strip_row_at(const data_set &set, int x, int y)
{
    // Cells are one pixel wider and higher than their step, each covering
    // the overlap of the one before: the last row and column show whole,
    // cut by glb_cmap's size.
    int right = CMAP_X + std::min(set.swatch_step * (set.gradient_columns - 1) + 5, CMAP_W - 1);
    int bottom = CMAP_Y + std::min(CMAP_ROW_H * set.gradient_rows, CMAP_H - 1);
    if (x < CMAP_X || x > right || y < CMAP_Y || y > bottom)
        return -1;
    return std::min((y - CMAP_Y) / CMAP_ROW_H, set.gradient_rows - 1);
}

void build_tint_palettes(const data_set &set)
{
    static const uint8_t grey[3] = {170, 170, 170};
    const panel_layout &layout = get_panel_layout(set);
    set_palette_entry(0, grey);
    for (int e = 1; e <= layout.copied_last; e++)
        set_palette_entry(e, glb_palette[e]);
    for (int s = 0; s < layout.a.count + layout.b.count; s++)
        for (int c = 0; c < find_slot_group(layout, s).colours; c++)
            set_palette_entry(layout.first_entry[s] + c, find_slot_colour(set, layout, s, c));
}

void draw_tint_panel(const data_set &set)
{
    build_tint_palettes(set);
    if (!glb_buffer)
        return;
    const panel_layout &layout = get_panel_layout(set);
    int white = makecol_depth(bitmap_color_depth(glb_buffer), 255, 255, 255);
    for (int s = 0; s < layout.a.count + layout.b.count; s++)
        draw_slot(set, layout, s, white);
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

void load_palshift_file()
{
    // Anything but a regular file (a FIFO, a directory) counts as absent.
    FILE *in = open_regular_stream(PALSHIFT_FILE);
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

void save_palshift_file()
{
    uint8_t bytes[PALSHIFT_BYTES];
    encode_palshift(bytes);
    if (!replace_file(PALSHIFT_FILE, bytes, sizeof bytes))
        std::printf("can't write <%s>\n", PALSHIFT_FILE);
}
