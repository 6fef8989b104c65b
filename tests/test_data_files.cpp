// The shipped data files as the build generates them: palettes, gradient
// bitmaps and sample animations must fit together for the tool to work.
#include "gif/gif_anim.h"
#include "palette/global_palette.h"
#include "support/palette_fixtures.h"

#include <allegro.h>
#include <gif_lib.h>
#include <gtest/gtest.h>

#include <array>
#include <cerrno>
#include <cstdio>
#include <memory>
#include <set>
#include <string>
#include <vector>

namespace {

using rgb = std::array<uint8_t, 3>;

std::string bin_path(const char *name)
{
    return std::string(HUESMITH_BIN_DIR) + "/" + name;
}

std::vector<rgb> read_palette(const char *name)
{
    std::vector<rgb> pal;
    FILE *file = std::fopen(bin_path(name).c_str(), "rb");
    if (!file)
        return pal;
    rgb c;
    while (std::fread(c.data(), 1, 3, file) == 3)
        pal.push_back(c);
    std::fclose(file);
    return pal;
}

int luma(const rgb &c)
{
    return 299 * c[0] + 587 * c[1] + 114 * c[2];
}

struct slot_range {
    int first, count;
};

std::vector<slot_range> list_bg2_slots()
{
    std::vector<slot_range> slots;
    for (int i = 0; i < 7; i++)
        slots.push_back({4 + 12 * i, 12});
    for (int j = 0; j < 21; j++)
        slots.push_back({88 + 8 * j, 8});
    return slots;
}

std::vector<slot_range> list_pst_slots()
{
    return {{16, 16}, {32, 16}, {64, 16}, {80, 16}, {128, 32}, {160, 32}, {192, 32}, {224, 32}};
}

// 768 bytes, 256 distinct colours (the remap takes the first match), and
// every slot's default ramp runs from dark to light.
void check_palette(const char *name, const std::vector<slot_range> &slots)
{
    SCOPED_TRACE(name);
    std::vector<rgb> pal = read_palette(name);
    ASSERT_EQ(pal.size(), 256u);
    EXPECT_EQ(std::set<rgb>(pal.begin(), pal.end()).size(), 256u);
    for (const slot_range &s : slots)
        for (int i = 1; i < s.count; i++)
            EXPECT_LT(luma(pal[s.first + i - 1]), luma(pal[s.first + i]))
                << "slot at " << s.first << ", entry " << i;
}

TEST(DataPalettes, HaveDistinctColoursAndRisingSlotRamps)
{
    check_palette("pal_bg2.bin", list_bg2_slots());
    check_palette("pal_pst.bin", list_pst_slots());
}

class DataGradients : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        install_allegro(SYSTEM_NONE, &errno, atexit);
        set_color_depth(24);
    }
};

// The tool reads columns x rows from the top left; each row is a ramp from
// dark to light, and the rows differ so the user has real choices.
void check_gradient_bitmap(const char *name, int columns, int rows)
{
    SCOPED_TRACE(name);
    BITMAP *bmp = load_bitmap(bin_path(name).c_str(), nullptr);
    ASSERT_NE(bmp, nullptr);
    EXPECT_GE(bmp->w, columns);
    EXPECT_GE(bmp->h, rows);
    std::set<std::vector<rgb>> distinct_rows;
    for (int r = 0; r < rows && r < bmp->h; r++) {
        std::vector<rgb> row;
        for (int c = 0; c < columns && c < bmp->w; c++) {
            int p = getpixel(bmp, c, r);
            row.push_back({static_cast<uint8_t>(getr24(p)), static_cast<uint8_t>(getg24(p)),
                           static_cast<uint8_t>(getb24(p))});
        }
        for (size_t c = 1; c < row.size(); c++)
            EXPECT_LE(luma(row[c - 1]), luma(row[c])) << "row " << r << ", column " << c;
        distinct_rows.insert(row);
    }
    EXPECT_EQ(distinct_rows.size(), static_cast<size_t>(rows));
    destroy_bitmap(bmp);
}

TEST_F(DataGradients, LoadAtTheirDataSetSizeWithDarkToLightRows)
{
    check_gradient_bitmap("cmaps_bg2_12.bmp", 12, 116);
    check_gradient_bitmap("cmaps_pst_32.bmp", 32, 79);
}

// ---------------------------------------------------------------- samples

struct gif_file_closer {
    void operator()(GifFileType *gif) const
    {
        int error = 0;
        DGifCloseFile(gif, &error);
    }
};
using gif_handle = std::unique_ptr<GifFileType, gif_file_closer>;

gif_handle slurp_gif(const char *name)
{
    int error = 0;
    gif_handle gif(DGifOpenFileName(bin_path(name).c_str(), &error));
    if (gif && DGifSlurp(gif.get()) != GIF_OK)
        gif.reset();
    return gif;
}

// The frames as the viewer shows them: each image drawn over the ones
// before (every frame leaves its image in place), as RGB.
std::vector<std::vector<rgb>> compose_frames(GifFileType *gif)
{
    std::vector<std::vector<rgb>> frames;
    std::vector<rgb> canvas(static_cast<size_t>(gif->SWidth) * gif->SHeight, rgb{0, 0, 0});
    for (int i = 0; i < gif->ImageCount; i++) {
        const SavedImage &img = gif->SavedImages[i];
        const ColorMapObject *map = img.ImageDesc.ColorMap ? img.ImageDesc.ColorMap : gif->SColorMap;
        for (int y = 0; y < img.ImageDesc.Height; y++)
            for (int x = 0; x < img.ImageDesc.Width; x++) {
                int v = img.RasterBits[y * img.ImageDesc.Width + x];
                const GifColorType &c = map->Colors[v];
                canvas[(img.ImageDesc.Top + y) * gif->SWidth + img.ImageDesc.Left + x] = {
                    c.Red, c.Green, c.Blue};
            }
        frames.push_back(canvas);
    }
    return frames;
}

// giflib files the extensions before the first image under that image.
bool has_loop_extension(const GifFileType *gif)
{
    if (gif->ImageCount < 1)
        return false;
    const SavedImage &first = gif->SavedImages[0];
    for (int i = 0; i < first.ExtensionBlockCount; i++) {
        const ExtensionBlock &b = first.ExtensionBlocks[i];
        if (b.Function == APPLICATION_EXT_FUNC_CODE && b.ByteCount == 11 &&
            std::string(reinterpret_cast<char *>(b.Bytes), 11) == "NETSCAPE2.0")
            return true;
    }
    return false;
}

// Every colour table entry is a palette colour (the tool looks up each index
// up to the highest one used), every pixel indexes its table, the frames loop
// with a delay, at least one is a sub-rectangle, and the figure is drawn on
// palette entry 1 with colours from several tint slots.
void check_sample(const char *name, const char *palette_name, const std::vector<slot_range> &slots)
{
    SCOPED_TRACE(name);
    std::vector<rgb> pal = read_palette(palette_name);
    ASSERT_EQ(pal.size(), 256u);
    std::set<rgb> palette_colours(pal.begin(), pal.end());
    gif_handle gif = slurp_gif(name);
    ASSERT_TRUE(gif);
    ASSERT_NE(gif->SColorMap, nullptr);
    EXPECT_GE(gif->ImageCount, 4);
    EXPECT_LE(gif->ImageCount, 8);
    EXPECT_TRUE(has_loop_extension(gif.get()));

    bool sub_rectangle = false;
    for (int i = 0; i < gif->ImageCount; i++) {
        const SavedImage &img = gif->SavedImages[i];
        const ColorMapObject *map = img.ImageDesc.ColorMap ? img.ImageDesc.ColorMap : gif->SColorMap;
        for (int c = 0; c < map->ColorCount; c++)
            EXPECT_TRUE(palette_colours.count({map->Colors[c].Red, map->Colors[c].Green,
                                               map->Colors[c].Blue}))
                << "frame " << i << ", table entry " << c;
        for (int p = 0; p < img.ImageDesc.Width * img.ImageDesc.Height; p++)
            ASSERT_LT(img.RasterBits[p], map->ColorCount) << "frame " << i;
        sub_rectangle |= img.ImageDesc.Width < gif->SWidth || img.ImageDesc.Height < gif->SHeight;
        GraphicsControlBlock gcb;
        ASSERT_EQ(DGifSavedExtensionToGCB(gif.get(), i, &gcb), GIF_OK) << "frame " << i;
        EXPECT_GT(gcb.DelayTime, 0);
    }
    if (std::string(name) != "sample_pst_interlaced.gif") {
        EXPECT_TRUE(sub_rectangle);
    }

    std::vector<std::vector<rgb>> frames = compose_frames(gif.get());
    std::set<int> slots_seen;
    for (const std::vector<rgb> &f : frames) {
        EXPECT_EQ(f.front(), pal[1]);
        EXPECT_EQ(f.back(), pal[1]);
        for (const rgb &c : f)
            for (size_t s = 0; s < slots.size(); s++)
                for (int e = slots[s].first; e < slots[s].first + slots[s].count; e++)
                    if (pal[e] == c)
                        slots_seen.insert(static_cast<int>(s));
    }
    EXPECT_GE(slots_seen.size(), 6u);
}

TEST(DataSamples, UseOnlyTheirPaletteAndShowAFigure)
{
    check_sample("sample_bg2.gif", "pal_bg2.bin", list_bg2_slots());
    check_sample("sample_pst.gif", "pal_pst.bin", list_pst_slots());
    check_sample("sample_pst_interlaced.gif", "pal_pst.bin", list_pst_slots());
}

// The interlaced copy with local tables stores the same pictures another way.
TEST(DataSamples, InterlacedCopyShowsTheSameFrames)
{
    gif_handle plain = slurp_gif("sample_pst.gif");
    gif_handle interlaced = slurp_gif("sample_pst_interlaced.gif");
    ASSERT_TRUE(plain && interlaced);
    bool any_interlaced = false, any_local = false;
    for (int i = 0; i < interlaced->ImageCount; i++) {
        any_interlaced |= interlaced->SavedImages[i].ImageDesc.Interlace;
        any_local |= interlaced->SavedImages[i].ImageDesc.ColorMap != nullptr;
    }
    EXPECT_TRUE(any_interlaced);
    EXPECT_TRUE(any_local);
    EXPECT_TRUE(compose_frames(plain.get()) == compose_frames(interlaced.get()));
}

// The program's own reader and remap take each sample as it is: no colour
// is missing from the palette (which would end the process), and the
// background lands on index 0, the one the preview leaves transparent.
void check_sample_in_program(const char *name, const char *palette_name)
{
    SCOPED_TRACE(name);
    std::string gif_path = bin_path(name), pal_path = bin_path(palette_name);
    child_run run = run_in_child([&] {
        init_palette_test_library();
        set_color_depth(8);
        gif_anim *anim = load_gif_anim(gif_path.c_str());
        if (!anim || !load_glb_palette(pal_path.c_str()))
            std::_Exit(3);
        remap_pixels(anim);
        const gif_frame &first = anim->frames[0];
        std::printf("\nframes %i corners %i %i\n", anim->num_frames, getpixel(first.bmp, 0, 0),
                    getpixel(first.bmp, first.w - 1, first.h - 1));
        destroy_gif_anim(anim);
    });
    EXPECT_EQ(run.status, 0) << run.output.substr(run.output.size() > 300 ? run.output.size() - 300 : 0);
    EXPECT_NE(run.output.find("\nframes 8 corners 0 0\n"), std::string::npos);
}

TEST(DataSamples, LoadAndRemapInTheProgram)
{
    check_sample_in_program("sample_bg2.gif", "pal_bg2.bin");
    check_sample_in_program("sample_pst.gif", "pal_pst.bin");
    check_sample_in_program("sample_pst_interlaced.gif", "pal_pst.bin");
}

} // namespace
