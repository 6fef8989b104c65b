// Loading GIF files: the program's reader, with its trace on (to /dev/null)
// and off, against Wuffs and giflib decoding the same file and compositing
// it the way the program does. The generated animations and the GIF suite's
// small files each make a case; every case first checks that all sides give
// the same frames, then times them in interleaved repetitions and reports
// the medians (print_load_table). The reader followed by the remap is a
// benchmark of its own, against giflib's bare decode.
#include "bench_support.h"
#include "bench_wuffs.h"
#include "common/trace.h"
#include "gif/gif_anim.h"
#include "palette/global_palette.h"

#include <allegro.h>
#include <benchmark/benchmark.h>
#include <gif_lib.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <functional>
#include <sys/stat.h>

// giflib's decode of every image; null when it fails or finds another
// number of images than expected (any number when images is negative). The
// caller closes the file.
static GifFileType *slurp_with_giflib(const std::string &path, int images)
{
    int error = 0;
    GifFileType *gif = DGifOpenFileName(path.c_str(), &error);
    if (gif && (DGifSlurp(gif) != GIF_OK || (images >= 0 && gif->ImageCount != images))) {
        DGifCloseFile(gif, &error);
        return nullptr;
    }
    return gif;
}

// Copies rows of a w-wide rectangle between two buffers of the given row
// lengths.
static void copy_rect(const uint8_t *from, int from_row, uint8_t *to, int to_row, int w, int h)
{
    for (int y = 0; y < h; y++)
        std::memcpy(to + size_t(y) * to_row, from + size_t(y) * from_row, size_t(w));
}

// The program's compositing over giflib's decode: each image's rectangle of
// the canvas (background elsewhere) gets the image's opaque pixels, goes
// back to the canvas, then is disposed of; frames keeps each rectangle.
static bool composite_with_giflib(const std::string &path, int images,
                                  std::vector<peer_frame> &frames)
{
    GifFileType *gif = slurp_with_giflib(path, images);
    if (!gif)
        return false;
    int sw = gif->SWidth, sh = gif->SHeight;
    uint8_t fill = gif->SColorMap ? uint8_t(gif->SBackGroundColor) : 0;
    std::vector<uint8_t> canvas(size_t(sw) * sh, fill), before;
    frames.assign(size_t(images), {});
    for (int i = 0; i < images; i++) {
        const SavedImage &image = gif->SavedImages[i];
        const GifImageDesc &d = image.ImageDesc;
        GraphicsControlBlock gcb{DISPOSAL_UNSPECIFIED, false, 0, NO_TRANSPARENT_COLOR};
        DGifSavedExtensionToGCB(gif, i, &gcb);
        int ow = d.Left < sw ? std::min(d.Width, sw - d.Left) : 0;
        int oh = d.Top < sh ? std::min(d.Height, sh - d.Top) : 0;
        uint8_t *at = canvas.data() + (ow > 0 && oh > 0 ? size_t(d.Top) * sw + d.Left : 0);
        peer_frame &frame = frames[i];
        frame = {d.Left, d.Top, d.Width, d.Height, std::vector<uint8_t>(size_t(d.Width) * d.Height, fill)};
        copy_rect(at, sw, frame.pixels.data(), d.Width, ow, oh);
        if (gcb.DisposalMode == DISPOSE_PREVIOUS)
            before = frame.pixels;
        const GifByteType *raster = image.RasterBits;
        for (size_t p = 0; p < frame.pixels.size(); p++)
            if (raster[p] != gcb.TransparentColor)
                frame.pixels[p] = raster[p];
        copy_rect(frame.pixels.data(), d.Width, at, sw, ow, oh);
        if (gcb.DisposalMode == DISPOSE_BACKGROUND)
            for (int y = 0; y < oh; y++)
                std::memset(at + size_t(y) * sw, fill, size_t(ow));
        if (gcb.DisposalMode == DISPOSE_PREVIOUS)
            copy_rect(before.data(), d.Width, at, sw, ow, oh);
    }
    int error = 0;
    DGifCloseFile(gif, &error);
    return true;
}

// The whole file in bytes (kept across calls); false when it cannot be read.
static bool read_whole_file(const std::string &path, std::vector<uint8_t> &bytes)
{
    FILE *file = std::fopen(path.c_str(), "rb");
    if (!file)
        return false;
    struct stat st {};
    bool ok = fstat(fileno(file), &st) == 0;
    bytes.resize(ok ? size_t(st.st_size) : 0);
    ok = ok && std::fread(bytes.data(), 1, bytes.size(), file) == bytes.size();
    std::fclose(file);
    return ok;
}

// Wuffs reads the file as the reader does, then decodes it from memory.
static bool composite_with_wuffs(const std::string &path, std::vector<peer_frame> &frames)
{
    static std::vector<uint8_t> bytes;
    return read_whole_file(path, bytes) && decode_with_wuffs(bytes.data(), bytes.size(), frames);
}

// One file the load is timed on.
struct load_case {
    std::string name, path;
    int frames;     // images in the file, as giflib counts them
    bool generated; // one of the benchmark's own animations
};

// The GIF suite's files: the tests' copy, else the shared one.
static std::string find_gif_suite()
{
    for (const char *dir : {HUESMITH_SOURCE_DIR "/tests/data/gif-suite/gifs",
                            HUESMITH_SOURCE_DIR "/../shared/gif-suite/gifs"}) {
        struct stat st {};
        if (stat(dir, &st) == 0 && S_ISDIR(st.st_mode))
            return dir;
    }
    return "";
}

static std::vector<load_case> list_load_cases()
{
    std::vector<load_case> cases;
    for (const bench_gif &gif : list_bench_gifs()) {
        const std::string &path = prepare_bench_gif(gif);
        if (!path.empty())
            cases.push_back({gif.name, path, gif.frames, true});
    }
    std::string suite = find_gif_suite();
    std::vector<std::string> names;
    if (DIR *dir = suite.empty() ? nullptr : opendir(suite.c_str())) {
        while (dirent *entry = readdir(dir)) {
            std::string name = entry->d_name;
            if (name.size() > 4 && name.compare(name.size() - 4, 4, ".gif") == 0)
                names.push_back(name);
        }
        closedir(dir);
    }
    std::sort(names.begin(), names.end());
    for (const std::string &name : names) {
        std::string path = suite + "/" + name;
        GifFileType *gif = slurp_with_giflib(path, -1);
        int error = 0;
        if (gif) {
            cases.push_back({name.substr(0, name.size() - 4), path, gif->ImageCount, false});
            DGifCloseFile(gif, &error);
        }
    }
    if (suite.empty())
        std::fprintf(stderr, "no GIF suite found: only the generated animations are loaded\n");
    // HUESMITH_BENCH_LOAD_ONLY keeps the cases whose name holds it (for profiling).
    const char *only = std::getenv("HUESMITH_BENCH_LOAD_ONLY");
    if (only)
        cases.erase(std::remove_if(cases.begin(), cases.end(),
                                   [&](const load_case &c) {
                                       return c.name.find(only) == std::string::npos;
                                   }),
                    cases.end());
    return cases;
}

// Whether a frame of the reader, which keeps the part of its rectangle on
// the logical screen (w x h), holds that part of the peer's frame: the
// same rectangle whole, or that part alone when the peer clips too.
static bool match_frame(const gif_frame &f, int w, int h, const peer_frame &peer)
{
    int x = std::min<int>(f.pos.x, w), y = std::min<int>(f.pos.y, h);
    bool whole = peer.x == f.pos.x && peer.y == f.pos.y && peer.w == f.w && peer.h == f.h;
    bool clipped = peer.x == x && peer.y == y && peer.w == std::min<int>(f.w, w - x) &&
                   peer.h == std::min<int>(f.h, h - y);
    if (!f.bmp || !(whole || clipped))
        return false;
    int rows = std::min(peer.h, f.bmp->h);
    int columns = std::min(peer.w, f.bmp->w);
    for (int row = 0; row < rows; row++)
        if (std::memcmp(f.bmp->line[row], peer.pixels.data() + size_t(row) * peer.w,
                        size_t(columns)) != 0)
            return false;
    return true;
}

static bool match_frames(const gif_anim *anim, const std::vector<peer_frame> &frames)
{
    bool same = anim && size_t(anim->num_frames) == frames.size();
    for (size_t i = 0; same && i < frames.size(); i++)
        same = match_frame(anim->frames[i], anim->w, anim->h, frames[i]);
    return same;
}

// Loads and frees the file with the trace on or off; false when the load
// fails or finds another number of frames.
static bool load_once(const std::string &path, int frames, bool quiet, bool remap = false)
{
    glb_quiet = quiet;
    gif_anim *anim = load_gif_anim(path.c_str());
    bool ok = anim && anim->num_frames == frames;
    if (ok && remap)
        remap_pixels(anim, "the bench palette");
    destroy_gif_anim(anim);
    glb_quiet = false;
    return ok;
}

enum load_side { SIDE_OFF, SIDE_ON, SIDE_WUFFS, SIDE_GIFLIB, SIDE_COUNT };

// What each side's check found: "" when its frames match the reader's.
static std::string check_sides(const load_case &c, std::string problems[SIDE_COUNT])
{
    gif_anim *anim = load_gif_anim(c.path.c_str());
    std::vector<peer_frame> frames;
    problems[SIDE_OFF] = problems[SIDE_ON] = anim ? "" : "reader fails";
    if (!composite_with_giflib(c.path, c.frames, frames))
        problems[SIDE_GIFLIB] = "giflib fails";
    else if (!match_frames(anim, frames))
        problems[SIDE_GIFLIB] = "frames differ";
    if (!*find_wuffs_source())
        problems[SIDE_WUFFS] = "no Wuffs";
    else if (!composite_with_wuffs(c.path, frames))
        problems[SIDE_WUFFS] = "Wuffs fails";
    else if (!match_frames(anim, frames))
        problems[SIDE_WUFFS] = "frames differ";
    destroy_gif_anim(anim);
    return problems[SIDE_GIFLIB] + problems[SIDE_WUFFS];
}

// One load by the side; false on failure.
static bool run_side(int side, const load_case &c)
{
    static std::vector<peer_frame> frames;
    switch (side) {
    case SIDE_OFF:
        return load_once(c.path, c.frames, true);
    case SIDE_ON:
        return load_once(c.path, c.frames, false);
    case SIDE_WUFFS:
        return composite_with_wuffs(c.path, frames) && int(frames.size()) == c.frames;
    default:
        return composite_with_giflib(c.path, c.frames, frames);
    }
}

// CPU seconds per load over count loads by the side, -1 on failure.
static double time_side(int side, const load_case &c, int count)
{
    double start = read_cpu_seconds();
    for (int k = 0; k < count; k++)
        if (!run_side(side, c))
            return -1;
    return (read_cpu_seconds() - start) / count;
}

static double find_quantile(std::vector<double> values, double q)
{
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    return values[size_t(q * double(values.size() - 1) + 0.5)];
}

// Per-repetition times of one case, by side.
struct load_times {
    std::string problems[SIDE_COUNT];
    int count = 1; // loads per sample
    std::vector<double> seconds[SIDE_COUNT];
};

// Ratios of two sides' samples taken in the same repetition.
static std::vector<double> pair_ratios(const load_times &t, int ours, int peer)
{
    std::vector<double> ratios;
    for (size_t r = 0; r < t.seconds[ours].size() && r < t.seconds[peer].size(); r++)
        if (t.seconds[peer][r] > 0)
            ratios.push_back(t.seconds[ours][r] / t.seconds[peer][r]);
    return ratios;
}

static void print_ratio(FILE *out, const load_times &t, int ours, int peer)
{
    std::vector<double> ratios = pair_ratios(t, ours, peer);
    if (ratios.empty())
        std::fprintf(out, " %9s", "-");
    else
        std::fprintf(out, " %9.3f", find_quantile(ratios, 0.5));
}

// Interleaved repetitions: each repetition loads every case once more with
// every side, starting with a different side each time, so that a busy
// stretch of the machine falls on all sides alike. Samples last about
// 10 ms; the count of loads per sample is set once per case.
static void time_load_cases(const std::vector<load_case> &cases, std::vector<load_times> &times,
                            int repetitions)
{
    for (size_t i = 0; i < cases.size(); i++) {
        double slowest = 0;
        for (int side = 0; side < SIDE_COUNT; side++)
            if (times[i].problems[side].empty())
                slowest = std::max(slowest, time_side(side, cases[i], 1));
        times[i].count = std::max(1, int(0.010 / std::max(slowest, 1e-7)));
    }
    for (int r = 0; r < repetitions; r++)
        for (size_t i = 0; i < cases.size(); i++)
            for (int k = 0; k < SIDE_COUNT; k++) {
                int side = (k + r) % SIDE_COUNT;
                if (!times[i].problems[side].empty())
                    continue;
                double seconds = time_side(side, cases[i], times[i].count);
                if (seconds < 0)
                    times[i].problems[side] = "fails";
                else
                    times[i].seconds[side].push_back(seconds);
            }
}

// A side's highest ratio to Wuffs across the cases (the generated ones
// alone when asked), for the closing lines.
static void print_target(FILE *out, const std::vector<load_case> &cases,
                         const std::vector<load_times> &times, int ours, bool generated_only,
                         const char *what)
{
    double worst = 0;
    std::string where;
    for (size_t i = 0; i < cases.size(); i++) {
        if (generated_only && !cases[i].generated)
            continue;
        std::vector<double> ratios = pair_ratios(times[i], ours, SIDE_WUFFS);
        double ratio = ratios.empty() ? 0 : find_quantile(ratios, 0.5);
        if (ratio > worst)
            worst = ratio, where = cases[i].name;
    }
    if (worst > 0)
        std::fprintf(out, "%s: at most %.3f x Wuffs (%s)\n", what, worst, where.c_str());
}

void print_load_table(FILE *out, int repetitions)
{
    prepare_library();
    std::vector<load_case> cases = list_load_cases();
    std::vector<load_times> times(cases.size());
    int saved = silence_stdout();
    for (size_t i = 0; i < cases.size(); i++)
        check_sides(cases[i], times[i].problems);
    time_load_cases(cases, times, repetitions);
    restore_stdout(saved);
    if (!*find_wuffs_source())
        std::fprintf(out, "\nWuffs not found beside the repository (../shared/wuffs/wuffs-v0.3.c):"
                          " its column stays empty\n");
    std::fprintf(out,
                 "\nLoading, CPU us per load (median of %d interleaved repetitions); ratios are"
                 " medians of the\nrepetitions' own ratios. off / on: the reader with its trace off"
                 " / on (to /dev/null)\n",
                 repetitions);
    std::fprintf(out, "%-52s %9s %9s %9s %9s %9s %9s %9s %9s\n", "case", "off", "on", "wuffs",
                 "giflib", "off/wuffs", "q3", "on/wuffs", "off/gifl");
    for (size_t i = 0; i < cases.size(); i++) {
        const load_times &t = times[i];
        std::fprintf(out, "%-52s", cases[i].name.c_str());
        for (int side = 0; side < SIDE_COUNT; side++)
            if (!t.problems[side].empty() || t.seconds[side].empty())
                std::fprintf(out, " %9s", t.problems[side].empty() ? "-" : t.problems[side].c_str());
            else
                std::fprintf(out, " %9.1f", find_quantile(t.seconds[side], 0.5) * 1e6);
        print_ratio(out, t, SIDE_OFF, SIDE_WUFFS);
        std::vector<double> ratios = pair_ratios(t, SIDE_OFF, SIDE_WUFFS);
        std::fprintf(out, " %9.3f", ratios.empty() ? 0.0 : find_quantile(ratios, 0.75));
        print_ratio(out, t, SIDE_ON, SIDE_WUFFS);
        print_ratio(out, t, SIDE_OFF, SIDE_GIFLIB);
        std::fprintf(out, "\n");
    }
    print_target(out, cases, times, SIDE_OFF, false, "trace off, every file");
    print_target(out, cases, times, SIDE_ON, true, "trace on, generated animations");
}

// giflib's bare decode, the peer of the reader followed by the remap.
static void run_giflib_slurp(benchmark::State &state, const bench_gif &gif)
{
    const std::string &path = prepare_case_gif(state, gif);
    if (path.empty())
        return;
    double start = read_cpu_seconds();
    for (auto _ : state) {
        GifFileType *decoded = slurp_with_giflib(path, gif.frames);
        int error = 0;
        if (!decoded || DGifCloseFile(decoded, &error) != GIF_OK) {
            state.SkipWithError("giflib can't read the animation");
            return;
        }
    }
    record_peer_time("giflib_slurp/" + std::string(gif.name), seconds_per_iteration(start, state));
}

static void run_load_and_remap(benchmark::State &state, const bench_gif &gif)
{
    const std::string &path = prepare_case_gif(state, gif);
    if (path.empty())
        return;
    prepare_library();
    fill_bench_glb_palette();
    int saved = silence_stdout();
    double start = read_cpu_seconds();
    bool ok = true;
    for (auto _ : state)
        ok = ok && load_once(path, gif.frames, false, true);
    double seconds = seconds_per_iteration(start, state);
    restore_stdout(saved);
    if (!ok)
        state.SkipWithError("load_gif_anim can't read the animation");
    else
        report_peer_ratio(state, std::string("giflib_slurp/") + gif.name, seconds);
}

// The long animation as the program opens it: read with the trace on, then
// remapped, after its peer.
static bool register_load_cases()
{
    for (const bench_gif &gif : list_bench_gifs())
        if (std::string(gif.name) == "figure") {
            benchmark::RegisterBenchmark("giflib_slurp/figure", run_giflib_slurp, gif)
                ->Unit(benchmark::kMillisecond)
                ->MinTime(0.5);
            benchmark::RegisterBenchmark("load_and_remap/figure", run_load_and_remap, gif)
                ->Unit(benchmark::kMillisecond)
                ->MinTime(0.5);
        }
    return true;
}
static const bool glb_load_cases_registered = register_load_cases();
