#include "app/press_log.h"

#include <allegro.h>

static_assert(KEY_MAX <= LOGGED_KEYS, "every scancode is logged");

void clear_press_log(press_log &log)
{
    for (int k = 0; k < LOGGED_KEYS; k++) {
        log.key_edges[k].store(0);
        log.key_mods[k].store(0);
    }
    log.button_edges.store(0);
    for (auto &point : log.button_points)
        point.store(0);
}

bool is_key_held(const press_log &log, int k)
{
    return k >= 0 && k < LOGGED_KEYS && (log.key_edges[k].load() & 1) != 0;
}

uint32_t count_key_presses(const press_log &log, int k)
{
    return k >= 0 && k < LOGGED_KEYS ? (log.key_edges[k].load() + 1) / 2 : 0;
}

uint8_t read_press_mods(const press_log &log, int k)
{
    return k >= 0 && k < LOGGED_KEYS ? log.key_mods[k].load() : 0;
}

void note_key_event(press_log &log, int scancode)
{
    int k = scancode & 0x7f;
    bool press = (scancode & 0x80) == 0;
    if (k == 0 || is_key_held(log, k) == press)
        return;
    if (press) {
        bool ctrl = is_key_held(log, KEY_LCONTROL) || is_key_held(log, KEY_RCONTROL);
        bool shift = is_key_held(log, KEY_LSHIFT) || is_key_held(log, KEY_RSHIFT);
        log.key_mods[k].store(uint8_t((ctrl ? PRESS_CTRL : 0) | (shift ? PRESS_SHIFT : 0)));
    }
    // The flags go first: whoever sees the new count sees them too.
    log.key_edges[k].fetch_add(1);
}

void note_button_event(press_log &log, int flags, int x, int y)
{
    bool down = (log.button_edges.load() & 1) != 0;
    if ((flags & MOUSE_FLAG_LEFT_DOWN) && !down) {
        uint32_t press = (log.button_edges.load() + 1) / 2;
        uint32_t point = (uint32_t(uint16_t(x)) << 16) | uint16_t(y);
        log.button_points[press % PRESS_POINTS].store(point);
        log.button_edges.fetch_add(1);
        down = true;
    }
    if ((flags & MOUSE_FLAG_LEFT_UP) && down)
        log.button_edges.fetch_add(1);
}

bool take_key_action(key_track &track, const press_log &log, int k, int64_t now,
                     int64_t repeat_ms)
{
    if (k < 0 || k >= LOGGED_KEYS)
        return false;
    uint32_t edges = log.key_edges[k].load();
    if ((edges + 1) / 2 != track.taken) {
        track.taken++;
        track.due_ms = repeat_ms == NO_REPEAT_MS ? INT64_MAX : now + KEY_REPEAT_DELAY_MS;
        return true;
    }
    if ((edges & 1) == 0 || now < track.due_ms)
        return false;
    track.due_ms = now + repeat_ms;
    return true;
}

void spend_key_presses(key_track &track, const press_log &log, int k)
{
    track.taken = count_key_presses(log, k);
    track.due_ms = INT64_MAX;
}

bool take_button_press(button_track &track, const press_log &log, int &x, int &y)
{
    uint32_t presses = (log.button_edges.load() + 1) / 2;
    if (presses == track.taken)
        return false;
    if (presses - track.taken > uint32_t(PRESS_POINTS))
        track.taken = presses - PRESS_POINTS;
    uint32_t point = log.button_points[track.taken % PRESS_POINTS].load();
    track.taken++;
    x = int16_t(point >> 16);
    y = int16_t(point & 0xffff);
    return true;
}
