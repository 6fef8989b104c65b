// The loader's trace text, and hostile files: the reader loads them or
// returns null, never crashes, never allocates what a header merely claims.
#include "fuzz/fuzz_bodies.h"
#include "common/address_text.h"
#include "gif/gif_anim.h"
#include "support/gif_reference.h"

#include <gtest/gtest.h>
#include <sys/resource.h>

namespace {

gif_anim *load_bytes(const byte_list &bytes, std::string *text = nullptr)
{
    return load_gif_captured(save_temp_gif("loader", bytes), text);
}

// A file that ends in the 2 x 2 image {1, 2, 3, 0} at (0, 0), and the
// frames it must give; without any, it may load or not, soundly.
struct hostile_case {
    std::string label;
    byte_list gif;
    std::vector<byte_list> want; // empty entries are not checked
};

void expect_cases(std::vector<hostile_case> cases)
{
    for (hostile_case &c : cases) {
        append_gif_image(c.gif, 0, 0, 2, 2, 0, 2, {1, 2, 3, 0});
        gif_anim *anim = load_bytes(c.gif);
        EXPECT_TRUE(anim || c.want.empty()) << c.label;
        EXPECT_EQ(anim ? check_gif_anim(anim) : "", "") << c.label;
        for (size_t i = 0; anim && i < c.want.size(); ++i)
            EXPECT_EQ(c.want[i].empty() || int(i) >= anim->num_frames ? byte_list() : read_frame_pixels(anim, int(i)),
                      c.want[i]) << c.label << " frame " << i;
        destroy_gif_anim(anim);
    }
}

// Two images with skipped blocks between, the second interlaced with a
// local table. Records where the blocks before each image and each image end.
byte_list make_sample(std::vector<size_t> *ends)
{
    byte_list gif = make_gif_screen(8, 6, 1, 1);
    append_extension(gif, 0xFE, {'o', 'k'});
    append_extension(gif, 0xFF, {'a', 'p', 'p'}, {1, 2});
    append_gce(gif, 0, 1, 25);
    ends->push_back(gif.size());
    append_gif_image(gif, 0, 0, 8, 6, 0, 2, make_pixels(8, 6, 2, 0));
    ends->push_back(gif.size());
    append_gif_image(gif, 2, 1, 4, 3, 2, 2, make_pixels(4, 3, 4, 1), true);
    ends->push_back(gif.size());
    gif.push_back(0x3B);
    ends->push_back(gif.size());
    return gif;
}

TEST(GifLoader, ExactTraceOfASmallFile)
{
    std::vector<size_t> ends;
    std::string text, skip = "\n\n0x21 Extension Block\n   ???? 0x", id = "0x2C Image Descriptor\n",
                      flag = "   gif_id.local_palette_flag  = ", sort = "   gif_id.sort_flag           = 0\n",
                      size = "   gif_id.palette_size        = ", global = "   g->have_global_palette    = 1\n";
    gif_anim *anim = load_bytes(make_sample(&ends), &text);
    ASSERT_NE(anim, nullptr);
    EXPECT_EQ(text, "num_frames   = 2\nnum_palettes = 2\ntotal size   = 24 + 48 + 1536 = 1608\n" +
                        skip + "FE Skip that block\n" + skip + "FF Skip that block\n"
                        "\n\n0x21 Extension Block\n   0xF9 Graphic Control extension\n" +
                        id + flag + "0\n   gif_id.interlace           = 0\n" + sort + size +
                        "2\n   sz                         = 2\n" + global +
                        "   gif_id.local_palette_flag = 0\nsub_bmp = (0, 0), w =8, h =6\n" + id + flag +
                        "1\n   gif_id.interlace           = 1\n" + sort + size + "4\n   sz                         = 4\n" +
                        global + "   gif_id.local_palette_flag = 1\n   reading local palette, size = 4\n"
                        "sub_bmp = (2, 1), w =4, h =3\n\nframe   0\n   .pos   =   0,   0\n   .w, h  =   8,   6\n"
                        "   .pal   = 0\n   .trans = 1\n   .delay = 25\n   .bmp   = 0x" + format_address(anim->frames[0].bmp) +
                        "\n\nframe   1\n   .pos   =   2,   1\n   .w, h  =   4,   3\n   .pal   = 1\n"
                        "   .trans = -1\n   .delay = 0\n   .bmp   = 0x" + format_address(anim->frames[1].bmp) + "\n");
    destroy_gif_anim(anim);
}

TEST(GifLoader, EveryTruncationLoadsOrFailsCleanly)
{
    std::vector<size_t> ends;
    byte_list gif = make_sample(&ends);
    const size_t data[2] = {ends[0] + 11, ends[1] + 11 + 12}; // after the code size bytes
    gif_reference ref;
    ASSERT_TRUE(build_gif_reference(save_temp_gif("whole", gif), &ref));
    for (size_t cut = 0; cut <= gif.size(); cut++) {
        std::string label = "cut at " + std::to_string(cut);
        gif_anim *anim = load_bytes(byte_list(gif.begin(), gif.begin() + long(cut)));
        bool in_data = (cut >= data[0] && cut <= ends[1]) || (cut >= data[1] && cut <= ends[2]);
        ASSERT_TRUE(anim || !(in_data || std::count(ends.begin(), ends.end(), cut))) << label;
        if (!anim)
            continue;
        EXPECT_EQ(check_gif_anim(anim), "") << label;
        EXPECT_LE(anim->num_frames, (cut > ends[0]) + (cut > ends[1])) << label;
        for (int k = 0; k < 2 && cut >= ends[size_t(k) + 1]; ++k)
            EXPECT_EQ(read_frame_pixels(anim, k), ref.frames[size_t(k)].pixels) << label;
        // Cut in the first image's data: a decoded prefix, background after.
        if (in_data && cut < ends[1] && anim->num_frames > 0) {
            byte_list got = read_frame_pixels(anim, 0), want = ref.frames[0].pixels;
            size_t same = std::mismatch(got.begin(), got.end(), want.begin()).first - got.begin();
            EXPECT_EQ(byte_list(got.begin() + long(same), got.end()), byte_list(got.size() - same, 1)) << label;
        }
        destroy_gif_anim(anim);
    }
}

TEST(GifLoader, HostileSizesCodesAndBlocks)
{
    const byte_list last = {1, 2, 3, 0};
    // Screens of 0 x 0 and 1 x 65535; 65535 x 65535 is refused below.
    std::vector<hostile_case> cases = {{"0 x 0", make_gif_screen(0, 0, 1, 0), {last}},
                                       {"1 x 65535", make_gif_screen(1, 65535, 2, 0), {make_pixels(1, 65535, 4, 3), last}}};
    append_gif_image(cases.back().gif, 0, 0, 1, 65535, 0, 2, cases.back().want[0]);
    // Images of zero size or past a 4 x 4 screen.
    const unsigned places[][4] = {{0, 0, 0, 0}, {0, 0, 0, 3}, {0, 0, 3, 0}, {3, 3, 4, 4},
                                  {65535, 65535, 1, 1}, {0, 0, 65535, 1}, {65534, 0, 3, 3}};
    for (const auto &p : places) {
        cases.push_back({"placement " + std::to_string(&p - places), make_gif_screen(4, 4, 2, 1), {{}, last}});
        append_gif_image(cases.back().gif, p[0], p[1], p[2], p[3], 0, 2,
                         make_pixels(int(std::min(p[2], 8u)), int(std::min(p[3], 8u)), 4, 2));
    }
    // Code sizes and invalid codes in a 4 x 4 image of raw data.
    byte_list garbage, flood, pixels = make_pixels(4, 4, 4, 1);
    for (int i = 0; i < 20000; i++)
        (i < 40 ? garbage : flood).push_back(uint8_t(i < 40 ? i * 37 + 11 : 0xFF - i % 3));
    const std::vector<std::pair<int, byte_list>> streams = {
        {0, garbage}, {1, garbage}, {11, encode_gif_lzw(pixels, 11)}, {12, garbage}, {255, garbage},
        // Codes past the next free one; an entry that is its own prefix.
        {2, pack_gif_codes({4, 1, 7, 6, 7, 7, 5}, 2)},
        // No clear first and no end; a first code after clear that is no index.
        {2, pack_gif_codes({7, 7, 6, 0, 7, 7}, 2)}, {2, pack_gif_codes({4, 4, 7, 6, 4, 5}, 2)},
        // Codes past the table at width 12, never clearing.
        {8, flood}, {2, flood}};
    for (const auto &s : streams) {
        // Above 11 the image stays undecoded (background); 11 still decodes.
        byte_list want = s.first == 11 ? pixels : s.first > 11 ? byte_list(16, 1) : byte_list();
        cases.push_back({"code size " + std::to_string(s.first), make_gif_screen(4, 4, 2, 1), {want, last}});
        append_gif_descriptor(cases.back().gif, 0, 0, 4, 4, 0, s.first);
        append_sub_blocks(cases.back().gif, s.second);
    }
    // Control blocks whose size is not 4.
    for (int size : {0, 1, 3, 5, 255}) {
        cases.push_back({"control block size " + std::to_string(size), make_gif_screen(4, 4, 2, 0), {}});
        append_extension(cases.back().gif, 0xF9, byte_list(size_t(size), 9));
    }
    // Thousands of extensions before one image (the last control block,
    // transparent 2, wins), and extensions that never end.
    cases.push_back({"many extensions", make_gif_screen(2, 2, 2, 0), {{1, 0, 3, 0}}});
    for (int i = 0; i < 20000; i++)
        i % 2 ? append_extension(cases.back().gif, 0xFE, {'x'}) : append_gce(cases.back().gif, i % 8, i % 4);
    cases.push_back({"unterminated extensions", make_gif_screen(2, 2, 2, 0), {}});
    for (int i = 0; i < 5000; i++)
        cases.back().gif.insert(cases.back().gif.end(), {0x21, 0xFF, 0x0B});
    // A stray 0x01 makes the pre-scan take the 0x2C after it as a sub-block
    // length: it counts fewer images than the parser meets.
    for (int surplus : {1, 40}) {
        cases.push_back({std::to_string(surplus) + " surplus", make_gif_screen(4, 4, 2, 0), {make_pixels(4, 4, 4, 2)}});
        append_gif_image(cases.back().gif, 0, 0, 4, 4, 0, 2, cases.back().want[0]);
        for (int i = 0; i < surplus; i++)
            cases.back().gif.push_back(0x01), append_gif_image(cases.back().gif, 0, 0, 2, 2, 2, 2, last);
    }
    expect_cases(cases);
    EXPECT_EQ(load_bytes(make_gif_screen(65535, 65535, 1, 0)), nullptr) << "65535 x 65535";
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    EXPECT_LT(usage.ru_maxrss / 1024, 512) << "a refused canvas must not be allocated";
}

TEST(GifLoader, FrameBytesLimit)
{
    // Two 10 x 10 images need 300 bytes at the second (100 kept, 2 x 100 in work).
    byte_list gif = make_gif_screen(10, 10, 1, 0);
    for (int i = 0; i < 2; i++)
        append_gif_image(gif, 0, 0, 10, 10, 0, 2, make_pixels(10, 10, 2, i));
    long long saved = glb_gif_frame_bytes_limit;
    for (long long limit : {300, 299, 199}) {
        glb_gif_frame_bytes_limit = limit;
        std::string text;
        gif_anim *anim = load_bytes(gif, &text);
        EXPECT_EQ(anim != nullptr, limit == 300) << limit;
        EXPECT_EQ(text.find("sub_bmp = NULL\n") != std::string::npos, limit != 300) << limit;
        destroy_gif_anim(anim);
    }
    glb_gif_frame_bytes_limit = saved;
}

} // namespace
