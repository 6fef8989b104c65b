#include "support/gif_reference.h"

#include "gif/gif_anim.h"

#include <allegro.h>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <gif_lib.h>
#include <gtest/gtest.h>
#include <unistd.h>

namespace {

struct ref_gce {
    int disposal = 0;
    int trans = -1;
    int delay = 0;
};

// The last graphic control block before the image wins.
ref_gce find_gce(const SavedImage &image)
{
    ref_gce gce;
    for (int i = 0; i < image.ExtensionBlockCount; ++i) {
        const ExtensionBlock &block = image.ExtensionBlocks[i];
        if (block.Function != GRAPHICS_EXT_FUNC_CODE || block.ByteCount < 4)
            continue;
        gce.disposal = (block.Bytes[0] >> 2) & 7;
        gce.delay = block.Bytes[1] | (block.Bytes[2] << 8);
        gce.trans = (block.Bytes[0] & 1) ? block.Bytes[3] : -1;
    }
    return gce;
}

void copy_colour_map(const ColorMapObject *map, std::vector<uint8_t> *slot)
{
    slot->assign(768, 0);
    for (int i = 0; i < map->ColorCount && i < 256; ++i) {
        (*slot)[size_t(i) * 3] = map->Colors[i].Red;
        (*slot)[size_t(i) * 3 + 1] = map->Colors[i].Green;
        (*slot)[size_t(i) * 3 + 2] = map->Colors[i].Blue;
    }
}

} // namespace

bool build_gif_reference(const std::string &path, gif_reference *ref, std::string *error)
{
    int code = 0;
    GifFileType *gif = DGifOpenFileName(path.c_str(), &code);
    if (!gif) {
        *error = GifErrorString(code);
        return false;
    }
    if (DGifSlurp(gif) != GIF_OK) {
        *error = GifErrorString(gif->Error);
        DGifCloseFile(gif, &code);
        return false;
    }
    ref->w = gif->SWidth;
    ref->h = gif->SHeight;
    ref->frames.clear();
    ref->palettes.clear();
    bool global = gif->SColorMap != nullptr;
    if (global) {
        ref->palettes.emplace_back();
        copy_colour_map(gif->SColorMap, &ref->palettes.back());
    }
    int fill = global ? gif->SBackGroundColor : 0;
    std::vector<uint8_t> canvas(size_t(ref->w) * ref->h, uint8_t(fill));
    for (int i = 0; i < gif->ImageCount; ++i) {
        const SavedImage &image = gif->SavedImages[i];
        const GifImageDesc &desc = image.ImageDesc;
        ref_gce gce = find_gce(image);
        gif_ref_frame frame{desc.Left, desc.Top, desc.Width, desc.Height, global ? 0 : -1,
                            gce.trans, gce.delay, {}};
        if (desc.ColorMap) {
            frame.pal = int(ref->palettes.size());
            ref->palettes.emplace_back();
            copy_colour_map(desc.ColorMap, &ref->palettes.back());
        }
        std::vector<uint8_t> saved = canvas;
        frame.pixels.assign(size_t(desc.Width) * desc.Height, 0);
        for (int y = 0; y < desc.Height; ++y)
            for (int x = 0; x < desc.Width; ++x) {
                int value = image.RasterBits[size_t(y) * desc.Width + x];
                int cx = desc.Left + x, cy = desc.Top + y;
                bool inside = cx < ref->w && cy < ref->h;
                uint8_t *cell = inside ? &canvas[size_t(cy) * ref->w + cx] : nullptr;
                if (value != gce.trans) {
                    if (cell)
                        *cell = uint8_t(value);
                } else {
                    value = cell ? *cell : fill;
                }
                frame.pixels[size_t(y) * desc.Width + x] = uint8_t(value);
            }
        for (int y = desc.Top; y < desc.Top + desc.Height && y < ref->h; ++y)
            for (int x = desc.Left; x < desc.Left + desc.Width && x < ref->w; ++x) {
                size_t at = size_t(y) * ref->w + x;
                if (gce.disposal == 2)
                    canvas[at] = uint8_t(fill);
                else if (gce.disposal == 3)
                    canvas[at] = saved[at];
            }
        ref->frames.push_back(std::move(frame));
    }
    // One slot more than local tables, zero when there is no global table.
    if (!global)
        ref->palettes.emplace_back(768, 0);
    DGifCloseFile(gif, &code);
    return true;
}

std::vector<uint8_t> read_frame_pixels(const gif_anim *anim, int frame)
{
    const BITMAP *bmp = anim->frames[frame].bmp;
    std::vector<uint8_t> pixels;
    for (int y = 0; y < bmp->h; ++y)
        for (int x = 0; x < bmp->w; ++x)
            pixels.push_back(uint8_t(getpixel(const_cast<BITMAP *>(bmp), x, y)));
    return pixels;
}

void expect_anim_matches(const gif_anim *anim, const gif_reference &ref)
{
    ASSERT_NE(anim, nullptr);
    EXPECT_EQ(anim->w, ref.w);
    EXPECT_EQ(anim->h, ref.h);
    ASSERT_EQ(anim->num_frames, int(ref.frames.size()));
    ASSERT_EQ(anim->num_palettes, int(ref.palettes.size()));
    for (size_t s = 0; s < ref.palettes.size(); ++s)
        EXPECT_EQ(std::vector<uint8_t>(anim->palettes + s * 768, anim->palettes + (s + 1) * 768),
                  ref.palettes[s])
            << "palette slot " << s;
    for (int i = 0; i < anim->num_frames; ++i) {
        const gif_frame &got = anim->frames[i];
        const gif_ref_frame &want = ref.frames[size_t(i)];
        SCOPED_TRACE("frame " + std::to_string(i));
        EXPECT_EQ(got.pos.x, want.x);
        EXPECT_EQ(got.pos.y, want.y);
        EXPECT_EQ(got.w, want.w);
        EXPECT_EQ(got.h, want.h);
        EXPECT_EQ(got.pal, want.pal);
        EXPECT_EQ(got.trans, want.trans);
        EXPECT_EQ(got.delay, want.delay);
        ASSERT_NE(got.bmp, nullptr);
        EXPECT_EQ(read_frame_pixels(anim, i), want.pixels);
    }
}

void start_gif_tests()
{
    static bool started = false;
    if (!started) {
        install_allegro(SYSTEM_NONE, &errno, atexit);
        started = true;
    }
    set_color_depth(8);
}

gif_anim *load_gif_captured(const std::string &path, std::string *text)
{
    fflush(stdout);
    FILE *capture = tmpfile();
    int saved = dup(fileno(stdout));
    dup2(fileno(capture), fileno(stdout));
    gif_anim *anim = load_gif_anim(path.c_str());
    fflush(stdout);
    dup2(saved, fileno(stdout));
    close(saved);
    text->clear();
    rewind(capture);
    char buffer[4096];
    size_t n;
    while ((n = fread(buffer, 1, sizeof buffer, capture)) > 0)
        text->append(buffer, n);
    fclose(capture);
    return anim;
}
