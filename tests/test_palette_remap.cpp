// The global palette file and the remapping of frame pixels onto it.
#include "gif/gif_anim.h"
#include "palette/global_palette.h"
#include "support/palette_fixtures.h"

#include <allegro.h>
#include <cinttypes>
#include <cstring>
#include <gtest/gtest.h>
#include <random>

namespace {

class PaletteRemap : public ::testing::Test {
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

void set_color(uint8_t *rgb, uint8_t r, uint8_t g, uint8_t b)
{
    rgb[0] = r;
    rgb[1] = g;
    rgb[2] = b;
}

uint8_t *frame_color(gif_anim *anim, int pal, int c)
{
    return anim->palettes + (pal * 256 + c) * 3;
}

// 256 different colours: r and g spell the index, b is random.
void fill_distinct_glb_palette(std::mt19937 &rng)
{
    for (int e = 0; e < 256; e++)
        set_color(glb_palette[e], uint8_t(e), uint8_t(255 - e), uint8_t(rng()));
}

std::string address_text(const void *p)
{
    char text[64];
    snprintf(text, sizeof text, "%0*" PRIXPTR, int(2 * sizeof(void *)), uintptr_t(p));
    return text;
}

TEST_F(PaletteRemap, PaletteFileFillsEntriesAndShortFileReadsAs255)
{
    std::vector<uint8_t> bytes(800);
    for (size_t i = 0; i < bytes.size(); i++)
        bytes[i] = uint8_t(i * 7 + 3);
    ASSERT_TRUE(write_bytes("full.bin", bytes));
    ASSERT_TRUE(load_glb_palette("full.bin"));
    EXPECT_EQ(0, memcmp(glb_palette, bytes.data(), 768));

    bytes.resize(700);
    ASSERT_TRUE(write_bytes("short.bin", bytes));
    ASSERT_TRUE(load_glb_palette("short.bin"));
    EXPECT_EQ(0, memcmp(glb_palette, bytes.data(), 700));
    EXPECT_EQ(bytes[699], glb_palette[233][0]);
    EXPECT_EQ(255, glb_palette[233][1]);
    EXPECT_EQ(255, glb_palette[233][2]);
    for (int e = 234; e < 256; e++)
        for (int k = 0; k < 3; k++)
            ASSERT_EQ(255, glb_palette[e][k]) << e;

    ASSERT_TRUE(write_bytes("empty.bin", {}));
    ASSERT_TRUE(load_glb_palette("empty.bin"));
    EXPECT_EQ(255, glb_palette[0][0]);

    glb_palette[5][0] = 17;
    EXPECT_FALSE(load_glb_palette("missing.bin"));
    EXPECT_EQ(17, glb_palette[5][0]);
}

// Every pixel keeps its colour through glb_palette, except colours whose
// first match is entry 1, which become 0.
TEST_F(PaletteRemap, EveryPixelKeepsItsColour)
{
    std::mt19937 rng(7);
    fill_distinct_glb_palette(rng);
    // Entry 1's colour again further on: the first match still wins.
    memcpy(glb_palette[200], glb_palette[1], 3);
    // A duplicate of entry 3 further on as well.
    memcpy(glb_palette[90], glb_palette[3], 3);

    const int sizes[3][2] = {{17, 9}, {1, 1}, {40, 3}};
    gif_anim *anim = make_test_anim(3, 2, 40, 9);
    for (int pal = 0; pal < 2; pal++) {
        for (int c = 0; c < 256; c++)
            memcpy(frame_color(anim, pal, c), glb_palette[rng() % 256], 3);
        // Make sure the entry-1 colour and its duplicate show up.
        memcpy(frame_color(anim, pal, 4), glb_palette[1], 3);
        memcpy(frame_color(anim, pal, 6), glb_palette[200], 3);
    }
    std::vector<std::vector<std::array<uint8_t, 3>>> before(3);
    for (int i = 0; i < 3; i++) {
        gif_frame &frame = anim->frames[i];
        destroy_bitmap(frame.bmp);
        frame.w = uint16_t(sizes[i][0]);
        frame.h = uint16_t(sizes[i][1]);
        frame.bmp = create_bitmap_ex(8, frame.w, frame.h);
        frame.pal = i == 2 ? 1 : 0;
        frame.trans = i == 0 ? 5 : -1;
        for (int y = 0; y < frame.h; y++)
            for (int x = 0; x < frame.w; x++) {
                int v = (x + y) % 3 == 0 ? 4 + 2 * (x % 2) : int(rng() % 256);
                putpixel(frame.bmp, x, y, v);
                const uint8_t *rgb = frame_color(anim, frame.pal, v);
                before[i].push_back({rgb[0], rgb[1], rgb[2]});
            }
    }

    testing::internal::CaptureStdout();
    remap_pixels(anim);
    testing::internal::GetCapturedStdout();

    int folded = 0;
    for (int i = 0; i < 3; i++) {
        gif_frame &frame = anim->frames[i];
        size_t k = 0;
        for (int y = 0; y < frame.h; y++)
            for (int x = 0; x < frame.w; x++, k++) {
                int v = getpixel(frame.bmp, x, y);
                const std::array<uint8_t, 3> &was = before[i][k];
                if (memcmp(was.data(), glb_palette[1], 3) == 0) {
                    ASSERT_EQ(0, v) << i << " " << x << "," << y;
                    folded++;
                } else {
                    ASSERT_EQ(0, memcmp(was.data(), glb_palette[v], 3)) << i << " " << x << "," << y;
                    ASSERT_NE(90, v) << "a later duplicate was chosen";
                }
            }
    }
    EXPECT_GT(folded, 0);
    // The record itself is left as it was.
    EXPECT_EQ(1, anim->frames[2].pal);
    EXPECT_EQ(5, anim->frames[0].trans);
    free_test_anim(anim);
}

TEST_F(PaletteRemap, TraceShowsEveryLookupAndTheEntryOneMatch)
{
    memset(glb_palette, 0, sizeof glb_palette);
    set_color(glb_palette[0], 9, 9, 9);
    set_color(glb_palette[1], 5, 5, 5);
    set_color(glb_palette[3], 9, 9, 9);
    set_color(glb_palette[7], 5, 5, 5);
    set_color(glb_palette[42], 1, 2, 3);
    set_color(glb_palette[255], 200, 100, 50);

    gif_anim *anim = make_test_anim(2, 2, 2, 2);
    set_color(frame_color(anim, 0, 0), 5, 5, 5);     // first found at 1: stored 0
    set_color(frame_color(anim, 0, 1), 9, 9, 9);     // entries 0 and 3: 0
    set_color(frame_color(anim, 0, 2), 1, 2, 3);     // 42
    set_color(frame_color(anim, 0, 3), 77, 77, 77);  // beyond max: never looked up
    set_color(frame_color(anim, 1, 0), 200, 100, 50); // 255
    putpixel(anim->frames[0].bmp, 0, 0, 0);
    putpixel(anim->frames[0].bmp, 1, 0, 2);
    putpixel(anim->frames[0].bmp, 0, 1, 2);
    putpixel(anim->frames[0].bmp, 1, 1, 1);
    anim->frames[1].pal = 1;

    testing::internal::CaptureStdout();
    remap_pixels(anim);
    std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ("gif_anim = " + address_text(anim) + "\n"
              "# frame  = 2\n"
              "\nframe 0\n"
              "   color 0  --> 1\n"
              "   color 1  --> 0\n"
              "   color 2  --> 42\n"
              "\nframe 1\n"
              "   color 0  --> 255\n",
              out);
    EXPECT_EQ(0, getpixel(anim->frames[0].bmp, 0, 0));
    EXPECT_EQ(42, getpixel(anim->frames[0].bmp, 1, 0));
    EXPECT_EQ(42, getpixel(anim->frames[0].bmp, 0, 1));
    EXPECT_EQ(0, getpixel(anim->frames[0].bmp, 1, 1));
    for (int y = 0; y < 2; y++)
        for (int x = 0; x < 2; x++)
            EXPECT_EQ(255, getpixel(anim->frames[1].bmp, x, y));
    free_test_anim(anim);

    gif_anim *none = make_test_anim(0, 1, 4, 4);
    testing::internal::CaptureStdout();
    remap_pixels(none);
    out = testing::internal::GetCapturedStdout();
    EXPECT_EQ("gif_anim = " + address_text(none) + "\n# frame  = 0\n", out);
    free_test_anim(none);
}

// The animation of the failure cases: frame 0 maps cleanly, frame 1 uses
// pixels 0 and 5 (so colours 0..5 are looked up) with its own palette.
gif_anim *make_failing_anim()
{
    memset(glb_palette, 0, sizeof glb_palette);
    for (int e = 0; e < 256; e++)
        set_color(glb_palette[e], uint8_t(e), 1, 2);
    gif_anim *anim = make_test_anim(2, 2, 3, 2);
    set_color(frame_color(anim, 0, 0), 10, 1, 2);
    anim->frames[1].pal = 1;
    for (int c = 0; c < 256; c++)
        set_color(frame_color(anim, 1, c), uint8_t(20 + c), 1, 2);
    putpixel(anim->frames[1].bmp, 2, 1, 5);
    return anim;
}

std::string failing_prefix(const gif_anim *anim)
{
    return "gif_anim = " + address_text(anim) + "\n# frame  = 2\n"
           "\nframe 0\n   color 0  --> 10\n\nframe 1\n";
}

TEST_F(PaletteRemap, MissingColourEndsTheRunEvenWhenNoPixelUsesIt)
{
    {
        // Colour 3 is used by no pixel but lies below the largest index.
        gif_anim *anim = make_failing_anim();
        set_color(frame_color(anim, 1, 3), 1, 1, 1);
        child_run run = run_in_child([&] { remap_pixels(anim); });
        EXPECT_EQ(1, run.status);
        EXPECT_EQ(failing_prefix(anim) +
                      "   color 0  --> 20\n   color 1  --> 21\n   color 2  --> 22\n"
                      "   color 3  --> error : frame 1, color 3 not found in glb palette\n",
                  run.output);
        free_test_anim(anim);
    }
    {
        // An empty frame still looks up colour 0.
        gif_anim *anim = make_failing_anim();
        destroy_bitmap(anim->frames[1].bmp);
        anim->frames[1].w = 0;
        anim->frames[1].bmp = create_bitmap_ex(8, 0, 2);
        set_color(frame_color(anim, 1, 0), 1, 1, 1);
        child_run run = run_in_child([&] { remap_pixels(anim); });
        EXPECT_EQ(1, run.status);
        EXPECT_EQ(failing_prefix(anim) +
                      "   color 0  --> error : frame 1, color 0 not found in glb palette\n",
                  run.output);
        free_test_anim(anim);
    }
}

TEST_F(PaletteRemap, FrameWithoutColourTableEndsTheRun)
{
    for (int pal : {-1, 2, 1000000}) {
        gif_anim *anim = make_failing_anim();
        anim->frames[1].pal = pal;
        child_run run = run_in_child([&] { remap_pixels(anim); });
        EXPECT_EQ(1, run.status) << pal;
        EXPECT_EQ(failing_prefix(anim) + "error : frame 1 has no color table\n", run.output)
            << pal;
        free_test_anim(anim);
    }
}

} // namespace
