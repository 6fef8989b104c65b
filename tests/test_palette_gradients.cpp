// The gradient table read from a bitmap and its strip in glb_cmap.
#include "display/screen.h"
#include "palette/gradients.h"
#include "support/palette_fixtures.h"

#include <allegro.h>
#include <cstring>
#include <gtest/gtest.h>

namespace {

class PaletteGradients : public ::testing::Test {
protected:
    std::string dir;

    void TearDown() override { leave_fresh_dir(dir); }

    void SetUp() override
    {
        init_palette_test_library();
        dir = enter_fresh_dir();
        ASSERT_FALSE(dir.empty());
    }
};

uint32_t test_rgb(int x, int y)
{
    return uint32_t((x * 7 + 1) & 255) << 16 | uint32_t((y * 2 + 3) & 255) << 8 |
           uint32_t((x * 31 + y * 5) & 255);
}

void expect_cell(int r, int c, uint32_t rgb)
{
    ASSERT_EQ(int(rgb >> 16), gradient_table[r][c][0]) << r << "," << c;
    ASSERT_EQ(int((rgb >> 8) & 255), gradient_table[r][c][1]) << r << "," << c;
    ASSERT_EQ(int(rgb & 255), gradient_table[r][c][2]) << r << "," << c;
}

TEST_F(PaletteGradients, LoadsOnlyTheDataSetsRowsAndColumns)
{
    ASSERT_TRUE(write_rgb_bmp("big.bmp", 40, 130, test_rgb));

    memset(gradient_table, 0x5A, sizeof gradient_table);
    ASSERT_TRUE(load_cmaps("big.bmp", 12, 116));
    for (int r = 0; r < GRADIENT_TABLE_ROWS; r++)
        for (int c = 0; c < GRADIENT_TABLE_COLUMNS; c++)
            expect_cell(r, c, c < 12 ? test_rgb(c, r) : 0);

    memset(gradient_table, 0x5A, sizeof gradient_table);
    ASSERT_TRUE(load_cmaps("big.bmp", 32, 79));
    for (int r = 0; r < GRADIENT_TABLE_ROWS; r++)
        for (int c = 0; c < GRADIENT_TABLE_COLUMNS; c++)
            expect_cell(r, c, r < 79 ? test_rgb(c, r) : 0);
}

TEST_F(PaletteGradients, SmallBitmapReadsBlackOutsideAndMissingFileChangesNothing)
{
    ASSERT_TRUE(write_rgb_bmp("small.bmp", 5, 10, test_rgb));
    memset(gradient_table, 0x5A, sizeof gradient_table);
    ASSERT_TRUE(load_cmaps("small.bmp", 32, 79));
    for (int r = 0; r < GRADIENT_TABLE_ROWS; r++)
        for (int c = 0; c < GRADIENT_TABLE_COLUMNS; c++)
            expect_cell(r, c, r < 10 && c < 5 ? test_rgb(c, r) : 0);

    gradient_table[3][3][0] = 99;
    EXPECT_FALSE(load_cmaps("missing.bmp", 12, 116));
    EXPECT_EQ(99, gradient_table[3][3][0]);
    ASSERT_TRUE(write_bytes("garbage.bmp", std::vector<uint8_t>(64, 7)));
    EXPECT_FALSE(load_cmaps("garbage.bmp", 12, 116));
}

TEST_F(PaletteGradients, OtherFormatsLoadAndLyingSizesAreRefused)
{
    for (const char *name : {"g.pcx", "g.tga", "g.BMP"}) {
        BITMAP *bmp = create_bitmap_ex(24, 12, 116);
        for (int y = 0; y < 116; y++)
            for (int x = 0; x < 12; x++) {
                uint32_t c = test_rgb(x, y);
                putpixel(bmp, x, y, makecol_depth(24, c >> 16, (c >> 8) & 255, c & 255));
            }
        PALETTE unused = {};
        ASSERT_EQ(0, save_bitmap(name, bmp, unused)) << name;
        destroy_bitmap(bmp);
        memset(gradient_table, 0x5A, sizeof gradient_table);
        ASSERT_TRUE(load_cmaps(name, 12, 116)) << name;
        expect_cell(115, 11, test_rgb(11, 115));
        expect_cell(0, 12, 0);
    }

    // Sizes whose byte count passes 32 bits (width, width times height) and
    // a negative height, which the loader would take as it stands.
    ASSERT_TRUE(write_rgb_bmp("lie.bmp", 12, 116, test_rgb));
    std::vector<uint8_t> bytes = read_bytes("lie.bmp");
    const uint8_t wide[4] = {0xFF, 0xFF, 0xFF, 0x7F};
    memcpy(&bytes[18], wide, 4);
    ASSERT_TRUE(write_bytes("wide.bmp", bytes));
    const uint8_t w65536[4] = {0, 0, 1, 0}, h65537[4] = {1, 0, 1, 0};
    memcpy(&bytes[18], w65536, 4);
    memcpy(&bytes[22], h65537, 4);
    ASSERT_TRUE(write_bytes("wraps.bmp", bytes));
    const uint8_t w12[4] = {12, 0, 0, 0}, minus116[4] = {0x8C, 0xFF, 0xFF, 0xFF};
    memcpy(&bytes[18], w12, 4);
    memcpy(&bytes[22], minus116, 4);
    ASSERT_TRUE(write_bytes("top_down.bmp", bytes));
    std::vector<uint8_t> tga = read_bytes("g.tga");
    tga[12] = tga[13] = tga[14] = tga[15] = 0xFF;
    ASSERT_TRUE(write_bytes("big.tga", tga));
    for (const char *name : {"wide.bmp", "wraps.bmp", "top_down.bmp", "big.tga"}) {
        memset(gradient_table, 0x5A, sizeof gradient_table);
        EXPECT_FALSE(load_cmaps(name, 12, 116)) << name;
        EXPECT_EQ(0x5A, gradient_table[0][0][0]) << name;
    }
}

// The colour glb_cmap should show at (x, y): black, or the cell whose
// visible area holds the point.
int expected_strip_pixel(int x, int y, int columns, int rows, int step)
{
    int c = x / step < columns - 1 ? x / step : columns - 1;
    int r = y / 5 < rows - 1 ? y / 5 : rows - 1;
    if (x > c * step + 5 || y > r * 5 + 5)
        return makecol32(0, 0, 0);
    const uint8_t *rgb = gradient_table[r][c];
    return makecol32(rgb[0], rgb[1], rgb[2]);
}

TEST_F(PaletteGradients, StripShowsEveryCellWithItsOverlaps)
{
    // Every cell a different colour, never black.
    for (int r = 0; r < GRADIENT_TABLE_ROWS; r++)
        for (int c = 0; c < GRADIENT_TABLE_COLUMNS; c++) {
            gradient_table[r][c][0] = uint8_t(r + 1);
            gradient_table[r][c][1] = uint8_t(c + 1);
            gradient_table[r][c][2] = uint8_t(r * c);
        }
    glb_cmap = create_bitmap_ex(32, CMAP_W, CMAP_H);
    ASSERT_NE(nullptr, glb_cmap);

    struct strip_case {
        int columns, rows, step;
    } cases[] = {{12, 116, 5}, {32, 79, 2}};
    for (const strip_case &k : cases) {
        clear_to_color(glb_cmap, makecol32(1, 2, 3));
        draw_cmaps(k.columns, k.rows, k.step);
        for (int y = 0; y < CMAP_H; y++)
            for (int x = 0; x < CMAP_W; x++)
                ASSERT_EQ(expected_strip_pixel(x, y, k.columns, k.rows, k.step),
                          getpixel(glb_cmap, x, y))
                    << k.columns << " columns at " << x << "," << y;
    }

    // The facts the layout promises, stated directly.
    const uint8_t *last = gradient_table[78][31];
    EXPECT_EQ(makecol32(last[0], last[1], last[2]), getpixel(glb_cmap, 63, 395));
    EXPECT_EQ(0, getpixel(glb_cmap, 63, 396));
    const uint8_t *col30 = gradient_table[0][30];
    EXPECT_EQ(makecol32(col30[0], col30[1], col30[2]), getpixel(glb_cmap, 61, 0));
    draw_cmaps(12, 116, 5);
    const uint8_t *c11 = gradient_table[115][11];
    EXPECT_EQ(makecol32(c11[0], c11[1], c11[2]), getpixel(glb_cmap, 55, 579));
    EXPECT_EQ(makecol32(c11[0], c11[1], c11[2]), getpixel(glb_cmap, 60, 579));
    for (int y = 0; y < CMAP_H; y++)
        for (int x = 61; x < 64; x++)
            ASSERT_EQ(0, getpixel(glb_cmap, x, y)) << x << "," << y;

    destroy_bitmap(glb_cmap);
    glb_cmap = nullptr;
}

} // namespace
