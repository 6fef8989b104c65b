#include "bench_support.h"

#include "gif_write.h"
#include "palette/global_palette.h"

#include <allegro.h>
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <map>
#include <sys/stat.h>
#include <unistd.h>

// One reported pair; name is empty until the benchmark's run is reported.
struct peer_pair {
    std::string name, peer;
    double ours, peer_seconds, ratio;
    long long iterations;
};

static std::map<std::string, std::vector<double>> glb_peer_seconds; // per-iteration times by peer name
static std::vector<peer_pair> glb_peer_pairs;          // every reported pair, in order
static std::string glb_gif_dir;                        // temporary directory of the animations
static std::map<std::string, std::string> glb_gif_paths; // written animations by name

// One frame to write: the whole screen, with its graphic control values.
struct bench_frame {
    std::vector<uint8_t> pixels;
    int disposal;
    int trans; // NO_TRANSPARENT_COLOR for none
};

const std::vector<bench_gif> &list_bench_gifs()
{
    static const std::vector<bench_gif> gifs = {
        {"noise", BIG_GIF_W, BIG_GIF_H, 10}, {"figure", 320, 240, 300}, {"still", 1920, 1080, 1}};
    return gifs;
}

long long count_bench_gif_pixels(const bench_gif &gif)
{
    return (long long)gif.w * gif.h * gif.frames;
}

// 16 ramps of 16 shades, every colour any animation uses. The low bits of
// red and green carry the ramp and the shade, so all 256 differ.
static std::vector<gif_rgb> list_ramp_colours()
{
    static const int base[16][3] = {
        {250, 250, 250}, {240, 40, 40},   {250, 150, 30}, {250, 230, 60},
        {170, 240, 50},  {50, 200, 60},   {40, 190, 170}, {60, 230, 250},
        {120, 180, 250}, {40, 70, 220},   {150, 80, 230}, {230, 60, 200},
        {250, 160, 190}, {240, 190, 150}, {150, 100, 50}, {160, 160, 70}};
    std::vector<gif_rgb> colours;
    for (int ramp = 0; ramp < 16; ramp++)
        for (int shade = 0; shade < 16; shade++) {
            const int *c = base[ramp];
            colours.push_back({uint8_t((c[0] * (shade + 1) / 16 & 0xF0) | ramp),
                               uint8_t((c[1] * (shade + 1) / 16 & 0xF0) | shade),
                               uint8_t(c[2] * (shade + 1) / 16)});
        }
    return colours;
}

void fill_bench_glb_palette()
{
    std::vector<gif_rgb> colours = list_ramp_colours();
    for (int e = 0; e < 256; e++)
        std::memcpy(glb_palette[e], colours[255 - e].data(), 3);
}

static uint32_t step_lcg(uint32_t &seed)
{
    seed = seed * 1664525u + 1013904223u;
    return seed >> 8;
}

// "noise": three travelling waves wrapped over 200 indices plus random low
// bits, so the LZW coder gains little; the table is the ramp colours in a
// shuffled order, the last 56 entries unused.
static void draw_noise(const bench_gif &gif, std::vector<gif_rgb> &table,
                       std::vector<bench_frame> &frames)
{
    table = list_ramp_colours();
    uint32_t seed = 99;
    for (int i = 255; i > 0; i--)
        std::swap(table[i], table[step_lcg(seed) % uint32_t(i + 1)]);
    for (int f = 0; f < gif.frames; f++) {
        bench_frame frame{std::vector<uint8_t>(size_t(gif.w) * gif.h), DISPOSE_DO_NOT,
                          NO_TRANSPARENT_COLOR};
        for (int y = 0; y < gif.h; y++)
            for (int x = 0; x < gif.w; x++) {
                double v = 100 + 60 * (std::sin(x / 23.0 + f * 0.3) + std::sin(y / 17.0 - f * 0.2) +
                                       std::sin((x + y) / 31.0 + f * 0.5));
                int index = (int(std::floor(v)) + int(step_lcg(seed) & 7)) % 200;
                frame.pixels[size_t(y) * gif.w + x] = uint8_t(index < 0 ? index + 200 : index);
            }
        frames.push_back(std::move(frame));
    }
}

// "still": smooth photo-like shading over all 256 ramp colours with a
// little noise.
static void draw_still(const bench_gif &gif, std::vector<gif_rgb> &table,
                       std::vector<bench_frame> &frames)
{
    table = list_ramp_colours();
    bench_frame frame{std::vector<uint8_t>(size_t(gif.w) * gif.h), DISPOSE_DO_NOT,
                      NO_TRANSPARENT_COLOR};
    uint32_t seed = 7;
    for (int y = 0; y < gif.h; y++)
        for (int x = 0; x < gif.w; x++) {
            double v = 128 + 110 * std::sin(x / 300.0) * std::cos(y / 210.0) +
                       50 * std::sin((x - 2 * y) / 170.0) +
                       10 * std::cos(std::hypot(x - 900, y - 500) / 40.0);
            int index = int(v) + int(step_lcg(seed) % 8) - 4;
            frame.pixels[size_t(y) * gif.w + x] = uint8_t(std::clamp(index, 0, 255));
        }
    frames.push_back(std::move(frame));
}

// The figure's table: 8 ramps of 8 shades, index ramp * 8 + shade; the
// brightest sun shade is never drawn and serves as the transparent index.
enum { SKY, GRASS, SKIN, SHIRT, TROUSERS, HAIR, SHOES, SUN };
constexpr int FIGURE_TRANS = SUN * 8 + 7;

// An ellipse lit from the top left, shades 0 .. 6 of the ramp.
static void fill_shaded_ellipse(std::vector<uint8_t> &px, int w, int h, int cx, int cy, int rx,
                                int ry, int ramp)
{
    for (int y = std::max(cy - ry, 0); y <= std::min(cy + ry, h - 1); y++)
        for (int x = std::max(cx - rx, 0); x <= std::min(cx + rx, w - 1); x++) {
            double nx = double(x - cx) / rx, ny = double(y - cy) / ry;
            int shade = std::clamp(int(4 - 3 * (nx + ny)), 0, 6);
            if (nx * nx + ny * ny <= 1)
                px[size_t(y) * w + x] = uint8_t(ramp * 8 + shade);
        }
}

// A leg from the hip down, its foot swung sideways by swing pixels.
static void fill_leg(std::vector<uint8_t> &px, int w, int hip_x, int hip_y, int swing)
{
    for (int y = hip_y; y < hip_y + 36; y++) {
        int x0 = hip_x + swing * (y - hip_y) / 36;
        int ramp = y < hip_y + 32 ? TROUSERS : SHOES;
        for (int x = std::max(x0 - 3, 0); x <= std::min(x0 + 3, w - 1); x++)
            px[size_t(y) * w + x] = uint8_t(ramp * 8 + 2 + (x - x0 + 3) / 2);
    }
}

// Frame t of the scene: sky bands, a sun, striped grass and a figure walking
// right one pixel a frame.
static std::vector<uint8_t> draw_figure_scene(const bench_gif &gif, int t)
{
    int w = gif.w, h = gif.h;
    std::vector<uint8_t> px(size_t(w) * h);
    for (int y = 0; y < h; y++)
        for (int x = 0; x < w; x++)
            px[size_t(y) * w + x] = uint8_t(y < 170 ? SKY * 8 + 7 - y * 6 / 170
                                                    : GRASS * 8 + 2 + ((x / 16 + y / 8) & 3));
    fill_shaded_ellipse(px, w, h, 260, 40, 18, 18, SUN);
    int cx = 10 + t, swing = int(std::lround(9 * std::sin(t * 2 * M_PI / 24)));
    fill_leg(px, w, cx - 4, 164, swing);
    fill_leg(px, w, cx + 4, 164, -swing);
    fill_shaded_ellipse(px, w, h, cx, 146, 11, 20, SHIRT);
    fill_shaded_ellipse(px, w, h, cx, 116, 9, 10, SKIN);
    fill_shaded_ellipse(px, w, h, cx - 1, 109, 9, 4, HAIR);
    return px;
}

// "figure": the scene's frames as an optimising encoder stores them, full
// size with the pixels the canvas already shows made transparent. Every
// 60th frame is cleared to the background after it is shown and every 60th
// (offset by 30) restored to what it covered, as real animations do.
static void draw_figure(const bench_gif &gif, std::vector<gif_rgb> &table,
                        std::vector<bench_frame> &frames)
{
    static const int ramps[8] = {8, 5, 13, 1, 9, 14, 0, 3};
    std::vector<gif_rgb> colours = list_ramp_colours();
    table.clear();
    for (int ramp : ramps)
        for (int shade = 0; shade < 8; shade++)
            table.push_back(colours[ramp * 16 + shade * 2 + 1]);
    std::vector<uint8_t> canvas(size_t(gif.w) * gif.h, 0);
    for (int t = 0; t < gif.frames; t++) {
        int disposal = t % 60 == 59   ? DISPOSE_BACKGROUND
                       : t % 60 == 29 ? DISPOSE_PREVIOUS
                                      : DISPOSE_DO_NOT;
        int trans = t > 0 ? FIGURE_TRANS : NO_TRANSPARENT_COLOR;
        bench_frame frame{draw_figure_scene(gif, t), disposal, trans};
        std::vector<uint8_t> before = canvas;
        canvas = frame.pixels;
        for (size_t p = 0; t > 0 && p < canvas.size(); p++)
            if (frame.pixels[p] == before[p])
                frame.pixels[p] = FIGURE_TRANS;
        if (disposal == DISPOSE_BACKGROUND)
            std::fill(canvas.begin(), canvas.end(), 0);
        if (disposal == DISPOSE_PREVIOUS)
            canvas = before;
        frames.push_back(std::move(frame));
    }
}

// Screen descriptor with the global table (background index 0) and the
// frames, each whole image compressed in one call.
static bool write_bench_frames(const std::string &path, const bench_gif &gif,
                               const std::vector<gif_rgb> &table, std::vector<bench_frame> &frames)
{
    int error = 0;
    GifFileType *out = EGifOpenFileName(path.c_str(), false, &error);
    if (!out)
        return false;
    EGifSetGifVersion(out, true);
    ColorMapObject *map = make_gif_color_map(table);
    bool ok = map && EGifPutScreenDesc(out, gif.w, gif.h, 8, 0, map) == GIF_OK;
    GifFreeMapObject(map);
    for (bench_frame &frame : frames) {
        GraphicsControlBlock gcb{frame.disposal, false, 4, frame.trans};
        GifByteType ext[4];
        int len = int(EGifGCBToExtension(&gcb, ext));
        ok = ok && EGifPutExtension(out, GRAPHICS_EXT_FUNC_CODE, len, ext) == GIF_OK &&
             EGifPutImageDesc(out, 0, 0, gif.w, gif.h, false, nullptr) == GIF_OK &&
             EGifPutLine(out, frame.pixels.data(), gif.w * gif.h) == GIF_OK;
    }
    return EGifCloseFile(out, &error) == GIF_OK && ok;
}

static void remove_bench_gifs()
{
    for (const auto &written : glb_gif_paths)
        std::remove(written.second.c_str());
    if (!glb_gif_dir.empty())
        rmdir(glb_gif_dir.c_str());
}

const std::string &prepare_bench_gif(const bench_gif &gif)
{
    static const std::string none;
    auto written = glb_gif_paths.find(gif.name);
    if (written != glb_gif_paths.end())
        return written->second;
    if (glb_gif_dir.empty()) {
        char dir[] = "/tmp/huesmith_bench_XXXXXX";
        if (!mkdtemp(dir))
            return none;
        glb_gif_dir = dir;
        std::atexit(remove_bench_gifs);
    }
    std::vector<gif_rgb> table;
    std::vector<bench_frame> frames;
    std::string name = gif.name;
    if (name == "noise")
        draw_noise(gif, table, frames);
    else if (name == "figure")
        draw_figure(gif, table, frames);
    else
        draw_still(gif, table, frames);
    std::string path = glb_gif_dir + "/" + name + ".gif";
    if (!write_bench_frames(path, gif, table, frames)) {
        std::remove(path.c_str());
        return none;
    }
    struct stat st {};
    stat(path.c_str(), &st);
    std::fprintf(stderr, "%s: %d frames of %d x %d, %zu-entry table, %lld bytes\n", gif.name,
                 gif.frames, gif.w, gif.h, table.size(), (long long)st.st_size);
    return glb_gif_paths[name] = path;
}

const std::string &prepare_case_gif(benchmark::State &state, const bench_gif &gif)
{
    const std::string &path = prepare_bench_gif(gif);
    if (path.empty())
        state.SkipWithError("can't write the animation");
    return path;
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

double seconds_per_iteration(double start, const benchmark::State &state)
{
    double seconds = read_cpu_seconds() - start;
    return state.iterations() > 0 ? seconds / double(state.iterations()) : 0.0;
}

static double find_median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values.empty() ? 0.0 : values[values.size() / 2];
}

void record_peer_time(const std::string &peer, double seconds_per_iteration)
{
    glb_peer_seconds[peer].push_back(seconds_per_iteration);
}

double find_peer_seconds(const std::string &peer)
{
    // The median of every run so far (the library's sizing runs included),
    // so one slow repetition of the peer does not set every ratio after it.
    auto found = glb_peer_seconds.find(peer);
    return found == glb_peer_seconds.end() ? 0.0 : find_median(found->second);
}

void report_peer_ratio(benchmark::State &state, const std::string &peer,
                       double seconds_per_iteration)
{
    report_paired_times(state, peer, seconds_per_iteration, find_peer_seconds(peer));
}

void report_paired_times(benchmark::State &state, const std::string &peer,
                         double seconds_per_iteration, double peer_seconds)
{
    if (peer_seconds <= 0)
        return;
    double ratio = seconds_per_iteration / peer_seconds;
    state.counters["x_" + peer.substr(0, peer.find('/'))] = ratio;
    glb_peer_pairs.push_back(
        {"", peer, seconds_per_iteration, peer_seconds, ratio, (long long)state.iterations()});
}

void name_reported_pairs(const std::string &name)
{
    // The library sizes the loop with trial runs of fewer iterations; the
    // reported runs (one a repetition) share the largest count.
    long long reported = 0;
    for (const peer_pair &pair : glb_peer_pairs)
        if (pair.name.empty())
            reported = std::max(reported, pair.iterations);
    for (peer_pair &pair : glb_peer_pairs)
        if (pair.name.empty() && pair.iterations == reported)
            pair.name = name;
    glb_peer_pairs.erase(std::remove_if(glb_peer_pairs.begin(), glb_peer_pairs.end(),
                                        [](const peer_pair &pair) { return pair.name.empty(); }),
                         glb_peer_pairs.end());
}

void print_peer_summary(FILE *out)
{
    if (glb_peer_pairs.empty())
        return;
    std::fprintf(out, "\nCPU ms per iteration (median of the runs), ratio = ours / peer\n");
    std::fprintf(out, "%-30s %10s  %-30s %10s %7s %5s\n", "case", "ours", "peer", "peer", "ratio",
                 "runs");
    std::vector<std::string> printed;
    for (const peer_pair &first : glb_peer_pairs) {
        std::string key = first.name + "\n" + first.peer;
        if (std::find(printed.begin(), printed.end(), key) != printed.end())
            continue;
        printed.push_back(key);
        std::vector<double> ours, peer, ratio;
        for (const peer_pair &pair : glb_peer_pairs)
            if (pair.name == first.name && pair.peer == first.peer) {
                ours.push_back(pair.ours);
                peer.push_back(pair.peer_seconds);
                ratio.push_back(pair.ratio);
            }
        std::fprintf(out, "%-30s %10.4g  %-30s %10.4g %7.3f %5zu\n", first.name.c_str(),
                     find_median(ours) * 1e3, first.peer.c_str(), find_median(peer) * 1e3,
                     find_median(ratio), ratio.size());
    }
}
