// Screen composition: the screen image, drawn again only where something it
// shows was marked changed.
#include "display/screen.h"

#include <allegro.h>
#include <cstring>

#include "common/checked_bitmap.h"
#include "gif/gif_anim.h"
#include "display/panel.h"
#include "palette/data_set.h"
#include "palette/global_palette.h"
#include "palette/tint_slots.h"

int32_t glb_frame;
int32_t glb_zoom;
view_state glb_view = {false, 0, true, true, false, false, BACKGROUND_BLACK, {}};
status_state glb_status;

// The frame and zoom lines below the preview; with the preview they fill
// the top of the left column, where nothing else is drawn.
constexpr int VIEW_LINES_X = 50;
constexpr int FRAME_LINE_Y = 450;
constexpr int ZOOM_LINE_Y = 460;
constexpr int VIEW_H = 470;
// The note's lines below them, above the key help, in the left column.
constexpr int NOTE_LINE_Y = 470;
constexpr int NOTE_LINE_H = 10;
constexpr int NOTE_CHARS = (PREVIEW_W - VIEW_LINES_X) / 8;
constexpr int NOTE_TICKS = 200;

static void count_clock()
{
    glb_status.clock = glb_status.clock + 1;
}
END_OF_STATIC_FUNCTION(count_clock)

void start_clock()
{
    LOCK_VARIABLE(glb_status.clock);
    LOCK_FUNCTION(count_clock);
    install_int(count_clock, 10);
}

void show_status_note(const std::string &text)
{
    glb_status.note = text;
    glb_status.note_end = glb_status.clock + NOTE_TICKS;
    glb_view.screen_dirty = true;
}

// The note, broken at the last blank that lets its first line fit.
static void draw_status_note(int white)
{
    std::string first = glb_status.note;
    std::string second;
    size_t cut = std::string::npos;
    if (first.size() > size_t(NOTE_CHARS))
        cut = first.rfind(' ', NOTE_CHARS);
    if (cut != std::string::npos) {
        second = first.substr(cut + 1);
        first.resize(cut);
    }
    if (second.size() > size_t(NOTE_CHARS))
        second = "..." + second.substr(second.size() - (NOTE_CHARS - 3));
    textout_ex(glb_buffer, font, first.c_str(), VIEW_LINES_X, NOTE_LINE_Y, white, -1);
    int second_y = NOTE_LINE_Y + NOTE_LINE_H;
    textout_ex(glb_buffer, font, second.c_str(), VIEW_LINES_X, second_y, white, -1);
}

void show_progress_note(const std::string &text)
{
    show_status_note(text);
    if (!glb_buffer)
        return;
    int bottom = NOTE_LINE_Y + 2 * NOTE_LINE_H - 1;
    rectfill(glb_buffer, 0, NOTE_LINE_Y, PREVIEW_W - 1, bottom, 0);
    draw_status_note(makecol_depth(bitmap_color_depth(glb_buffer), 255, 255, 255));
    if (screen)
        blit(glb_buffer, screen, 0, NOTE_LINE_Y, 0, NOTE_LINE_Y, PREVIEW_W, 2 * NOTE_LINE_H);
}

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

// The screen colour of every index under pal as the library's 8-bit
// sprite drawing picks it; index 0 is never drawn and stays black.
static void build_screen_colors(int depth, const RGB *pal, int32_t *colors)
{
    colors[0] = 0;
    for (int c = 1; c < 256; c++) {
        const RGB &rgb = pal[c];
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
static bool draw_preview_directly(const gif_anim *anim, const RGB *pal)
{
    int32_t colors[256];
    build_screen_colors(bitmap_color_depth(glb_sub_preview), pal, colors);
    const gif_frame *frame = find_current_frame(anim);
    BITMAP *frame_bmp = frame ? frame->bmp : nullptr;
    return draw_frame_scaled(
        glb_sub_preview, compute_preview_rect(glb_sprite->w, glb_sprite->h, glb_zoom), glb_sprite,
        frame_bmp, frame ? frame->pos.x : 0, frame ? frame->pos.y : 0, colors);
}

// Clears the top w x h of glb_buffer to 0: rows of plain pixels with
// memset, several times faster than the library's clear.
static void clear_screen_area(int w, int h)
{
    if (!is_plain_bitmap(glb_buffer) || !has_whole_clip(glb_buffer)) {
        rectfill(glb_buffer, 0, 0, w - 1, h - 1, 0);
        return;
    }
    size_t row = size_t(w) * size_t(count_pixel_bytes(bitmap_color_depth(glb_buffer)));
    for (int y = 0; y < h; y++)
        std::memset(glb_buffer->line[y], 0, row);
}

// Whether the preview is drawn as ever: no key of its own in use.
static bool is_plain_preview()
{
    return !glb_view.untinted && !glb_view.highlight && glb_view.background == BACKGROUND_BLACK;
}

// The preview's palette: display_palette, or with Tab held the palette as
// loaded. With H held the selected slot's entries take the one of magenta
// and green (colours no sprite draws with) farther from their mean. On a
// background other than black, black entries go a step off black, so that
// only what the frame leaves undrawn is 0.
static void build_preview_palette(const data_set &set, PALETTE pal)
{
    for (int c = 0; c < 256; c++) {
        pal[c] = display_palette[c];
        if (glb_view.untinted) {
            pal[c].r = uint8_t(glb_palette[c][0] >> 2);
            pal[c].g = uint8_t(glb_palette[c][1] >> 2);
            pal[c].b = uint8_t(glb_palette[c][2] >> 2);
        }
    }
    if (glb_view.highlight && glb_slot >= 0 && glb_slot <= set.last_slot) {
        int first = find_slot_first_entry(set, glb_slot);
        int count = count_slot_colours(set, glb_slot);
        long to_magenta = 0;
        long to_green = 0;
        for (int e = first; e < first + count; e++) {
            to_magenta += (63 - pal[e].r) + pal[e].g + (63 - pal[e].b);
            to_green += pal[e].r + (63 - pal[e].g) + pal[e].b;
        }
        RGB mark = to_magenta >= to_green ? RGB{63, 0, 63, 0} : RGB{0, 63, 0, 0};
        for (int e = first; e < first + count; e++)
            pal[e] = mark;
    }
    for (int c = 1; c < 256 && glb_view.background != BACKGROUND_BLACK; c++) {
        if (pal[c].r == 0 && pal[c].g == 0 && pal[c].b == 0)
            pal[c].b = 2;
    }
}

// What the preview left 0 takes the background's colour: mid grey, or a
// checkerboard of 8-pixel squares.
static void fill_preview_background()
{
    int depth = bitmap_color_depth(glb_sub_preview);
    if (glb_view.background == BACKGROUND_BLACK || depth == 8)
        return;
    int grey = makecol_depth(depth, 128, 128, 128);
    int dark = makecol_depth(depth, 102, 102, 102);
    int light = makecol_depth(depth, 153, 153, 153);
    for (int y = 0; y < PREVIEW_H; y++) {
        for (int x = 0; x < PREVIEW_W; x++) {
            if (getpixel(glb_sub_preview, x, y) != 0)
                continue;
            int colour = grey;
            if (glb_view.background == BACKGROUND_CHECKERBOARD)
                colour = (x / 8 + y / 8) % 2 ? light : dark;
            putpixel(glb_sub_preview, x, y, colour);
        }
    }
}

// The preview and the frame and zoom lines, over a cleared area.
static void draw_view(const gif_anim *anim, const data_set &set, int white)
{
    PALETTE pal;
    build_preview_palette(set, pal);
    if (!draw_preview_directly(anim, pal)) {
        // The library's 8-bit drawing takes the selected palette.
        if (!is_plain_preview())
            select_palette(pal);
        draw_current_frame(anim);
        draw_preview();
        if (!is_plain_preview())
            unselect_palette();
    }
    fill_preview_background();
    textprintf_ex(glb_buffer, font, VIEW_LINES_X, FRAME_LINE_Y, white, -1, "Frame : %i", glb_frame);
    textprintf_ex(glb_buffer, font, VIEW_LINES_X, ZOOM_LINE_Y, white, -1, "Zoom  : %i%%", glb_zoom);
}

void compose_screen(const gif_anim *anim, const data_set &set, const char *save_extension)
{
    // At 8 bits the colours drawn come from the palette the pass before
    // set, so a pass there may differ from the one before without a change.
    if (bitmap_color_depth(glb_buffer) == 8)
        glb_view.screen_dirty = true;
    // The clock runs on its own: a note that is due goes at the next pass.
    if (!glb_status.note.empty() && glb_status.clock - glb_status.note_end >= 0) {
        glb_status.note.clear();
        glb_view.screen_dirty = true;
    }
    if (glb_view.screen_dirty) {
        clear_screen_area(glb_buffer->w, glb_buffer->h);
        blit(glb_cmap, glb_buffer, 0, 0, CMAP_X, CMAP_Y, glb_cmap->w, glb_cmap->h);
        build_tint_palettes(set);
        draw_tint_panel(set);
        set_palette(display_palette);
        draw_view(anim, set, makecol(255, 255, 255));
        draw_help_lines(glb_buffer, makecol(255, 255, 255), save_extension);
        draw_status_note(makecol(255, 255, 255));
    } else if (glb_view.preview_dirty) {
        clear_screen_area(PREVIEW_W, VIEW_H);
        draw_view(anim, set, makecol(255, 255, 255));
    }
    glb_view.screen_dirty = false;
    glb_view.preview_dirty = false;
}

void show_screen()
{
    vsync();
    blit(glb_buffer, screen, 0, 0, 0, 0, BUFFER_W, BUFFER_H);
}

void draw_help_lines(BITMAP *bmp, int white, const char *save_extension)
{
    textout_ex(bmp, font, "Up, Down           : Tint selection", 10, 490, white, -1);
    textout_ex(bmp, font, "Left, Right        : Colormap on Tint", 10, 500, white, -1);
    textout_ex(bmp, font, "Page Up, Page Down : Frame", 10, 510, white, -1);
    textout_ex(bmp, font, "+, -               : Zoom in, out", 10, 520, white, -1);
    textout_ex(bmp, font, "Ctrl+Z, Ctrl+Y     : Undo, Redo", 10, 530, white, -1);
    textprintf_ex(bmp, font, 10, 540, white, -1, "S                  : Save into %s",
                  save_extension);
    textout_ex(bmp, font, "Tab, H, B          : Before,Slot,Bg", 10, 550, white, -1);
    textout_ex(bmp, font, "Esc                : Quit", 10, 560, white, -1);
    // Short enough to end left of the panel's text.
    textout_ex(bmp, font, "Home               : Zoom to 100s", 10, 570, white, -1);
    textout_ex(bmp, font, "Space, C           : Play, Whole", 10, 580, white, -1);
    textout_ex(bmp, font, "Click, Wheel       : Select, Zoom", 10, 590, white, -1);
}
