// Key and mouse-button presses as the library's input callbacks report them
// while they happen, so that a press let go before the loop's next pass
// still acts once, and the pass's side of them: which presses it has acted
// on and when a held key acts again.
#pragma once

#include <atomic>
#include <cstdint>

constexpr int LOGGED_KEYS = 128;   // the library's scancodes are below this
constexpr int PRESS_POINTS = 16;   // button presses whose points are kept
constexpr int64_t KEY_REPEAT_DELAY_MS = 300; // a key held this long acts again
constexpr int64_t NO_REPEAT_MS = -1;         // repeat interval of keys that act once a press
constexpr uint8_t PRESS_CTRL = 1;  // a Ctrl key was down at the press
constexpr uint8_t PRESS_SHIFT = 2; // a Shift key was down at the press

// Written by the callbacks on the library's input thread, read by the loop.
// An edge count goes up at every press and every release: it is odd while
// the key is down, and the presses so far are (edges + 1) / 2. A zeroed
// record (value-initialised) has seen nothing.
struct press_log {
    std::atomic<uint32_t> key_edges[LOGGED_KEYS];
    std::atomic<uint8_t> key_mods[LOGGED_KEYS];       // PRESS_ flags at the key's last press
    std::atomic<uint32_t> button_edges;               // the left mouse button's
    std::atomic<uint32_t> button_points[PRESS_POINTS]; // press n's (x, y) at n % PRESS_POINTS
};

// The loop's side of one key.
struct key_track {
    uint32_t taken; // presses acted on
    int64_t due_ms; // when the key, still down after its last press, acts again
};

// The loop's side of the left button.
struct button_track {
    uint32_t taken; // presses acted on
};

// Forgets every press and release.
void clear_press_log(press_log &log);

// The keyboard callback's work: scancode as the library passes it, its top
// bit set for a release. A press of a key already down (the keyboard's own
// repeat) is no new press.
void note_key_event(press_log &log, int scancode);
// The mouse callback's work: the library's flags and the pointer then.
void note_button_event(press_log &log, int flags, int x, int y);

bool is_key_held(const press_log &log, int k);
// Key k's presses so far.
uint32_t count_key_presses(const press_log &log, int k);
// The PRESS_ flags that stood at key k's last press.
uint8_t read_press_mods(const press_log &log, int k);

// True when key k acts in the pass at now (ms): once for every press, one
// press a pass, and then while the key stays down after its last press once
// KEY_REPEAT_DELAY_MS and after that every repeat_ms have passed (never for
// NO_REPEAT_MS), counted from the pass that acted on the press.
bool take_key_action(key_track &track, const press_log &log, int k, int64_t now,
                     int64_t repeat_ms);

// Takes key k's presses so far as acted on, none of them to repeat.
void spend_key_presses(key_track &track, const press_log &log, int k);

// The oldest button press not acted on, one a pass: true with its point.
// Of more presses than PRESS_POINTS waiting, the oldest are dropped.
bool take_button_press(button_track &track, const press_log &log, int &x, int &y);
