// Application driver: start-up, the main loop and its key handling.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

struct gif_anim;
struct data_set;

// Scancodes the key handling follows (the library's are below 128).
constexpr int INPUT_KEYS = 128;

// What the last pass saw of the keys and the mouse: a key or button acts
// when it goes down, and a held key again once it is due. The two waits
// are hooks so that a test can stand in for the keyboard.
struct input_state {
    bool key_down[INPUT_KEYS];
    int64_t key_due_ms[INPUT_KEYS];     // when the held key acts again
    bool button_down;                   // left mouse button
    int wheel;                          // mouse_z already turned into zoom steps
    void (*pause)(unsigned int ms);     // the library's rest, between checks of a release wait
    void (*wait_release)(int scancode); // Home's and S's wait until the key is up
};

extern int pcx_flag;          // 1 when -pcx was given: export PCX
extern input_state glb_input; // keys and mouse as the last pass saw them, and the waits

// What the command line asks for.
struct command_line {
    const char *gif_path;      // the first argument, as given
    bool pst, pcx;             // -pst, -pcx
    bool batch;                // -export: export without a window, then end
    bool quiet;                // -quiet: no trace lines
    bool help;                 // -help, --help, -h
    int32_t zoom;              // -zoom=N, 0 when not given
    std::vector<std::pair<int32_t, int32_t>> tints; // (slot, row) pairs of -tint=
    std::string out_dir;       // -out=DIR as given, empty when not given
};

// Reads the options: the GIF path first, options in any case anywhere from
// the first argument on (-pst and -pcx as always), values checked against
// the chosen data set. False with the one line to print in error.
bool parse_command_line(int argc, char **argv, command_line &cmd, std::string &error);

// The keys' jobs and every option, for -help.
void print_help();

// path taken from dir unless it is absolute (or dir is empty).
std::string join_path(const std::string &dir, const std::string &path);

// The whole program: start-up, main loop, orderly quit. Fatal errors end the
// process through exit().
int run_huesmith(int argc, char **argv);

// The input of one loop pass: reads the key-state array and the mouse and
// changes the slot, its gradient row, the frame and the zoom, marking the
// view dirty when it does; Space starts and stops playback, which then
// moves the frame on by the clock; S exports and saves.
void handle_keys(gif_anim *anim, const data_set &set);

// From here on, losing the X server prints "error : lost the display" and
// ends the process with status 1 at once.
void watch_display_connection();

// Checks key[scancode] between short glb_input.pause rests until it is
// up: glb_input.wait_release's default.
void wait_key_release(int scancode);

// Home's zoom snap.
int32_t snap_zoom(int32_t zoom);

// The largest multiple of 10 below 1000 at which a w x h frame is strictly
// smaller than the preview, else 100.
int32_t choose_first_zoom(int w, int h);

