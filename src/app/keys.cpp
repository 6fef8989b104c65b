// Input of one main-loop pass. Every test reads key[] afresh, so a key going
// down mid-pass is seen by the later tests of the same pass.
#include "app/app.h"

#include <allegro.h>
#include <algorithm>
#include <array>

#include "common/end_signals.h"
#include "display/panel.h"
#include "display/screen.h"
#include "export/export.h"
#include "gif/gif_anim.h"
#include "palette/data_set.h"
#include "palette/tint_slots.h"

static_assert(KEY_MAX <= INPUT_KEYS, "every scancode has its input state");

input_state glb_input = {{}, {}, false, 0, rest, wait_key_release};

// A key acts when it goes down; held this long, it acts again every repeat
// interval: slot, row and frame keys at the pace their old 75 ms pause gave,
// zoom keys at that of the 33 ms one.
constexpr int64_t REPEAT_DELAY_MS = 300;
constexpr int64_t SELECT_REPEAT_MS = 75;
constexpr int64_t ZOOM_REPEAT_MS = 33;
constexpr int64_t NEVER_REPEAT_MS = -1;
constexpr unsigned int RELEASE_REST_MS = 5;
constexpr int64_t CLOCK_TICK_MS = 10;
constexpr int32_t ZOOM_MAX = 1000;

// The library's timer's count, in milliseconds.
static int64_t read_clock_ms()
{
    return CLOCK_TICK_MS * glb_status.clock;
}

void wait_key_release(int scancode)
{
    while (key[scancode] && !glb_end_signal)
        glb_input.pause(RELEASE_REST_MS);
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

// True when key k acts in this pass: in the pass that finds it down after
// one that found it up, and while it stays down once REPEAT_DELAY_MS and
// then each repeat_ms have passed (never for NEVER_REPEAT_MS).
static bool is_key_due(int k, int64_t repeat_ms)
{
    bool &down = glb_input.key_down[k];
    int64_t &due = glb_input.key_due_ms[k];
    int64_t now = read_clock_ms();
    if (!key[k]) {
        down = false;
        return false;
    }
    if (!down) {
        down = true;
        due = repeat_ms == NEVER_REPEAT_MS ? INT64_MAX : now + REPEAT_DELAY_MS;
        return true;
    }
    if (now < due)
        return false;
    due = now + repeat_ms;
    return true;
}

// Up and Down: the selected slot, kept within 0 .. last_slot.
static void handle_slot_keys(const data_set &set)
{
    if (is_key_due(KEY_UP, SELECT_REPEAT_MS) && glb_slot > 0)
        glb_slot--;
    if (is_key_due(KEY_DOWN, SELECT_REPEAT_MS) && glb_slot < set.last_slot)
        glb_slot++;
}

// Left and Right: the selected slot's gradient row. An entry outside the
// range only ever moves towards it.
static void handle_row_keys(const data_set &set)
{
    bool left = is_key_due(KEY_LEFT, SELECT_REPEAT_MS);
    bool right = is_key_due(KEY_RIGHT, SELECT_REPEAT_MS);
    if (glb_slot < 0 || glb_slot > set.last_slot)
        return;
    int32_t &row = active_palshift(set)[glb_slot];
    if (left && row > 0)
        row--;
    if (right && row < set.gradient_rows - 1)
        row++;
}

// Page Up and Page Down: stop playback and step the frame, wrapping at both
// ends.
static void handle_frame_keys(const gif_anim *anim)
{
    int32_t count = anim ? anim->num_frames : 0;
    if (is_key_due(KEY_PGUP, SELECT_REPEAT_MS)) {
        glb_view.playing = false;
        glb_frame--;
        if (glb_frame < 0)
            glb_frame = count > 0 ? count - 1 : 0;
    }
    if (is_key_due(KEY_PGDN, SELECT_REPEAT_MS)) {
        glb_view.playing = false;
        glb_frame++;
        if (glb_frame >= count)
            glb_frame = 0;
    }
}

// A click on a slot's panel line selects the slot; one on a row of the
// gradient strip gives the selected slot that row. Only the press counts.
static void handle_click(const data_set &set)
{
    bool down = mouse_b & 1;
    bool pressed = down && !glb_input.button_down;
    glb_input.button_down = down;
    if (!pressed)
        return;
    int x = mouse_x, y = mouse_y;
    int slot = find_slot_at(set, x, y);
    int row = find_strip_row_at(set, x, y);
    if (slot >= 0)
        glb_slot = slot;
    if (row >= 0 && glb_slot >= 0 && glb_slot <= set.last_slot)
        active_palshift(set)[glb_slot] = row;
}

// Minus, plus, the wheel and Home, then both zoom bounds, which hold on
// every pass. Each wheel notch is one press of plus or minus.
static void handle_zoom_keys()
{
    int32_t step = (key[KEY_LSHIFT] || key[KEY_RSHIFT]) ? 1 : 10;
    bool minus = is_key_due(KEY_MINUS, ZOOM_REPEAT_MS);
    bool minus_pad = is_key_due(KEY_MINUS_PAD, ZOOM_REPEAT_MS);
    bool plus = is_key_due(KEY_EQUALS, ZOOM_REPEAT_MS);
    bool plus_pad = is_key_due(KEY_PLUS_PAD, ZOOM_REPEAT_MS);
    int notches = mouse_z - glb_input.wheel;
    glb_input.wheel += notches;
    if ((minus || minus_pad) && glb_zoom > step)
        glb_zoom -= step;
    if (plus || plus_pad)
        glb_zoom += step;
    for (; notches < 0 && glb_zoom > step; notches++)
        glb_zoom -= step;
    for (; notches > 0 && glb_zoom < ZOOM_MAX; notches--)
        glb_zoom += step;
    if (key[KEY_HOME]) {
        glb_zoom = snap_zoom(glb_zoom);
        glb_input.wait_release(KEY_HOME);
    }
    if (glb_zoom < step)
        glb_zoom = step;
    if (glb_zoom > ZOOM_MAX)
        glb_zoom = ZOOM_MAX;
}

// How long a frame shows: its delay in hundredths of a second, where 0 and
// 1 (too fast for most players to honour) mean 10.
static int64_t find_frame_delay_ms(const gif_anim *anim, int32_t frame)
{
    int delay = anim->frames[frame].delay;
    return 10 * (delay <= 1 ? 10 : delay);
}

// Space starts and stops playback; while playing, the frame moves on each
// time the shown one's delay has passed. After a stall longer than a delay
// (an export) the timing starts afresh instead of racing to catch up.
static void handle_playback(const gif_anim *anim)
{
    if (!anim || anim->num_frames < 1 || glb_frame < 0 || glb_frame >= anim->num_frames)
        return;
    int64_t now = read_clock_ms();
    if (is_key_due(KEY_SPACE, NEVER_REPEAT_MS)) {
        glb_view.playing = !glb_view.playing;
        glb_view.frame_due_ms = now + find_frame_delay_ms(anim, glb_frame);
    }
    if (!glb_view.playing || now < glb_view.frame_due_ms)
        return;
    glb_frame = glb_frame + 1 < anim->num_frames ? glb_frame + 1 : 0;
    glb_view.frame_due_ms += find_frame_delay_ms(anim, glb_frame);
    if (glb_view.frame_due_ms <= now)
        glb_view.frame_due_ms = now + find_frame_delay_ms(anim, glb_frame);
}

void handle_keys(gif_anim *anim, const data_set &set)
{
    // What the pass leaves changed is marked for the screen; a key undone
    // in the same pass (Up and Down together) marks nothing.
    std::array<int32_t, BG2_SLOTS> rows;
    const int32_t *palshift = active_palshift(set);
    int32_t slots = std::min<int32_t>(set.last_slot + 1, BG2_SLOTS);
    std::copy(palshift, palshift + slots, rows.begin());
    int32_t slot = glb_slot, frame = glb_frame, zoom = glb_zoom;
    handle_slot_keys(set);
    handle_row_keys(set);
    handle_frame_keys(anim);
    handle_click(set);
    handle_zoom_keys();
    handle_playback(anim);
    if (glb_slot != slot || !std::equal(palshift, palshift + slots, rows.begin()))
        glb_view.screen_dirty = true;
    if (glb_frame != frame || glb_zoom != zoom)
        glb_view.preview_dirty = true;
    // A signal come since the loop's check ends the run before an export;
    // one that comes during the export ends it at once.
    if (key[KEY_S] && !glb_end_signal) {
        glb_end_at_once = 1;
        int written = save_all_frames(anim, glb_zoom, glb_export_options);
        show_status_note(format_export_summary(written, glb_export_options.dir));
        save_palshift_file();
        glb_end_at_once = 0;
        glb_input.wait_release(KEY_S);
    }
}
