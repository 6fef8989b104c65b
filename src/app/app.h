// Application driver: start-up, the main loop and its key handling.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

struct gif_anim;
struct data_set;

extern int pcx_flag;                        // 1 when -pcx was given: export PCX
extern void (*glb_pause)(unsigned int ms);  // the key pauses; the library's rest
extern void (*glb_wait_release)(int scancode); // Home's and S's wait; spins on key[]

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

// Steps 4 to 16 of one loop pass: reads the key-state array and changes the
// slot, its gradient row, the frame and the zoom, marking the screen dirty
// when it does; S exports and saves.
void handle_keys(gif_anim *anim, const data_set &set);

// Spins until key[scancode] is up, without pausing: glb_wait_release's default.
void wait_key_release(int scancode);

// Home's zoom snap.
int32_t snap_zoom(int32_t zoom);

// The largest multiple of 10 below 1000 at which a w x h frame is strictly
// smaller than the preview, else 100.
int32_t choose_first_zoom(int w, int h);

