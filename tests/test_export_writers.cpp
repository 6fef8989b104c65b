// The GIF and sheet writers on their own; the program-run tests compare what
// each format holds with the BMP export.
#include "export/gif_writer.h"
#include "export/sprite_sheet.h"
#include "gif/gif_anim.h"
#include "support/checks.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

namespace {

const uint8_t (*as_table(const std::vector<gif_rgb> &palette))[3]
{
    return reinterpret_cast<const uint8_t(*)[3]>(palette.data());
}

std::vector<uint8_t *> list_rows(byte_list &pixels, int w, int h)
{
    std::vector<uint8_t *> rows;
    for (int y = 0; y < h; y++)
        rows.push_back(pixels.data() + size_t(y) * size_t(w));
    return rows;
}

// The looping extension's count as giflib saves it before the first image;
// -1 without the extension.
int read_giflib_loop_count(const SavedImage &first)
{
    for (int k = 0; k + 1 < first.ExtensionBlockCount; k++) {
        const ExtensionBlock &name = first.ExtensionBlocks[k];
        const ExtensionBlock &count = first.ExtensionBlocks[k + 1];
        std::string id(name.Bytes, name.Bytes + name.ByteCount);
        bool loop = name.Function == APPLICATION_EXT_FUNC_CODE && id == "NETSCAPE2.0";
        if (loop && count.ByteCount == 3 && count.Bytes[0] == 1)
            return count.Bytes[1] | count.Bytes[2] << 8;
    }
    return -1;
}

// Each loop count as giflib reads it, none written for -1 (delays,
// transparency and disposal: the program-run tests).
TEST(GifWriter, LoopCountsAsGiflibReadsThem)
{
    std::vector<gif_rgb> palette = make_full_palette(3);
    byte_list pixels = {0, 1, 2, 3, 0, 254};
    for (int loop_count : {-1, 0, 0x1234, 65535}) {
        gif_encoding gif;
        ASSERT_TRUE(begin_gif_encoding(gif, 3, 2, as_table(palette), loop_count));
        ASSERT_TRUE(add_gif_frame(gif, list_rows(pixels, 3, 2).data(), 0));
        ASSERT_TRUE(finish_gif_encoding(gif));
        GifFileType *file = slurp_gif_bytes(gif.bytes);
        ASSERT_NE(file, nullptr);
        EXPECT_EQ(read_giflib_loop_count(file->SavedImages[0]), loop_count);
        DGifCloseFile(file, nullptr);
    }
}

// Sides past 16 bits, or none, and loop counts past 16 bits are refused; the widest is not.
TEST(GifWriter, SizesTheFormatCannotHoldAreRefused)
{
    std::vector<gif_rgb> palette = make_full_palette(0);
    const int refused[][3] = {{65536, 1, 0}, {1, 65536, 0}, {0, 5, 0}, {4, 4, 65536}};
    for (const auto &size : refused) {
        gif_encoding gif;
        EXPECT_FALSE(begin_gif_encoding(gif, size[0], size[1], as_table(palette), size[2]));
        EXPECT_FALSE(finish_gif_encoding(gif));
    }
    gif_encoding widest;
    EXPECT_TRUE(begin_gif_encoding(widest, 65535, 1, as_table(palette), -1));
    EXPECT_TRUE(finish_gif_encoding(widest));
}

// Frames go left to right and wrap within the 16384-pixel side limit; what
// cannot fit is refused (0 columns).
TEST(SpriteSheet, FramesWrapWithinTheSideLimit)
{
    const int plans[][5] = {
        {100, 50, 10, 10, 1}, {5000, 10, 7, 3, 3}, {3, 3, 16384 / 3 + 1, 5461, 2},
        {16384, 1, 2, 1, 2}, {16385, 1, 1, 0, 0}, {2, 16384, 8193, 0, 0}, {8, 8, 0, 0, 0},
    };
    for (const auto &p : plans) {
        SCOPED_TRACE(testing::Message() << p[0] << " x " << p[1] << " x " << p[2]);
        sheet_layout layout;
        EXPECT_EQ(plan_sprite_sheet(p[0], p[1], p[2], layout), p[3] > 0);
        EXPECT_EQ(layout.columns, p[3]);
        EXPECT_EQ(layout.rows, p[4]);
        EXPECT_EQ(layout.h, p[4] * p[1]);
    }
}

// The JSON names each frame and its duration (delays 0 and 1 last a tenth
// of a second), the sheet's size, and the zoom as a factor.
TEST(SpriteSheet, JsonNamesFramesDurationsAndScale)
{
    sheet_layout layout;
    ASSERT_TRUE(plan_sprite_sheet(7000, 3, 5, layout));
    std::string text = format_sheet_json(layout, {0, 1, 2, 3, 4}, "walk", "walk_sheet.png", 150);
    nlohmann::json json = nlohmann::json::parse(text);
    EXPECT_EQ(json["meta"]["image"], "walk_sheet.png");
    EXPECT_EQ(json["meta"]["size"]["w"], 14000);
    ASSERT_EQ(json["frames"].size(), 5u);
    for (int i = 0; i < 5; i++) {
        EXPECT_EQ(json["frames"][size_t(i)]["filename"], "walk_00" + std::to_string(i));
        EXPECT_EQ(json["frames"][size_t(i)]["duration"], i < 2 ? 100 : 10 * i);
    }
    const std::pair<int, const char *> scales[] = {{100, "1"}, {33, "0.33"}, {150, "1.5"},
                                                   {1000, "10"}, {105, "1.05"}};
    for (const auto &scale : scales) {
        text = format_sheet_json(layout, {}, "a", "a_sheet.png", scale.first);
        EXPECT_EQ(nlohmann::json::parse(text)["meta"]["scale"], scale.second);
    }
}

} // namespace
