// The tint panel: composed palettes of both data sets and the panel's
// pixels in glb_buffer.
#include "display/screen.h"
#include "palette/data_set.h"
#include "palette/global_palette.h"
#include "palette/gradients.h"
#include "palette/tint_slots.h"
#include "support/palette_fixtures.h"

#include <allegro.h>
#include <cstring>
#include <gtest/gtest.h>
#include <random>
#include <vector>

namespace {

// One slot as the layout tables describe it.
struct slot_facts {
    std::string name;
    int first, n, y;
    int x_step, right_offset;
    std::vector<int> columns; // gradient column of each colour
};

std::vector<int> count_up(int n, int stride)
{
    std::vector<int> v;
    for (int c = 0; c < n; c++)
        v.push_back(c * stride);
    return v;
}

std::vector<slot_facts> bg2_slots()
{
    std::vector<slot_facts> slots;
    for (int i = 0; i < 7; i++)
        slots.push_back({"color A" + std::to_string(i + 1), 4 + 12 * i, 12, 15 + 20 * i, 20, 18,
                         count_up(12, 1)});
    for (int j = 7; j < 28; j++)
        slots.push_back({"color B" + std::to_string(j - 6), 32 + 8 * j, 8, 35 + 20 * j, 20, 18,
                         {0, 1, 3, 4, 6, 7, 9, 10}});
    return slots;
}

std::vector<slot_facts> pst_slots()
{
    const int a_first[4] = {16, 32, 64, 80};
    std::vector<slot_facts> slots;
    for (int i = 0; i < 4; i++)
        slots.push_back({"color A" + std::to_string(i + 1), a_first[i], 16, 15 + 20 * i, 15, 13,
                         count_up(16, 2)});
    for (int j = 4; j < 8; j++)
        slots.push_back({"color B" + std::to_string(j - 3), 128 + 32 * (j - 4), 32, 35 + 20 * j, 7,
                         5, count_up(32, 1)});
    return slots;
}

uint32_t gradient_rgb(int x, int y)
{
    return uint32_t((x * 37 + y * 11 + 5) & 255) << 16 | uint32_t((y * 3 + 1) & 255) << 8 |
           uint32_t((x * 251 + y * 17 + 128) & 255);
}

class PalettePanel : public ::testing::Test {
protected:
    std::string dir;
    std::vector<uint8_t> palette_bytes;

    void SetUp() override
    {
        init_palette_test_library();
        dir = enter_fresh_dir();
        ASSERT_FALSE(dir.empty());
        std::mt19937 rng(11);
        palette_bytes.resize(768);
        for (uint8_t &b : palette_bytes)
            b = uint8_t(rng());
        palette_bytes[0] = palette_bytes[1] = palette_bytes[2] = 7;
        ASSERT_TRUE(write_bytes("pal.bin", palette_bytes));
        ASSERT_TRUE(load_glb_palette("pal.bin"));
        ASSERT_TRUE(write_rgb_bmp("cmaps.bmp", 32, 116, gradient_rgb));
        glb_buffer = create_bitmap_ex(32, 800, 600);
        ASSERT_NE(nullptr, glb_buffer);
        clear_bitmap(glb_buffer);
        memset(palshift_bg2, 0, sizeof palshift_bg2);
        memset(palshift_pst, 0, sizeof palshift_pst);
        glb_slot = 0;
    }

    void TearDown() override
    {
        destroy_bitmap(glb_buffer);
        glb_buffer = nullptr;
        leave_fresh_dir(dir);
    }

    // Entry e of glb_palette as the palette file gave it.
    uint32_t file_rgb(int e)
    {
        return uint32_t(palette_bytes[e * 3]) << 16 | uint32_t(palette_bytes[e * 3 + 1]) << 8 |
               palette_bytes[e * 3 + 2];
    }
};

// The expected 8-bit palette: grey, the copied entries, then every slot.
std::vector<uint32_t> expected_palette(const std::vector<slot_facts> &slots, const int32_t *rows,
                                       int copied_last, const std::vector<uint32_t> &file)
{
    std::vector<uint32_t> pal(256, 0xFFFFFFFF);
    pal[0] = 0xAAAAAA;
    for (int e = 1; e <= copied_last; e++)
        pal[e] = file[e];
    for (size_t s = 0; s < slots.size(); s++)
        for (int c = 0; c < slots[s].n; c++)
            pal[slots[s].first + c] = gradient_rgb(slots[s].columns[c], rows[s]);
    return pal;
}

void expect_palettes(const std::vector<uint32_t> &pal, const char *set_name)
{
    for (int e = 0; e < 256; e++) {
        ASSERT_NE(0xFFFFFFFFu, pal[e]) << "entry " << e << " belongs to nothing";
        int r = int(pal[e] >> 16), g = int((pal[e] >> 8) & 255), b = int(pal[e] & 255);
        ASSERT_EQ(r, working_palette[e][0]) << set_name << " entry " << e;
        ASSERT_EQ(g, working_palette[e][1]) << set_name << " entry " << e;
        ASSERT_EQ(b, working_palette[e][2]) << set_name << " entry " << e;
        ASSERT_EQ(r >> 2, display_palette[e].r) << set_name << " entry " << e;
        ASSERT_EQ(g >> 2, display_palette[e].g) << set_name << " entry " << e;
        ASSERT_EQ(b >> 2, display_palette[e].b) << set_name << " entry " << e;
        ASSERT_EQ(0, display_palette[e].filler) << set_name << " entry " << e;
    }
}

TEST_F(PalettePanel, PalettesOfBothDataSets)
{
    std::vector<uint32_t> file;
    for (int e = 0; e < 256; e++)
        file.push_back(file_rgb(e));
    std::mt19937 rng(3);

    ASSERT_TRUE(load_cmaps("cmaps.bmp", bg2.gradient_columns, bg2.gradient_rows));
    for (int32_t &row : palshift_bg2)
        row = int32_t(rng() % 116);
    palshift_bg2[0] = 115;
    memset(working_palette, 0x33, sizeof working_palette);
    draw_tint_panel(bg2);
    expect_palettes(expected_palette(bg2_slots(), palshift_bg2, 3, file), "bg2");

    ASSERT_TRUE(load_cmaps("cmaps.bmp", pst.gradient_columns, pst.gradient_rows));
    for (int32_t &row : palshift_pst)
        row = int32_t(rng() % 79);
    palshift_pst[7] = 78;
    draw_tint_panel(pst);
    expect_palettes(expected_palette(pst_slots(), palshift_pst, 127, file), "pst");
    // The A slots win over the copied entries; the gaps keep the file's colours.
    EXPECT_EQ(gradient_rgb(0, palshift_pst[0]) >> 16, working_palette[16][0]);
    EXPECT_EQ(gradient_rgb(30, palshift_pst[3]) >> 16, working_palette[95][0]);
    EXPECT_EQ(palette_bytes[48 * 3], working_palette[48][0]);
    EXPECT_EQ(palette_bytes[127 * 3 + 2], working_palette[127][2]);
    // The 6-bit form drops the low two bits.
    EXPECT_EQ(42, display_palette[0].r);
}

std::string panel_line(bool selected, int row, const std::string &name)
{
    std::string digits = std::to_string(row);
    return std::string(selected ? "-->" : "   ") + " " + std::string(3 - digits.size(), ' ') +
           digits + " : " + name;
}

// The whole panel as the description draws it, into a bitmap of its own.
void draw_expected_panel(BITMAP *ref, const std::vector<slot_facts> &slots, const int32_t *rows,
                         int selected, int right_marker_x)
{
    clear_bitmap(ref);
    int white = makecol32(255, 255, 255);
    for (size_t s = 0; s < slots.size(); s++) {
        const slot_facts &slot = slots[s];
        textout_ex(ref, font, panel_line(int(s) == selected, rows[s], slot.name).c_str(), 300,
                   slot.y, white, -1);
        for (int c = 0; c < slot.n; c++) {
            uint32_t rgb = gradient_rgb(slot.columns[c], rows[s]);
            int x = 460 + slot.x_step * c;
            rectfill(ref, x, slot.y - 7, x + slot.right_offset, slot.y + 11,
                     makecol32(rgb >> 16, (rgb >> 8) & 255, rgb & 255));
        }
    }
    textout_ex(ref, font, ">", 717, 5 * rows[selected] + 14, white, -1);
    textout_ex(ref, font, "<", right_marker_x, 5 * rows[selected] + 14, white, -1);
}

int count_white(BITMAP *bmp, int x0, int x1)
{
    int n = 0;
    for (int y = 0; y < bmp->h; y++)
        for (int x = x0; x <= x1; x++)
            n += getpixel(bmp, x, y) == makecol32(255, 255, 255);
    return n;
}

TEST_F(PalettePanel, PanelPixelsMarkersAndLines)
{
    struct panel_case {
        const data_set *set;
        int selected, row, marker_x;
    } cases[] = {{&bg2, 0, 0, 787}, {&bg2, 27, 115, 787}, {&bg2, 9, 12, 787},
                 {&pst, 7, 78, 791}, {&pst, 2, 5, 791}};
    BITMAP *ref = create_bitmap_ex(32, 800, 600);
    ASSERT_NE(nullptr, ref);
    std::mt19937 rng(5);
    for (const panel_case &k : cases) {
        SCOPED_TRACE(std::string(k.set == &pst ? "pst" : "bg2") + " slot " +
                     std::to_string(k.selected));
        ASSERT_TRUE(load_cmaps("cmaps.bmp", k.set->gradient_columns, k.set->gradient_rows));
        int32_t *rows = active_palshift(*k.set);
        int count = k.set == &pst ? 8 : 28;
        for (int s = 0; s < count; s++)
            rows[s] = int32_t(rng() % k.set->gradient_rows);
        rows[k.selected] = k.row;
        glb_slot = k.selected;
        clear_bitmap(glb_buffer);
        draw_tint_panel(*k.set);
        draw_expected_panel(ref, k.set == &pst ? pst_slots() : bg2_slots(), rows, k.selected,
                            k.marker_x);
        EXPECT_TRUE(same_area(ref, glb_buffer, 0, 0, 800, 600));

        // Both markers, once each, bracketing the selected row.
        int marker_y = 5 * k.row + 14;
        EXPECT_TRUE(same_area(ref, glb_buffer, 717, marker_y, 8, 8));
        EXPECT_GT(count_white(glb_buffer, 717, 724), 0);
        EXPECT_EQ(count_white(ref, 700, 799), count_white(glb_buffer, 700, 799));
    }
    destroy_bitmap(ref);
}

TEST_F(PalettePanel, SwatchCornersAreIncluded)
{
    ASSERT_TRUE(load_cmaps("cmaps.bmp", pst.gradient_columns, pst.gradient_rows));
    palshift_pst[0] = 3;
    palshift_pst[4] = 40;
    draw_tint_panel(pst);
    auto color_of = [](int column, int row) {
        uint32_t rgb = gradient_rgb(column, row);
        return makecol32(rgb >> 16, (rgb >> 8) & 255, rgb & 255);
    };
    // pst A1 (text y 15), colour 1: x 475..488, y 8..26, column 2.
    EXPECT_EQ(color_of(2, 3), getpixel(glb_buffer, 475, 8));
    EXPECT_EQ(color_of(2, 3), getpixel(glb_buffer, 488, 26));
    EXPECT_EQ(0, getpixel(glb_buffer, 489, 8));
    EXPECT_EQ(0, getpixel(glb_buffer, 475, 27));
    // pst B1 (text y 115), colour 31: x 677..682, y 108..126.
    EXPECT_EQ(color_of(31, 40), getpixel(glb_buffer, 677, 108));
    EXPECT_EQ(color_of(31, 40), getpixel(glb_buffer, 682, 126));
    EXPECT_EQ(0, getpixel(glb_buffer, 683, 126));
    EXPECT_EQ(0, getpixel(glb_buffer, 682, 107));
}

} // namespace
