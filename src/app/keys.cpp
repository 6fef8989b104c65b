// Key handling of one main-loop pass. Every test reads key[] afresh, so a
// key going down mid-pass is seen by the later tests of the same pass.
#include "app/app.h"

#include <allegro.h>

#include "display/screen.h"
#include "export/export.h"
#include "gif/gif_anim.h"
#include "palette/data_set.h"
#include "palette/tint_slots.h"

void (*glb_pause)(unsigned int ms) = rest;
void (*glb_wait_release)(int scancode) = wait_key_release;

// Accepted slot, row and frame keys pause before the change; zoom keys after.
constexpr unsigned int SELECT_PAUSE_MS = 75;
constexpr unsigned int ZOOM_PAUSE_MS = 33;
constexpr int32_t ZOOM_MAX = 1000;

void wait_key_release(int scancode)
{
    while (key[scancode]) {
    }
}

int32_t snap_zoom(int32_t zoom)
{
    int32_t r = zoom % 100;
    if (r != 0)
        return r < 50 ? zoom - r : zoom + (100 - r);
    if (zoom >= 100 && zoom <= 900)
        return zoom + 100;
    return 100;
}

// Up and Down: the selected slot, kept within 0 .. last_slot.
static void handle_slot_keys(const data_set &set)
{
    if (key[KEY_UP] && glb_slot > 0) {
        glb_pause(SELECT_PAUSE_MS);
        glb_slot--;
        glb_screen_dirty = true;
    }
    if (key[KEY_DOWN] && glb_slot < set.last_slot) {
        glb_pause(SELECT_PAUSE_MS);
        glb_slot++;
        glb_screen_dirty = true;
    }
}

// Left and Right: the selected slot's gradient row. An entry outside the
// range only ever moves towards it.
static void handle_row_keys(const data_set &set)
{
    if (glb_slot < 0 || glb_slot > set.last_slot)
        return;
    int32_t &row = active_palshift(set)[glb_slot];
    if (key[KEY_LEFT] && row > 0) {
        glb_pause(SELECT_PAUSE_MS);
        row--;
        glb_screen_dirty = true;
    }
    if (key[KEY_RIGHT] && row < set.gradient_rows - 1) {
        glb_pause(SELECT_PAUSE_MS);
        row++;
        glb_screen_dirty = true;
    }
}

// Page Up and Page Down: the frame shown, wrapping at both ends.
static void handle_frame_keys(const gif_anim *anim)
{
    int32_t count = anim ? anim->num_frames : 0;
    if (key[KEY_PGUP]) {
        glb_pause(SELECT_PAUSE_MS);
        glb_frame--;
        if (glb_frame < 0)
            glb_frame = count > 0 ? count - 1 : 0;
        glb_preview_dirty = true;
    }
    if (key[KEY_PGDN]) {
        glb_pause(SELECT_PAUSE_MS);
        glb_frame++;
        if (glb_frame >= count)
            glb_frame = 0;
        glb_preview_dirty = true;
    }
}

// Minus, plus and Home, then both zoom bounds, which hold on every pass.
static void handle_zoom_keys()
{
    int32_t old_zoom = glb_zoom;
    int32_t step = (key[KEY_LSHIFT] || key[KEY_RSHIFT]) ? 1 : 10;
    if (key[KEY_MINUS] || key[KEY_MINUS_PAD]) {
        if (glb_zoom > step)
            glb_zoom -= step;
        glb_pause(ZOOM_PAUSE_MS);
    }
    if (key[KEY_EQUALS] || key[KEY_PLUS_PAD]) {
        glb_zoom += step;
        glb_pause(ZOOM_PAUSE_MS);
    }
    if (key[KEY_HOME]) {
        glb_zoom = snap_zoom(glb_zoom);
        glb_wait_release(KEY_HOME);
    }
    if (glb_zoom < step)
        glb_zoom = step;
    if (glb_zoom > ZOOM_MAX)
        glb_zoom = ZOOM_MAX;
    if (glb_zoom != old_zoom)
        glb_preview_dirty = true;
}

void handle_keys(gif_anim *anim, const data_set &set)
{
    handle_slot_keys(set);
    handle_row_keys(set);
    handle_frame_keys(anim);
    handle_zoom_keys();
    if (key[KEY_S]) {
        show_status_note(format_export_summary(save_all_frames(anim, glb_zoom, pcx_flag)));
        save_palshift_file();
        glb_wait_release(KEY_S);
    }
}
