// Shared set-up of the benchmarks: the large generated animation, a quiet
// standard output and the peer ratios.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace benchmark {
class State;
}

constexpr int BIG_GIF_W = 640;
constexpr int BIG_GIF_H = 480;
constexpr int BIG_GIF_FRAMES = 20;

// The 256 colours of the large animation's global table.
std::vector<std::array<uint8_t, 3>> list_big_gif_colours();

// Path of the large animation, written once per run into a temporary
// directory that is removed at exit; empty when it could not be written.
const std::string &prepare_big_gif();

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

// Per-iteration CPU time of a peer's finished loop, kept by name so that a
// benchmark registered after it can report itself as a multiple of it.
void record_peer_time(const std::string &peer, double seconds_per_iteration);
// Sets the counter "x_<peer>": this loop's time per iteration over the peer's.
void report_peer_ratio(benchmark::State &state, const std::string &peer,
                       double seconds_per_iteration);
