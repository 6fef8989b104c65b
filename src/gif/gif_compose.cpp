// Whole screens composed from the frames' rectangles and disposal methods.
#include "gif/gif_compose.h"

#include <allegro.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "common/checked_bitmap.h"
#include "gif/gif_anim.h"

// The disposal methods that act on the screen after a frame.
constexpr int DISPOSE_TO_CLEAR = 2;
constexpr int DISPOSE_TO_PREVIOUS = 3;

int compute_gif_delay_ms(int delay)
{
    return 10 * (delay <= 1 ? 10 : delay);
}

// The frame's rectangle copied onto the screen, cut at its edges.
static void put_frame_rect(BITMAP *screen, const gif_frame &frame)
{
    if (frame.bmp)
        blit(frame.bmp, screen, 0, 0, frame.pos.x, frame.pos.y, frame.bmp->w, frame.bmp->h);
}

// The screen as the frame leaves it to the next: with its rectangle, with
// the rectangle cleared (2), or as before it (3).
static void dispose_frame(BITMAP *screen, const gif_frame &frame)
{
    if (frame.disposal == DISPOSE_TO_PREVIOUS)
        return;
    if (frame.disposal != DISPOSE_TO_CLEAR) {
        put_frame_rect(screen, frame);
        return;
    }
    if (frame.w > 0 && frame.h > 0)
        rectfill(screen, frame.pos.x, frame.pos.y, frame.pos.x + frame.w - 1,
                 frame.pos.y + frame.h - 1, 0);
}

// Null in every frame's bitmap of a copy of anim, then each whole screen.
static bool compose_whole_frames(const gif_anim *anim, gif_anim *out, BITMAP *screen)
{
    for (int32_t i = 0; i < anim->num_frames; i++) {
        const gif_frame &frame = anim->frames[i];
        BITMAP *whole = create_checked_bitmap(8, anim->w, anim->h);
        if (!whole)
            return false;
        blit(screen, whole, 0, 0, 0, 0, anim->w, anim->h);
        put_frame_rect(whole, frame);
        dispose_frame(screen, frame);
        out->frames[i].bmp = whole;
        out->frames[i].pos.x = 0;
        out->frames[i].pos.y = 0;
        out->frames[i].w = uint16_t(anim->w);
        out->frames[i].h = uint16_t(anim->h);
    }
    return true;
}

gif_anim *coalesce_gif_anim(const gif_anim *anim)
{
    if (!anim || anim->w < 1 || anim->h < 1)
        return nullptr;
    long long frame_bytes = static_cast<long long>(anim->w) * anim->h;
    if (frame_bytes * (anim->num_frames + 1) > glb_gif_reader.load_bytes_limit)
        return nullptr;
    gif_anim *out = static_cast<gif_anim *>(calloc(1, sizeof(gif_anim)));
    if (!out)
        return nullptr;
    *out = *anim;
    out->frames = nullptr;
    out->palettes = nullptr;
    size_t palette_bytes = size_t(anim->num_palettes) * GIF_PALETTE_BYTES;
    if (anim->palettes)
        out->palettes = static_cast<uint8_t *>(malloc(palette_bytes));
    if (anim->num_frames > 0)
        out->frames = static_cast<gif_frame *>(calloc(size_t(anim->num_frames), sizeof(gif_frame)));
    BITMAP *screen = create_checked_bitmap(8, anim->w, anim->h);
    bool made = (out->palettes || !anim->palettes) && screen;
    made = made && (out->frames || anim->num_frames == 0);
    if (made) {
        if (anim->palettes)
            std::memcpy(out->palettes, anim->palettes, palette_bytes);
        for (int32_t i = 0; i < anim->num_frames; i++) {
            out->frames[i] = anim->frames[i];
            out->frames[i].bmp = nullptr;
        }
        clear_to_color(screen, 0);
        made = compose_whole_frames(anim, out, screen);
    }
    if (screen)
        destroy_bitmap(screen);
    if (made)
        return out;
    destroy_gif_anim(out);
    return nullptr;
}

// True when one of n pixels is not 0.
static bool find_pixels(const uint8_t *row, int n)
{
    for (int x = 0; x < n; x++)
        if (row[x] != 0)
            return true;
    return false;
}

// True when the screen has a pixel other than 0 outside the rectangle.
static bool find_pixels_outside(BITMAP *screen, const gif_frame &frame)
{
    int left = std::min<int>(frame.pos.x, screen->w);
    int right = std::min<int>(frame.pos.x + frame.w, screen->w);
    for (int y = 0; y < screen->h; y++) {
        const uint8_t *row = screen->line[y];
        bool crossed = y >= frame.pos.y && y < frame.pos.y + frame.h;
        if (!crossed && find_pixels(row, screen->w))
            return true;
        if (crossed && (find_pixels(row, left) || find_pixels(row + right, screen->w - right)))
            return true;
    }
    return false;
}

bool detect_partial_frames(const gif_anim *anim)
{
    if (!anim || anim->w < 1 || anim->h < 1)
        return false;
    BITMAP *screen = create_checked_bitmap(8, anim->w, anim->h);
    if (!screen)
        return false;
    clear_to_color(screen, 0);
    bool found = false;
    for (int32_t i = 0; i < anim->num_frames && !found; i++) {
        found = find_pixels_outside(screen, anim->frames[i]);
        dispose_frame(screen, anim->frames[i]);
    }
    destroy_bitmap(screen);
    return found;
}
