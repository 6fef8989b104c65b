// Frame export: each file is the one the library would save, with the exact palette patched in;
// a canvas too big to make is reported, not made. ctest runs this program once per vector tier
// the machine has, so each tier's coders meet the same oracle.
#include "support/screen_fixture.h"

#include "common/simd_tier.h"

using ExportTest = screen_test;

// working_palette as the format's colour table: red, green, blue per entry in a PCX; blue,
// green, red, 0 in a BMP.
static std::vector<uint8_t> make_table(export_format format)
{
    std::vector<uint8_t> table;
    for (const uint8_t *rgb : working_palette) {
        if (format == EXPORT_PCX)
            table.insert(table.end(), {rgb[0], rgb[1], rgb[2]});
        else
            table.insert(table.end(), {rgb[2], rgb[1], rgb[0], 0});
    }
    return table;
}

// The reference: the frame drawn on the cleared canvas, stretched to w x h and saved by the
// library with the 6-bit palette, then its table overwritten with the exact palette (the last
// 768 bytes of a PCX; the 1024 after the 54 header bytes of a BMP).
static std::vector<uint8_t> save_the_library_way(const gif_frame &frame, int w, int h,
                                                 export_format format)
{
    clear_to_color(glb_sprite_8bpp, 0);
    if (frame.bmp)
        draw_sprite(glb_sprite_8bpp, frame.bmp, frame.pos.x, frame.pos.y);
    BITMAP *scaled = create_bitmap_ex(8, w, h);
    stretch_blit(glb_sprite_8bpp, scaled, 0, 0, glb_sprite_8bpp->w, glb_sprite_8bpp->h, 0, 0, w, h);
    std::string name = std::string("library") + name_export_extension(format);
    EXPECT_EQ(save_bitmap(name.c_str(), scaled, display_palette), 0);
    destroy_bitmap(scaled);
    std::vector<uint8_t> bytes = read_bytes(name);
    std::vector<uint8_t> table = make_table(format);
    size_t table_at = format == EXPORT_PCX ? bytes.size() - 768 : 54;
    std::copy(table.begin(), table.end(), bytes.begin() + table_at);
    return bytes;
}

// Random indices, a quarter of them 0 (the transparent index).
static void fill_with_noise(BITMAP *bmp, std::mt19937 &rng)
{
    for (int y = 0; y < bmp->h; y++) {
        for (int x = 0; x < bmp->w; x++) {
            bool clear = rng() % 4 == 0;
            bmp->line[y][x] = clear ? 0 : uint8_t(rng());
        }
    }
}

// Runs of 1, 2, 3 ... 70 pixels (each row starting further along), of the values 0xBE up to
// 0xFF in turn: long runs past the PCX cap of 63, and values that need the count byte.
static void fill_with_runs(BITMAP *bmp)
{
    for (int y = 0; y < bmp->h; y++) {
        int run = y % 70;
        int left = run + 1;
        for (int x = 0; x < bmp->w; x++) {
            bmp->line[y][x] = uint8_t(0xBE + run % 66);
            left--;
            if (left == 0) {
                run = (run + 1) % 70;
                left = run + 1;
            }
        }
    }
}

// Each frame alone, scaled by zooms that shrink (the tenths below 100 among them), keep and
// enlarge, in both formats: a noisy frame over the whole canvas, one half off it, one wholly
// off it, one without a bitmap, and one of long runs.
TEST_F(ExportTest, EachFileIsTheLibrarysWithTheExactPalette)
{
    std::mt19937 rng(4);
    const int sizes[][2] = {{37, 23}, {64, 48}, {5, 300}, {200, 12}};
    const int zooms[] = {1, 33, 51, 60, 75, 90, 93, 95, 97, 99, 100, 150, 200, 250};
    for (const auto &size : sizes) {
        int w = size[0];
        int h = size[1];
        make_anim(w, h, 5);
        fill_with_noise(add_frame(0, 0, 0, w, h, 0), rng);
        fill_with_noise(add_frame(1, w / 2, h / 3, w, h, 0), rng);
        fill_with_noise(add_frame(2, w + 1, 0, 4, 4, 0), rng);
        fill_with_runs(add_frame(4, 0, 0, w, h, 0));
        for (int zoom : zooms) {
            for (export_format format : {EXPORT_BMP, EXPORT_PCX}) {
                SCOPED_TRACE(testing::Message() << w << " x " << h << " at " << zoom << " %");
                export_options options;
                options.format = format;
                testing::internal::CaptureStdout();
                ASSERT_EQ(save_all_frames(&anim, zoom, options), 5);
                testing::internal::GetCapturedStdout();
                int scaled_w = std::max(1, w * zoom / 100);
                int scaled_h = std::max(1, h * zoom / 100);
                for (int i = 0; i < 5; i++) {
                    std::string extension = name_export_extension(format);
                    std::string name = "frame00" + std::to_string(i) + extension;
                    std::vector<uint8_t> expected =
                        save_the_library_way(frames[i], scaled_w, scaled_h, format);
                    ASSERT_EQ(read_bytes(name), expected) << name;
                }
            }
        }
    }
}

// S with a canvas too big to make writes nothing, says so, shows the summary as the status note
// for two seconds, and still saves the state and waits for the key to go up.
TEST_F(ExportTest, TooBigACanvasWritesNothingAndSaysSo)
{
    make_anim(6, 4, 2);
    std::string summary = " frames to <" + std::filesystem::current_path().string() + ">\n";
    anim.w = 30000;
    anim.h = 30000;
    glb_zoom = 1000;
    set_key(KEY_S, true);
    set_key(KEY_RIGHT, true);
    testing::internal::CaptureStdout();
    handle_keys(&anim, bg2);
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "can't create save_bmp 300000 * 300000\nexported 0" + summary);
    EXPECT_EQ(glb_status.note + "\n", "exported 0" + summary);
    for (bool shown : {true, false}) { // the words below the zoom line, gone two seconds on
        compose_screen(&anim, bg2, ".bmp");
        int lit = 0;
        for (int y = 470; y < 490; y++) {
            const uint32_t *row = reinterpret_cast<const uint32_t *>(glb_buffer->line[y]);
            bool any = std::count(row, row + PREVIEW_W, 0u) < PREVIEW_W;
            lit += any;
        }
        EXPECT_EQ(lit > 0, shown);
        glb_status.clock = glb_status.note_end;
    }
    EXPECT_EQ(read_bytes("last_palshift.bin").at(0), 1);
}

// The tier the processor has unless HUESMITH_SIMD caps it; a cap it lacks, or one not known,
// falls back to what it has with one line that says so.
TEST(SimdTier, ACapChoosesTheTierAndOneBeyondTheProcessorFallsBack)
{
    std::string warning;
    EXPECT_EQ(choose_simd_tier("", SIMD_SSSE3, &warning), SIMD_SSSE3);
    EXPECT_EQ(choose_simd_tier("none", SIMD_AVX512, &warning), SIMD_NONE);
    EXPECT_EQ(choose_simd_tier("ssse3", SIMD_AVX512, &warning), SIMD_SSSE3);
    EXPECT_EQ(warning, "");
    EXPECT_EQ(choose_simd_tier("avx512", SIMD_SSSE3, &warning), SIMD_SSSE3);
    EXPECT_EQ(warning, "HUESMITH_SIMD=avx512: this processor lacks it; using ssse3");
    EXPECT_EQ(choose_simd_tier("sse9", SIMD_NONE, &warning), SIMD_NONE);
    EXPECT_EQ(warning, "HUESMITH_SIMD=sse9 is not none, ssse3 or avx512; using none");
}

// Under each of ctest's tier runs the tier in use is the one asked for.
TEST(SimdTier, TheTierInUseIsTheCapWhenTheProcessorHasIt)
{
    const char *cap = std::getenv("HUESMITH_SIMD");
    std::string warning;
    simd_tier expected = choose_simd_tier(cap, detect_simd_tier(), &warning);
    if (cap && warning.empty()) {
        EXPECT_STREQ(name_simd_tier(glb_simd_tier), cap);
    }
    EXPECT_EQ(glb_simd_tier, expected);
}
