// Application driver: start-up, the main loop and its key handling.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "app/press_log.h"
#include "export/export.h"
#include "palette/row_history.h"

struct gif_anim;
struct data_set;

// What the passes have taken of the logged presses: a key or button acts
// once for each press, and a held key again once it is due.
struct input_state {
    press_log presses;          // every key and button press, logged as it happens
    key_track keys[LOGGED_KEYS]; // every key's presses acted on, and its next repeat
    button_track button;        // the left mouse button's presses acted on
    int wheel;                  // mouse_z already turned into zoom steps
    uint32_t esc_before_export; // Esc presses logged before the running export began
    int progress_clock;         // glb_status.clock when the export's progress was drawn
    row_history history;        // the row changes Ctrl+Z takes back
};

extern input_state glb_input; // the presses, what the passes took of them, the row history

// What the command line asks for.
struct command_line {
    const char *gif_path;      // the first argument, as given
    bool pst;                  // -pst
    export_format format;      // -pcx, -gif, -png or -sheet; BMP without one
    bool coalesce;             // -coalesce: every frame shown and exported whole
    bool batch;                // -export: export without a window, then end
    bool quiet;                // -quiet: no trace lines
    bool help;                 // -help, --help, -h
    int32_t zoom;              // -zoom=N, 0 when not given
    std::vector<std::pair<int32_t, int32_t>> tints; // (slot, row) pairs of -tint=
    std::string out_dir;       // -out=DIR as given, empty when not given
    bool version;              // --version
    std::string state_file;    // -state=FILE as given, empty when not given
    std::string variants_file; // -variants=FILE as given, empty when not given
};

// Reads the options: the GIF path first, options in any case anywhere from
// the first argument on (-pst and -pcx as always), values checked against
// the chosen data set, one format at most. False with the one line to print
// in error.
bool parse_command_line(int argc, char **argv, command_line &cmd, std::string &error);

// The keys' jobs and every option, for -help.
void print_help();

// "A2:9,B3:34": each name a slot of set, each row one of its gradients;
// the (slot, row) pairs added to tints, else false with what is wrong.
bool parse_tints(const std::string &value, const data_set &set,
                 std::vector<std::pair<int32_t, int32_t>> &tints, std::string &reason);

// The working directory by its whole path, "" when it cannot be had.
std::string find_working_dir();
// The directory of the running executable (the program path's, cut at its
// last '/', when that cannot be read).
std::string find_program_dir(const char *program_path);
// $XDG_STATE_HOME/huesmith, else ~/.local/state/huesmith; "" without either.
std::string find_state_home();
// Sets the state file (-state=, else beside the program, else in the state
// home when the program's directory cannot be written) and the frames'
// directory (-out=, else the start directory when the program's cannot be
// written). True when the state file moved to the state home.
bool choose_write_places(const command_line &cmd, const std::string &start_dir,
                         const std::string &program_dir);
// Reads the state file; one moved to the state home and not made there yet
// is read from beside the program.
void load_choices(bool state_moved);
// Writes the choices to the state file choose_write_places chose.
void save_choices();
// The line saying where the run writes its frames and its choices.
void print_write_places(bool batch, const std::string &program_dir);

// One line of a -variants file: a folder name and its tints.
struct variant {
    std::string name;
    std::vector<std::pair<int32_t, int32_t>> tints; // (slot, row) pairs
};

// Lines "NAME: A2:9,B3:34"; blank lines and lines starting with # are
// skipped. False with the line to print at the first bad line.
bool parse_variants(const std::string &text, const data_set &set, std::vector<variant> &variants,
                    std::string &error);
// The same, read from the file path.
bool read_variants_file(const std::string &path, const data_set &set,
                        std::vector<variant> &variants, std::string &error);
// Exports every frame once per variant, into glb_export_dir/NAME, each with
// its tints over the rows the run starts from; 0 when every frame of every
// variant was written, else 1.
int export_variants(const gif_anim *anim, const data_set &set, int32_t zoom,
                    const std::vector<variant> &variants);

// path taken from dir unless it is absolute (or dir is empty).
std::string join_path(const std::string &dir, const std::string &path);

// The whole program: start-up, main loop, orderly quit. Fatal errors end the
// process through exit().
int run_huesmith(int argc, char **argv);

// The input of one loop pass: takes the logged presses and the wheel and
// changes the slot, its gradient row, the frame and the zoom, marking the
// view dirty when it does; Ctrl+Z and Ctrl+Y (Ctrl+Shift+Z) undo and redo
// row changes; Tab and H held and B set what the preview shows; Space
// starts and stops playback, which then moves the frame on by the clock;
// S exports, showing its progress (Esc stops it), and saves.
void handle_keys(gif_anim *anim, const data_set &set);

// The animation the window shows and S exports: the whole screens while
// they are on, else the animation as loaded.
gif_anim *choose_shown_anim(gif_anim *loaded);
// Turns whole screens on (making them from the loaded animation the first
// time) or off; false, and off, when they cannot be made.
bool set_coalesce(const gif_anim *loaded, bool on);
// True while the whole screens are shown.
bool is_coalesce_on();
// Frees the whole screens, and turns them off.
void destroy_whole_frames();
// One line on standard error when the animation has frames drawn over
// earlier ones that show alone without -coalesce. Start-up calls it once.
void hint_coalesce(const gif_anim *anim);

// From here on, losing the X server prints "error : lost the display" and
// ends the process with status 1 at once.
void watch_display_connection();

// Has the library's keyboard and mouse callbacks log every press and
// release in glb_input.presses; both handlers must be installed.
void log_input_events();

// True when an Esc press not yet acted on asks the loop to end.
bool take_quit_press();

// Home's zoom snap.
int32_t snap_zoom(int32_t zoom);

// The largest multiple of 10 below 1000 at which a w x h frame is strictly
// smaller than the preview, else 100.
int32_t choose_first_zoom(int w, int h);

