#include "support/gif_reference.h"

#include "gif/gif_anim.h"
#include "fuzz/fuzz_bodies.h"

#include <allegro.h>
#include <cstdio>
#include <cstring>
#include <gif_lib.h>
#include <gtest/gtest.h>

// A slot of 256 entries, the table's first and the rest zero.
static void append_colour_map(byte_list *palettes, const ColorMapObject *map)
{
    palettes->resize(palettes->size() + 768);
    if (map)
        memcpy(&*(palettes->end() - 768), map->Colors, size_t(std::min(map->ColorCount, 256)) * 3);
}

bool build_gif_reference(const std::string &path, gif_reference *ref)
{
    int code = 0;
    GifFileType *gif = DGifOpenFileName(path.c_str(), &code);
    if (!gif || DGifSlurp(gif) != GIF_OK) {
        DGifCloseFile(gif, &code);
        return false;
    }
    *ref = gif_reference{gif->SWidth, gif->SHeight, {}, {}};
    bool global = gif->SColorMap != nullptr;
    if (global)
        append_colour_map(&ref->palettes, gif->SColorMap);
    int fill = global ? gif->SBackGroundColor : 0;
    byte_list canvas(size_t(ref->w) * ref->h, uint8_t(fill));
    for (int i = 0; i < gif->ImageCount; ++i) {
        const SavedImage &image = gif->SavedImages[i];
        const GifImageDesc &d = image.ImageDesc;
        // The last graphic control block before the image wins.
        GraphicsControlBlock gce{DISPOSAL_UNSPECIFIED, false, 0, NO_TRANSPARENT_COLOR};
        for (int e = 0; e < image.ExtensionBlockCount; ++e)
            if (image.ExtensionBlocks[e].Function == GRAPHICS_EXT_FUNC_CODE)
                DGifExtensionToGCB(image.ExtensionBlocks[e].ByteCount, image.ExtensionBlocks[e].Bytes, &gce);
        int pal = d.ColorMap ? int(ref->palettes.size() / 768) : global ? 0 : -1;
        if (d.ColorMap)
            append_colour_map(&ref->palettes, d.ColorMap);
        gif_ref_frame frame{{d.Left, d.Top, d.Width, d.Height, pal, gce.TransparentColor, gce.DelayTime}, {}};
        for (int y = 0; y < d.Height; ++y)
            for (int x = 0; x < d.Width; ++x) {
                int value = image.RasterBits[size_t(y) * d.Width + x];
                bool inside = d.Left + x < ref->w && d.Top + y < ref->h;
                uint8_t *cell = inside ? &canvas[size_t(d.Top + y) * ref->w + d.Left + x] : nullptr;
                int before = cell ? *cell : fill;
                value = value == gce.TransparentColor ? before : value;
                frame.pixels.push_back(uint8_t(value));
                if (cell) // disposal 2 and 3 act once the frame is taken
                    *cell = uint8_t(gce.DisposalMode == 2 ? fill : gce.DisposalMode == 3 ? before : value);
            }
        ref->frames.push_back(frame);
    }
    // One slot more than local tables, zero when there is no global table.
    if (!global)
        append_colour_map(&ref->palettes, nullptr);
    DGifCloseFile(gif, &code);
    return true;
}

byte_list read_frame_pixels(const gif_anim *anim, int frame)
{
    BITMAP *bmp = anim->frames[frame].bmp;
    byte_list pixels;
    for (int y = 0; bmp && y < bmp->h; ++y)
        pixels.insert(pixels.end(), bmp->line[y], bmp->line[y] + bmp->w);
    return pixels;
}

void expect_anim_matches(const gif_anim *anim, const gif_reference &ref)
{
    ASSERT_NE(anim, nullptr);
    ASSERT_EQ((std::vector<int>{anim->w, anim->h, anim->num_frames, anim->num_palettes}),
              (std::vector<int>{ref.w, ref.h, int(ref.frames.size()), int(ref.palettes.size() / 768)}));
    EXPECT_EQ(byte_list(anim->palettes, anim->palettes + ref.palettes.size()), ref.palettes);
    for (int i = 0; i < anim->num_frames; ++i) {
        const gif_frame &f = anim->frames[i];
        EXPECT_EQ((std::vector<int>{f.pos.x, f.pos.y, f.w, f.h, f.pal, f.trans, f.delay}),
                  ref.frames[size_t(i)].fields) << "frame " << i;
        EXPECT_EQ(read_frame_pixels(anim, i), ref.frames[size_t(i)].pixels) << "frame " << i;
    }
}

gif_anim *load_gif_captured(const std::string &path, std::string *text)
{
    start_fuzz_allegro();
    set_color_depth(8);
    testing::internal::CaptureStdout();
    gif_anim *anim = load_gif_anim(path.c_str());
    fflush(stdout);
    std::string captured = testing::internal::GetCapturedStdout();
    if (text)
        *text = captured;
    return anim;
}
