// Hostile GIF files: the reader must load them or return null, never crash,
// never read or write outside what it allocated, and never allocate what a
// header merely claims.
#include "gif/gif_anim.h"
#include "palette/global_palette.h"
#include "fuzz/fuzz_bodies.h"
#include "support/fuzz_gif_builder.h"

#include <allegro.h>
#include <chrono>
#include <cstring>
#include <gif_lib.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>

namespace {

gif_anim *load_bytes(const byte_list &bytes)
{
    start_fuzz_allegro();
    set_color_depth(8);
    std::string path = write_hostile_file("hostile.gif", bytes);
    int saved = silence_stdout();
    gif_anim *anim = load_gif_anim(path.c_str());
    restore_stdout(saved);
    return anim;
}

// Loads, checks the record's invariants, destroys; true when it loaded.
bool load_and_check(const byte_list &bytes, const std::string &label)
{
    gif_anim *anim = load_bytes(bytes);
    if (!anim)
        return false;
    EXPECT_EQ(check_gif_anim(anim), "") << label;
    destroy_gif_anim(anim);
    return true;
}

long get_peak_rss_mb()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss / 1024;
}

byte_list make_pixels(int w, int h, int modulo, int salt)
{
    byte_list pixels;
    for (int y = 0; y < h; y++)
        for (int x = 0; x < w; x++)
            pixels.push_back(uint8_t((x * (salt + 1) + y + salt) % modulo));
    return pixels;
}

// Frame i's bitmap holds exactly these pixels.
void expect_frame_pixels(const gif_anim *anim, int i, const byte_list &want,
                         const std::string &label)
{
    ASSERT_LT(i, anim->num_frames) << label;
    BITMAP *bmp = anim->frames[i].bmp;
    ASSERT_NE(bmp, nullptr) << label << " frame " << i;
    ASSERT_EQ(size_t(bmp->w) * size_t(bmp->h), want.size()) << label;
    for (int y = 0; y < bmp->h; y++)
        for (int x = 0; x < bmp->w; x++)
            ASSERT_EQ(bmp->line[y][x], want[size_t(y * bmp->w + x)])
                << label << " frame " << i << " at " << x << "," << y;
}

// Two frames with a comment between them; block_ends are the offsets where
// each block ends, data_start and data_end bound each image's LZW data.
struct sample_gif {
    byte_list bytes;
    std::vector<size_t> block_ends;
    size_t image_start[2];
    size_t data_start[2];
    size_t data_end[2];
    byte_list frame_pixels[2];
};

sample_gif make_sample_gif()
{
    sample_gif gif;
    byte_list &b = gif.bytes;
    append_gif_screen(b, 8, 6, 3, 0);
    gif.block_ends.push_back(b.size());
    append_gce(b, 1, -1);
    gif.block_ends.push_back(b.size());
    byte_list first = make_pixels(8, 6, 8, 0);
    gif.image_start[0] = b.size();
    append_gif_image(b, 0, 0, 8, 6, 0, 3, first);
    gif.data_start[0] = gif.image_start[0] + 11;
    gif.data_end[0] = b.size();
    gif.block_ends.push_back(b.size());
    append_comment(b, "between the frames");
    gif.block_ends.push_back(b.size());
    append_gce(b, 0, 2);
    gif.block_ends.push_back(b.size());
    byte_list second = make_pixels(4, 3, 4, 1);
    gif.image_start[1] = b.size();
    append_gif_image(b, 2, 1, 4, 3, 2, 2, second);
    gif.data_start[1] = gif.image_start[1] + 11 + 12;
    gif.data_end[1] = b.size();
    gif.block_ends.push_back(b.size());
    b.push_back(0x3B);
    gif.block_ends.push_back(b.size());

    gif.frame_pixels[0] = first;
    gif.frame_pixels[1] = second;
    // Index 2 of the second image is transparent: the first image shows.
    for (int y = 0; y < 3; y++)
        for (int x = 0; x < 4; x++)
            if (second[size_t(y * 4 + x)] == 2)
                gif.frame_pixels[1][size_t(y * 4 + x)] = first[size_t((y + 1) * 8 + x + 2)];
    return gif;
}

TEST(HostileGif, SampleIsAValidGifForTheReferenceDecoder)
{
    sample_gif gif = make_sample_gif();
    std::string path = write_hostile_file("reference.gif", gif.bytes);
    int error = 0;
    GifFileType *file = DGifOpenFileName(path.c_str(), &error);
    ASSERT_NE(file, nullptr);
    ASSERT_EQ(DGifSlurp(file), GIF_OK);
    ASSERT_EQ(file->ImageCount, 2);
    for (int i = 0; i < 2; i++) {
        const SavedImage &image = file->SavedImages[i];
        size_t n = size_t(image.ImageDesc.Width * image.ImageDesc.Height);
        byte_list raw(image.RasterBits, image.RasterBits + n);
        EXPECT_EQ(raw, make_pixels(i ? 4 : 8, i ? 3 : 6, i ? 4 : 8, i)) << "image " << i;
    }
    DGifCloseFile(file, &error);

    gif_anim *anim = load_bytes(gif.bytes);
    ASSERT_NE(anim, nullptr);
    EXPECT_EQ(check_gif_anim(anim), "");
    expect_frame_pixels(anim, 0, gif.frame_pixels[0], "whole");
    expect_frame_pixels(anim, 1, gif.frame_pixels[1], "whole");
    destroy_gif_anim(anim);
}

bool lies_within(size_t cut, size_t from, size_t to) { return cut >= from && cut <= to; }

TEST(HostileGif, EveryTruncationLoadsOrFailsCleanly)
{
    sample_gif gif = make_sample_gif();
    for (size_t cut = 0; cut < gif.bytes.size(); cut++) {
        byte_list prefix(gif.bytes.begin(), gif.bytes.begin() + long(cut));
        std::string label = "cut at " + std::to_string(cut);
        gif_anim *anim = load_bytes(prefix);
        bool at_boundary = false;
        for (size_t end : gif.block_ends)
            at_boundary = at_boundary || cut == end;
        // End of file at a block boundary or inside LZW data is a success.
        bool must_load = cut >= gif.block_ends[0] &&
                         (at_boundary || lies_within(cut, gif.data_start[0], gif.data_end[0]) ||
                          lies_within(cut, gif.data_start[1], gif.data_end[1]));
        if (must_load) {
            ASSERT_NE(anim, nullptr) << label;
        }
        if (!anim)
            continue;
        EXPECT_EQ(check_gif_anim(anim), "") << label;
        if (cut >= gif.data_end[0]) {
            expect_frame_pixels(anim, 0, gif.frame_pixels[0], label);
            // Frames cut off before they were drawn may be dropped.
            EXPECT_LE(anim->num_frames, cut > gif.image_start[1] ? 2 : 1) << label;
            if (cut >= gif.data_end[1])
                expect_frame_pixels(anim, 1, gif.frame_pixels[1], label);
        }
        destroy_gif_anim(anim);
    }
}

TEST(HostileGif, LogicalScreenSizes)
{
    byte_list empty_screen;
    append_gif_screen(empty_screen, 0, 0, 1, 0);
    empty_screen.push_back(0x3B);
    gif_anim *anim = load_bytes(empty_screen);
    ASSERT_NE(anim, nullptr) << "0 x 0 without images";
    EXPECT_EQ(anim->num_frames, 0);
    destroy_gif_anim(anim);

    byte_list zero_with_image;
    append_gif_screen(zero_with_image, 0, 0, 1, 0);
    append_gif_image(zero_with_image, 0, 0, 2, 2, 0, 2, make_pixels(2, 2, 2, 0));
    load_and_check(zero_with_image, "0 x 0 with a 2 x 2 image");

    byte_list tall;
    append_gif_screen(tall, 1, 65535, 2, 0);
    byte_list column = make_pixels(1, 65535, 4, 3);
    append_gif_image(tall, 0, 0, 1, 65535, 0, 2, column);
    anim = load_bytes(tall);
    ASSERT_NE(anim, nullptr) << "1 x 65535";
    expect_frame_pixels(anim, 0, column, "1 x 65535");
    destroy_gif_anim(anim);

    byte_list huge;
    append_gif_screen(huge, 65535, 65535, 1, 0);
    append_gif_image(huge, 0, 0, 1, 1, 0, 2, {1});
    EXPECT_EQ(load_bytes(huge), nullptr) << "65535 x 65535 canvas cannot be made";
    EXPECT_LT(get_peak_rss_mb(), 512) << "a refused canvas must not be allocated";
}

TEST(HostileGif, ImagesOfZeroSizeOrPastTheScreen)
{
    struct placement {
        unsigned x, y, w, h;
    };
    const placement cases[] = {
        {0, 0, 0, 0},     {0, 0, 0, 3},         {0, 0, 3, 0},     {4, 0, 2, 2},
        {0, 4, 2, 2},     {3, 3, 4, 4},         {10, 10, 2, 2},   {65535, 65535, 1, 1},
        {0, 0, 65535, 1}, {65534, 0, 3, 3},     {0, 0, 5, 5},
    };
    for (const placement &p : cases) {
        std::string label = "image " + std::to_string(p.w) + " x " + std::to_string(p.h) +
                            " at " + std::to_string(p.x) + "," + std::to_string(p.y);
        byte_list b;
        append_gif_screen(b, 4, 4, 2, 1);
        byte_list pixels = make_pixels(int(p.w < 8 ? p.w : 8), int(p.h < 8 ? p.h : 8), 4, 2);
        append_gif_image(b, p.x, p.y, p.w, p.h, 0, 2, pixels);
        append_gif_image(b, 0, 0, 2, 2, 0, 2, {3, 2, 1, 0});
        b.push_back(0x3B);
        gif_anim *anim = load_bytes(b);
        if (!anim)
            continue;
        EXPECT_EQ(check_gif_anim(anim), "") << label;
        EXPECT_LE(anim->num_frames, 2) << label;
        destroy_gif_anim(anim);
    }
}

TEST(HostileGif, LocalTableWithoutGlobalTable)
{
    byte_list b;
    append_gif_screen(b, 4, 4, 0, 7);
    append_gif_image(b, 0, 0, 4, 4, 2, 2, make_pixels(4, 4, 4, 0));
    append_gif_image(b, 0, 0, 2, 2, 0, 2, {1, 1, 1, 1});
    b.push_back(0x3B);
    gif_anim *anim = load_bytes(b);
    ASSERT_NE(anim, nullptr);
    EXPECT_EQ(check_gif_anim(anim), "");
    ASSERT_EQ(anim->num_frames, 2);
    ASSERT_EQ(anim->num_palettes, 2);
    EXPECT_EQ(anim->frames[0].pal, 0);
    EXPECT_EQ(anim->frames[1].pal, -1);
    byte_list local;
    append_color_table(local, 2);
    EXPECT_EQ(0, std::memcmp(anim->palettes, local.data(), local.size()));
    for (int i = int(local.size()); i < 2 * GIF_PALETTE_BYTES; i++)
        ASSERT_EQ(anim->palettes[i], 0) << "palette byte " << i;
    destroy_gif_anim(anim);
}

// An image at the given code size, then a valid 2 x 2 image.
byte_list make_code_size_gif(int min_code_size, const byte_list &data)
{
    byte_list b;
    append_gif_screen(b, 4, 4, 2, 1);
    b.push_back(0x2C);
    append_u16(b, 0);
    append_u16(b, 0);
    append_u16(b, 4);
    append_u16(b, 4);
    b.push_back(0);
    b.push_back(uint8_t(min_code_size));
    append_sub_blocks(b, data);
    append_gif_image(b, 2, 2, 2, 2, 0, 2, {3, 2, 1, 0});
    b.push_back(0x3B);
    return b;
}

TEST(HostileGif, MinimumCodeSizes)
{
    byte_list garbage;
    for (int i = 0; i < 40; i++)
        garbage.push_back(uint8_t(i * 37 + 11));
    for (int size : {0, 1})
        load_and_check(make_code_size_gif(size, garbage), "code size " + std::to_string(size));

    // 11 is the largest the table can take: still decoded.
    byte_list pixels = make_pixels(4, 4, 4, 1);
    gif_anim *anim = load_bytes(make_code_size_gif(11, encode_gif_lzw(11, pixels)));
    ASSERT_NE(anim, nullptr) << "code size 11";
    expect_frame_pixels(anim, 0, pixels, "code size 11");
    destroy_gif_anim(anim);

    // 12 and more: the image stays undecoded (background), the next is read.
    for (int size : {12, 13, 255}) {
        std::string label = "code size " + std::to_string(size);
        anim = load_bytes(make_code_size_gif(size, garbage));
        ASSERT_NE(anim, nullptr) << label;
        EXPECT_EQ(check_gif_anim(anim), "") << label;
        ASSERT_EQ(anim->num_frames, 2) << label;
        expect_frame_pixels(anim, 0, byte_list(16, 1), label);
        expect_frame_pixels(anim, 1, {3, 2, 1, 0}, label);
        destroy_gif_anim(anim);
    }
}

byte_list pack_codes(const std::vector<std::pair<unsigned, int>> &codes)
{
    byte_list out;
    uint32_t acc = 0;
    int bits = 0;
    for (auto [code, width] : codes) {
        acc |= code << bits;
        bits += width;
        while (bits >= 8) {
            out.push_back(uint8_t(acc));
            acc >>= 8;
            bits -= 8;
        }
    }
    if (bits)
        out.push_back(uint8_t(acc));
    return out;
}

TEST(HostileGif, InvalidCodes)
{
    // Code size 2: clear 4, end 5, first free 6, width 3 until 8 codes.
    const std::vector<std::vector<std::pair<unsigned, int>>> streams = {
        // Codes past the next free one, then a string whose entry names
        // itself as its prefix (7 is stored with prefix 7).
        {{4, 3}, {1, 3}, {7, 3}, {6, 3}, {7, 4}, {7, 4}, {5, 4}},
        // No clear code first, an end code never sent.
        {{7, 3}, {7, 3}, {6, 3}, {0, 3}, {7, 3}, {7, 3}},
        // Runs of clear codes, a first code after clear that is no index.
        {{4, 3}, {4, 3}, {7, 3}, {6, 3}, {4, 3}, {5, 3}},
    };
    for (size_t i = 0; i < streams.size(); i++)
        load_and_check(make_code_size_gif(2, pack_codes(streams[i])),
                       "stream " + std::to_string(i));

    // Many codes past the table at width 12, never clearing.
    byte_list flood;
    for (int i = 0; i < 20000; i++)
        flood.push_back(uint8_t(0xFF - (i % 3)));
    load_and_check(make_code_size_gif(8, flood), "code flood");
    load_and_check(make_code_size_gif(2, flood), "code flood, size 2");
}

TEST(HostileGif, SurplusImageDescriptorsAreIgnored)
{
    // The pre-scan takes the stray 0x01 as a block and the next byte (0x2C)
    // as a sub-block length of 44, skipping the images the parser then sees.
    for (int surplus : {1, 40}) {
        byte_list b;
        append_gif_screen(b, 4, 4, 2, 0);
        byte_list pixels = make_pixels(4, 4, 4, 2);
        append_gif_image(b, 0, 0, 4, 4, 0, 2, pixels);
        for (int i = 0; i < surplus; i++) {
            b.push_back(0x01);
            append_gif_image(b, 0, 0, 2, 2, 2, 2, {1, 2, 3, 0});
        }
        std::string label = std::to_string(surplus) + " surplus";
        gif_anim *anim = load_bytes(b);
        ASSERT_NE(anim, nullptr) << label;
        EXPECT_EQ(check_gif_anim(anim), "") << label;
        EXPECT_GE(anim->num_frames, 1) << label;
        EXPECT_LE(anim->num_frames, 1 + surplus) << label;
        expect_frame_pixels(anim, 0, pixels, label);
        destroy_gif_anim(anim);
    }
}

TEST(HostileGif, ExtensionsOfOddShapes)
{
    for (int block_size : {0, 1, 3, 5, 6, 255}) {
        byte_list b;
        append_gif_screen(b, 4, 4, 2, 0);
        b.insert(b.end(), {0x21, 0xF9, uint8_t(block_size)});
        for (int i = 0; i < block_size; i++)
            b.push_back(uint8_t(i == 0 ? 0x09 : i + 1));
        b.push_back(0);
        append_gif_image(b, 0, 0, 2, 2, 0, 2, {1, 2, 3, 0});
        b.push_back(0x3B);
        load_and_check(b, "control block size " + std::to_string(block_size));
    }

    // Many thousands of extensions before one image: loads, and in time.
    byte_list many;
    append_gif_screen(many, 2, 2, 2, 0);
    for (int i = 0; i < 100000; i++) {
        if (i % 2)
            append_comment(many, "x");
        else
            append_gce(many, i % 8, i % 4);
    }
    append_gif_image(many, 0, 0, 2, 2, 0, 2, {1, 2, 3, 0});
    many.push_back(0x3B);
    auto start = std::chrono::steady_clock::now();
    gif_anim *anim = load_bytes(many);
    double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    ASSERT_NE(anim, nullptr);
    EXPECT_EQ(anim->num_frames, 1);
    EXPECT_EQ(check_gif_anim(anim), "");
    destroy_gif_anim(anim);
    EXPECT_LT(seconds, 60.0);

    // Extensions that never end: no terminator before end of file.
    byte_list open_ended;
    append_gif_screen(open_ended, 2, 2, 2, 0);
    for (int i = 0; i < 5000; i++)
        open_ended.insert(open_ended.end(), {0x21, 0xFF, 0x0B});
    load_and_check(open_ended, "unterminated extensions");
}

// A small logical screen followed by one pattern over and over (block
// starts that each read the next pattern's bytes as their fields).
byte_list make_repeated_blocks(const byte_list &pattern)
{
    byte_list b;
    append_gif_screen(b, 3, 3, 1, 0);
    for (int i = 0; i < 4096; i += int(pattern.size()))
        b.insert(b.end(), pattern.begin(), pattern.end());
    return b;
}

TEST(HostileGif, FilesThatAreNoGif)
{
    const std::vector<byte_list> files = {
        {},
        {'G', 'I', 'F', '8', '9', 'a'},
        byte_list(13, 0xFF),
        make_repeated_blocks({0x2C, 1, 0, 1, 0, 4, 0, 4, 0, 0}),
        make_repeated_blocks({0x2C, 0, 0, 0, 0, 2, 0, 2, 0, 0x87, 2}),
        make_repeated_blocks({0x21}),
        make_repeated_blocks({0x21, 0xF9}),
        make_repeated_blocks({0x00}),
        {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n', 0, 0, 0, 13, 'I', 'H', 'D', 'R'},
        // Short: a longer text names a canvas of hundreds of megabytes.
        {'h', 'e', 'l', 'l', 'o', '\n'},
    };
    for (size_t i = 0; i < files.size(); i++)
        load_and_check(files[i], "file " + std::to_string(i));
    EXPECT_LT(get_peak_rss_mb(), 512);
}

// The remap must treat what a hostile file left (frames without a bitmap,
// frames without a palette) as a defined outcome: status 0 or 1, no signal.
bool exited_0_or_1(int status)
{
    return WIFEXITED(status) && (WEXITSTATUS(status) == 0 || WEXITSTATUS(status) == 1);
}

void remap_and_exit(gif_anim *anim)
{
    int saved = silence_stdout();
    remap_pixels(anim);
    restore_stdout(saved);
    std::exit(0);
}

TEST(HostileGifDeathTest, RemapOfWhatHostileFilesLeave)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    // Every colour the test files use is in glb_palette.
    for (int i = 0; i < 256; i++) {
        glb_palette[i][0] = uint8_t(i);
        glb_palette[i][1] = uint8_t(255 - i);
        glb_palette[i][2] = uint8_t(i / 2);
    }
    sample_gif gif = make_sample_gif();
    // Cut in the second descriptor: two frames counted, one drawn.
    byte_list cut(gif.bytes.begin(), gif.bytes.begin() + long(gif.image_start[1] + 3));
    gif_anim *anim = load_bytes(cut);
    if (anim) {
        EXPECT_EXIT(remap_and_exit(anim), exited_0_or_1, "") << "truncated";
    }
    destroy_gif_anim(anim);

    byte_list no_palette;
    append_gif_screen(no_palette, 2, 2, 0, 0);
    append_gif_image(no_palette, 0, 0, 2, 2, 0, 2, {1, 2, 3, 0});
    anim = load_bytes(no_palette);
    ASSERT_NE(anim, nullptr);
    EXPECT_EXIT(remap_and_exit(anim), exited_0_or_1, "") << "no colour table";
    destroy_gif_anim(anim);
}

} // namespace
