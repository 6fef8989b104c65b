// The remap and the state file (the gradients are checked with the data
// files, the panel with the screen, a failed state save with the export).
#include "support/screen_fixture.h"

#include "common/address_text.h"

using Palette = screen_test;

// remap_pixels run in a child, which must end with status 1: its output.
static std::string remap_in_child(gif_anim *anim)
{
    std::fflush(stdout);
    EXPECT_EXIT(
        {
            std::freopen("out.txt", "w", stdout);
            remap_pixels(anim, "pal.bin");
            std::exit(0);
        },
        testing::ExitedWithCode(1), "");
    std::vector<uint8_t> bytes = read_bytes("out.txt");
    return std::string(bytes.begin(), bytes.end());
}

// An animation of n frames, each with its own colour table, allocated as
// the loader does so that destroy_gif_anim frees it.
static gif_anim *make_remap_anim(int n)
{
    gif_anim *anim = static_cast<gif_anim *>(calloc(1, sizeof(gif_anim)));
    anim->num_frames = n;
    anim->num_palettes = n;
    anim->w = 70;
    anim->h = 40;
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

// A frame's bitmap and what the remap sees of it: bitmap width and height,
// frame width (the columns past it are not the frame's), the largest index
// and its row.
struct remap_shape {
    int bw, bh, fw, max, max_row;
};

// Each pixel becomes the first entry of its colour (entry 1 becomes 0); the
// trace shows each lookup up to the largest index, found in the first, a
// middle or the last row. Columns past the frame's width stay as they are.
TEST_F(Palette, RemapTakesTheFirstEntryOfEachColourAndTracesIt)
{
    std::mt19937 rng(21);
    // Few distinct colours, so most have several entries; 200 repeats 1.
    for (auto &entry : glb_palette)
        for (uint8_t &c : entry)
            c = uint8_t(rng() % 7);
    std::copy_n(glb_palette[1], 3, glb_palette[200]);
    const remap_shape shapes[] = {{33, 7, 33, 255, 0}, {16, 16, 16, 200, 8}, {1, 40, 1, 17, 39},
                                  {21, 9, 19, 254, 8}, {70, 3, 50, 90, 1},   {5, 5, 5, 0, 0},
                                  {0, 0, 0, 0, 0}};
    gif_anim *a = make_remap_anim(7);
    std::string trace = "gif_anim = " + format_address(a) + "\n# frame  = 7\n";
    std::vector<uint8_t *> pixels;
    std::vector<uint8_t> expected;
    for (int i = 0; i < 7; i++) {
        const remap_shape &shape = shapes[i];
        gif_frame &frame = a->frames[i];
        frame.w = uint16_t(shape.fw);
        frame.h = uint16_t(shape.bh);
        frame.pal = i;
        frame.trans = -1;
        if (shape.bw > 0)
            frame.bmp = create_checked_bitmap(8, shape.bw, shape.bh);
        uint8_t *table = a->palettes + 768 * i;
        for (int c = 0; c < 256; c++)
            std::copy_n(glb_palette[rng() % 256], 3, table + 3 * c);
        trace += "\nframe " + std::to_string(i) + "\n";
        for (int c = 0; c <= shape.max; c++) {
            int entry = find_first_entry(table + 3 * c);
            trace += "   color " + std::to_string(c) + "  --> " + std::to_string(entry) + "\n";
        }
        for (int y = 0; y < shape.bh; y++)
            for (int x = 0; x < shape.bw; x++) {
                int p = int(rng() % (shape.max + 1));
                if (y == shape.max_row && x == shape.fw - 1)
                    p = shape.max;
                if (x >= shape.fw)
                    p = 255;
                frame.bmp->line[y][x] = uint8_t(p);
                int entry = find_first_entry(table + 3 * p);
                pixels.push_back(&frame.bmp->line[y][x]);
                if (x >= shape.fw)
                    expected.push_back(uint8_t(p));
                else
                    expected.push_back(uint8_t(entry == 1 ? 0 : entry));
            }
    }
    testing::internal::CaptureStdout();
    remap_pixels(a, "pal.bin");
    EXPECT_EQ(testing::internal::GetCapturedStdout(), trace);
    for (size_t i = 0; i < pixels.size(); i++)
        ASSERT_EQ(*pixels[i], expected[i]) << "pixel " << i;
    destroy_gif_anim(a);
}

// A frame without a colour table, or with a colour the palette lacks, ends
// the process after its line; the hint names the nearest entry, the first
// of two equally near.
TEST_F(Palette, RemapEndsOnAFrameItCannotMap)
{
    gif_anim *a = make_remap_anim(1);
    a->frames[0].pal = -1;
    std::string head = "gif_anim = " + format_address(a) + "\n# frame  = 1\n\nframe 0\n";
    EXPECT_EQ(remap_in_child(a), head + "error : frame 0 has no color table\n");
    std::fill_n(glb_palette[5], 3, 20);
    std::fill_n(glb_palette[9], 3, 20);
    a->frames[0].pal = 0;
    a->palettes[0] = 21;
    a->palettes[1] = 20;
    a->palettes[2] = 20;
    std::string missing = "   color 0  --> error : frame 0, color 0 not found in glb palette\n"
                          "hint : recolour (21, 20, 20) with a colour of <pal.bin>; "
                          "the nearest is entry 5 (20, 20, 20)\n";
    EXPECT_EQ(remap_in_child(a), head + missing);
    destroy_gif_anim(a);
}

// The state file: bg2 rows then pst rows (each padded with 9s), 4 bytes
// each, little-endian.
static std::vector<uint8_t> state_bytes(std::vector<int32_t> rows, std::vector<int32_t> pst_rows)
{
    rows.resize(BG2_SLOTS, 9);
    pst_rows.resize(PST_SLOTS, 9);
    rows.insert(rows.end(), pst_rows.begin(), pst_rows.end());
    std::vector<uint8_t> bytes;
    for (int32_t row : rows)
        for (int k = 0; k < 4; k++)
            bytes.push_back(uint8_t(uint32_t(row) >> (8 * k)));
    return bytes;
}

static void write_state_file(const std::vector<uint8_t> &bytes)
{
    std::ofstream out("last_palshift.bin", std::ios::binary);
    out.write(reinterpret_cast<const char *>(bytes.data()), std::streamsize(bytes.size()));
}

// Loaded into tables of 9s, then saved with bg2's first row 33.
static std::vector<uint8_t> load_then_save()
{
    std::fill_n(palshift_bg2, BG2_SLOTS, 9);
    std::fill_n(palshift_pst, PST_SLOTS, 9);
    load_palshift_file();
    palshift_bg2[0] = 33;
    save_palshift_file();
    return read_bytes("last_palshift.bin");
}

// Rows out of range are clamped to their own data set's table: bg2 0..115,
// pst 0..78. A short file fills the tables from its start: 30 bytes give
// bg2's A slots (7 rows) and the low half of slot 7, whose high half keeps
// the zero bytes of its 9.
TEST_F(Palette, StateFileLoadThenSave)
{
    const int32_t lowest = -0x7FFFFFFF - 1;
    write_state_file(state_bytes({0, -5, 116, 0x7FFFFFFF, lowest, 115}, {79, 115, -1, 78}));
    EXPECT_EQ(load_then_save(), state_bytes({33, 0, 115, 115, 0, 115}, {78, 78, 0, 78}));
    std::vector<uint8_t> thirty = state_bytes({1, 2, 3, 4, 5, 6, 7, 0x7F000008}, {});
    thirty.resize(30);
    write_state_file(thirty);
    EXPECT_EQ(load_then_save(), state_bytes({33, 2, 3, 4, 5, 6, 7, 8}, {}));
}
