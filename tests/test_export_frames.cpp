// Frame export: sizes, per-frame assembly, the palette patches and the
// failures that must not end the session or touch the wrong file.
#include <allegro.h>
#include <gtest/gtest.h>
#include <string>
#include <sys/stat.h>
#include <vector>

#include "app/app.h"
#include "display/screen.h"
#include "export/export.h"
#include "gif/gif_anim.h"
#include "palette/data_set.h"
#include "palette/tint_slots.h"
#include "support/screen_fixture.h"

namespace {

uint32_t read_le32(const std::vector<uint8_t> &b, size_t at)
{
    return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | static_cast<uint32_t>(b[at + 3]) << 24;
}

// Pixel indices of an 8-bit file as the library reads it back, row by row.
std::vector<int> read_indices(const char *name, int *w, int *h)
{
    PALETTE ignored;
    BITMAP *bmp = load_bitmap(name, ignored);
    std::vector<int> pixels;
    *w = *h = 0;
    if (!bmp)
        return pixels;
    EXPECT_EQ(bitmap_color_depth(bmp), 8);
    *w = bmp->w;
    *h = bmp->h;
    for (int y = 0; y < bmp->h; y++)
        for (int x = 0; x < bmp->w; x++)
            pixels.push_back(getpixel(bmp, x, y));
    destroy_bitmap(bmp);
    return pixels;
}

void wait_release_by_clearing(int scancode) { key[scancode] = 0; }
void skip_pause(unsigned int) {}

class ExportTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        start_screen_allegro();
        enter_screen_scratch_dir();
        fill_screen_palettes(1);
        release_screen_keys();
        glb_pause = skip_pause;
        glb_wait_release = wait_release_by_clearing;
        glb_slot = 0;
        for (int32_t &row : palshift_bg2)
            row = 0;
    }
    void TearDown() override
    {
        destroy_screen_bitmaps();
        if (anim)
            free_screen_anim(anim);
        release_screen_keys();
        leave_screen_scratch_dir();
    }
    // Two frames on a 6 x 4 screen: a 3 x 2 one with a hole of index 0 and
    // one reaching past the right and bottom edges.
    void make_two_frames()
    {
        create_screen_bitmaps(6, 4);
        anim = make_screen_anim(6, 4, 2);
        BITMAP *first = add_screen_frame(anim, 0, 1, 1, 3, 2, 5);
        putpixel(first, 1, 0, 0);
        add_screen_frame(anim, 1, 4, 2, 4, 3, 7);
    }
    // What frame i puts on the 6 x 4 canvas, alone.
    static int canvas_index(int frame, int x, int y)
    {
        if (frame == 0)
            return (x >= 1 && x <= 3 && y >= 1 && y <= 2 && !(x == 2 && y == 1)) ? 5 : 0;
        return (x >= 4 && y >= 2) ? 7 : 0;
    }
    static void expect_frame_pixels(const char *name, int frame, int zoom)
    {
        int w, h;
        std::vector<int> pixels = read_indices(name, &w, &h);
        ASSERT_EQ(w, 6 * zoom / 100);
        ASSERT_EQ(h, 4 * zoom / 100);
        int scale = zoom / 100;
        for (int y = 0; y < h; y++)
            for (int x = 0; x < w; x++)
                ASSERT_EQ(pixels[y * w + x], canvas_index(frame, x / scale, y / scale))
                    << name << " at " << x << "," << y;
    }
    static std::string run_captured(void (*body)())
    {
        testing::internal::CaptureStdout();
        body();
        fflush(stdout);
        return testing::internal::GetCapturedStdout();
    }
    gif_anim *anim = nullptr;
};

TEST(ExportSize, ScalesAndRaisesToOne)
{
    int w, h;
    compute_export_size(250, 120, 80, &w, &h);
    EXPECT_EQ(w, 300);
    EXPECT_EQ(h, 200);
    compute_export_size(1, 120, 80, &w, &h);
    EXPECT_EQ(w, 1);
    EXPECT_EQ(h, 1);
    compute_export_size(33, 100, 100, &w, &h);
    EXPECT_EQ(w, 33);
    EXPECT_EQ(h, 33);
    compute_export_size(1000, 65535, 30000, &w, &h);
    EXPECT_EQ(w, 655350);
    EXPECT_EQ(h, 300000);
}

TEST_F(ExportTest, BmpFramesAssembledAloneWithExactPalette)
{
    make_two_frames();
    save_all_frames(anim, 200, 0);
    expect_frame_pixels("frame000.bmp", 0, 200);
    expect_frame_pixels("frame001.bmp", 1, 200);
    for (const char *name : {"frame000.bmp", "frame001.bmp"}) {
        std::vector<uint8_t> bytes = read_screen_file(name);
        ASSERT_GE(bytes.size(), 1078u);
        ASSERT_EQ(read_le32(bytes, 14), 40u);
        EXPECT_EQ(bytes[53], 0);
        for (int k = 0; k < 256; k++) {
            ASSERT_EQ(bytes[54 + 4 * k], working_palette[k][2]) << k;
            ASSERT_EQ(bytes[55 + 4 * k], working_palette[k][1]) << k;
            ASSERT_EQ(bytes[56 + 4 * k], working_palette[k][0]) << k;
            ASSERT_EQ(bytes[57 + 4 * k], 0) << k;
        }
    }
}

TEST_F(ExportTest, PcxFramesCarryExactPaletteAfterMarker)
{
    make_two_frames();
    save_all_frames(anim, 100, 1);
    expect_frame_pixels("frame000.pcx", 0, 100);
    expect_frame_pixels("frame001.pcx", 1, 100);
    std::vector<uint8_t> bytes = read_screen_file("frame001.pcx");
    ASSERT_GE(bytes.size(), 769u);
    size_t table = bytes.size() - 768;
    EXPECT_EQ(bytes[table - 1], 12);
    EXPECT_EQ(0, memcmp(&bytes[table], working_palette, 768));
    struct stat st;
    EXPECT_NE(stat("frame000.bmp", &st), 0);
}

TEST_F(ExportTest, TinyZoomGivesOnePixelFiles)
{
    create_screen_bitmaps(120, 80);
    anim = make_screen_anim(120, 80, 1);
    add_screen_frame(anim, 0, 0, 0, 120, 80, 9);
    save_all_frames(anim, 1, 0);
    std::vector<uint8_t> bytes = read_screen_file("frame000.bmp");
    ASSERT_GE(bytes.size(), 26u);
    EXPECT_EQ(read_le32(bytes, 18), 1u);
    EXPECT_EQ(read_le32(bytes, 22), 1u);
}

TEST_F(ExportTest, UncreatableCanvasReportsAndReturnsToTheLoop)
{
    create_screen_bitmaps(2, 2);
    anim = make_screen_anim(30000, 30000, 1);
    add_screen_frame(anim, 0, 0, 0, 2, 2, 3);
    static gif_anim *shared;
    shared = anim;
    std::string out = run_captured([] { save_all_frames(shared, 1000, 0); });
    EXPECT_EQ(out, "can't create save_bmp 300000 * 300000\n");
    struct stat st;
    EXPECT_NE(stat("frame000.bmp", &st), 0);

    // Through S: the state file is still written and the release awaited.
    glb_zoom = 1000;
    key[KEY_S] = 1;
    key[KEY_RIGHT] = 1;
    out = run_captured([] { handle_keys(shared, bg2); });
    EXPECT_EQ(out, "can't create save_bmp 300000 * 300000\n");
    EXPECT_EQ(key[KEY_S], 0);
    std::vector<uint8_t> state = read_screen_file("last_palshift.bin");
    ASSERT_EQ(state.size(), 144u);
    EXPECT_EQ(read_le32(state, 0), 1u);
}

TEST_F(ExportTest, UnwritableFrameIsNotPatchedAndExportGoesOn)
{
    make_two_frames();
    ASSERT_EQ(mkdir("frame000.bmp", 0755), 0);
    static gif_anim *shared;
    shared = anim;
    std::string out = run_captured([] { save_all_frames(shared, 100, 0); });
    EXPECT_EQ(out, "can't save <frame000.bmp>\n");
    struct stat st;
    ASSERT_EQ(stat("frame000.bmp", &st), 0);
    EXPECT_TRUE(S_ISDIR(st.st_mode));
    std::vector<uint8_t> bytes = read_screen_file("frame001.bmp");
    ASSERT_GE(bytes.size(), 1078u);
    EXPECT_EQ(bytes[56], working_palette[0][0]);
    EXPECT_EQ(bytes[54 + 4 * 200], working_palette[200][2]);
}

TEST_F(ExportTest, BadBmpHeadersLeaveFileUntouched)
{
    // Info header sizes: past the end, too short a file for the table, and
    // the 12-byte core form whose table has 3-byte entries.
    const struct {
        uint32_t size;
        size_t length;
    } cases[] = {{2000, 1078}, {40, 1077}, {12, 2000}, {0xFFFFFFF0u, 4096}};
    for (const auto &c : cases) {
        std::vector<uint8_t> bytes(c.length, 0xAB);
        bytes[0] = 'B';
        bytes[1] = 'M';
        for (int i = 0; i < 4; i++)
            bytes[14 + i] = static_cast<uint8_t>(c.size >> (8 * i));
        ASSERT_TRUE(write_screen_file("odd.bmp", bytes));
        std::string out = run_captured([] { modify_bmp_palette("odd.bmp"); });
        EXPECT_EQ(out, "modify_bmp_palette() warning : bad header in <odd.bmp>\n") << c.size;
        EXPECT_EQ(read_screen_file("odd.bmp"), bytes) << c.size;
    }
    ASSERT_TRUE(write_screen_file("tiny.bmp", std::vector<uint8_t>(16, 1)));
    EXPECT_EQ(run_captured([] { modify_bmp_palette("tiny.bmp"); }),
              "modify_bmp_palette() warning : bad header in <tiny.bmp>\n");
    EXPECT_EQ(run_captured([] { modify_bmp_palette("absent.bmp"); }),
              "modify_bmp_palette() warning : can't open <absent.bmp>\n");
}

TEST_F(ExportTest, BmpPatchFollowsALargerInfoHeader)
{
    std::vector<uint8_t> bytes(14 + 124 + 1024 + 8, 0xAB);
    bytes[14] = 124;
    bytes[15] = bytes[16] = bytes[17] = 0;
    ASSERT_TRUE(write_screen_file("v5.bmp", bytes));
    EXPECT_EQ(run_captured([] { modify_bmp_palette("v5.bmp"); }), "");
    std::vector<uint8_t> after = read_screen_file("v5.bmp");
    ASSERT_EQ(after.size(), bytes.size());
    EXPECT_EQ(after[137], 0xAB);
    EXPECT_EQ(after[138], working_palette[0][2]);
    EXPECT_EQ(after[138 + 1023], 0);
    EXPECT_EQ(after[138 + 1024], 0xAB);
}

TEST_F(ExportTest, BadPcxTailsLeaveFileUntouched)
{
    std::vector<uint8_t> short_file(768, 12);
    std::vector<uint8_t> no_marker(1000, 0x55);
    std::vector<uint8_t> marked = no_marker;
    marked[1000 - 769] = 12;
    ASSERT_TRUE(write_screen_file("a.pcx", short_file));
    ASSERT_TRUE(write_screen_file("b.pcx", no_marker));
    EXPECT_EQ(run_captured([] { modify_pcx_palette("a.pcx"); }),
              "modify_pcx_palette() warning : bad header in <a.pcx>\n");
    EXPECT_EQ(run_captured([] { modify_pcx_palette("b.pcx"); }),
              "modify_pcx_palette() warning : bad header in <b.pcx>\n");
    EXPECT_EQ(read_screen_file("a.pcx"), short_file);
    EXPECT_EQ(read_screen_file("b.pcx"), no_marker);
    EXPECT_EQ(run_captured([] { modify_pcx_palette("absent.pcx"); }),
              "modify_pcx_palette() warning : can't open <absent.pcx>\n");

    ASSERT_TRUE(write_screen_file("c.pcx", marked));
    EXPECT_EQ(run_captured([] { modify_pcx_palette("c.pcx"); }), "");
    std::vector<uint8_t> after = read_screen_file("c.pcx");
    ASSERT_EQ(after.size(), 1000u);
    EXPECT_TRUE(std::equal(after.begin(), after.begin() + 232, marked.begin()));
    EXPECT_EQ(0, memcmp(&after[232], working_palette, 768));
}

TEST_F(ExportTest, ZoomKeyAndSaveInOnePassExportAtNewZoom)
{
    make_two_frames();
    glb_zoom = 200;
    key[KEY_EQUALS] = 1;
    key[KEY_S] = 1;
    handle_keys(anim, bg2);
    EXPECT_EQ(glb_zoom, 210);
    std::vector<uint8_t> bytes = read_screen_file("frame000.bmp");
    ASSERT_GE(bytes.size(), 26u);
    EXPECT_EQ(read_le32(bytes, 18), 12u);
    EXPECT_EQ(read_le32(bytes, 22), 8u);
}

TEST_F(ExportTest, RightAndSaveInOnePassExportOldPaletteSaveNewRow)
{
    make_two_frames();
    glb_zoom = 100;
    glb_slot = 2;
    palshift_bg2[2] = 40;
    key[KEY_RIGHT] = 1;
    key[KEY_S] = 1;
    uint8_t before[256][3];
    memcpy(before, working_palette, sizeof before);
    handle_keys(anim, bg2);
    std::vector<uint8_t> bytes = read_screen_file("frame000.bmp");
    ASSERT_GE(bytes.size(), 1078u);
    for (int k = 0; k < 256; k++)
        ASSERT_EQ(bytes[56 + 4 * k], before[k][0]) << k;
    std::vector<uint8_t> state = read_screen_file("last_palshift.bin");
    ASSERT_EQ(state.size(), 144u);
    EXPECT_EQ(read_le32(state, 8), 41u);
}

} // namespace
