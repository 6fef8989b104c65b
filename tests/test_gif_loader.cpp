// The reader on files whose frames are known, and on hostile ones: it loads
// them or returns null, never allocating what a header merely claims.
#include "gif/gif_anim.h"
#include "support/checks.h"

#include <deque>
#include <gtest/gtest.h>
#include <sys/resource.h>

namespace {

// Screen 3 x 1, background 3: {0 0 0} left by disposal d1; a 3 x 2 image at
// x 1 with a local table, past the right and bottom edges, transparent (2)
// in places, left by d2; an all-transparent image showing the canvas they
// left (3 puts back what was there). Without a global table: no slot, fill 0.
TEST(GifLoader, DisposalsTransparencyAndPaletteSlots)
{
    for (int d = 0; d < 16; d++) {
        std::vector<gif_rgb> global = test_colours(2), local = test_colours(2);
        byte_list gif = make_gif_screen(3, 1, global, 3), slots(780);
        append_gce(gif, d % 4, -1, 7);
        append_gif_image(gif, 0, 0, 3, 1, {}, 2, {0, 0, 0});
        append_gce(gif, d / 4, 2);
        append_gif_image(gif, 1, 0, 3, 2, local, 2, {1, 2, 1, 2, 1, 2});
        append_gce(gif, 0, 2);
        append_gif_image(gif, 0, 0, 3, 1, {}, 2, {2, 2, 2});
        gif_anim *anim = load_gif_bytes(gif);
        ASSERT_TRUE(anim && anim->num_frames == 3 && anim->num_palettes == 2);
        memcpy(slots.data(), global.data(), 12), memcpy(&slots[768], local.data(), 12);
        uint8_t c1 = d % 4 < 2 ? 0 : 3, c2 = d / 4 < 2 ? 1 : d / 4 == 2 ? 3 : c1, c3 = d / 4 == 2 ? 3 : c1;
        EXPECT_EQ(read_frame_pixels(anim, 1), (byte_list{1, c1, 1, 3, 1, 3})) << d;
        EXPECT_EQ(read_frame_pixels(anim, 2), (byte_list{c1, c2, c3})) << d;
        EXPECT_EQ(byte_list(anim->palettes, anim->palettes + 780), slots);
        const gif_frame *f = anim->frames;
        EXPECT_EQ((std::vector<int>{f[0].pal, f[0].delay, f[0].trans, f[1].pal, f[1].pos.x, f[1].h, f[2].pal, f[2].trans}),
                  (std::vector<int>{0, 7, -1, 1, 1, 2, 0, 2}));
        destroy_gif_anim(anim);
    }
    byte_list gif = make_gif_screen(2, 1, test_colours(0), 5); // pal -1, slot 0 local, slot 1 zeros
    append_gif_image(gif, 1, 0, 1, 1, {}, 2, {1});
    append_gif_image(gif, 1, 0, 1, 1, test_colours(1), 2, {1});
    append_gce(gif, 0, 1);
    append_gif_image(gif, 0, 0, 2, 1, {}, 2, {1, 1});
    gif_anim *anim = load_gif_bytes(gif);
    ASSERT_TRUE(anim && anim->num_palettes == 2);
    EXPECT_EQ((std::vector<int>{anim->frames[0].pal, anim->frames[1].pal, anim->frames[2].pal, anim->palettes[768],
                                anim->palettes[1535], read_frame_pixels(anim, 2)[0]}),
              (std::vector<int>{-1, 0, -1, 0, 0, 0}));
    destroy_gif_anim(anim);
}

// Skipped blocks and a control block before a plain image, then an
// interlaced one with a local table, cut anywhere: whole images as in the
// whole file, whose trace shows those blocks and the table (the lines of
// plain images are checked with the program's start-up).
TEST(GifLoader, TraceAndEveryTruncation)
{
    byte_list gif = make_gif_screen(8, 6, test_colours(1), 1);
    append_extension(gif, 0xFE, {'o', 'k'});
    append_extension(gif, 0xFF, {'a', 'p', 'p'}, {1, 2});
    append_gce(gif, 0, 1, 25);
    std::vector<size_t> ends = {gif.size()}; // where each part ends
    append_gif_image(gif, 0, 0, 8, 6, {}, 2, make_pixels(8, 6, 2, 0)), ends.push_back(gif.size());
    append_gif_image(gif, 2, 1, 4, 3, test_colours(2), 2, make_pixels(4, 3, 4, 1), true), ends.push_back(gif.size());
    gif.push_back(0x3B), ends.push_back(gif.size());
    testing::internal::CaptureStdout();
    gif_anim *whole = load_gif_bytes(gif, false);
    std::string trace = testing::internal::GetCapturedStdout(), skip = "\n\n0x21 Extension Block\n   ???? 0x";
    for (std::string part : {skip + "FE Skip that block\n" + skip + "FF Skip that block\n\n\n0x21 Extension Block\n   0xF9 "
                             "Graphic Control extension\n0x2C", std::string("local_palette_flag = 1\n   reading local "
                             "palette, size = 4\nsub_bmp"), std::string(".pal   = 0\n   .trans = 1\n   .delay = 25\n")})
        EXPECT_NE(trace.find(part), std::string::npos) << part;
    const size_t data[2] = {ends[0] + 11, ends[1] + 11 + 12}; // after the code size bytes
    for (size_t cut = 0; whole && cut <= gif.size(); cut++) {
        gif_anim *anim = load_gif_bytes(byte_list(gif.begin(), gif.begin() + long(cut)));
        bool in_data = (cut >= data[0] && cut <= ends[1]) || (cut >= data[1] && cut <= ends[2]);
        ASSERT_TRUE(anim || !(in_data || std::count(ends.begin(), ends.end(), cut))) << cut;
        EXPECT_EQ(anim ? check_gif_anim(anim) : "", "") << cut;
        EXPECT_EQ(anim ? anim->num_frames : 0, anim ? (cut >= data[0]) + (cut >= data[1]) : 0) << cut;
        for (int k = 0; anim && k < 2 && cut >= ends[size_t(k) + 1]; ++k)
            EXPECT_EQ(read_frame_pixels(anim, k), read_frame_pixels(whole, k)) << cut;
        destroy_gif_anim(anim);
    }
    destroy_gif_anim(whole);
}

// Each file ends in the 2 x 2 image {1, 2, 3, 0}: the frames before it as
// given (empty ones unchecked), and none when the file may fail to load.
TEST(GifLoader, HostileSizesCodesAndBlocks)
{
    const byte_list last = {1, 2, 3, 0}, tall = make_pixels(1, 65535, 4, 3), pixels = make_pixels(4, 4, 4, 1);
    std::deque<std::tuple<byte_list, std::vector<byte_list>>> cases;
    auto add = [&](unsigned w, unsigned h, std::vector<byte_list> want) {
        return &std::get<0>(cases.emplace_back(make_gif_screen(w, h, test_colours(2), 1), want));
    };
    append_gif_image(*add(1, 65535, {tall, last}), 0, 0, 1, 65535, {}, 2, tall);
    // Images of zero size or past the screen.
    for (auto p : {std::vector<unsigned>{0, 0, 0, 3}, {0, 0, 3, 0}, {3, 3, 4, 4}, {65535, 65535, 1, 1}, {65534, 0, 3, 3}})
        append_gif_image(*add(4, 4, {{}, last}), p[0], p[1], p[2], p[3], {}, 2,
                         make_pixels(std::min(p[2], 8u), std::min(p[3], 8u), 4, 2));
    // Above 11 the image stays the background; 11 still decodes; codes past
    // the table at width 12, never clearing.
    for (int size : {11, 12, 8}) {
        byte_list *gif = add(4, 4, {size == 11 ? pixels : size > 11 ? byte_list(16, 1) : byte_list(), last});
        append_gif_descriptor(*gif, 0, 0, 4, 4, {}, size);
        append_sub_blocks(*gif, size == 8 ? byte_list(20000, 0xFE) : encode_gif_lzw(pixels, 11));
    }
    // Thousands of extensions before one image (the last control block,
    // transparent 2, wins), and extensions that never end.
    byte_list *many = add(2, 2, {{1, 1, 3, 0}});
    while (many->size() < 200000)
        append_gce(*many, many->size() % 8, many->size() % 4), append_extension(*many, 0xFE, {'x'});
    append_gce(*many, 0, 2);
    for (byte_list *gif = add(2, 2, {}); gif->size() < 20000;)
        gif->insert(gif->end(), {0x21, 0xFF, 0x0B});
    for (auto &[gif, want] : cases) {
        append_gif_image(gif, 0, 0, 2, 2, {}, 2, last);
        gif_anim *anim = load_gif_bytes(gif);
        EXPECT_TRUE(anim || want.empty()) << gif.size();
        for (size_t i = 0; anim && i < want.size(); ++i)
            EXPECT_EQ(want[i].empty() || int(i) >= anim->num_frames ? byte_list() : read_frame_pixels(anim, int(i)),
                      want[i]) << gif.size();
        EXPECT_EQ(anim ? check_gif_anim(anim) : "", "") << gif.size();
        destroy_gif_anim(anim);
    }
    EXPECT_EQ(load_gif_bytes(make_gif_screen(65535, 65535, test_colours(1), 0)), nullptr);
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    EXPECT_LT(usage.ru_maxrss / 1024, 512) << "a refused canvas must not be allocated";
    // Two 10 x 10 images: the file's bytes, the record's tables, then frame
    // 0, the canvas it stays on and frame 1, each with a line pointer per row.
    byte_list two = make_gif_screen(10, 10, test_colours(1), 0);
    for (int i = 0; i < 2; i++)
        append_gif_image(two, 0, 0, 10, 10, {}, 2, make_pixels(10, 10, 2, i));
    const long long need = two.size() + 2 * sizeof(gif_frame) + GIF_PALETTE_BYTES + 3 * (100 + 10 * sizeof(void *));
    for (long long limit : {need, need - 1}) {
        std::swap(limit, glb_gif_load_bytes_limit);
        gif_anim *anim = load_gif_bytes(two);
        std::swap(limit, glb_gif_load_bytes_limit);
        EXPECT_EQ(anim != nullptr, limit == need) << limit;
        destroy_gif_anim(anim);
    }
}

} // namespace
