// Exporting a 640 x 480, 10-frame animation at zoom 100 and 200 as BMP and
// PCX, against writing the same files' bytes with fwrite. The timed loop
// holds both, so "Time" there is the pair's; the summary splits them.
#include "bench_support.h"
#include "display/screen.h"
#include "export/export.h"
#include "common/checked_bitmap.h"
#include "gif/gif_anim.h"

#include <allegro.h>
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
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

// Where the files go: HUESMITH_BENCH_EXPORT_DIR, else a memory file
// system when there is one, else /tmp. A disk file system weighs in with
// its own habits under a loop that replaces thousands of files a second:
// ext4 without a journal (this machine's) scans past every inode freed in
// the last seconds before it hands out a new one, so each new file costs
// more the longer the benchmark has run, whatever the program does.
std::string find_export_parent()
{
    const char *chosen = std::getenv("HUESMITH_BENCH_EXPORT_DIR");
    if (chosen && *chosen)
        return chosen;
    return access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
}

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
    std::string pattern = find_export_parent() + "/huesmith_bench_export_XXXXXX";
    std::vector<char> dir(pattern.begin(), pattern.end() + 1);
    char cwd[4096];
    if (!glb_sprite_8bpp || !mkdtemp(dir.data()) || !getcwd(cwd, sizeof cwd))
        return false;
    in.dir = dir.data();
    in.old_dir = cwd;
    return chdir(dir.data()) == 0;
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

// The bytes of every file an export wrote, read back.
static bool read_exported_files(const char *extension, std::vector<std::vector<char>> &files)
{
    files.assign(EXPORT_FRAMES, {});
    for (int i = 0; i < EXPORT_FRAMES; i++) {
        char name[32];
        snprintf(name, sizeof name, "frame%03i%s", i, extension);
        FILE *f = std::fopen(name, "rb");
        if (!f)
            return false;
        char chunk[65536];
        size_t n;
        while ((n = std::fread(chunk, 1, sizeof chunk, f)) > 0)
            files[i].insert(files[i].end(), chunk, chunk + n);
        std::fclose(f);
    }
    return true;
}

// The peer: the same bytes, each file written over its old self with one
// fwrite, as a writer with no care for a crash half-way would.
static bool write_raw_frames(const std::vector<std::vector<char>> &files)
{
    bool ok = true;
    for (int i = 0; i < EXPORT_FRAMES; i++) {
        char name[32];
        snprintf(name, sizeof name, "frame%03i.raw", i);
        FILE *f = std::fopen(name, "wb");
        ok = f && std::fwrite(files[i].data(), 1, files[i].size(), f) == files[i].size() && ok;
        if (f && std::fclose(f) != 0)
            ok = false;
    }
    return ok;
}

// The export against the peer, in turns within one loop (the one that went
// second goes first the next time), so both meet the same machine.
static void save_all_frames_at(benchmark::State &state, export_format format)
{
    export_input in;
    int zoom = int(state.range(0));
    export_options options;
    options.format = format;
    const char *extension = name_export_extension(format);
    std::vector<std::vector<char>> files;
    int saved = silence_stdout();
    bool ok = build_export_input(in) && save_all_frames(&in.anim, zoom, options) == EXPORT_FRAMES &&
              read_exported_files(extension, files);
    double seconds[2] = {0, 0}; // ours, the peer's
    auto run_side = [&](int side) {
        double start = read_cpu_seconds();
        ok = (side == 0 ? save_all_frames(&in.anim, zoom, options) == EXPORT_FRAMES : write_raw_frames(files)) && ok;
        seconds[side] += read_cpu_seconds() - start;
    };
    int first = 0;
    for (auto _ : state) {
        run_side(first);
        run_side(1 - first);
        first = 1 - first;
    }
    restore_stdout(saved);
    release_export_input(in);
    state.SetLabel("in " + find_export_parent());
    if (!ok) {
        state.SkipWithError("the frames were not written");
        return;
    }
    double iterations = double(std::max<benchmark::IterationCount>(state.iterations(), 1));
    report_paired_times(state, "write_raw_frames/" + std::string(extension + 1) + "/" + std::to_string(zoom),
                        seconds[0] / iterations, seconds[1] / iterations);
}
BENCHMARK_CAPTURE(save_all_frames_at, bmp, EXPORT_BMP)
    ->Name("save_all_frames/bmp")->Arg(100)->Arg(200)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(save_all_frames_at, pcx, EXPORT_PCX)
    ->Name("save_all_frames/pcx")->Arg(100)->Arg(200)->Unit(benchmark::kMillisecond);
