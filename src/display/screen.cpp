// Screen composition: one complete 800 x 600 image per loop pass.
#include "display/screen.h"

#include <allegro.h>
#include <algorithm>
#include <cstring>
#include <vector>

#include "common/checked_bitmap.h"
#include "gif/gif_anim.h"
#include "palette/data_set.h"
#include "palette/gradients.h"
#include "palette/tint_slots.h"

screen_backdrop glb_backdrop;
status_runs glb_status_runs;

preview_rect compute_preview_rect(int sprite_w, int sprite_h, int zoom)
{
    // 64-bit products: a 65535-pixel side at zoom 1000 still fits an int
    // after the division, but not always before it.
    preview_rect rect;
    rect.w = static_cast<int>(static_cast<long long>(sprite_w) * zoom / 100);
    rect.h = static_cast<int>(static_cast<long long>(sprite_h) * zoom / 100);
    // C++ division truncates towards zero, also for a negative difference.
    rect.x = (PREVIEW_W - rect.w) / 2;
    rect.y = (PREVIEW_H - rect.h) / 2;
    return rect;
}

// The screen colour of every index under display_palette as the library's
// 8-bit sprite drawing picks it; index 0 is never drawn and stays black.
static void build_screen_colors(int depth, int32_t *colors)
{
    colors[0] = 0;
    for (int c = 1; c < 256; c++) {
        const RGB &rgb = display_palette[c];
        colors[c] = depth == 8 ? c
                               : makecol_depth(depth, _rgb_scale_6[rgb.r], _rgb_scale_6[rgb.g],
                                               _rgb_scale_6[rgb.b]);
    }
}

// The frame shown, or null when the index is out of range.
static const gif_frame *find_current_frame(const gif_anim *anim)
{
    if (!anim || glb_frame < 0 || glb_frame >= anim->num_frames)
        return nullptr;
    return &anim->frames[glb_frame];
}

// Draws the current frame alone onto the cleared glb_sprite; index 0 is
// skipped by the masked drawing and stays black.
static void draw_current_frame(const gif_anim *anim)
{
    clear_to_color(glb_sprite, 0);
    const gif_frame *frame = find_current_frame(anim);
    if (frame && frame->bmp)
        draw_sprite(glb_sprite, frame->bmp, frame->pos.x, frame->pos.y);
}

// Scales glb_sprite into the preview, centred; the sub-bitmap clips it.
static void draw_preview()
{
    preview_rect rect = compute_preview_rect(glb_sprite->w, glb_sprite->h, glb_zoom);
    // A zero-size stretch must never reach the library.
    if (rect.w <= 0 || rect.h <= 0 || glb_sprite->w <= 0 || glb_sprite->h <= 0)
        return;
    stretch_blit(glb_sprite, glb_sub_preview, 0, 0, glb_sprite->w, glb_sprite->h,
                 rect.x, rect.y, rect.w, rect.h);
}

// The preview straight from the frame's rows, without glb_sprite; false
// when the bitmaps need the library's way.
static bool draw_preview_directly(const gif_anim *anim)
{
    int32_t colors[256];
    build_screen_colors(bitmap_color_depth(glb_sub_preview), colors);
    const gif_frame *frame = find_current_frame(anim);
    BITMAP *frame_bmp = frame ? frame->bmp : nullptr;
    return draw_frame_scaled(glb_sub_preview,
                             compute_preview_rect(glb_sprite->w, glb_sprite->h, glb_zoom), glb_sprite,
                             frame_bmp, frame ? frame->pos.x : 0, frame ? frame->pos.y : 0, colors);
}

// True when bmp is a memory bitmap of a depth handled by rows whose clip
// is the whole bitmap, so that plain row writes are what the library's
// clipped drawing would do.
static bool has_plain_rows(BITMAP *bmp)
{
    return is_plain_bitmap(bmp) && has_whole_clip(bmp);
}

// The part of glb_buffer the preview's stretch writes whole: the scaled
// rectangle cut by the sub-bitmap's clip, in glb_buffer's coordinates.
// Empty when there is no stretch or the sub-bitmap's place is not plain.
static preview_rect find_preview_area()
{
    preview_rect none = {0, 0, 0, 0};
    BITMAP *sub = glb_sub_preview;
    if (!glb_sprite || glb_sprite->w <= 0 || glb_sprite->h <= 0 || !sub->clip ||
        !is_same_bitmap(sub, glb_buffer) || !has_plain_rows(glb_buffer))
        return none;
    int x = sub->x_ofs - glb_buffer->x_ofs, y = sub->y_ofs - glb_buffer->y_ofs;
    int bytes = count_pixel_bytes(bitmap_color_depth(glb_buffer));
    if (y < 0 || y >= glb_buffer->h || sub->line[0] != glb_buffer->line[y] + x * bytes)
        return none;
    preview_rect r = compute_preview_rect(glb_sprite->w, glb_sprite->h, glb_zoom);
    if (r.w <= 0 || r.h <= 0)
        return none;
    // The rectangle is centred on the preview, so its far edge fits an int.
    int x0 = std::max(r.x, sub->cl), x1 = std::min(r.x + r.w, sub->cr);
    int y0 = std::max(r.y, sub->ct), y1 = std::min(r.y + r.h, sub->cb);
    if (x0 >= x1 || y0 >= y1)
        return none;
    return {x + x0, y + y0, x1 - x0, y1 - y0};
}

// Clears glb_buffer to 0 but for keep, which the preview overwrites
// anyway; rows are cleared with memset, several times faster than the
// library's clear.
static void clear_screen_image(preview_rect keep)
{
    if (!has_plain_rows(glb_buffer)) {
        clear_to_color(glb_buffer, 0);
        return;
    }
    size_t bytes = size_t(count_pixel_bytes(bitmap_color_depth(glb_buffer)));
    size_t row = size_t(glb_buffer->w) * bytes;
    for (int y = 0; y < glb_buffer->h; y++) {
        uint8_t *line = glb_buffer->line[y];
        if (y < keep.y || y >= keep.y + keep.h) {
            std::memset(line, 0, row);
            continue;
        }
        std::memset(line, 0, size_t(keep.x) * bytes);
        std::memset(line + size_t(keep.x + keep.w) * bytes, 0, row - size_t(keep.x + keep.w) * bytes);
    }
}

// The rows of glb_cmap's pixels, joined.
static std::vector<uint8_t> copy_strip_rows()
{
    std::vector<uint8_t> rows;
    if (!glb_cmap || !is_memory_bitmap(glb_cmap))
        return rows;
    size_t row = size_t(glb_cmap->w) * size_t(count_pixel_bytes(bitmap_color_depth(glb_cmap)));
    for (int y = 0; y < glb_cmap->h; y++)
        rows.insert(rows.end(), glb_cmap->line[y], glb_cmap->line[y] + row);
    return rows;
}

static bool is_same_strip(const std::vector<uint8_t> &kept)
{
    if (!glb_cmap || !is_memory_bitmap(glb_cmap))
        return false;
    size_t row = size_t(glb_cmap->w) * size_t(count_pixel_bytes(bitmap_color_depth(glb_cmap)));
    if (kept.size() != row * size_t(glb_cmap->h))
        return false;
    for (int y = 0; y < glb_cmap->h; y++)
        if (std::memcmp(glb_cmap->line[y], kept.data() + row * size_t(y), row) != 0)
            return false;
    return true;
}

// True when the kept backdrop is what this pass would draw. At 8 bits the
// panel's colours come from the palette of the pass before, so nothing is
// kept there.
static bool can_reuse_backdrop(const data_set &set)
{
    const screen_backdrop &b = glb_backdrop;
    const int32_t *palshift = active_palshift(set);
    return b.bmp && has_plain_rows(glb_buffer) && bitmap_color_depth(glb_buffer) != 8 &&
           bitmap_color_depth(b.bmp) == bitmap_color_depth(glb_buffer) && b.bmp->w == glb_buffer->w &&
           b.bmp->h == glb_buffer->h && b.set_id == set.id && b.slot == glb_slot && b.font == font &&
           std::equal(b.palshift.begin(), b.palshift.end(), palshift, palshift + b.palshift.size()) &&
           b.palshift.size() == size_t(set.id == DATA_SET_PST ? PST_SLOTS : BG2_SLOTS) &&
           b.gradients.size() == sizeof gradient_table &&
           std::memcmp(b.gradients.data(), gradient_table, sizeof gradient_table) == 0 &&
           is_same_strip(b.strip);
}

// Keeps glb_buffer, just cleared and drawn up to the panel, as the backdrop.
static void keep_backdrop(const data_set &set)
{
    screen_backdrop &b = glb_backdrop;
    if (!has_plain_rows(glb_buffer) || bitmap_color_depth(glb_buffer) == 8)
        return;
    if (b.bmp && (bitmap_color_depth(b.bmp) != bitmap_color_depth(glb_buffer) ||
                  b.bmp->w != glb_buffer->w || b.bmp->h != glb_buffer->h))
        release_screen_backdrop();
    if (!b.bmp)
        b.bmp = create_checked_bitmap(bitmap_color_depth(glb_buffer), glb_buffer->w, glb_buffer->h);
    if (!b.bmp)
        return;
    blit(glb_buffer, b.bmp, 0, 0, 0, 0, glb_buffer->w, glb_buffer->h);
    const int32_t *palshift = active_palshift(set);
    b.set_id = set.id;
    b.slot = glb_slot;
    b.palshift.assign(palshift, palshift + (set.id == DATA_SET_PST ? PST_SLOTS : BG2_SLOTS));
    b.font = font;
    const uint8_t *gradients = &gradient_table[0][0][0];
    b.gradients.assign(gradients, gradients + sizeof gradient_table);
    b.strip = copy_strip_rows();
}

// Copies the backdrop into glb_buffer but for keep, which the preview
// overwrites anyway.
static void copy_backdrop(preview_rect keep)
{
    size_t bytes = size_t(count_pixel_bytes(bitmap_color_depth(glb_buffer)));
    size_t row = size_t(glb_buffer->w) * bytes;
    for (int y = 0; y < glb_buffer->h; y++) {
        uint8_t *line = glb_buffer->line[y];
        const uint8_t *kept = glb_backdrop.bmp->line[y];
        if (y < keep.y || y >= keep.y + keep.h) {
            std::memcpy(line, kept, row);
            continue;
        }
        size_t right = size_t(keep.x + keep.w) * bytes;
        std::memcpy(line, kept, size_t(keep.x) * bytes);
        std::memcpy(line + right, kept + right, row - right);
    }
}

void release_screen_backdrop()
{
    if (glb_backdrop.bmp)
        destroy_bitmap(glb_backdrop.bmp);
    glb_backdrop = screen_backdrop{};
}

void compose_screen(const gif_anim *anim, const data_set &set)
{
    if (can_reuse_backdrop(set)) {
        copy_backdrop(find_preview_area());
        build_tint_palettes(set);
    } else {
        // Cleared whole, so that a kept backdrop holds no stale preview.
        clear_screen_image(preview_rect{0, 0, 0, 0});
        blit(glb_cmap, glb_buffer, 0, 0, CMAP_X, CMAP_Y, glb_cmap->w, glb_cmap->h);
        draw_tint_panel(set);
        keep_backdrop(set);
    }
    set_palette(display_palette);
    if (!draw_preview_directly(anim)) {
        draw_current_frame(anim);
        draw_preview();
    }
    draw_status_text();
}

void draw_status_lines(BITMAP *bmp, int white)
{
    textprintf_ex(bmp, font, 50, 450, white, -1, "Frame : %i", glb_frame);
    textprintf_ex(bmp, font, 50, 460, white, -1, "Zoom  : %i%%", glb_zoom);
    textout_ex(bmp, font, "Up, Down           : Tint selection", 10, 490, white, -1);
    textout_ex(bmp, font, "Left, Right        : Colormap on Tint", 10, 500, white, -1);
    textout_ex(bmp, font, "Page Up, Page Down : Frame", 10, 510, white, -1);
    textout_ex(bmp, font, "+, -               : Zoom in, out", 10, 520, white, -1);
    textout_ex(bmp, font, "S                  : Save into .bmp", 10, 540, white, -1);
    textout_ex(bmp, font, "Esc                : Quit", 10, 560, white, -1);
}


// Draws the lines in colour 1 on a cleared 8-bit bitmap of glb_buffer's
// size and keeps where they lit pixels; false when the bitmap cannot be made.
static bool find_status_runs()
{
    status_runs &s = glb_status_runs;
    if (s.found && s.frame == glb_frame && s.zoom == glb_zoom && s.font == font && s.w == glb_buffer->w &&
        s.h == glb_buffer->h)
        return true;
    BITMAP *lines = create_checked_bitmap(8, glb_buffer->w, glb_buffer->h);
    if (!lines)
        return false;
    clear_to_color(lines, 0);
    draw_status_lines(lines, 1);
    s.runs.clear();
    for (int y = 0; y < lines->h; y++)
        for (int x = 0; x < lines->w; x++) {
            if (!lines->line[y][x])
                continue;
            int end = x;
            while (end < lines->w && lines->line[y][end])
                end++;
            s.runs.push_back({x, y, end - x});
            x = end;
        }
    destroy_bitmap(lines);
    s.found = true;
    s.frame = glb_frame;
    s.zoom = glb_zoom;
    s.font = font;
    s.w = glb_buffer->w;
    s.h = glb_buffer->h;
    return true;
}

// Fills n pixels of BYTES bytes with colour c.
template <int BYTES>
static void fill_pixels(uint8_t *out, int n, uint32_t c)
{
    for (int i = 0; i < n; i++)
        store_pixel<BYTES>(out + BYTES * i, c);
}

void draw_status_text()
{
    int white = makecol(255, 255, 255);
    // Only a one-colour font lights the same pixels at every depth.
    if (!has_plain_rows(glb_buffer) || !is_mono_font(font) || !find_status_runs()) {
        draw_status_lines(glb_buffer, white);
        return;
    }
    int bytes = count_pixel_bytes(bitmap_color_depth(glb_buffer));
    for (const lit_run &r : glb_status_runs.runs) {
        uint8_t *out = glb_buffer->line[r.y] + size_t(r.x) * size_t(bytes);
        if (bytes == 4)
            fill_pixels<4>(out, r.n, uint32_t(white));
        else if (bytes == 3)
            fill_pixels<3>(out, r.n, uint32_t(white));
        else if (bytes == 2)
            fill_pixels<2>(out, r.n, uint32_t(white));
        else
            fill_pixels<1>(out, r.n, uint32_t(white));
    }
}
