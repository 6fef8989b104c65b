// The palette engine: the global palette and the remap of frame pixels, the
// gradient strip, the tint panel with the palettes it composes, and the
// selection state file. Expected values come from the bytes and bitmaps each
// test writes and from the slot tables, drawn anew here.
#include "display/screen.h"
#include "common/address_text.h"
#include "common/checked_bitmap.h"
#include "gif/gif_anim.h"
#include "palette/data_set.h"
#include "palette/global_palette.h"
#include "palette/gradients.h"
#include "palette/tint_slots.h"
#include "support/library_reference.h"
#include "support/palette_fixtures.h"

#include <algorithm>
#include <allegro.h>
#include <array>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <iterator>
#include <random>
#include <sys/resource.h>
#include <tuple>

namespace {

// Each test runs in a fresh directory under /tmp, removed afterwards.
struct Palette : ::testing::Test {
    std::string dir;
    void SetUp() override
    {
        init_palette_test_library();
        char path[] = "/tmp/huesmith_palette_XXXXXX";
        ASSERT_TRUE(mkdtemp(path) && chdir(path) == 0);
        dir = path;
    }
    void TearDown() override
    {
        if (!dir.empty() && chdir("/tmp") == 0)
            std::filesystem::remove_all(dir);
    }
};

bool write_bytes(const char *path, const std::vector<uint8_t> &bytes)
{
    std::ofstream out(path, std::ios::binary);
    return bool(out.write(reinterpret_cast<const char *>(bytes.data()), std::streamsize(bytes.size())).flush());
}

std::vector<uint8_t> read_bytes(const char *path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

uint32_t get_rgb(const uint8_t *p)
{
    return uint32_t(p[0] << 16 | p[1] << 8 | p[2]);
}

void set_rgb(uint8_t *p, uint32_t rgb)
{
    p[0] = uint8_t(rgb >> 16);
    p[1] = uint8_t(rgb >> 8);
    p[2] = uint8_t(rgb);
}

// The colour of gradient cell (row y, column x) in the test bitmaps.
uint32_t test_rgb(int x, int y)
{
    return uint32_t((x * 7 + 1) & 255) << 16 | uint32_t((y * 2 + 3) & 255) << 8 | uint32_t((x * 31 + y * 5) & 255);
}

int make_color(int depth, uint32_t rgb)
{
    return makecol_depth(depth, rgb >> 16, (rgb >> 8) & 255, rgb & 255);
}

// A 24-bit BMP of w x h test_rgb cells.
bool write_gradient_bmp(const char *path, int w, int h)
{
    BITMAP *bmp = create_checked_bitmap(24, w, h);
    for (int i = 0; bmp && i < w * h; i++)
        putpixel(bmp, i % w, i / w, make_color(24, test_rgb(i % w, i / w)));
    bool ok = bmp && save_bmp(path, bmp, nullptr) == 0;
    destroy_bitmap(bmp); // takes null
    return ok;
}

// A record as the reader leaves it: two palette slots and two frames of
// w x h pixels, all 0, frame i coloured by slot i.
gif_anim *make_test_anim(int w, int h)
{
    gif_anim *anim = static_cast<gif_anim *>(calloc(1, sizeof(gif_anim)));
    anim->num_frames = anim->num_palettes = 2;
    anim->frames = static_cast<gif_frame *>(calloc(2, sizeof(gif_frame)));
    anim->palettes = static_cast<uint8_t *>(calloc(2, GIF_PALETTE_BYTES));
    for (int i = 0; i < 2; i++) {
        anim->frames[i] = {{0, 0}, uint16_t(w), uint16_t(h), i, -1, 0, create_checked_bitmap(8, w, h)};
        clear_bitmap(anim->frames[i].bmp);
    }
    return anim;
}

// Every pixel keeps its colour through glb_palette, except colours whose
// first match is entry 1, which become 0; the later copies of entries 1
// and 3 at 200 and 90 never win. Each slot has entries 1..3's colours at
// every eighth index; every fifth pixel is 0.
TEST_F(Palette, RemapKeepsEveryPixelsColour)
{
    std::mt19937 rng(7);
    for (int e = 0; e < 256; e++)
        set_rgb(glb_palette[e], uint32_t(e << 16 | (255 - e) << 8) | (rng() & 255));
    memcpy(glb_palette[200], glb_palette[1], 3);
    memcpy(glb_palette[90], glb_palette[3], 3);
    const int w = 17, h = 9;
    gif_anim *anim = make_test_anim(w, h);
    auto pixel = [&](int p) -> uint8_t & { return anim->frames[p / (w * h)].bmp->line[p % (w * h) / w][p % w]; };
    for (int c = 0; c < 512; c++)
        memcpy(anim->palettes + 3 * c, glb_palette[c % 8 == 0 ? 1 + c % 3 : rng() % 256], 3);
    auto original = [](int p) { return p % 5 ? (p * 97 + 11) % 256 : 0; };
    auto color_before = [&](int p) { return get_rgb(anim->palettes + 3 * (p / (w * h) * 256 + original(p))); };
    for (int p = 0; p < 2 * w * h; p++)
        pixel(p) = uint8_t(original(p));
    testing::internal::CaptureStdout();
    remap_pixels(anim);
    testing::internal::GetCapturedStdout();
    for (int p = 0; p < 2 * w * h; p++)
        ASSERT_TRUE(color_before(p) == get_rgb(glb_palette[1]) ? pixel(p) == 0
                        : color_before(p) == get_rgb(glb_palette[pixel(p)]) && pixel(p) != 90 && pixel(p) != 200)
            << "pixel " << p << " became " << int(pixel(p));
    destroy_gif_anim(anim);
}

// Every frame bitmap's pixels, row after row.
std::vector<uint8_t> copy_frame_pixels(const gif_anim *anim)
{
    std::vector<uint8_t> pixels;
    for (int i = 0; i < anim->num_frames; i++)
        for (int y = 0; anim->frames[i].bmp && y < anim->frames[i].bmp->h; y++)
            pixels.insert(pixels.end(), anim->frames[i].bmp->line[y], anim->frames[i].bmp->line[y] + anim->frames[i].bmp->w);
    return pixels;
}

void paste_frame_pixels(gif_anim *anim, const std::vector<uint8_t> &pixels)
{
    size_t at = 0;
    for (int i = 0; i < anim->num_frames; i++)
        for (int y = 0; anim->frames[i].bmp && y < anim->frames[i].bmp->h; y++, at += size_t(anim->frames[i].bmp->w))
            memcpy(anim->frames[i].bmp->line[y], &pixels[at], size_t(anim->frames[i].bmp->w));
}

// remap_pixels against the plain search (support/library_reference): the
// same trace and pixels. glb_palette repeats colours, entry 1's among them;
// each frame has its own palette slot. Widths are no multiple of the row
// loops' steps; the largest index, once only, sits in the first, a middle
// or the last row, with 255 in a wider bitmap past the frame's width; one
// frame is all 0 and one has no bitmap.
TEST_F(Palette, RemapMatchesThePlainSearch)
{
    std::mt19937 rng(21);
    for (auto &entry : glb_palette)
        set_rgb(entry, rng() % 64 * 0x040404u + rng() % 3);
    for (auto [copy, of] : {std::pair(77, 1), {6, 5}, {255, 0}, {2, 200}})
        memcpy(glb_palette[copy], glb_palette[of], 3);
    // Bitmap width and height, the frame's width, the largest index and its row.
    const int frames[][5] = {{33, 7, 33, 255, 0}, {16, 16, 16, 200, 8}, {1, 40, 1, 17, 39}, {21, 9, 19, 255, 8},
                             {70, 3, 50, 90, 1},  {5, 5, 5, 0, 0},       {0, 0, 0, 0, 0}};
    const int n = int(std::size(frames));
    gif_anim *anim = static_cast<gif_anim *>(calloc(1, sizeof(gif_anim)));
    *anim = {n, n, 70, 40, static_cast<gif_frame *>(calloc(n, sizeof(gif_frame))),
             static_cast<uint8_t *>(calloc(n, GIF_PALETTE_BYTES))};
    for (int c = 0; c < n * 256; c++)
        memcpy(anim->palettes + 3 * c, glb_palette[rng() % 256], 3);
    for (int i = 0; i < n; i++) {
        auto [bw, bh, fw, max, max_row] = frames[i];
        BITMAP *bmp = bw ? create_checked_bitmap(8, bw, bh) : nullptr;
        anim->frames[i] = {{0, 0}, uint16_t(fw), uint16_t(bh), i, -1, 0, bmp};
        for (int y = 0; y < bh; y++)
            for (int x = 0; x < bw; x++)
                bmp->line[y][x] = x >= fw ? 255 : uint8_t(rng() % (max + !max));
        if (bmp)
            bmp->line[max_row][fw - 1] = uint8_t(max);
    }
    std::vector<uint8_t> before = copy_frame_pixels(anim);
    testing::internal::CaptureStdout();
    remap_pixels(anim);
    std::string trace = testing::internal::GetCapturedStdout();
    std::vector<uint8_t> after = copy_frame_pixels(anim);
    paste_frame_pixels(anim, before);
    testing::internal::CaptureStdout();
    remap_pixels_by_search(anim);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), trace);
    EXPECT_EQ(copy_frame_pixels(anim), after);
    EXPECT_NE(after, before);
    destroy_gif_anim(anim);
}

// The palette file gives entry e the colour (e, 1, 2) and entry 200 (1, 1, 2)
// again, but ends after 700 bytes: entries from 234 on read white. Frame 0
// (pixels 0, 2, 2, 0) has the colours (1, 1, 2), white, (42, 1, 2): all
// three are looked up, the first matching entry 1. Frame 1 has the colours
// (20 + c, 1, 2) and one pixel 5, so colours 0..5 are looked up.
TEST_F(Palette, RemapTraceAndTheRunsThatEnd)
{
    std::vector<uint8_t> file;
    for (int i = 0; i < 700; i++)
        file.push_back(uint8_t(i % 3 ? i % 3 : i == 600 ? 1 : i / 3));
    ASSERT_TRUE(write_bytes("pal.bin", file) && load_glb_palette("pal.bin"));
    const std::string upto3 = "   color 0  --> 20\n   color 1  --> 21\n   color 2  --> 22\n   color 3  --> ";
    // Frame 1's palette slot, its colour that no entry holds (or -1), the
    // exit status and the trace after "frame 1".
    for (const auto &[pal, missing, status, tail] : std::vector<std::tuple<int, int, int, std::string>>{
             {1, -1, 0, upto3 + "23\n   color 4  --> 24\n   color 5  --> 25\n"},
             {1, 3, 1, upto3 + "error : frame 1, color 3 not found in glb palette\n"},
             {-1, -1, 1, "error : frame 1 has no color table\n"}}) {
        const uint8_t frame0_colors[9] = {1, 1, 2, 255, 255, 255, 42, 1, 2};
        gif_anim *anim = make_test_anim(2, 2);
        memcpy(anim->palettes, frame0_colors, 9);
        for (int c = 0; c < 256; c++)
            set_rgb(anim->palettes + 768 + 3 * c, c == missing ? 0x010101 : uint32_t((20 + c) << 16 | 0x102));
        anim->frames[0].bmp->line[0][1] = anim->frames[0].bmp->line[1][0] = 2;
        anim->frames[1].bmp->line[1][1] = 5;
        anim->frames[1].pal = pal;
        child_run run = run_in_child([&] { remap_pixels(anim); });
        EXPECT_EQ(status, run.status) << tail;
        EXPECT_EQ("gif_anim = " + format_address(anim) + "\n# frame  = 2\n\nframe 0\n   color 0  --> 1\n"
                  "   color 1  --> 234\n   color 2  --> 42\n\nframe 1\n" + tail, run.output);
        destroy_gif_anim(anim);
    }
}

// Cell (r, c) is a 6 x 6 square at (c * step, 5 * r) drawn over the ones
// before it, so a pixel shows the last cell whose square holds it, or black.
// Both bitmaps are too small for their table, in rows (bg2) or columns (pst):
// the cells they lack read black.
TEST_F(Palette, GradientStripOfBothDataSets)
{
    ASSERT_NE(nullptr, glb_cmap = create_checked_bitmap(32, CMAP_W, CMAP_H));
    for (auto [columns, rows, step, bitmap_w, bitmap_h] : {std::array{12, 116, 5, 40, 100}, {32, 79, 2, 20, 100}}) {
        ASSERT_TRUE(write_gradient_bmp("g.bmp", bitmap_w, bitmap_h) && load_cmaps("g.bmp", columns, rows));
        clear_to_color(glb_cmap, makecol32(1, 2, 3));
        draw_cmaps(columns, rows, step);
        for (int y = 0; y < CMAP_H; y++)
            for (int x = 0; x < CMAP_W; x++) {
                int c = std::min(x / step, columns - 1), r = std::min(y / 5, rows - 1);
                bool covered = x <= c * step + 5 && y <= 5 * r + 5, lit = c < bitmap_w && r < bitmap_h;
                ASSERT_EQ(covered && lit ? make_color(32, test_rgb(c, r)) : 0, getpixel(glb_cmap, x, y))
                    << columns << " columns at " << x << "," << y;
            }
    }
    destroy_bitmap(glb_cmap);
    glb_cmap = nullptr;
}

// The panel and the 8-bit palette that the slot tables describe, drawn into
// ref; an entry that no table reaches stays 0xFFFFFFFF.
std::vector<uint32_t> draw_expected_panel(BITMAP *ref, bool is_pst, const int32_t *rows, int selected,
                                          const std::vector<uint8_t> &file)
{
    std::vector<uint32_t> pal(256, 0xFFFFFFFF);
    pal[0] = 0xAAAAAA;
    for (int e = 1; e <= (is_pst ? 127 : 3); e++)
        pal[e] = get_rgb(&file[3 * e]);
    int white = makecol32(255, 255, 255), a_count = is_pst ? 4 : 7;
    clear_bitmap(ref);
    for (int s = 0; s < (is_pst ? 8 : 28); s++) {
        bool a = s < a_count;
        int y = a ? 15 + 20 * s : 35 + 20 * s, n = is_pst ? (a ? 16 : 32) : (a ? 12 : 8);
        int first = is_pst ? (a ? std::array{16, 32, 64, 80}[s] : 32 * s) : (a ? 4 + 12 * s : 32 + 8 * s);
        int step = is_pst ? (a ? 15 : 7) : 20, right = is_pst ? (a ? 13 : 5) : 18;
        textprintf_ex(ref, font, 300, y, white, -1, "%s %3i : color %c%i", s == selected ? "-->" : "   ", rows[s],
                      a ? 'A' : 'B', a ? s + 1 : s - a_count + 1);
        for (int c = 0; c < n; c++) {
            // bg2 B slots take columns 0, 1, 3, 4, 6, 7, 9, 10; pst A every second.
            pal[first + c] = test_rgb(is_pst ? (a ? 2 * c : c) : (a ? c : c + c / 2), rows[s]);
            rectfill(ref, 460 + step * c, y - 7, 460 + step * c + right, y + 11, make_color(32, pal[first + c]));
        }
    }
    textout_ex(ref, font, ">", 717, 5 * rows[selected] + 14, white, -1);
    textout_ex(ref, font, "<", is_pst ? 791 : 787, 5 * rows[selected] + 14, white, -1);
    return pal;
}

// glb_palette comes from a file of random bytes; the unselected rows are random.
TEST_F(Palette, PanelPalettesAndPixelsOfBothDataSets)
{
    std::mt19937 rng(11);
    std::vector<uint8_t> file(768);
    std::generate(file.begin(), file.end(), std::ref(rng));
    ASSERT_TRUE(write_bytes("pal.bin", file) && load_glb_palette("pal.bin") && write_gradient_bmp("g.bmp", 32, 116));
    BITMAP *ref = create_checked_bitmap(32, BUFFER_W, BUFFER_H);
    ASSERT_TRUE((glb_buffer = create_checked_bitmap(32, BUFFER_W, BUFFER_H)) && ref);
    for (auto [is_pst, selected, row] : {std::tuple(false, 0, 0), {false, 27, 115}, {true, 7, 78}, {true, 2, 5}}) {
        const data_set &set = is_pst ? pst : bg2;
        ASSERT_TRUE(load_cmaps("g.bmp", set.gradient_columns, set.gradient_rows));
        int32_t *rows = active_palshift(set);
        for (int s = 0; s < (is_pst ? 8 : 28); s++)
            rows[s] = s == selected ? row : int32_t(rng() % (is_pst ? 79 : 116));
        glb_slot = selected;
        clear_bitmap(glb_buffer);
        draw_tint_panel(set);
        std::vector<uint32_t> pal = draw_expected_panel(ref, is_pst, rows, selected, file);
        for (int e = 0; e < 256; e++) {
            const RGB &d = display_palette[e];
            ASSERT_EQ(pal[e], get_rgb(working_palette[e])) << set.palette_file << " entry " << e;
            ASSERT_EQ(pal[e] >> 2 & 0x3F3F3F, uint32_t(d.filler << 24 | d.r << 16 | d.g << 8 | d.b)) << e;
        }
        for (int y = 0; y < BUFFER_H; y++)
            for (int x = 0; x < BUFFER_W; x++)
                ASSERT_EQ(getpixel(ref, x, y), getpixel(glb_buffer, x, y)) << set.palette_file << " " << x << "," << y;
    }
    destroy_bitmap(ref);
    destroy_bitmap(glb_buffer);
    glb_buffer = nullptr;
}

// The state file image of bg2 rows, then pst rows (each list padded with
// 9s), every row as four little-endian bytes.
std::vector<uint8_t> state_bytes(std::vector<int32_t> bg2_rows, const std::vector<int32_t> &pst_rows)
{
    bg2_rows.resize(BG2_SLOTS, 9);
    bg2_rows.insert(bg2_rows.end(), pst_rows.begin(), pst_rows.end());
    bg2_rows.resize(BG2_SLOTS + PST_SLOTS, 9);
    std::vector<uint8_t> bytes;
    for (int32_t v : bg2_rows)
        for (int shift = 0; shift < 32; shift += 8)
            bytes.push_back(uint8_t(uint32_t(v) >> shift));
    return bytes;
}

// Each file is loaded into tables of 9s by a bg2 run that sets its first row
// to 33 and saves: the saved file shows what was read, the pst rows as they
// were. Rows out of their own data set's range are clamped; 30 bytes set bg2
// slots 0..6 and the two low-order bytes of slot 7, whose high-order ones
// would put it out of range.
TEST_F(Palette, StateFileLoadThenSave)
{
    std::vector<uint8_t> whole = state_bytes({33, 115, 0, 114, 1, 113, 2, 112, 3, 111, 4, 110, 5, 109, 6, 108, 7, 107,
                                              8, 106, 9, 105, 10, 104, 11, 103, 12, 102},
                                             {70, 71, 72, 73, 74, 75, 76, 77});
    std::vector<uint8_t> thirty = state_bytes({1, 2, 3, 4, 5, 6, 7, 0x7F000008}, {});
    thirty.resize(30);
    for (const auto &[file, saved] : {std::pair(whole, whole),
                                      {state_bytes({0, -5, 116, 0x7FFFFFFF, -0x7FFFFFFF - 1, 115}, {79, 115, -1, 78}),
                                       state_bytes({33, 0, 115, 115, 0, 115}, {78, 78, 0, 78})},
                                      {thirty, state_bytes({33, 2, 3, 4, 5, 6, 7, 8}, {})}}) {
        ASSERT_TRUE(write_bytes("last_palshift.bin", file));
        std::fill_n(palshift_bg2, BG2_SLOTS, 9);
        std::fill_n(palshift_pst, PST_SLOTS, 9);
        load_palshift_file();
        palshift_bg2[0] = 33;
        save_palshift_file();
        EXPECT_EQ(saved, read_bytes("last_palshift.bin")) << file.size() << " bytes";
    }
}

// A child whose files may not grow past 100 bytes cannot write the 144.
TEST_F(Palette, FailedStateSaveKeepsTheOldFileAndWarns)
{
    std::vector<uint8_t> old = state_bytes({4}, {4});
    ASSERT_TRUE(write_bytes("last_palshift.bin", old));
    child_run run = run_in_child([] {
        signal(SIGXFSZ, SIG_IGN);
        struct rlimit limit = {100, 100};
        setrlimit(RLIMIT_FSIZE, &limit);
        save_palshift_file();
    });
    EXPECT_EQ(0, run.status);
    EXPECT_EQ("can't write <last_palshift.bin>\n", run.output);
    EXPECT_EQ(old, read_bytes("last_palshift.bin"));
}

} // namespace
