// The data files the build makes: palettes, gradient bitmaps and sample
// animations must fit together for the tool to work.
#include <allegro.h>
#include <gif_lib.h>
#include <gtest/gtest.h>

#include <array>
#include <cerrno>
#include <fstream>
#include <set>
#include <string>
#include <utility>
#include <vector>

namespace {

using rgb = std::array<uint8_t, 3>;

std::string bin_path(const std::string &name)
{
    return std::string(HUESMITH_BIN_DIR) + "/" + name;
}

std::vector<uint8_t> read_bytes(const std::string &name)
{
    std::ifstream in(bin_path(name), std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

std::set<rgb> read_palette_colours(const std::string &name)
{
    std::vector<uint8_t> bytes = read_bytes(name);
    std::set<rgb> colours;
    for (size_t i = 0; i + 2 < bytes.size(); i += 3)
        colours.insert({bytes[i], bytes[i + 1], bytes[i + 2]});
    return colours;
}

// 768 bytes of 256 distinct colours: the remap takes the first match, so a
// repeated colour would leave an entry no pixel can reach.
TEST(DataFiles, PalettesHold256DistinctColours)
{
    for (const char *name : {"pal_bg2.bin", "pal_pst.bin"}) {
        EXPECT_EQ(read_bytes(name).size(), 768u) << name;
        EXPECT_EQ(read_palette_colours(name).size(), 256u) << name;
    }
}

// The tool reads one gradient per row of its data set's columns.
TEST(DataFiles, GradientBitmapsLoadAtTheirDataSetSize)
{
    install_allegro(SYSTEM_NONE, &errno, atexit);
    set_color_depth(24);
    const struct { const char *name; int w, h; } files[] = {{"cmaps_bg2_12.bmp", 12, 116},
                                                            {"cmaps_pst_32.bmp", 32, 79}};
    for (const auto &f : files) {
        BITMAP *bmp = load_bitmap(bin_path(f.name).c_str(), nullptr);
        ASSERT_NE(bmp, nullptr) << f.name;
        EXPECT_EQ(std::make_pair(bmp->w, bmp->h), std::make_pair(f.w, f.h)) << f.name;
        destroy_bitmap(bmp);
    }
}

// Decoded by giflib: eight frames, every pixel indexes its colour table and
// every entry of that table is a colour of the sample's palette (the remap
// looks up each entry up to the highest one used and stops on a stranger).
// The tool turns colours at entries 0 and 1 transparent: no pixel has entry
// 0's colour (entry 1 is the background), and black, which the outlines
// use, is an entry of its own.
TEST(DataFiles, SamplesUseOnlyTheirPaletteColours)
{
    const struct { const char *gif, *palette; } samples[] = {
        {"sample_bg2.gif", "pal_bg2.bin"},
        {"sample_pst.gif", "pal_pst.bin"},
        {"sample_pst_interlaced.gif", "pal_pst.bin"}};
    for (const auto &s : samples) {
        SCOPED_TRACE(s.gif);
        std::set<rgb> palette = read_palette_colours(s.palette), used;
        int error = 0;
        GifFileType *gif = DGifOpenFileName(bin_path(s.gif).c_str(), &error);
        ASSERT_NE(gif, nullptr);
        ASSERT_EQ(DGifSlurp(gif), GIF_OK);
        EXPECT_EQ(gif->ImageCount, 8);
        for (int i = 0; i < gif->ImageCount; i++) {
            const SavedImage &img = gif->SavedImages[i];
            const ColorMapObject *map = img.ImageDesc.ColorMap ? img.ImageDesc.ColorMap : gif->SColorMap;
            ASSERT_NE(map, nullptr) << "frame " << i;
            for (int c = 0; c < map->ColorCount; c++) {
                const GifColorType &k = map->Colors[c];
                EXPECT_TRUE(palette.count({k.Red, k.Green, k.Blue})) << "frame " << i << " entry " << c;
            }
            for (int p = 0; p < img.ImageDesc.Width * img.ImageDesc.Height; p++) {
                ASSERT_LT(img.RasterBits[p], map->ColorCount) << "frame " << i;
                const GifColorType &k = map->Colors[img.RasterBits[p]];
                used.insert({k.Red, k.Green, k.Blue});
            }
        }
        std::vector<uint8_t> bytes = read_bytes(s.palette);
        EXPECT_EQ(used.count({bytes[0], bytes[1], bytes[2]}), 0u);
        EXPECT_EQ(used.count({0, 0, 0}), 1u);
        EXPECT_NE(rgb({bytes[3], bytes[4], bytes[5]}), rgb({0, 0, 0}));
        DGifCloseFile(gif, &error);
    }
}

} // namespace
