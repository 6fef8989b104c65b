// The remap and the state file (a failed state save is checked with the export).
#include "support/screen_fixture.h"
#include "support/shell.h"

#include "common/address_text.h"

using Palette = screen_test;

// n frames with a colour table each, allocated so that destroy_gif_anim frees them.
static gif_anim *make_remap_anim(int n)
{
    gif_anim *anim = static_cast<gif_anim *>(calloc(1, sizeof(gif_anim)));
    anim->num_frames = n;
    anim->num_palettes = n;
    anim->frames = static_cast<gif_frame *>(calloc(n, sizeof(gif_frame)));
    anim->palettes = static_cast<uint8_t *>(calloc(n, 768));
    return anim;
}

// The first glb_palette entry with the colour, by a plain search.
static int find_first_entry(const uint8_t *rgb)
{
    for (int e = 0; e < 256; e++)
        if (memcmp(glb_palette[e], rgb, 3) == 0)
            return e;
    return -1;
}

// Each pixel becomes the first entry of its colour in its frame's table (entry 1 becomes 0).
TEST_F(Palette, RemapTakesTheFirstEntryOfEachColour)
{
    std::mt19937 rng(21);
    // Few distinct colours, so most have several entries; 200 repeats 1.
    for (auto &entry : glb_palette)
        for (uint8_t &c : entry)
            c = uint8_t(rng() % 7);
    std::copy_n(glb_palette[1], 3, glb_palette[200]);
    // Width, height and the largest index.
    const int shapes[][3] = {{33, 7, 255}, {16, 16, 200}, {1, 40, 17}};
    gif_anim *a = make_remap_anim(3);
    std::vector<uint8_t *> pixels;
    std::vector<uint8_t> expected;
    for (int i = 0; i < 3; i++) {
        const int w = shapes[i][0];
        const int h = shapes[i][1];
        gif_frame &frame = a->frames[i];
        frame.w = uint16_t(w);
        frame.h = uint16_t(h);
        frame.pal = i;
        frame.bmp = create_checked_bitmap(8, w, h);
        uint8_t *table = a->palettes + 768 * i;
        for (int c = 0; c < 256; c++)
            std::copy_n(glb_palette[rng() % 256], 3, table + 3 * c);
        for (int y = 0; y < h; y++) {
            for (int x = 0; x < w; x++) {
                int p = int(rng() % unsigned(shapes[i][2] + 1));
                frame.bmp->line[y][x] = uint8_t(p);
                int entry = find_first_entry(table + 3 * p);
                pixels.push_back(&frame.bmp->line[y][x]);
                expected.push_back(uint8_t(entry == 1 ? 0 : entry));
            }
        }
    }
    remap_pixels(a, "pal.bin");
    for (size_t i = 0; i < pixels.size(); i++)
        ASSERT_EQ(*pixels[i], expected[i]) << "pixel " << i;
    destroy_gif_anim(a);
}

// A colour the palette lacks ends the process (status 1) after its line;
// the hint names the nearest entry, the first of two equally near.
TEST_F(Palette, RemapEndsOnAColourThePaletteLacks)
{
    gif_anim *a = make_remap_anim(1);
    std::fill_n(glb_palette[5], 3, 20);
    std::fill_n(glb_palette[9], 3, 20);
    a->palettes[0] = 21;
    a->palettes[1] = 20;
    a->palettes[2] = 20;
    std::fflush(stdout);
    EXPECT_EXIT(
        {
            std::freopen("out.txt", "w", stdout);
            remap_pixels(a, "pal.bin");
            std::exit(0);
        },
        testing::ExitedWithCode(1), "");
    std::string said = "gif_anim = " + format_address(a) + "\n# frame  = 1\n\nframe 0\n"
                       "   color 0  --> error : frame 0, color 0 not found in glb palette\n"
                       "hint : recolour (21, 20, 20) with a colour of <pal.bin>; "
                       "the nearest is entry 5 (20, 20, 20)\n";
    EXPECT_EQ(read_file("out.txt"), said);
    destroy_gif_anim(a);
}

// A state file: bg2 then pst rows (padded with 9s), 4 bytes each, little-endian.
static std::string state_bytes(std::vector<int32_t> rows, std::vector<int32_t> pst_rows)
{
    rows.resize(BG2_SLOTS, 9);
    pst_rows.resize(PST_SLOTS, 9);
    rows.insert(rows.end(), pst_rows.begin(), pst_rows.end());
    std::string bytes;
    for (int32_t row : rows)
        for (int k = 0; k < 4; k++)
            bytes.push_back(char(uint32_t(row) >> (8 * k)));
    return bytes;
}

// Rows out of range are clamped to their own data set's table as they are
// loaded: bg2 0..115, pst 0..78.
TEST_F(Palette, StateFileRowsOutOfRangeAreClamped)
{
    std::ofstream("last_palshift.bin", std::ios::binary)
        << state_bytes({0, -5, 116, INT32_MAX, INT32_MIN, 115}, {79, 115, -1});
    load_palshift_file();
    save_palshift_file();
    EXPECT_EQ(read_file("last_palshift.bin"), state_bytes({0, 0, 115, 115, 0, 115}, {78, 78, 0}));
}
