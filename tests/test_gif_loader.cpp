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

// Runs of one index each, {index, count}, one after another.
byte_list make_runs(const std::vector<std::pair<uint8_t, int>> &runs)
{
    byte_list out;
    for (const auto &run : runs)
        out.insert(out.end(), size_t(run.second), run.first);
    return out;
}

// Screen 20 x 8, background 7, index 0 transparent after image 0, which is
// all 1 and stays. Image 1, interlaced: rows 0, 2, 4 and 6 are 2, 3, 4 and
// 5 (stored in the order 0, 4, 2, 6), the odd rows transparent. Image 2:
// thirty pixels of 6, then its data ends. Wider than sixteen, so the blocks
// of sixteen and the pixels after them both count.
TEST(GifLoader, TransparentImagesOverTheCanvas)
{
    byte_list gif = make_gif_screen(20, 8, test_colours(3), 7);
    append_gce(gif, 1, -1);
    append_gif_image(gif, 0, 0, 20, 8, {}, 3, make_runs({{1, 160}}));
    append_gce(gif, 1, 0);
    byte_list stripes = make_runs({{2, 20}, {0, 20}, {3, 20}, {0, 20}, {4, 20}, {0, 20},
                                   {5, 20}, {0, 20}});
    append_gif_image(gif, 0, 0, 20, 8, {}, 3, stripes, true);
    append_gce(gif, 1, 0);
    append_gif_image(gif, 0, 0, 20, 8, {}, 3, make_runs({{6, 30}}));
    gif_anim *anim = load_gif_bytes(gif);
    ASSERT_TRUE(anim != nullptr);
    ASSERT_EQ(anim->num_frames, 3);
    byte_list shown = make_runs({{2, 20}, {1, 20}, {3, 20}, {1, 20}, {4, 20}, {1, 20},
                                 {5, 20}, {1, 20}});
    EXPECT_EQ(read_frame_pixels(anim, 1), shown);
    byte_list after = make_runs({{6, 30}, {1, 10}, {3, 20}, {1, 20}, {4, 20}, {1, 20},
                                 {5, 20}, {1, 20}});
    EXPECT_EQ(read_frame_pixels(anim, 2), after);
    destroy_gif_anim(anim);
}

// Skipped blocks and a control block before a plain image, then an
// interlaced one with a local table, cut anywhere: whole images as in the
// whole file, and an image whose data the cut reaches named as cut, once, in
// a warning. The loop count is a NETSCAPE2.0 extension's.
TEST(GifLoader, EveryTruncation)
{
    const byte_list netscape = {'N', 'E', 'T', 'S', 'C', 'A', 'P', 'E', '2', '.', '0'};
    byte_list gif = make_gif_screen(8, 6, test_colours(1), 1);
    append_extension(gif, 0xFE, {'o', 'k'});
    append_extension(gif, 0xFF, netscape, {1, 0x34, 0x12});
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
    gif_anim *whole = load_gif_bytes(gif);
    ASSERT_TRUE(whole != nullptr);
    EXPECT_EQ(whole->loop_count, 0x1234);

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

    const std::string path = "cut_" + std::to_string(getpid()) + ".gif";
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char *>(gif.data()),
                                                std::streamsize(data[1] + 3));
    testing::internal::CaptureStderr();
    destroy_gif_anim(load_gif_anim(path.c_str()));
    std::string warning = testing::internal::GetCapturedStderr();
    EXPECT_EQ(warning, "warning : " + path + " ends early, frame 1 is incomplete\n");
    std::remove(path.c_str());
}

// Above 11 the image stays the fill, its chain skipped whole; 11 still
// decodes. The 2 x 2 image after it is read either way. Without a global
// table the fill is 0 and plain images have no slot.
TEST(GifLoader, CodeSizesAboveElevenWithoutAGlobalTable)
{
    const byte_list pixels = make_pixels(4, 4, 4, 1);
    for (int size : {11, 12}) {
        byte_list gif = make_gif_screen(4, 4, test_colours(0), 1);
        append_gif_descriptor(gif, 0, 0, 4, 4, {}, size);
        append_sub_blocks(gif, encode_gif_lzw(pixels, 11));
        append_gif_image(gif, 0, 0, 2, 2, {}, 2, {1, 2, 3, 0});
        gif_anim *anim = load_gif_bytes(gif);
        ASSERT_TRUE(anim != nullptr);
        EXPECT_EQ(read_frame_pixels(anim, 0), size == 11 ? pixels : byte_list(16, 0));
        EXPECT_EQ(read_frame_pixels(anim, 1), (byte_list{1, 2, 3, 0})) << size;
        EXPECT_EQ(anim->frames[1].pal, -1);
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
// 2 x 2 corner is kept; the frame table keeps the descriptor's size. A
// screen of 65535 x 32767 asks for a 2 GiB canvas: refused untouched.
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

    byte_list huge = make_gif_screen(65535, 32767, test_colours(1), 0);
    for (unsigned x = 0; x < 2; x++) // the second needs the canvas
        append_gif_image(huge, x, 0, 1, 1, {}, 2, {1});
    long long limit = glb_gif_reader.load_bytes_limit;
    EXPECT_EQ(load_in_child(huge, limit, 256 << 10), 0) << "1 loaded, 2 touched 256 MiB";
}

} // namespace
