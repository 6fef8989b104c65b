// The writers on their own: the GIF writer's loop counts and size limits as
// giflib reads them, PNG rows against the height, and sprite sheets laid
// out and described as their JSON says. (The program-run tests compare what
// each format holds with the BMP export.)
#include "export/gif_writer.h"
#include "export/png_writer.h"
#include "export/sprite_sheet.h"
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

// Two 3 x 2 frames, the second on the table's last entry, with each loop
// count: giflib reads the count, the table, the pixels, the delays, index 0
// transparent and cleared after each frame.
TEST(GifWriter, LoopCountsTableAndFramesAsGiflibReadsThem)
{
    std::vector<gif_rgb> palette = make_full_palette(3);
    byte_list frames[2] = {{0, 1, 2, 3, 0, 254}, {255, 255, 255, 255, 255, 255}};
    for (int loop_count : {-1, 0, 7, 65535}) {
        SCOPED_TRACE(testing::Message() << "loop " << loop_count);
        gif_encoding gif;
        ASSERT_TRUE(begin_gif_encoding(gif, 3, 2, as_table(palette), loop_count));
        ASSERT_TRUE(add_gif_frame(gif, list_rows(frames[0], 3, 2).data(), 0));
        ASSERT_TRUE(add_gif_frame(gif, list_rows(frames[1], 3, 2).data(), 300));
        ASSERT_TRUE(finish_gif_encoding(gif));
        GifFileType *file = slurp_gif_bytes(gif.bytes);
        ASSERT_NE(file, nullptr);
        EXPECT_EQ(find_gif_loop_count(file), loop_count);
        EXPECT_EQ(list_gif_delays(file), (std::vector<int>{0, 300}));
        std::vector<gif_rgb> table;
        for (int c = 0; c < file->SColorMap->ColorCount; c++) {
            const GifColorType &colour = file->SColorMap->Colors[c];
            table.push_back({colour.Red, colour.Green, colour.Blue});
        }
        EXPECT_EQ(table, palette);
        ASSERT_EQ(file->ImageCount, 2);
        for (int i = 0; i < 2; i++) {
            const SavedImage &image = file->SavedImages[i];
            EXPECT_EQ(byte_list(image.RasterBits, image.RasterBits + 6), frames[i]);
            GraphicsControlBlock control;
            DGifSavedExtensionToGCB(file, i, &control);
            EXPECT_EQ(control.TransparentColor, 0);
            EXPECT_EQ(control.DisposalMode, DISPOSE_BACKGROUND);
        }
        int error = 0;
        DGifCloseFile(file, &error);
    }
}

// Sides past 16 bits, or none, and a loop count past 16 bits are refused;
// the widest screen is not.
TEST(GifWriter, SizesTheFormatCannotHoldAreRefused)
{
    std::vector<gif_rgb> palette = make_full_palette(0);
    const int refused[][3] = {{65536, 1, 0}, {1, 65536, 0}, {0, 5, 0}, {5, 0, 0}, {4, 4, 65536}};
    for (const auto &size : refused) {
        gif_encoding gif;
        EXPECT_FALSE(begin_gif_encoding(gif, size[0], size[1], as_table(palette), size[2]));
        EXPECT_FALSE(finish_gif_encoding(gif));
    }
    gif_encoding widest;
    EXPECT_TRUE(begin_gif_encoding(widest, 65535, 1, as_table(palette), -1));
    byte_list row(65535, 3);
    EXPECT_TRUE(add_gif_frame(widest, list_rows(row, 65535, 1).data(), 2));
    EXPECT_TRUE(finish_gif_encoding(widest));
}

// A whole image reads back; a row too few, or one too many, leaves no file.
TEST(PngWriter, RowsMustMatchTheHeight)
{
    std::vector<gif_rgb> palette = make_full_palette(1);
    std::mt19937 rng(5);
    byte_list pixels = make_random_indices(37, 23, 3, rng);
    byte_list bytes;
    ASSERT_TRUE(encode_indexed_png(list_rows(pixels, 37, 23).data(), 37, 23, as_table(palette),
                                   bytes));
    png_read read = read_png_bytes(bytes);
    EXPECT_TRUE(read.ok);
    EXPECT_EQ(read.palette, palette);
    EXPECT_EQ(read.alpha, byte_list{0});
    EXPECT_EQ(read.pixels, pixels);
    png_encoding png;
    ASSERT_TRUE(begin_png_encoding(png, 37, 2, as_table(palette), bytes));
    EXPECT_TRUE(add_png_row(png, pixels.data()));
    EXPECT_FALSE(finish_png_encoding(png));
    ASSERT_TRUE(begin_png_encoding(png, 37, 1, as_table(palette), bytes));
    EXPECT_TRUE(add_png_row(png, pixels.data()));
    EXPECT_FALSE(add_png_row(png, pixels.data()));
    EXPECT_FALSE(finish_png_encoding(png));
}

TEST(SpriteSheet, FramesGoLeftToRightAndWrapWithinTheSideLimit)
{
    struct plan {
        int frame_w, frame_h, count;
        int columns, rows; // 0: refused
    };
    const plan plans[] = {
        {100, 50, 10, 10, 1},
        {5000, 10, 7, 3, 3},
        {16384, 1, 2, 1, 2},
        {1, 16384, 2, 2, 1},
        {3, 3, 16384 / 3 + 1, 5461, 2},
        {16385, 1, 1, 0, 0},
        {1, 16385, 1, 0, 0},
        {2, 16384, 8193, 0, 0},
        {8, 8, 0, 0, 0},
    };
    for (const plan &p : plans) {
        SCOPED_TRACE(testing::Message() << p.frame_w << " x " << p.frame_h << " x " << p.count);
        sheet_layout layout;
        bool planned = plan_sprite_sheet(p.frame_w, p.frame_h, p.count, layout);
        EXPECT_EQ(planned, p.columns > 0);
        EXPECT_EQ(layout.columns, p.columns);
        EXPECT_EQ(layout.rows, p.rows);
        EXPECT_EQ(layout.w, p.columns * p.frame_w);
        EXPECT_EQ(layout.h, p.rows * p.frame_h);
    }
}

// Five 7000-pixel frames on three rows: the sheet cut along the JSON's
// rectangles gives back every frame, the cell no frame fills is
// transparent, and delays 0 and 1 last a tenth of a second.
TEST(SpriteSheet, JsonRectanglesCutTheSheetBackIntoTheFrames)
{
    std::mt19937 rng(8);
    std::vector<gif_rgb> palette = make_full_palette(2);
    sheet_layout layout;
    ASSERT_TRUE(plan_sprite_sheet(7000, 3, 5, layout));
    std::vector<byte_list> frames;
    byte_list bytes;
    sheet_encoding sheet;
    ASSERT_TRUE(begin_sheet_encoding(sheet, layout, as_table(palette), bytes));
    for (int i = 0; i < 5; i++) {
        frames.push_back(make_random_indices(7000, 3, 3, rng));
        ASSERT_TRUE(add_sheet_frame(sheet, list_rows(frames.back(), 7000, 3).data()));
    }
    ASSERT_TRUE(finish_sheet_encoding(sheet));
    png_read png = read_png_bytes(bytes);
    ASSERT_TRUE(png.ok);
    std::string text = format_sheet_json(layout, {0, 1, 2, 3, 4}, "walk", "walk_sheet.png", 150);
    nlohmann::json json = nlohmann::json::parse(text);
    EXPECT_EQ(json["meta"]["image"], "walk_sheet.png");
    EXPECT_EQ(json["meta"]["size"]["w"], png.w);
    EXPECT_EQ(json["meta"]["size"]["h"], png.h);
    EXPECT_EQ(json["meta"]["scale"], "1.5");
    ASSERT_EQ(json["frames"].size(), 5u);
    byte_list covered(png.pixels.size(), 0);
    for (int i = 0; i < 5; i++) {
        const nlohmann::json &entry = json["frames"][size_t(i)];
        EXPECT_EQ(entry["filename"], "walk_00" + std::to_string(i));
        EXPECT_EQ(entry["duration"], i < 2 ? 100 : 10 * i);
        int x = entry["frame"]["x"];
        int y = entry["frame"]["y"];
        byte_list cut;
        for (int r = 0; r < 3; r++) {
            size_t at = size_t(y + r) * size_t(png.w) + size_t(x);
            cut.insert(cut.end(), png.pixels.begin() + long(at),
                       png.pixels.begin() + long(at) + 7000);
            std::fill_n(covered.begin() + long(at), 7000, 1);
        }
        EXPECT_EQ(cut, frames[size_t(i)]) << "frame " << i;
    }
    int stray = 0;
    for (size_t k = 0; k < covered.size(); k++)
        stray += !covered[k] && png.pixels[k] != 0;
    EXPECT_EQ(stray, 0);
}

// The zoom as the JSON's scale.
TEST(SpriteSheet, ScaleIsTheZoomAsAFactor)
{
    sheet_layout layout;
    ASSERT_TRUE(plan_sprite_sheet(2, 2, 1, layout));
    const std::pair<int, const char *> scales[] = {{100, "1"}, {33, "0.33"}, {110, "1.1"},
                                                   {1000, "10"}, {105, "1.05"}};
    for (const auto &scale : scales) {
        std::string text = format_sheet_json(layout, {}, "a", "a_sheet.png", scale.first);
        EXPECT_EQ(nlohmann::json::parse(text)["meta"]["scale"], scale.second);
    }
}

} // namespace
