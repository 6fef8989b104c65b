// The reader on files whose frames are known, and on hostile ones: it loads
// them or returns null, never holding more than its budget, and never what
// a header merely claims or what lies outside the logical screen.
#include "gif/gif_anim.h"
#include "support/checks.h"

#include <cstdio>
#include <cstring>
#include <fstream>
#include <gtest/gtest.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

namespace {

std::vector<int> list_frame_fields(const gif_frame &f)
{
    return {f.pal, f.delay, f.trans, f.disposal, f.pos.x, f.w, f.h};
}

// Disposal d1 = d % 4 for the first image and d2 = d / 4 for the second.
// Screen 3 x 1, background 3. Image 0: {0 0 0}. Image 1: 3 x 2 at x 1 with
// a local table, reaching past the right and bottom edges, transparent (2)
// in places. Image 2: all transparent, showing the canvas they left.
TEST(GifLoader, DisposalsTransparencyAndPaletteSlots)
{
    for (int d = 0; d < 16; d++) {
        int d1 = d % 4;
        int d2 = d / 4;
        std::vector<gif_rgb> global = test_colours(2);
        std::vector<gif_rgb> local = test_colours(2);
        byte_list gif = make_gif_screen(3, 1, global, 3);
        append_gce(gif, d1, -1, 7);
        append_gif_image(gif, 0, 0, 3, 1, {}, 2, {0, 0, 0});
        append_gce(gif, d2, 2);
        append_gif_image(gif, 1, 0, 3, 2, local, 2, {1, 2, 1, 2, 1, 2});
        append_gce(gif, 0, 2);
        append_gif_image(gif, 0, 0, 3, 1, {}, 2, {2, 2, 2});
        gif_anim *anim = load_gif_bytes(gif);
        ASSERT_TRUE(anim != nullptr);
        ASSERT_EQ(anim->num_frames, 3);
        ASSERT_EQ(anim->num_palettes, 2);

        // Disposal 2 clears to the background; 3 puts back what was there,
        // which for image 0 is the background too.
        uint8_t after_0 = d1 >= 2 ? 3 : 0;
        uint8_t x1_after_1 = 1;
        uint8_t x2_after_1 = after_0;
        if (d2 == 2) {
            x1_after_1 = 3;
            x2_after_1 = 3;
        }
        if (d2 == 3)
            x1_after_1 = after_0;
        // Frame 1 keeps only its part inside the screen: x 1 and 2 of row 0.
        EXPECT_EQ(read_frame_pixels(anim, 1), (byte_list{1, after_0})) << d;
        EXPECT_EQ(read_frame_pixels(anim, 2), (byte_list{after_0, x1_after_1, x2_after_1})) << d;

        byte_list slots(2 * GIF_PALETTE_BYTES, 0);
        memcpy(slots.data(), global.data(), 12);
        memcpy(&slots[GIF_PALETTE_BYTES], local.data(), 12);
        EXPECT_EQ(byte_list(anim->palettes, anim->palettes + slots.size()), slots);

        // pal, delay, trans, disposal, x, w, h
        EXPECT_EQ(list_frame_fields(anim->frames[0]), (std::vector<int>{0, 7, -1, d1, 0, 3, 1}));
        EXPECT_EQ(list_frame_fields(anim->frames[1]), (std::vector<int>{1, 0, 2, d2, 1, 3, 2}));
        EXPECT_EQ(list_frame_fields(anim->frames[2]), (std::vector<int>{0, 0, 2, 0, 0, 3, 1}));
        destroy_gif_anim(anim);
    }
}

// Without a global table: no slot for plain images, local tables from slot
// 0, one zero slot more, and a fill of 0. The loop count is a NETSCAPE2.0
// extension's (another name's is none: see the trace test).
TEST(GifLoader, NoGlobalTable)
{
    const byte_list netscape = {'N', 'E', 'T', 'S', 'C', 'A', 'P', 'E', '2', '.', '0'};
    byte_list gif = make_gif_screen(2, 1, test_colours(0), 5);
    append_extension(gif, 0xFF, netscape, {1, 0x34, 0x12});
    append_gif_image(gif, 1, 0, 1, 1, {}, 2, {1});
    append_gif_image(gif, 1, 0, 1, 1, test_colours(1), 2, {1});
    append_gce(gif, 0, 1);
    append_gif_image(gif, 0, 0, 2, 1, {}, 2, {1, 1});
    gif_anim *anim = load_gif_bytes(gif);
    ASSERT_TRUE(anim != nullptr);
    ASSERT_EQ(anim->num_palettes, 2);
    EXPECT_EQ(anim->loop_count, 0x1234);
    EXPECT_EQ(anim->frames[0].pal, -1);
    EXPECT_EQ(anim->frames[1].pal, 0);
    EXPECT_EQ(anim->frames[2].pal, -1);
    byte_list zero_slot(GIF_PALETTE_BYTES, 0);
    EXPECT_EQ(byte_list(anim->palettes + GIF_PALETTE_BYTES, anim->palettes + 1536), zero_slot);
    EXPECT_EQ(read_frame_pixels(anim, 2), (byte_list{0, 1}));
    destroy_gif_anim(anim);
}

bool contains(const std::string &text, const std::string &part)
{
    return text.find(part) != std::string::npos;
}

// Skipped blocks and a control block before a plain image, then an
// interlaced one with a local table, cut anywhere: whole images as in the
// whole file, and an image whose data the cut reaches named as cut. The
// trace shows those blocks and the table (the lines of plain images are
// checked with the program's start-up).
TEST(GifLoader, TraceAndEveryTruncation)
{
    byte_list gif = make_gif_screen(8, 6, test_colours(1), 1);
    append_extension(gif, 0xFE, {'o', 'k'});
    append_extension(gif, 0xFF, {'a', 'p', 'p'}, {1, 0x34, 0x12});
    append_gce(gif, 0, 1, 25);
    std::vector<size_t> ends = {gif.size()}; // where each part ends
    append_gif_image(gif, 0, 0, 8, 6, {}, 2, make_pixels(8, 6, 2, 0));
    ends.push_back(gif.size());
    append_gif_image(gif, 2, 1, 4, 3, test_colours(2), 2, make_pixels(4, 3, 4, 1), true);
    ends.push_back(gif.size());
    gif.push_back(0x3B);
    ends.push_back(gif.size());
    // Where each image's data starts, after its code size byte.
    const size_t data[2] = {ends[0] + 11, ends[1] + 11 + 12};

    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    gif_anim *whole = load_gif_bytes(gif, false);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    std::string trace = testing::internal::GetCapturedStdout();
    ASSERT_TRUE(whole != nullptr);
    EXPECT_EQ(whole->loop_count, GIF_NO_LOOP_EXTENSION);
    const std::string skip = "\n\n0x21 Extension Block\n   ???? 0x";
    EXPECT_TRUE(contains(trace, skip + "FE Skip that block\n" + skip + "FF Skip that block\n"));
    EXPECT_TRUE(contains(trace, "   0xF9 Graphic Control extension\n0x2C"));
    EXPECT_TRUE(contains(trace, "local_palette_flag = 1\n   reading local palette, size = 4\n"));
    EXPECT_TRUE(contains(trace, ".pal   = 0\n   .trans = 1\n   .delay = 25\n"));

    for (size_t cut = 0; cut <= gif.size(); cut++) {
        byte_list part(gif.begin(), gif.begin() + long(cut));
        gif_anim *anim = load_gif_bytes(part);
        bool in_data = (cut >= data[0] && cut <= ends[1]) || (cut >= data[1] && cut <= ends[2]);
        bool at_end = std::count(ends.begin(), ends.end(), cut) > 0;
        if (in_data || at_end) {
            ASSERT_TRUE(anim != nullptr) << cut;
        }
        if (!anim)
            continue;
        EXPECT_EQ(check_gif_anim(anim), "") << cut;
        int frames = int(cut >= data[0]) + int(cut >= data[1]);
        EXPECT_EQ(anim->num_frames, frames) << cut;
        // The last data byte holds the end code's last bits.
        int cut_frame = -1;
        for (int k = 0; k < 2; k++)
            if (cut >= data[k] && cut + 2 <= ends[size_t(k) + 1])
                cut_frame = k;
        EXPECT_EQ(anim->cut_frame, cut_frame) << cut;
        for (int k = 0; k < 2; k++) {
            if (cut < ends[size_t(k) + 1])
                continue;
            EXPECT_EQ(read_frame_pixels(anim, k), read_frame_pixels(whole, k)) << cut;
        }
        destroy_gif_anim(anim);
    }
    destroy_gif_anim(whole);

    testing::internal::CaptureStderr();
    destroy_gif_anim(load_gif_bytes(byte_list(gif.begin(), gif.begin() + long(data[1] + 3))));
    std::string warning = testing::internal::GetCapturedStderr();
    EXPECT_EQ(std::count(warning.begin(), warning.end(), '\n'), 1) << warning;
    EXPECT_TRUE(contains(warning, "input.gif ends early, frame 1 is incomplete")) << warning;
}

// A GIF whose frames are given (empty: not checked), or none when the
// file may fail to load.
struct hostile_case {
    byte_list gif;
    std::vector<byte_list> frames;
};

// Each file ends in the 2 x 2 image {1, 2, 3, 0}.
TEST(GifLoader, HostileSizesCodesAndBlocks)
{
    const byte_list last = {1, 2, 3, 0};
    const byte_list tall = make_pixels(1, 65535, 4, 3);
    const byte_list pixels = make_pixels(4, 4, 4, 1);
    std::vector<hostile_case> cases;

    // The last image keeps its column inside the 1-pixel-wide screen.
    hostile_case tall_screen{make_gif_screen(1, 65535, test_colours(2), 1), {tall, {1, 3}}};
    append_gif_image(tall_screen.gif, 0, 0, 1, 65535, {}, 2, tall);
    cases.push_back(tall_screen);
    // Images of zero size or past the screen.
    const unsigned rects[5][4] = {
        {0, 0, 0, 3}, {0, 0, 3, 0}, {3, 3, 4, 4}, {65535, 65535, 1, 1}, {65534, 0, 3, 3},
    };
    for (const auto &r : rects) {
        hostile_case c{make_gif_screen(4, 4, test_colours(2), 1), {{}, last}};
        byte_list image = make_pixels(int(std::min(r[2], 8u)), int(std::min(r[3], 8u)), 4, 2);
        append_gif_image(c.gif, r[0], r[1], r[2], r[3], {}, 2, image);
        cases.push_back(c);
    }
    // Above 11 the image stays the background; 11 still decodes; at 8,
    // codes past the table at width 12, never clearing.
    for (int size : {11, 12, 8}) {
        hostile_case c{make_gif_screen(4, 4, test_colours(2), 1), {{}, last}};
        if (size == 11)
            c.frames[0] = pixels;
        if (size == 12)
            c.frames[0] = byte_list(16, 1);
        append_gif_descriptor(c.gif, 0, 0, 4, 4, {}, size);
        if (size == 8)
            append_sub_blocks(c.gif, byte_list(20000, 0xFE));
        else
            append_sub_blocks(c.gif, encode_gif_lzw(pixels, 11));
        cases.push_back(c);
    }
    // Thousands of extensions before one image (the last control block,
    // transparent 2, wins).
    hostile_case many{make_gif_screen(2, 2, test_colours(2), 1), {{1, 1, 3, 0}}};
    while (many.gif.size() < 200000) {
        append_gce(many.gif, int(many.gif.size() % 8), int(many.gif.size() % 4));
        append_extension(many.gif, 0xFE, {'x'});
    }
    append_gce(many.gif, 0, 2);
    cases.push_back(many);
    // Extensions that never end.
    hostile_case endless{make_gif_screen(2, 2, test_colours(2), 1), {}};
    while (endless.gif.size() < 20000)
        endless.gif.insert(endless.gif.end(), {0x21, 0xFF, 0x0B});
    cases.push_back(endless);

    for (hostile_case &c : cases) {
        append_gif_image(c.gif, 0, 0, 2, 2, {}, 2, last);
        gif_anim *anim = load_gif_bytes(c.gif);
        EXPECT_TRUE(anim || c.frames.empty()) << c.gif.size();
        if (!anim)
            continue;
        EXPECT_EQ(check_gif_anim(anim), "") << c.gif.size();
        for (size_t i = 0; i < c.frames.size() && int(i) < anim->num_frames; ++i) {
            if (c.frames[i].empty())
                continue;
            EXPECT_EQ(read_frame_pixels(anim, int(i)), c.frames[i]) << c.gif.size();
        }
        destroy_gif_anim(anim);
    }
}

long long read_status_kib(const char *field)
{
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind(field, 0) == 0)
            return std::stoll(line.substr(strlen(field)));
    return -1;
}

// A load under a budget in a process of its own: its exit status is 1 when
// it loaded, plus 2 when its resident memory rose by max_rise_kib or more
// over what it was before (-1 when it did not exit).
int load_in_child(const byte_list &gif, long long limit, long long max_rise_kib)
{
    pid_t pid = fork();
    if (pid == 0) {
        // The graphics library's start-up and the reader's string table
        // come before the load measured.
        byte_list warm_up = make_gif_screen(1, 1, test_colours(1), 0);
        append_gif_image(warm_up, 0, 0, 1, 1, {}, 2, {1});
        destroy_gif_anim(load_gif_bytes(warm_up));
        glb_gif_reader.load_bytes_limit = limit;
        // The peak starts again from here.
        std::ofstream("/proc/self/clear_refs") << "5";
        long long before = read_status_kib("VmRSS:");
        gif_anim *anim = load_gif_bytes(gif);
        long long rise = read_status_kib("VmHWM:") - before;
        bool over = rise < 0 || rise >= max_rise_kib;
        _exit((anim ? 1 : 0) | (over ? 2 : 0));
    }
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// What a load may take above its budget: the string table, the allocator's
// slack and pages partly used.
constexpr long long LOAD_RSS_CONSTANT_KIB = 1024;

// 1 x 1 frames cost some 200 bytes each, not the 9 of their pixels and
// line pointer: 60000 pass a 4 MiB budget and are refused; 10000 load.
TEST(GifLoader, TinyFramesStayWithinTheBudget)
{
    byte_list frame;
    append_gif_image(frame, 0, 0, 1, 1, {}, 2, {1});
    const long long limit = 4LL << 20;
    for (int frames : {10000, 60000}) {
        byte_list gif = make_gif_screen(1, 1, test_colours(1), 0);
        for (int i = 0; i < frames; i++)
            gif.insert(gif.end(), frame.begin(), frame.end());
        int status = load_in_child(gif, limit, limit / 1024 + LOAD_RSS_CONSTANT_KIB);
        EXPECT_EQ(status, frames == 10000 ? 1 : 0) << frames << ": 2 is a rise over the budget";
    }
}

// 35 bytes: a 2 x 2 screen and one image of 32514 x 32770 pixels. Only its
// 2 x 2 corner is kept; the frame table keeps the descriptor's size.
TEST(GifLoader, ImageFarLargerThanTheScreenKeepsOnlyTheScreen)
{
    byte_list gif = make_gif_screen(2, 2, test_colours(0), 0);
    append_gif_descriptor(gif, 0, 0, 32514, 32770, {}, 2);
    const byte_list pixels = {1, 2, 3, 0, 1, 2, 3, 0, 3, 2, 1, 0, 2, 1, 3, 2, 0, 1, 1, 1};
    append_sub_blocks(gif, encode_gif_lzw(pixels, 2));
    EXPECT_EQ(load_in_child(gif, 1LL << 30, 16 * 1024), 1) << "2 is a rise of 16 MiB or more";

    gif_anim *anim = load_gif_bytes(gif);
    ASSERT_TRUE(anim != nullptr);
    EXPECT_EQ(anim->frames[0].w, 32514);
    EXPECT_EQ(anim->frames[0].h, 32770);
    // Row 1 lies past the data: the fill.
    EXPECT_EQ(read_frame_pixels(anim, 0), (byte_list{1, 2, 0, 0}));
    EXPECT_EQ(check_gif_anim(anim), "");
    destroy_gif_anim(anim);
}

// Images far wider than the screen, some interlaced, some with a transparent
// index (2): the kept columns hold the image's pixels, the background (3)
// where they are transparent.
TEST(GifLoader, ImageFarWiderThanTheScreenKeepsItsColumns)
{
    const unsigned w = 65535;
    const unsigned h = 10;
    byte_list pixels;
    for (unsigned y = 0; y < h; y++)
        for (unsigned x = 0; x < w; x++)
            pixels.push_back(uint8_t((x + 2 * y + x / 7) % 4));
    for (int variant = 0; variant < 4; variant++) {
        bool interlace = variant % 2 == 1;
        int trans = variant >= 2 ? 2 : -1;
        byte_list gif = make_gif_screen(3, h - 1, test_colours(2), 3);
        append_gce(gif, 0, trans);
        append_gif_image(gif, 0, 0, w, h, {}, 2, pixels, interlace);
        gif_anim *anim = load_gif_bytes(gif);
        ASSERT_TRUE(anim != nullptr);
        byte_list want;
        for (size_t y = 0; y < h - 1; y++) {
            for (size_t x = 0; x < 3; x++) {
                uint8_t index = pixels[y * w + x];
                if (index == trans)
                    index = 3;
                want.push_back(index);
            }
        }
        EXPECT_EQ(read_frame_pixels(anim, 0), want) << variant;
        EXPECT_EQ(check_gif_anim(anim), "") << variant;
        destroy_gif_anim(anim);
    }
}

// Two 10 x 10 images: the file's bytes, the record's tables, frame 0, the
// canvas it stays on and frame 1, each at its full cost, and the row table
// the reader keeps.
TEST(GifLoader, BudgetCountsEveryBitmapWhole)
{
    byte_list two = make_gif_screen(10, 10, test_colours(1), 0);
    for (int i = 0; i < 2; i++)
        append_gif_image(two, 0, 0, 10, 10, {}, 2, make_pixels(10, 10, 2, i));
    long long need = static_cast<long long>(two.size());
    need += 2 * static_cast<long long>(sizeof(gif_frame)) + GIF_PALETTE_BYTES;
    need += 3 * count_gif_bitmap_bytes(10, 10);
    need += 10 * static_cast<long long>(sizeof(int));
    EXPECT_GE(count_gif_bitmap_bytes(1, 1), 168); // as measured
    for (long long limit : {need, need - 1}) {
        free_gif_reader_buffers();
        long long saved = glb_gif_reader.load_bytes_limit;
        glb_gif_reader.load_bytes_limit = limit;
        gif_anim *anim = load_gif_bytes(two);
        glb_gif_reader.load_bytes_limit = saved;
        EXPECT_EQ(anim != nullptr, limit == need) << limit;
        destroy_gif_anim(anim);
    }
    EXPECT_EQ(load_gif_bytes(make_gif_screen(65535, 65535, test_colours(1), 0)), nullptr);
}

} // namespace
