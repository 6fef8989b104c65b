// Input of one main-loop pass: the presses the library's callbacks logged
// since the last pass, each acted on once, and the keys held now.
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

input_state glb_input;

// A key acts at its press; held past the log's repeat delay, it acts again
// every repeat interval: slot, row, frame and history keys at the pace
// their old 75 ms pause gave, zoom keys at that of the 33 ms one.
constexpr int64_t SELECT_REPEAT_MS = 75;
constexpr int64_t ZOOM_REPEAT_MS = 33;
constexpr int64_t CLOCK_TICK_MS = 10;
constexpr int32_t ZOOM_MAX = 1000;
// The export's progress line is drawn again after this many clock ticks.
constexpr int PROGRESS_TICKS = 5;

// The library's timer's count, in milliseconds.
static int64_t read_clock_ms()
{
    return CLOCK_TICK_MS * glb_status.clock;
}

static void log_key_event(int scancode)
{
    note_key_event(glb_input.presses, scancode);
}
END_OF_STATIC_FUNCTION(log_key_event)

static void log_mouse_event(int flags)
{
    note_button_event(glb_input.presses, flags, mouse_x, mouse_y);
}
END_OF_STATIC_FUNCTION(log_mouse_event)

void log_input_events()
{
    LOCK_VARIABLE(glb_input.presses);
    LOCK_FUNCTION(log_key_event);
    LOCK_FUNCTION(log_mouse_event);
    keyboard_lowlevel_callback = log_key_event;
    mouse_callback = log_mouse_event;
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

// True when key k acts in this pass: once for each logged press, and
// while it stays down, by the log's repeat timing.
static bool is_key_due(int k, int64_t repeat_ms)
{
    return take_key_action(glb_input.keys[k], glb_input.presses, k, read_clock_ms(), repeat_ms);
}

static bool is_shift_held()
{
    return is_key_held(glb_input.presses, KEY_LSHIFT) ||
           is_key_held(glb_input.presses, KEY_RSHIFT);
}

bool take_quit_press()
{
    return is_key_due(KEY_ESC, NO_REPEAT_MS);
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
// gradient strip gives the selected slot that row. Each press counts once,
// where it was made.
static void handle_click(const data_set &set)
{
    int x = 0;
    int y = 0;
    if (!take_button_press(glb_input.button, glb_input.presses, x, y))
        return;
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
    int32_t step = is_shift_held() ? 1 : 10;
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
    if (is_key_due(KEY_HOME, NO_REPEAT_MS))
        glb_zoom = snap_zoom(glb_zoom);
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
    if (is_key_due(KEY_SPACE, NO_REPEAT_MS)) {
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

// Ctrl+Z takes back the last row change, Ctrl+Y or Ctrl+Shift+Z brings
// the last one taken back again; either selects the slot it changed.
static void handle_history_keys(const data_set &set)
{
    bool z = is_key_due(KEY_Z, SELECT_REPEAT_MS);
    bool y = is_key_due(KEY_Y, SELECT_REPEAT_MS);
    uint8_t z_mods = read_press_mods(glb_input.presses, KEY_Z);
    bool undo = z && z_mods == PRESS_CTRL;
    bool redo = (z && z_mods == (PRESS_CTRL | PRESS_SHIFT)) ||
                (y && (read_press_mods(glb_input.presses, KEY_Y) & PRESS_CTRL));
    int32_t slots = set.last_slot + 1;
    int32_t slot = -1;
    if (undo)
        slot = undo_row_change(glb_input.history, active_palshift(set), slots);
    if (redo)
        slot = redo_row_change(glb_input.history, active_palshift(set), slots);
    if (slot >= 0)
        glb_slot = slot;
}

// Tab and H show their preview while held; B steps the background.
static void handle_view_keys()
{
    bool untinted = is_key_held(glb_input.presses, KEY_TAB);
    bool highlight = is_key_held(glb_input.presses, KEY_H);
    bool next_background = is_key_due(KEY_B, NO_REPEAT_MS);
    if (untinted != glb_view.untinted || highlight != glb_view.highlight || next_background)
        glb_view.preview_dirty = true;
    glb_view.untinted = untinted;
    glb_view.highlight = highlight;
    if (next_background)
        glb_view.background = (glb_view.background + 1) % BACKGROUND_COUNT;
}

// The export's hook before each frame: the progress line, drawn again when
// it is due, and false (the export stops) once Esc was pressed since the
// export began; that press is spent, so the loop goes on.
static bool show_export_progress(int done, int total)
{
    if (done == 0 || glb_status.clock - glb_input.progress_clock >= PROGRESS_TICKS) {
        glb_input.progress_clock = glb_status.clock;
        show_progress_note("exporting " + std::to_string(done) + "/" + std::to_string(total));
    }
    uint32_t presses = count_key_presses(glb_input.presses, KEY_ESC);
    if (presses == glb_input.esc_before_export)
        return true;
    spend_key_presses(glb_input.keys[KEY_ESC], glb_input.presses, KEY_ESC);
    return false;
}

// S: every frame written with the palettes the screen shows, then the
// choices saved, also after an export Esc cut short.
static void handle_save_key(const gif_anim *anim)
{
    // A signal come since the loop's check ends the run before an export;
    // one that comes during the export ends it at once.
    if (!is_key_due(KEY_S, NO_REPEAT_MS) || read_end_signal())
        return;
    set_end_at_once(true);
    glb_input.esc_before_export = count_key_presses(glb_input.presses, KEY_ESC);
    export_options options = glb_export_options;
    options.progress = show_export_progress;
    int written = save_all_frames(anim, glb_zoom, options);
    show_status_note(format_export_summary(written, options));
    save_choices();
    set_end_at_once(false);
}

// C: whole frames on or off. The animation given is the one shown: the
// loaded one while they are off, from which they are made.
static void handle_coalesce_key(const gif_anim *anim)
{
    if (!is_key_due(KEY_C, NO_REPEAT_MS) || !anim)
        return;
    bool on = !is_coalesce_on();
    if (!set_coalesce(anim, on)) {
        show_status_note("can't make whole frames");
        return;
    }
    glb_view.preview_dirty = true;
    show_status_note(on ? "frames shown whole" : "frames shown alone");
}

void handle_keys(gif_anim *anim, const data_set &set)
{
    // What the pass leaves changed is marked for the screen; a key undone
    // in the same pass (Up and Down together) marks nothing. The rows the
    // keys and the clicks change are noted in the history before the
    // history's own keys act.
    std::array<int32_t, BG2_SLOTS> rows;
    int32_t *palshift = active_palshift(set);
    int32_t slots = std::min<int32_t>(set.last_slot + 1, BG2_SLOTS);
    std::copy(palshift, palshift + slots, rows.begin());
    int32_t slot = glb_slot;
    int32_t frame = glb_frame;
    int32_t zoom = glb_zoom;
    handle_slot_keys(set);
    handle_row_keys(set);
    handle_frame_keys(anim);
    handle_click(set);
    record_row_changes(glb_input.history, rows.data(), palshift, slots);
    handle_history_keys(set);
    handle_zoom_keys();
    handle_playback(anim);
    handle_view_keys();
    handle_coalesce_key(anim);
    if (glb_slot != slot || !std::equal(palshift, palshift + slots, rows.begin()))
        glb_view.screen_dirty = true;
    if (glb_frame != frame || glb_zoom != zoom)
        glb_view.preview_dirty = true;
    handle_save_key(anim);
}
