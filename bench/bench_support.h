// Shared set-up of the benchmarks: the generated animations, the global
// palette that holds their colours, a quiet standard output and the peer
// ratios with the summary printed after the run.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace benchmark {
class State;
}

// Size of the "noise" animation, also the screen-sized animation other
// benchmarks build for themselves.
constexpr int BIG_GIF_W = 640;
constexpr int BIG_GIF_H = 480;

// One generated animation; every frame covers the whole logical screen.
struct bench_gif {
    const char *name; // "noise", "figure", "still"
    int w, h;         // logical screen and frame size
    int frames;
};

// The three animations, in the order their cases are registered.
const std::vector<bench_gif> &list_bench_gifs();

// Path of the named animation, written on first use into a temporary
// directory removed at exit; empty when it could not be written.
const std::string &prepare_bench_gif(const bench_gif &gif);
// The same for a benchmark, which is marked failed when the path is empty.
const std::string &prepare_case_gif(benchmark::State &state, const bench_gif &gif);

// Where benchmarks write files: HUESMITH_BENCH_EXPORT_DIR, else /dev/shm
// when it can be written, else /tmp.
std::string find_export_parent();

// Pixels of all frames of the animation.
long long count_bench_gif_pixels(const bench_gif &gif);

// Fills glb_palette with every colour of every generated animation, in an
// order unlike any animation's table, so remap_pixels finds them all and
// searches for each.
void fill_bench_glb_palette();

// Starts the library without a display (once) and sets the colour depth to
// 8, as the program does before loading.
void prepare_library();

// Sends standard output to /dev/null (the reader and the remap trace every
// step there); returns what restore_stdout needs.
int silence_stdout();
void restore_stdout(int saved);

// CPU time of this thread: the machine is shared, so ratios are taken from
// it rather than from the wall clock.
double read_cpu_seconds();

// CPU seconds per iteration of a loop that started at start.
double seconds_per_iteration(double start, const benchmark::State &state);

// Per-iteration CPU time of a peer's finished loop, kept by name so that a
// benchmark registered after it can report itself as a multiple of it.
void record_peer_time(const std::string &peer, double seconds_per_iteration);
// The median of the peer's recorded times, 0 when it has none.
double find_peer_seconds(const std::string &peer);
// Sets the counter "x_<peer>" (the peer's name up to any '/'): this loop's
// time per iteration over the peer's; keeps the pair for the summary.
void report_peer_ratio(benchmark::State &state, const std::string &peer,
                       double seconds_per_iteration);
// The same with the peer's time measured alongside, in the same loop.
void report_paired_times(benchmark::State &state, const std::string &peer,
                         double seconds_per_iteration, double peer_seconds);

// Gives the benchmark's name to the pairs its reported runs left, and drops
// those of its trial runs.
void name_reported_pairs(const std::string &name);
// Table of every named pair (medians over repetitions): ours, peer, ratio.
void print_peer_summary(FILE *out);

// Times the reader (trace on and off), Wuffs and giflib loading every
// generated animation and GIF suite file, in interleaved repetitions, and
// prints the table of medians and ratios.
void print_load_table(FILE *out, int repetitions);
