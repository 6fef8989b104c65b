// Frame export: file sizes, every frame assembled alone, the exact palette
// patched at its offsets, and faults that must not touch the wrong file.
#include "support/library_reference.h"
#include "support/screen_fixture.h"

#include <random>

static uint32_t read_le32(const std::vector<uint8_t> &b, size_t at)
{
    return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | uint32_t(b[at + 3]) << 24;
}

// working_palette as a PCX colour table (red, green, blue) or a BMP one (blue, green, red, 0).
static std::vector<uint8_t> palette_bytes(bool pcx)
{
    std::vector<uint8_t> out;
    for (const uint8_t *rgb : working_palette)
        pcx ? out.insert(out.end(), rgb, rgb + 3) : out.insert(out.end(), {rgb[2], rgb[1], rgb[0], 0});
    return out;
}

// Frame 0: a 3 x 2 block of 5 at (1, 1) with a hole of index 0; frame 1: a
// 3 x 2 block of 7 reaching one column and one row past the bottom-right corner.
static int expected_index(int frame, int w, int h, int x, int y)
{
    if (frame == 0)
        return x >= 1 && x <= 3 && y >= 1 && y <= 2 && !(x == 2 && y == 1) ? 5 : 0;
    return x >= w - 2 && y >= h - 1 ? 7 : 0;
}

using ExportTest = screen_test;

static void make_two_frames(screen_test &t, int w, int h)
{
    t.make_anim(w, h, 2);
    putpixel(t.add_frame(0, 1, 1, 3, 2, 5), 1, 0, 0);
    t.add_frame(1, w - 2, h - 1, 3, 2, 7);
}

// A saved frame of a w x h screen: 8 bits, file_w x file_h, the pixels of
// frame i alone, sampled from the screen, and the exact palette where its
// format keeps it.
static void expect_frame_file(int i, bool pcx, int w, int h, int file_w, int file_h)
{
    std::string name = std::string("frame00") + char('0' + i) + (pcx ? ".pcx" : ".bmp");
    std::vector<uint8_t> b = read_screen_file(name), table = palette_bytes(pcx);
    ASSERT_GE(b.size(), pcx ? 769u : 1078u) << name;
    size_t at = pcx ? b.size() - 768 : 54;
    // The PCX marker 12, or the BMP's 40-byte info header whose last byte stays 0.
    EXPECT_EQ(pcx ? b[at - 1] : read_le32(b, 14) + b[53], pcx ? 12u : 40u) << name;
    EXPECT_TRUE(std::equal(table.begin(), table.end(), b.begin() + at)) << name;
    PALETTE ignored;
    BITMAP *bmp = load_bitmap(name.c_str(), ignored);
    ASSERT_TRUE(bmp) << name;
    EXPECT_EQ(std::make_tuple(bitmap_color_depth(bmp), bmp->w, bmp->h), std::make_tuple(8, file_w, file_h)) << name;
    for (int y = 0; y < bmp->h; y++)
        for (int x = 0; x < bmp->w; x++)
            EXPECT_EQ(getpixel(bmp, x, y), expected_index(i, w, h, x * w / file_w, y * h / file_h))
                << name << " " << x << "," << y;
    destroy_bitmap(bmp);
}

TEST_F(ExportTest, SaveKeyWritesScaledFramesWithOldPaletteAndNewRow)
{
    // Shift held: with plus the zoom steps by 1 before the export.
    const struct { int w, h, zoom, plus, pcx, file_w, file_h; } cases[] = {
        {6, 4, 200, 1, 0, 12, 8}, {6, 4, 100, 0, 1, 6, 4}, {120, 80, 250, 0, 0, 300, 200},
        {120, 80, 1, 0, 1, 1, 1}, {100, 100, 33, 1, 0, 33, 33}};
    for (const auto &c : cases) {
        make_two_frames(*this, c.w, c.h);
        key[KEY_S] = key[KEY_RIGHT] = key[KEY_LSHIFT] = 1;
        key[KEY_EQUALS] = c.plus;
        std::tie(glb_zoom, glb_slot, palshift_bg2[2], pcx_flag) = std::make_tuple(c.zoom - c.plus, 2, 40, c.pcx);
        handle_keys(&anim, bg2);
        std::vector<uint8_t> state = read_screen_file("last_palshift.bin");
        EXPECT_EQ(state.size() == 144 ? read_le32(state, 8) : 0, 41u);
        for (int i = 0; i < 2; i++)
            expect_frame_file(i, c.pcx, c.w, c.h, c.file_w, c.file_h);
    }
}

TEST_F(ExportTest, PatchesWriteAtTheTableOrLeaveOddFilesAlone)
{
    // header: the info header size a BMP states; marker: where byte 12 goes;
    // patched: the table's offset, or -1 for a file that must stay untouched.
    const struct { const char *name; size_t length; uint32_t header; int marker, patched; } cases[] = {
        {"v5.bmp", 14 + 124 + 1024 + 8, 124, -1, 138}, {"wide.bmp", 1078, 2000, -1, -1},
        {"short.bmp", 1077, 40, -1, -1},               {"core.bmp", 2000, 12, -1, -1},
        {"wrap.bmp", 4096, 0xFFFFFFF0u, -1, -1},       {"tiny.bmp", 16, 0, -1, -1},
        {"ok.pcx", 1000, 0, 231, 232},                 {"nomark.pcx", 1000, 0, -1, -1},
        {"short.pcx", 768, 0, 0, -1}};
    for (const auto &c : cases) {
        bool pcx = std::string(c.name).back() == 'x';
        std::vector<uint8_t> bytes(c.length, 0xAB);
        for (int i = 0; i < 4 && c.length >= 18 && !pcx; i++)
            bytes[14 + i] = uint8_t(c.header >> (8 * i));
        if (c.marker >= 0)
            bytes[c.marker] = 12;
        std::ofstream(c.name, std::ios::binary).write(reinterpret_cast<char *>(bytes.data()), c.length);
        testing::internal::CaptureStdout();
        pcx ? modify_pcx_palette(c.name) : modify_bmp_palette(c.name);
        std::string warning = std::string(pcx ? "modify_pcx" : "modify_bmp") + "_palette() warning : bad header in <";
        EXPECT_EQ(testing::internal::GetCapturedStdout(), c.patched >= 0 ? "" : warning + c.name + ">\n");
        if (c.patched >= 0)
            std::copy_n(palette_bytes(pcx).begin(), pcx ? 768 : 1024, bytes.begin() + c.patched);
        EXPECT_EQ(read_screen_file(c.name), bytes) << c.name;
    }
}

TEST_F(ExportTest, UnwritableFrameIsSkippedAndTooBigACanvasWritesNothing)
{
    make_two_frames(*this, 6, 4);
    ASSERT_EQ(mkdir("frame000.bmp", 0755), 0);
    testing::internal::CaptureStdout();
    save_all_frames(&anim, 100, 0);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "can't save <frame000.bmp>\n");
    expect_frame_file(1, false, 6, 4, 6, 4);
    // Through S: only the message, then still the state file and the wait.
    ASSERT_EQ(rmdir("frame000.bmp") | remove("frame001.bmp"), 0);
    anim.w = anim.h = 30000;
    std::tie(glb_zoom, key[KEY_S], key[KEY_RIGHT]) = std::make_tuple(1000, 1, 1);
    testing::internal::CaptureStdout();
    handle_keys(&anim, bg2);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "can't create save_bmp 300000 * 300000\n");
    EXPECT_TRUE(read_screen_file("frame000.bmp").empty() && read_screen_file("frame001.bmp").empty());
    EXPECT_EQ(glb_test_releases, std::vector<int>{KEY_S});
    std::vector<uint8_t> state = read_screen_file("last_palshift.bin");
    EXPECT_EQ(state.size() == 144 ? read_le32(state, 0) : 0, 1u);
}

// Files scaled and coded on rows against files made by the library's drawing
// and save_bitmap (support/library_reference), byte for byte: odd and even
// widths (BMP row padding), zooms that shrink and grow (PCX runs up to 63
// and past), frames of noise with zeros and values the PCX coding must
// escape, reaching past the screen's corner, lying outside it or without a
// bitmap.
TEST_F(ExportTest, RowsWriteTheLibrarysFilesByteForByte)
{
    std::mt19937 rng(4);
    for (auto [w, h] : {std::pair(37, 23), {64, 48}, {5, 300}}) {
        make_anim(w, h, 4);
        for (auto [i, x, y, fw, fh] : {std::array{0, 0, 0, w, h}, {1, w / 2, h / 3, w, h}, {2, w + 1, 0, 4, 4}}) {
            BITMAP *frame = add_frame(i, x, y, fw, fh, 0);
            for (int r = 0; r < fh; r++)
                for (int c = 0; c < fw; c++)
                    frame->line[r][c] = rng() % 4 ? uint8_t(rng()) : 0;
        }
        for (int pcx : {0, 1})
            for (int zoom : {1, 33, 100, 150, 200, 250}) {
                SCOPED_TRACE(testing::Message() << w << " x " << h << " at " << zoom << (pcx ? " pcx" : " bmp"));
                // The rows never touch the canvas: its mark shows they were taken.
                clear_to_color(glb_sprite_8bpp, 9);
                save_all_frames(&anim, zoom, pcx);
                ASSERT_EQ(9, getpixel(glb_sprite_8bpp, w - 1, h - 1));
                save_all_frames_by_library(&anim, zoom, pcx, "lib");
                for (int i = 0; i < 4; i++) {
                    char ours[16], theirs[16];
                    snprintf(ours, sizeof ours, "frame%03i.%s", i, pcx ? "pcx" : "bmp");
                    snprintf(theirs, sizeof theirs, "lib%03i.%s", i, pcx ? "pcx" : "bmp");
                    std::vector<uint8_t> bytes = read_screen_file(ours);
                    ASSERT_FALSE(bytes.empty()) << ours;
                    ASSERT_EQ(bytes, read_screen_file(theirs)) << ours;
                }
            }
    }
}
