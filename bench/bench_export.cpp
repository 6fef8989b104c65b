// Exporting a 640 x 480, 10-frame animation at zoom 100 and 200 as BMP and
// PCX, against writing the same number of bytes per frame with fwrite.
#include "bench_support.h"
#include "display/screen.h"
#include "export/export.h"
#include "common/checked_bitmap.h"
#include "gif/gif_anim.h"

#include <allegro.h>
#include <benchmark/benchmark.h>

#include <cstdio>
#include <random>
#include <unistd.h>
#include <vector>

constexpr int EXPORT_FRAMES = 10;

// The animation record with its frames, and the temporary directory the
// files are written in while the benchmark runs.
struct export_input {
    gif_anim anim;
    std::vector<gif_frame> frames;
    std::string dir;
    std::string old_dir;
};

// Frames of random pixels, a fifth of them 0, each a little smaller than
// the screen and placed at its own offset as a reader leaves them.
static bool build_export_input(export_input &in)
{
    prepare_library();
    std::mt19937 rng(9);
    in.frames.clear();
    for (int i = 0; i < EXPORT_FRAMES; i++) {
        int x = 8 * i, y = 4 * i;
        gif_frame f{{uint16_t(x), uint16_t(y)}, uint16_t(BIG_GIF_W - x), uint16_t(BIG_GIF_H - y), 0, -1, 4,
                    create_checked_bitmap(8, BIG_GIF_W - x, BIG_GIF_H - y)};
        if (!f.bmp)
            return false;
        for (int r = 0; r < f.h; r++)
            for (int c = 0; c < f.w; c++)
                f.bmp->line[r][c] = rng() % 5 == 0 ? 0 : uint8_t(rng());
        in.frames.push_back(f);
    }
    in.anim = {EXPORT_FRAMES, 1, BIG_GIF_W, BIG_GIF_H, in.frames.data(), nullptr};
    glb_sprite_8bpp = create_checked_bitmap(8, BIG_GIF_W, BIG_GIF_H);
    char dir[] = "/tmp/huesmith_bench_export_XXXXXX";
    char cwd[4096];
    if (!glb_sprite_8bpp || !mkdtemp(dir) || !getcwd(cwd, sizeof cwd))
        return false;
    in.dir = dir;
    in.old_dir = cwd;
    return chdir(dir) == 0;
}

// Removes what the runs wrote, the directory and the bitmaps.
static void release_export_input(export_input &in)
{
    for (int i = 0; i < EXPORT_FRAMES; i++)
        for (const char *extension : {".bmp", ".pcx", ".raw"}) {
            char name[32];
            snprintf(name, sizeof name, "frame%03i%s", i, extension);
            std::remove(name);
        }
    if (!in.old_dir.empty() && chdir(in.old_dir.c_str()) == 0 && !in.dir.empty())
        rmdir(in.dir.c_str());
    for (gif_frame &f : in.frames)
        destroy_bitmap(f.bmp);
    in.frames.clear();
    destroy_bitmap(glb_sprite_8bpp);
    glb_sprite_8bpp = nullptr;
}

// Bytes of one exported BMP at the zoom: headers, colour table and rows
// padded to four bytes.
static size_t count_bmp_bytes(int zoom)
{
    int w, h;
    compute_export_size(zoom, BIG_GIF_W, BIG_GIF_H, &w, &h);
    return 14 + 40 + 1024 + size_t((w + 3) / 4 * 4) * size_t(h);
}

// The peer: one file per frame holding as many bytes as its BMP, written
// from memory in one fwrite.
static bool write_raw_frames(const std::vector<char> &bytes)
{
    bool ok = true;
    for (int i = 0; i < EXPORT_FRAMES; i++) {
        char name[32];
        snprintf(name, sizeof name, "frame%03i.raw", i);
        FILE *f = std::fopen(name, "wb");
        ok = f && std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size() && ok;
        if (f && std::fclose(f) != 0)
            ok = false;
    }
    return ok;
}

static void write_raw_frames_at(benchmark::State &state)
{
    export_input in;
    int zoom = int(state.range(0));
    std::vector<char> bytes(count_bmp_bytes(zoom), 7);
    if (!build_export_input(in)) {
        release_export_input(in);
        state.SkipWithError("can't prepare the animation");
        return;
    }
    bool ok = true;
    double start = read_cpu_seconds();
    for (auto _ : state)
        ok = write_raw_frames(bytes) && ok;
    double seconds = read_cpu_seconds() - start;
    release_export_input(in);
    if (!ok) {
        state.SkipWithError("can't write the files");
        return;
    }
    record_peer_time("write_raw_frames/" + std::to_string(zoom),
                     state.iterations() > 0 ? seconds / double(state.iterations()) : 0.0);
}
BENCHMARK(write_raw_frames_at)->Name("write_raw_frames")->Arg(100)->Arg(200)->Unit(benchmark::kMillisecond);

static void save_all_frames_at(benchmark::State &state, int pcx)
{
    export_input in;
    int zoom = int(state.range(0));
    if (!build_export_input(in)) {
        release_export_input(in);
        state.SkipWithError("can't prepare the animation");
        return;
    }
    int saved = silence_stdout();
    double start = read_cpu_seconds();
    for (auto _ : state)
        save_all_frames(&in.anim, zoom, pcx);
    double seconds = read_cpu_seconds() - start;
    restore_stdout(saved);
    char last[32];
    snprintf(last, sizeof last, "frame%03i%s", EXPORT_FRAMES - 1, pcx ? ".pcx" : ".bmp");
    bool ok = access(last, F_OK) == 0;
    release_export_input(in);
    if (!ok) {
        state.SkipWithError("the frames were not written");
        return;
    }
    if (state.iterations() > 0)
        seconds /= double(state.iterations());
    report_peer_ratio(state, "write_raw_frames/" + std::to_string(zoom), seconds);
}
BENCHMARK_CAPTURE(save_all_frames_at, bmp, 0)
    ->Name("save_all_frames/bmp")->Arg(100)->Arg(200)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(save_all_frames_at, pcx, 1)
    ->Name("save_all_frames/pcx")->Arg(100)->Arg(200)->Unit(benchmark::kMillisecond);
