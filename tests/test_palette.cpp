// The remap and the state file (the gradients are checked with the data files, the panel with the screen).
#include "support/screen_fixture.h"

#include "common/address_text.h"

#include <csignal>
#include <sys/resource.h>

using Palette = screen_test;

// The standard output of statement, run in a child that must exit with status.
#define EXPECT_CHILD_OUTPUT(statement, status, output)                                                          \
    std::fflush(stdout);                                                                                        \
    EXPECT_EXIT((std::freopen("out.txt", "w", stdout), statement, std::exit(0)), testing::ExitedWithCode(status), ""); \
    EXPECT_EQ([](const std::string &text) { return std::vector<uint8_t>(text.begin(), text.end()); }(output), read_bytes("out.txt"))

// Each pixel becomes the first entry of its colour (entry 1 becomes 0); the trace shows
// each lookup up to the largest index, once in the first, a middle or the last row. A
// frame without a table ends the process.
TEST_F(Palette, RemapTakesTheFirstEntryOfEachColourAndTracesIt)
{
    std::mt19937 rng(21);
    std::generate_n(glb_palette[0], 768, [&] { return rng() % 7; });
    std::copy_n(glb_palette[1], 3, glb_palette[200]);
    // Bitmap width and height, frame width, largest index and its row.
    const int shapes[][5] = {{33, 7, 33, 255, 0}, {16, 16, 16, 200, 8}, {1, 40, 1, 17, 39}, {21, 9, 19, 254, 8},
                             {70, 3, 50, 90, 1},  {5, 5, 5, 0, 0},       {0, 0, 0, 0, 0}};
    gif_anim *a = static_cast<gif_anim *>(calloc(1, sizeof(gif_anim)));
    *a = {7, 7, 70, 40, static_cast<gif_frame *>(calloc(7, sizeof(gif_frame))), static_cast<uint8_t *>(calloc(7, 768))};
    std::string trace = "gif_anim = " + format_address(a) + "\n# frame  = 7\n";
    std::vector<std::pair<uint8_t *, int>> expected; // each pixel and what it must become
    for (int i = 0; i < 7; i++) {
        auto [bw, bh, fw, max, max_row] = shapes[i];
        BITMAP *bmp = bw ? create_checked_bitmap(8, bw, bh) : nullptr;
        a->frames[i] = {{0, 0}, uint16_t(fw), uint16_t(bh), i, -1, 0, bmp};
        for (int c = 0; c < 256; c++)
            std::copy_n(glb_palette[rng() % 256], 3, a->palettes + 768 * i + 3 * c);
        auto first = [&](int c) { return int(std::find_if(glb_palette, glb_palette + 256, [&](uint8_t *e) {
                                      return !memcmp(e, a->palettes + 768 * i + 3 * c, 3); }) - glb_palette); };
        trace += "\nframe " + std::to_string(i) + "\n";
        for (int c = 0; c <= max; c++)
            trace += "   color " + std::to_string(c) + "  --> " + std::to_string(first(c)) + "\n";
        for (int y = 0; y < bh; y++)
            for (int x = 0; x < bw; x++) {
                int p = bmp->line[y][x] = y == max_row && x == fw - 1 ? max : x >= fw ? 255 : rng() % (max + !max);
                expected.push_back({&bmp->line[y][x], x >= fw ? p : first(p) == 1 ? 0 : first(p)});
            }
    }
    testing::internal::CaptureStdout();
    remap_pixels(a);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), trace);
    for (auto [pixel, value] : expected)
        ASSERT_EQ(*pixel, value);
    destroy_gif_anim(a);
    a = static_cast<gif_anim *>(calloc(1, sizeof(gif_anim)));
    *a = {1, 1, 1, 1, static_cast<gif_frame *>(calloc(1, sizeof(gif_frame))), static_cast<uint8_t *>(calloc(1, 768))};
    a->frames[0].pal = -1;
    EXPECT_CHILD_OUTPUT(remap_pixels(a), 1, ("gif_anim = " + format_address(a) + "\n# frame  = 1\n\nframe 0\nerror : frame 0 has no color table\n"));
    // A colour the palette lacks: its line, then the nearest entry, the first of two equal ones.
    std::fill_n(glb_palette[5], 3, 20), std::fill_n(glb_palette[9], 3, 20), glb_palette_file = "pal.bin";
    std::copy_n(glb_palette[5], 3, a->palettes), a->palettes[0] = 21, a->frames[0].pal = 0;
    EXPECT_CHILD_OUTPUT(remap_pixels(a), 1, ("gif_anim = " + format_address(a) + "\n# frame  = 1\n\nframe 0\n   color 0  --> error : frame 0, color 0 not found in glb palette\n"
                                             "hint : recolour (21, 20, 20) with a colour of <pal.bin>; the nearest is entry 5 (20, 20, 20)\n"));
    destroy_gif_anim(a);
}

// The state file: bg2 rows then pst rows (each padded with 9s), 4 bytes each.
static std::vector<uint8_t> state_bytes(std::vector<int32_t> rows, const std::vector<int32_t> &pst_rows)
{
    rows.resize(BG2_SLOTS, 9), rows.insert(rows.end(), pst_rows.begin(), pst_rows.end()), rows.resize(BG2_SLOTS + PST_SLOTS, 9);
    std::vector<uint8_t> bytes(4 * rows.size());
    for (size_t i = 0; i < bytes.size(); i++)
        bytes[i] = uint8_t(uint32_t(rows[i / 4]) >> (8 * (i % 4)));
    return bytes;
}

// Loaded into tables of 9s, saved with bg2's first row 33: rows out of range are clamped,
// 30 bytes set bg2 slots 0..6 and the low half of 7. A failed save keeps the old file.
TEST_F(Palette, StateFileLoadThenSave)
{
    std::vector<uint8_t> thirty = state_bytes({1, 2, 3, 4, 5, 6, 7, 0x7F000008}, {});
    thirty.resize(30);
    for (const auto &[file, saved] : {std::pair(state_bytes({0, -5, 116, 0x7FFFFFFF, -0x7FFFFFFF - 1, 115}, {79, 115, -1, 78}),
                                                state_bytes({33, 0, 115, 115, 0, 115}, {78, 78, 0, 78})),
                                      {thirty, state_bytes({33, 2, 3, 4, 5, 6, 7, 8}, {})}}) {
        std::ofstream("last_palshift.bin").write(reinterpret_cast<const char *>(file.data()), file.size());
        std::fill_n(palshift_bg2, BG2_SLOTS, 9), std::fill_n(palshift_pst, PST_SLOTS, 9);
        load_palshift_file(), palshift_bg2[0] = 33, save_palshift_file();
        EXPECT_EQ(saved, read_bytes("last_palshift.bin")) << file.size() << " bytes";
    }
    rlimit limit = {100, 100};
    EXPECT_CHILD_OUTPUT((palshift_bg2[0] = 1, signal(SIGXFSZ, SIG_IGN), setrlimit(RLIMIT_FSIZE, &limit), save_palshift_file()), 0,
                        "can't write <last_palshift.bin>\n");
    EXPECT_EQ(read_bytes("last_palshift.bin").at(0), 33);
}
