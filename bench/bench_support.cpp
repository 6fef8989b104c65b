#include "bench_support.h"

#include "gif_write.h"

#include <allegro.h>
#include <benchmark/benchmark.h>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <ctime>
#include <map>
#include <unistd.h>

static std::map<std::string, double> glb_peer_seconds; // per-iteration time by peer name
static std::string glb_big_gif_dir;                   // temporary directory of the animation
static std::string glb_big_gif_path;                  // the animation, empty until written

std::vector<std::array<uint8_t, 3>> list_big_gif_colours()
{
    // Red alone tells the entries apart, so all 256 are distinct.
    std::vector<std::array<uint8_t, 3>> colours(256);
    for (int i = 0; i < 256; i++)
        colours[i] = {uint8_t(i), uint8_t(i * 7 + 40), uint8_t(i * 13 + 5)};
    return colours;
}

// Three travelling waves over all 256 indices with a little noise, so the
// LZW coder neither collapses the image nor gives up on it.
static std::vector<uint8_t> draw_big_frame(int f)
{
    std::vector<uint8_t> px(size_t(BIG_GIF_W) * BIG_GIF_H);
    uint32_t seed = 12345u + uint32_t(f);
    for (int y = 0; y < BIG_GIF_H; y++)
        for (int x = 0; x < BIG_GIF_W; x++) {
            seed = seed * 1664525u + 1013904223u;
            double v = 128 + 40 * std::sin(x / 23.0 + f * 0.3) + 40 * std::sin(y / 17.0 - f * 0.2) +
                       40 * std::sin((x + y) / 31.0 + f * 0.5);
            px[size_t(y) * BIG_GIF_W + x] = uint8_t(int(v) + int(seed >> 29));
        }
    return px;
}

static void remove_big_gif()
{
    if (!glb_big_gif_path.empty())
        std::remove(glb_big_gif_path.c_str());
    if (!glb_big_gif_dir.empty())
        rmdir(glb_big_gif_dir.c_str());
}

const std::string &prepare_big_gif()
{
    if (!glb_big_gif_path.empty() || !glb_big_gif_dir.empty())
        return glb_big_gif_path;
    char dir[] = "/tmp/huesmith_bench_XXXXXX";
    if (!mkdtemp(dir))
        return glb_big_gif_path;
    glb_big_gif_dir = dir;
    std::atexit(remove_big_gif);
    std::vector<gif_out_frame> frames;
    for (int f = 0; f < BIG_GIF_FRAMES; f++)
        frames.push_back({0, 0, BIG_GIF_W, BIG_GIF_H, draw_big_frame(f), 4, false, {}});
    std::string path = glb_big_gif_dir + "/big.gif";
    if (write_gif_file(path.c_str(), BIG_GIF_W, BIG_GIF_H, list_big_gif_colours(), frames))
        glb_big_gif_path = path;
    else
        std::remove(path.c_str());
    return glb_big_gif_path;
}

void prepare_library()
{
    static bool started = false;
    if (!started)
        install_allegro(SYSTEM_NONE, &errno, atexit);
    started = true;
    set_color_depth(8);
}

int silence_stdout()
{
    std::fflush(stdout);
    int saved = dup(STDOUT_FILENO);
    int null = open("/dev/null", O_WRONLY);
    if (null >= 0) {
        dup2(null, STDOUT_FILENO);
        close(null);
    }
    return saved;
}

void restore_stdout(int saved)
{
    std::fflush(stdout);
    if (saved < 0)
        return;
    dup2(saved, STDOUT_FILENO);
    close(saved);
}

double read_cpu_seconds()
{
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return double(t.tv_sec) + double(t.tv_nsec) * 1e-9;
}

void record_peer_time(const std::string &peer, double seconds_per_iteration)
{
    glb_peer_seconds[peer] = seconds_per_iteration;
}

void report_peer_ratio(benchmark::State &state, const std::string &peer,
                       double seconds_per_iteration)
{
    auto found = glb_peer_seconds.find(peer);
    if (found != glb_peer_seconds.end() && found->second > 0)
        state.counters["x_" + peer] = seconds_per_iteration / found->second;
}
