// Loading the generated animations: giflib's bare decode, giflib's decode
// composited as the program composites, and the program's reader; then the
// reader and the remap together against giflib's bare decode.
#include "bench_support.h"
#include "gif/gif_anim.h"
#include "palette/global_palette.h"

#include <allegro.h>
#include <benchmark/benchmark.h>
#include <gif_lib.h>

#include <algorithm>
#include <cstring>
#include <functional>

// Runs body once per iteration; CPU seconds per iteration, or -1 after
// marking the benchmark failed when body fails.
static double time_iterations(benchmark::State &state, const std::function<bool()> &body,
                              const char *failure)
{
    double start = read_cpu_seconds();
    for (auto _ : state)
        if (!body()) {
            state.SkipWithError(failure);
            return -1;
        }
    return seconds_per_iteration(start, state);
}

static void report_pixel_rate(benchmark::State &state, const bench_gif &gif)
{
    state.counters["pixels_per_second"] = benchmark::Counter(
        double(count_bench_gif_pixels(gif)), benchmark::Counter::kIsIterationInvariantRate);
}

// giflib's decode of every image; null when it fails or finds another
// number of images than expected. The caller closes the file.
static GifFileType *slurp_with_giflib(const std::string &path, int images)
{
    int error = 0;
    GifFileType *gif = DGifOpenFileName(path.c_str(), &error);
    if (gif && (DGifSlurp(gif) != GIF_OK || gif->ImageCount != images)) {
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
                                  std::vector<std::vector<uint8_t>> &frames)
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
        std::vector<uint8_t> &frame = frames[i];
        frame.assign(size_t(d.Width) * d.Height, fill);
        copy_rect(at, sw, frame.data(), d.Width, ow, oh);
        if (gcb.DisposalMode == DISPOSE_PREVIOUS)
            before = frame;
        const GifByteType *raster = image.RasterBits;
        for (size_t p = 0; p < frame.size(); p++)
            if (raster[p] != gcb.TransparentColor)
                frame[p] = raster[p];
        copy_rect(frame.data(), d.Width, at, sw, ow, oh);
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

// Whether the program's reader gives the frames giflib's composite does, so
// that the two are timed doing the same work.
static bool match_giflib_composite(const std::string &path, const bench_gif &gif)
{
    std::vector<std::vector<uint8_t>> frames;
    int saved = silence_stdout();
    gif_anim *anim = load_gif_anim(path.c_str());
    restore_stdout(saved);
    bool same = anim && anim->num_frames == gif.frames &&
                composite_with_giflib(path, gif.frames, frames);
    for (int i = 0; same && i < gif.frames; i++) {
        const gif_frame &f = anim->frames[i];
        same = f.bmp && size_t(f.w) * f.h == frames[i].size();
        for (int y = 0; same && y < f.h; y++)
            same = std::memcmp(f.bmp->line[y], frames[i].data() + size_t(y) * f.w, f.w) == 0;
    }
    destroy_gif_anim(anim);
    return same;
}

// giflib's decode, bare or composited, recorded as the peer of that name.
static void run_giflib(benchmark::State &state, const bench_gif &gif, bool composite)
{
    const std::string &path = prepare_case_gif(state, gif);
    if (path.empty())
        return;
    std::vector<std::vector<uint8_t>> frames;
    double seconds = time_iterations(state, [&] {
        if (composite)
            return composite_with_giflib(path, gif.frames, frames);
        GifFileType *decoded = slurp_with_giflib(path, gif.frames);
        int error = 0;
        return decoded && DGifCloseFile(decoded, &error) == GIF_OK;
    }, "giflib can't read the animation");
    if (seconds < 0)
        return;
    report_pixel_rate(state, gif);
    record_peer_time((composite ? "giflib_composite/" : "giflib_slurp/") + std::string(gif.name),
                     seconds);
}

static void run_giflib_slurp(benchmark::State &state, const bench_gif &gif)
{
    run_giflib(state, gif, false);
}

static void run_giflib_composite(benchmark::State &state, const bench_gif &gif)
{
    run_giflib(state, gif, true);
}

// Loads the animation; with remap, also remaps it onto glb_palette.
static bool load_once(const std::string &path, const bench_gif &gif, bool remap)
{
    gif_anim *anim = load_gif_anim(path.c_str());
    bool ok = anim && anim->num_frames == gif.frames;
    if (ok && remap)
        remap_pixels(anim);
    destroy_gif_anim(anim);
    return ok;
}

static void run_load_gif_anim(benchmark::State &state, const bench_gif &gif)
{
    const std::string &path = prepare_case_gif(state, gif);
    if (path.empty())
        return;
    prepare_library();
    if (!match_giflib_composite(path, gif)) {
        state.SkipWithError("load_gif_anim's frames differ from giflib's composite");
        return;
    }
    int saved = silence_stdout();
    double seconds = time_iterations(state, [&] { return load_once(path, gif, false); },
                                     "load_gif_anim can't read the animation");
    restore_stdout(saved);
    if (seconds < 0)
        return;
    report_pixel_rate(state, gif);
    std::string peer = std::string("giflib_composite/") + gif.name;
    report_peer_ratio(state, peer, seconds);
    if (find_peer_seconds(peer) > 0)
        state.counters["speedup_vs_giflib"] = find_peer_seconds(peer) / seconds;
}

static void run_load_and_remap(benchmark::State &state, const bench_gif &gif)
{
    const std::string &path = prepare_case_gif(state, gif);
    if (path.empty())
        return;
    prepare_library();
    fill_bench_glb_palette();
    int saved = silence_stdout();
    double seconds = time_iterations(state, [&] { return load_once(path, gif, true); },
                                     "load_gif_anim can't read the animation");
    restore_stdout(saved);
    if (seconds >= 0)
        report_peer_ratio(state, std::string("giflib_slurp/") + gif.name, seconds);
}

// Each animation's peers come first so that their times are recorded
// before the program's reader reports against them.
static bool register_load_cases()
{
    using case_fn = void (*)(benchmark::State &, const bench_gif &);
    const std::pair<const char *, case_fn> cases[] = {
        {"giflib_slurp", run_giflib_slurp},
        {"giflib_composite", run_giflib_composite},
        {"load_gif_anim", run_load_gif_anim}};
    for (const bench_gif &gif : list_bench_gifs())
        for (const auto &c : cases)
            benchmark::RegisterBenchmark((std::string(c.first) + "/" + gif.name).c_str(), c.second,
                                         gif)
                ->Unit(benchmark::kMillisecond)
                ->MinTime(0.5);
    // The long animation as the program opens it: read, then remapped.
    for (const bench_gif &gif : list_bench_gifs())
        if (std::string(gif.name) == "figure")
            benchmark::RegisterBenchmark("load_and_remap/figure", run_load_and_remap, gif)
                ->Unit(benchmark::kMillisecond)
                ->MinTime(0.5);
    return true;
}
static const bool glb_load_cases_registered = register_load_cases();
